// The mereglass program under Debian's XScreenSaver daemon, on a private
// Xvfb: activated, it shows the desktop under moving water in the daemon's
// window; the daemon's cycle ends it by SIGTERM, which the daemon logs as a
// normal end; deactivated, no mereglass process is left; and an entry that
// --add-to-xscreensaver writes is what the daemon runs when it is selected.
//
// The daemon refuses to run savers as root, so when the test runs as root
// the daemon, its commands and the program run as uid 65534 (setpriv), from
// a copy of the program in a folder that user can read. Skipped when the
// daemon is not installed.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "child_process.h"
#include "xvfb.h"

// Xlib's macros (Bool, None, Status) last, after every C++ header.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include "x_screen.h"

namespace {

namespace fs = std::filesystem;

constexpr int kScreenWidth = 640;
constexpr int kScreenHeight = 400;
const char kDaemon[] = "/usr/bin/xscreensaver";
const char kDaemonCommand[] = "/usr/bin/xscreensaver-command";
constexpr unsigned kUser = 65534;
// Generous: sanitized builds on a shared machine start slowly.
constexpr double kDeadline = 30.0;

// Polls with the daemon test's generous deadline.
template <typename F>
bool Soon(F condition) {
    return Eventually(condition, kDeadline);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The process ids whose file `name` in /proc holds `needle`.
std::vector<pid_t> ProcessesWith(const char* name, const std::string& needle) {
    std::vector<pid_t> out;
    DIR* proc = opendir("/proc");
    if (proc == nullptr) return out;
    while (const dirent* e = readdir(proc)) {
        const pid_t pid = static_cast<pid_t>(std::atoi(e->d_name));
        if (pid <= 0 || pid == getpid()) continue;
        const std::string text = ReadFile(std::string("/proc/") + e->d_name + "/" + name);
        if (text.find(needle) != std::string::npos) out.push_back(pid);
    }
    closedir(proc);
    return out;
}

class UnderTheDaemon : public ::testing::Test {
protected:
    void SetUp() override {
        if (access(kDaemon, X_OK) != 0 || access(kDaemonCommand, X_OK) != 0) {
            GTEST_SKIP() << "XScreenSaver is not installed";
        }
        xvfb_ = std::make_unique<Xvfb>(kScreenWidth, kScreenHeight);
        if (!xvfb_->ok()) GTEST_SKIP() << xvfb_->error();
        display_ = XOpenDisplay(xvfb_->display().c_str());
        ASSERT_NE(display_, nullptr);
        // The daemon makes and destroys windows while the test looks at
        // them: a window gone in between is no reason to end the test.
        XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
        PaintRoot();

        // The program, its archive and the sanitizer's suppressions where
        // the daemon's user can read them; a home folder that user owns.
        char dir[] = "/tmp/mereglass-daemon-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        dir_ = dir;
        home_ = dir_ + "/home";
        program_ = dir_ + "/bin/mereglass";
        ASSERT_EQ(chmod(dir, 0755), 0);
        ASSERT_EQ(mkdir((dir_ + "/bin").c_str(), 0755), 0);
        ASSERT_EQ(mkdir(home_.c_str(), 0700), 0);
        fs::copy_file(MEREGLASS_PROGRAM, program_);
        fs::copy_file(MEREGLASS_ARCHIVE, dir_ + "/bin/murkle.respak");
        ASSERT_EQ(chmod((dir_ + "/bin/murkle.respak").c_str(), 0644), 0);
        asRoot_ = geteuid() == 0;
        if (asRoot_) {
            ASSERT_EQ(chown(home_.c_str(), kUser, kUser), 0);
        }

        env_ = {"HOME=" + home_,
                "DISPLAY=" + xvfb_->display(),
                "PATH=/usr/bin:/bin",
                "DBUS_SESSION_BUS_ADDRESS=disabled:",
                "XDG_RUNTIME_DIR=" + home_,
                "XDG_CONFIG_HOME=" + home_ + "/.config"};
        if (std::string lsan = LsanOptionsForOtherUser(dir_ + "/bin"); !lsan.empty()) {
            env_.push_back(lsan);
        }
    }

    void TearDown() override {
        if (daemon_) {
            daemon_->Signal(SIGTERM);
            if (!daemon_->Wait(10.0)) daemon_->Signal(SIGKILL);
            daemon_->Wait(5.0);
        }
        // Whatever the daemon started and left: its display helper, the
        // savers. They all carry the test's home folder.
        if (!home_.empty()) {
            for (pid_t pid : ProcessesWith("environ", "HOME=" + home_ + '\0')) kill(pid, SIGKILL);
        }
        if (display_ != nullptr) XCloseDisplay(display_);
        xvfb_.reset();
        if (!dir_.empty()) {
            std::error_code ignored;
            fs::remove_all(dir_, ignored);
        }
    }

    void PaintRoot() { PaintDesktop(display_, kScreenWidth, kScreenHeight); }

    // `args` run as the daemon's user, in the test's environment. Should
    // the test die, they get SIGTERM.
    std::unique_ptr<ChildProcess> RunAsUser(std::vector<std::string> args) {
        std::vector<std::string> setpriv = {"/usr/bin/setpriv", "--pdeathsig=TERM"};
        if (asRoot_) {
            const std::string id = std::to_string(kUser);
            setpriv.insert(setpriv.end(), {"--reuid=" + id, "--regid=" + id, "--clear-groups"});
        }
        args.insert(args.begin(), setpriv.begin(), setpriv.end());
        return std::make_unique<ChildProcess>(args.front(), args, env_);
    }

    // xscreensaver-command with `options`; true when it succeeds.
    bool Command(const std::vector<std::string>& options) {
        std::vector<std::string> args = {kDaemonCommand};
        args.insert(args.end(), options.begin(), options.end());
        std::unique_ptr<ChildProcess> c = RunAsUser(args);
        const bool ok = c->Wait(kDeadline) && c->status() == 0;
        if (!ok) std::fprintf(stderr, "%s: %s\n", options[0].c_str(), c->Output().c_str());
        return ok;
    }

    void WriteInitFile(const std::string& programs) {
        const std::string path = home_ + "/.xscreensaver";
        std::ofstream(path) << "mode:\t\tone\nselected:\t0\nlock:\t\tFalse\nfade:\t\tFalse\n"
                               "unfade:\t\tFalse\nsplash:\t\tFalse\n\nprograms:\t\t\t      \\\n"
                            << programs << "\n";
        if (asRoot_) {
            ASSERT_EQ(chown(path.c_str(), kUser, kUser), 0);
        }
        // An hour old: the daemon sees a change by the file's time in
        // seconds, and a change made within the second it read the file
        // would not show.
        const timeval anHourAgo[2] = {{time(nullptr) - 3600, 0}, {time(nullptr) - 3600, 0}};
        ASSERT_EQ(utimes(path.c_str(), anHourAgo), 0);
    }

    // Starts the daemon and waits until it answers commands.
    void StartDaemon() {
        daemon_ = RunAsUser({kDaemon, "-no-splash", "-verbose"});
        ASSERT_TRUE(daemon_->started());
        ASSERT_TRUE(Soon([&] { return daemon_->running() && Command({"-time"}); }))
            << daemon_->Output();
    }

    std::string Log() const { return daemon_->Output(); }

    // The pid of the mereglass process that the daemon forked after `from`
    // characters of its log, or 0.
    pid_t ForkedSaver(size_t from) const {
        const std::string log = Log();
        const std::string forked = "forked \"" + program_ + " --root\" in pid ";
        const size_t at = log.find(forked, from);
        return at == std::string::npos ? 0 : std::atoi(log.c_str() + at + forked.size());
    }

    std::vector<pid_t> SaverProcesses() const {
        return ProcessesWith("cmdline", program_ + '\0' + "--root");
    }

    // The daemon's log names the pid as it forks, before the child runs
    // the program: true once the process runs it.
    bool RunsTheProgram(pid_t pid) const {
        const std::string cmdline = ReadFile("/proc/" + std::to_string(pid) + "/cmdline");
        return pid > 0 && cmdline.rfind(program_ + '\0' + "--root" + '\0', 0) == 0;
    }

    // The whole line of the log that begins with `start`, once it is all
    // there; empty until then.
    std::string LogLine(const std::string& start) const {
        const std::string log = Log();
        const size_t at = log.find(start);
        const size_t end = at == std::string::npos ? at : log.find('\n', at);
        return end == std::string::npos ? std::string() : log.substr(at, end - at);
    }

    // The daemon's full-screen window, once it is mapped.
    Window SaverWindow() {
        const Window root = DefaultRootWindow(display_);
        Window rootReturn = 0, parent = 0, found = 0;
        Window* children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(display_, root, &rootReturn, &parent, &children, &count)) return 0;
        for (unsigned i = 0; i < count && found == 0; ++i) {
            XClassHint hint{};
            if (XGetClassHint(display_, children[i], &hint) == 0) continue;
            const bool daemons =
                hint.res_class != nullptr && std::string(hint.res_class) == "XScreenSaver";
            if (hint.res_name) XFree(hint.res_name);
            if (hint.res_class) XFree(hint.res_class);
            XWindowAttributes a{};
            if (daemons && XGetWindowAttributes(display_, children[i], &a) &&
                a.map_state == IsViewable && a.width == kScreenWidth && a.height == kScreenHeight) {
                found = children[i];
            }
        }
        if (children) XFree(children);
        return found;
    }

    Shot Screenshot(Window window) {
        return ::Screenshot(display_, window, 0, 0, kScreenWidth, kScreenHeight);
    }

    // Pixels between the columns x0 and x1, away from the top and bottom
    // edges, for which `test` holds.
    template <typename F>
    static int Count(const Shot& shot, int x0, int x1, F test) {
        if (shot.pixels.empty()) return 0;
        return shot.Count(x0, 20, x1, kScreenHeight - 20, test);
    }

    std::unique_ptr<Xvfb> xvfb_;
    Display* display_ = nullptr;
    bool asRoot_ = false;
    std::string dir_, home_, program_;
    std::vector<std::string> env_;
    std::unique_ptr<ChildProcess> daemon_;
};

}  // namespace

TEST_F(UnderTheDaemon, ActivatedShowsTheDesktopUnderWaterAndEndsBySigterm) {
    WriteInitFile("  GL: \"Mereglass\" " + program_ + " --root \\n\\\n");
    StartDaemon();
    ASSERT_TRUE(Command({"-activate"}));
    pid_t saver = 0;
    ASSERT_TRUE(Soon([&] { return RunsTheProgram(saver = ForkedSaver(0)); })) << Log();

    // The desktop's two halves show through the water, and it moves.
    const int area = 240 * (kScreenHeight - 40);
    Shot first;
    Window window = 0;
    EXPECT_TRUE(Soon([&] {
        window = SaverWindow();
        first = Screenshot(window);
        return window != 0 && Count(first, 40, 280, Reddish) > area * 8 / 10 &&
               Count(first, 360, 600, Bluish) > area * 8 / 10;
    })) << Count(first, 40, 280, Reddish)
        << " " << Count(first, 360, 600, Bluish) << Log();
    int differing = 0;
    EXPECT_TRUE(Soon([&] {
        differing = Differing(first, Screenshot(window));
        return differing > kScreenWidth * kScreenHeight / 50;
    })) << differing;

    // The cycle ends it by SIGTERM, which the daemon calls a normal end.
    const size_t before = Log().size();
    ASSERT_TRUE(Command({"-cycle"}));
    const std::string ended = "child pid " + std::to_string(saver) + " (" + program_ + ") exited ";
    std::string line;
    EXPECT_TRUE(Soon([&] { return !(line = LogLine(ended)).empty(); })) << Log();
    EXPECT_EQ(line.rfind(ended + "normally with SIGTERM", 0), 0u) << Log();
    EXPECT_TRUE(Soon([&] { return RunsTheProgram(ForkedSaver(before)); })) << Log();

    // Deactivated, no mereglass is left.
    ASSERT_TRUE(Command({"-deactivate"}));
    EXPECT_TRUE(Soon([&] { return SaverProcesses().empty(); })) << Log();
    const std::string log = Log();
    EXPECT_EQ(log.find("exited abnormally"), std::string::npos) << log;
    EXPECT_EQ(log.find("Sanitizer"), std::string::npos) << log;
    EXPECT_EQ(log.find("runtime error"), std::string::npos) << log;
}

TEST_F(UnderTheDaemon, AnAddedEntryRunsWhenSelected) {
    WriteInitFile("\t\t\t\tmaze --root\t\t\t\t    \\n\\\n\t\t\t\tdeco --root\t\t\t\t    \\n\\\n");
    StartDaemon();
    std::unique_ptr<ChildProcess> add = RunAsUser({program_, "--add-to-xscreensaver"});
    ASSERT_TRUE(add->Wait(kDeadline));
    EXPECT_EQ(add->status(), 0) << add->Output();
    EXPECT_NE(add->Output().find("added"), std::string::npos) << add->Output();

    // The daemon reads the changed file when told to show the third saver.
    const size_t before = Log().size();
    ASSERT_TRUE(Command({"-select", "3"}));
    EXPECT_TRUE(Soon([&] { return RunsTheProgram(ForkedSaver(before)); })) << Log();
    EXPECT_NE(Log().find("checking init file", before), std::string::npos) << Log();
    ASSERT_TRUE(Command({"-deactivate"}));
    EXPECT_TRUE(Soon([&] { return SaverProcesses().empty(); })) << Log();
}

// Where the daemon runs, it is in charge: the idle watcher says so and
// leaves.
TEST_F(UnderTheDaemon, TheIdleWatcherLeavesTheScreenToIt) {
    WriteInitFile("");
    StartDaemon();
    std::unique_ptr<ChildProcess> watcher = RunAsUser({program_, "--idle-watch"});
    ASSERT_TRUE(watcher->Wait(kDeadline));
    EXPECT_EQ(watcher->status(), 1);
    EXPECT_EQ(watcher->Output(),
              "mereglass: XScreenSaver is in charge of the screen saver here: list Mereglass "
              "there instead (mereglass --add-to-xscreensaver)\n");
}
