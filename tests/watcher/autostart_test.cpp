// Tests of the idle watch's autostart entry (platform/autostart_entry.h) in
// a temporary configuration folder: its text read back as the desktop
// reads it, adding and removing it, and the places where it cannot be
// written, which must leave everything as it was; and the real program's
// --add-to-autostart and --remove-from-autostart.
#include <glib.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "child_process.h"
#include "platform/autostart_entry.h"

namespace fs = std::filesystem;
using platform::AutostartPlace;
using platform::ChangeAutostartEntry;

namespace {

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The entry's Exec line as the desktop reads it: the key file's string,
// with "%%" made "%" again.
std::string ExecLine(const std::string& text) {
    GKeyFile* file = g_key_file_new();
    std::string line;
    if (g_key_file_load_from_data(file, text.data(), text.size(), G_KEY_FILE_NONE, nullptr)) {
        gchar* exec = g_key_file_get_string(file, "Desktop Entry", "Exec", nullptr);
        line = exec != nullptr ? exec : "";
        g_free(exec);
    }
    g_key_file_free(file);
    for (size_t at = line.find("%%"); at != std::string::npos; at = line.find("%%", at + 1)) {
        line.erase(at, 1);
    }
    return line;
}

// The line's words as GLib splits them to run it.
std::vector<std::string> GlibWords(const std::string& line) {
    std::vector<std::string> words;
    gchar** argv = nullptr;
    if (g_shell_parse_argv(line.c_str(), nullptr, &argv, nullptr)) {
        for (gchar** a = argv; *a != nullptr; ++a) words.push_back(*a);
        g_strfreev(argv);
    }
    return words;
}

// The line's words as the shell splits them, whose quoting the desktop's
// follows (where GLib, which expands nothing, lets an unescaped $ or `
// through).
std::vector<std::string> ShellWords(const std::string& line) {
    const std::string command = "for w in " + line + "; do printf '%s\\0' \"$w\"; done";
    std::vector<std::string> words;
    FILE* out = popen(command.c_str(), "r");
    if (out == nullptr) return words;
    std::string all;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, out)) > 0;) all.append(buffer, n);
    pclose(out);
    for (size_t at = 0, end; (end = all.find('\0', at)) != std::string::npos; at = end + 1) {
        words.push_back(all.substr(at, end - at));
    }
    return words;
}

// The words of the entry's Exec, when GLib and the shell agree on them.
std::vector<std::string> ExecWords(const std::string& text) {
    const std::string line = ExecLine(text);
    const std::vector<std::string> words = ShellWords(line);
    EXPECT_EQ(GlibWords(line), words) << line;
    return words;
}

// Every name under a folder with its kind and contents, to see that
// nothing else changed.
std::map<std::string, std::string> Snapshot(const std::string& folder) {
    std::map<std::string, std::string> names;
    std::error_code ec;
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(folder, ec)) {
        const std::string kind = e.is_symlink() ? "link" : e.is_directory() ? "folder" : "file";
        names[e.path()] = kind + ":" + (kind == "file" ? ReadText(e.path()) : "");
    }
    return names;
}

class AutostartEntry : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/mereglass-autostart-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        home_ = pattern;
        place_.configFolder = home_ + "/config";
        place_.program = "/usr/lib/mereglass";
        ASSERT_EQ(mkdir(place_.configFolder.c_str(), 0755), 0);
        entry_ = place_.configFolder + "/autostart/mereglass-idle-watch.desktop";
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(home_, fs::perms::owner_all, ec);
        for (const fs::directory_entry& e : fs::recursive_directory_iterator(home_, ec)) {
            if (e.is_directory() && !e.is_symlink())
                fs::permissions(e.path(), fs::perms::owner_all, ec);
        }
        fs::remove_all(home_, ec);
    }

    int Change(bool add) { return ChangeAutostartEntry(add, place_, &message_); }
    bool Says(const std::string& words) const { return message_.find(words) != std::string::npos; }

    // Changes the entry in a child process that sees `folder` read-only: as
    // root, who writes through any mode, by a read-only bind mount in a
    // mount namespace of its own; otherwise by the folder's mode, for the
    // time the child runs. Returns the exit status, or -1 when the folder
    // cannot be made read-only here.
    int ChangeReadOnly(bool add, const std::string& folder) {
        int out[2];
        if (pipe(out) != 0) return -1;
        const bool root = geteuid() == 0;
        if (!root) chmod(folder.c_str(), 0555);
        const pid_t pid = fork();
        if (pid == 0) {
            close(out[0]);
            if (root && (unshare(CLONE_NEWNS) != 0 ||
                         mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                         mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) != 0 ||
                         mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY,
                               nullptr) != 0)) {
                _exit(77);
            }
            std::string message;
            const int status = ChangeAutostartEntry(add, place_, &message);
            const ssize_t written = write(out[1], message.data(), message.size());
            _exit(written < 0 ? 2 : status);
        }
        close(out[1]);
        message_.clear();
        char buffer[4096];
        for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) message_.append(buffer, n);
        close(out[0]);
        int status = 0;
        waitpid(pid, &status, 0);
        if (!root) chmod(folder.c_str(), 0755);
        if (!WIFEXITED(status) || WEXITSTATUS(status) == 77) return -1;
        return WEXITSTATUS(status);
    }

    std::string home_;
    AutostartPlace place_;
    std::string entry_;
    std::string message_;
};

}  // namespace

TEST(AutostartEntryText, ExecRunsTheProgramAsTheDesktopSplitsIt) {
    for (const std::string program :
         {"/usr/lib/mereglass", "/opt/my saver/mereglass", "/tmp/a\"b$c`d\\e'f%g/mere glass",
          "/tmp/tab\tand\nline/mereglass", "/tmp/50%/mereglass"}) {
        const std::string text = platform::AutostartEntryText(program);
        EXPECT_EQ(ExecWords(text), (std::vector<std::string>{program, "--idle-watch"})) << text;
    }
    // A plain path needs no quotes.
    const std::string text = platform::AutostartEntryText("/usr/lib/mereglass");
    EXPECT_NE(text.find("\nExec=/usr/lib/mereglass --idle-watch\n"), std::string::npos);
    // An application that shows in the desktop's list of startup programs.
    for (const char* line :
         {"[Desktop Entry]\n", "\nType=Application\n", "\nIcon=org.example.Mereglass\n",
          "\nX-GNOME-Autostart-enabled=true\n"}) {
        EXPECT_NE(text.find(line), std::string::npos) << line;
    }
    EXPECT_EQ(text.find("NoDisplay"), std::string::npos);
    EXPECT_EQ(text.find("Hidden"), std::string::npos);
}

TEST(AutostartPlace, FollowsAnAbsoluteXdgConfigHomeElseHome) {
    const char* home = std::getenv("HOME");
    const std::string savedHome = home ? home : "";
    setenv("HOME", "/home/someone", 1);
    AutostartPlace place;
    std::string error;
    for (const char* xdg : {"relative/config", ""}) {
        setenv("XDG_CONFIG_HOME", xdg, 1);
        ASSERT_TRUE(platform::DefaultAutostartPlace(&place, &error)) << error;
        EXPECT_EQ(platform::AutostartEntryPath(place),
                  "/home/someone/.config/autostart/mereglass-idle-watch.desktop");
    }
    setenv("XDG_CONFIG_HOME", "/elsewhere", 1);
    ASSERT_TRUE(platform::DefaultAutostartPlace(&place, &error));
    EXPECT_EQ(place.configFolder, "/elsewhere");
    char exe[PATH_MAX];
    ASSERT_NE(realpath("/proc/self/exe", exe), nullptr);
    EXPECT_EQ(place.program, exe);
    unsetenv("XDG_CONFIG_HOME");
    setenv("HOME", savedHome.c_str(), 1);
}

TEST_F(AutostartEntry, AddsOnceAndRemovesOnlyItsFile) {
    std::ofstream(place_.configFolder + "/other.conf") << "kept\n";
    const auto before = Snapshot(home_);
    ASSERT_EQ(Change(true), 0) << message_;
    EXPECT_TRUE(Says("added")) << message_;
    EXPECT_TRUE(Says(entry_)) << message_;
    EXPECT_EQ(ReadText(entry_), platform::AutostartEntryText(place_.program));
    EXPECT_TRUE(platform::AutostartEntryPresent(place_));
    // The folder made for it, private, and holding nothing else (no
    // temporary file left behind).
    struct stat st {};
    ASSERT_EQ(stat((place_.configFolder + "/autostart").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(Snapshot(place_.configFolder + "/autostart").size(), 1u);

    // Again: the same file, untouched.
    ASSERT_EQ(stat(entry_.c_str(), &st), 0);
    const ino_t inode = st.st_ino;
    ASSERT_EQ(Change(true), 0);
    EXPECT_TRUE(Says("there already; nothing changed")) << message_;
    ASSERT_EQ(stat(entry_.c_str(), &st), 0);
    EXPECT_EQ(st.st_ino, inode);

    // Removed, only the file goes; the folder stays.
    ASSERT_EQ(Change(false), 0);
    EXPECT_TRUE(Says("removed")) << message_;
    EXPECT_FALSE(platform::AutostartEntryPresent(place_));
    EXPECT_TRUE(fs::is_directory(place_.configFolder + "/autostart"));
    auto after = Snapshot(home_);
    after.erase(place_.configFolder + "/autostart");
    EXPECT_EQ(after, before);
    ASSERT_EQ(Change(false), 0);
    EXPECT_TRUE(Says("there is no autostart entry")) << message_;
}

TEST_F(AutostartEntry, AnOutdatedEntryIsRewrittenAndALinkRemovedAlone) {
    fs::create_directories(place_.configFolder + "/autostart");
    std::ofstream(entry_) << "[Desktop Entry]\nExec=/old/mereglass --idle-watch\n";
    ASSERT_EQ(Change(true), 0);
    EXPECT_TRUE(Says("rewrote")) << message_;
    EXPECT_EQ(ReadText(entry_), platform::AutostartEntryText(place_.program));
    EXPECT_TRUE(platform::AutostartEntryEnabled(place_));
    std::ofstream(entry_, std::ios::app) << "Hidden=true\n";
    EXPECT_FALSE(platform::AutostartEntryEnabled(place_));

    // A link in the entry's place: removing takes the link, not its file.
    ASSERT_EQ(unlink(entry_.c_str()), 0);
    std::ofstream(home_ + "/dotfile.desktop") << "mine\n";
    ASSERT_EQ(symlink((home_ + "/dotfile.desktop").c_str(), entry_.c_str()), 0);
    EXPECT_TRUE(platform::AutostartEntryPresent(place_));
    ASSERT_EQ(Change(false), 0) << message_;
    EXPECT_FALSE(fs::exists(fs::symlink_status(entry_)));
    EXPECT_EQ(ReadText(home_ + "/dotfile.desktop"), "mine\n");
}

TEST_F(AutostartEntry, PlacesThatCannotTakeItAreLeftAlone) {
    // The autostart folder is a file.
    std::ofstream(place_.configFolder + "/autostart") << "not a folder\n";
    auto before = Snapshot(home_);
    EXPECT_EQ(Change(true), 1);
    EXPECT_TRUE(Says("cannot change the autostart entry")) << message_;
    EXPECT_TRUE(Says("is not a folder")) << message_;
    EXPECT_EQ(message_.find('\n'), std::string::npos);
    EXPECT_EQ(Change(false), 0);  // no entry can be there
    EXPECT_EQ(Snapshot(home_), before);
    fs::remove(place_.configFolder + "/autostart");

    // A folder in the entry's place.
    fs::create_directories(entry_ + "/inside");
    before = Snapshot(home_);
    EXPECT_EQ(Change(true), 1);
    EXPECT_EQ(Change(false), 1);
    EXPECT_TRUE(Says("it is a folder")) << message_;
    EXPECT_EQ(Snapshot(home_), before);
    fs::remove_all(place_.configFolder + "/autostart");

    // A program path that is not UTF-8, which no desktop entry can hold.
    place_.program = "/opt/caf\xe9/mereglass";
    before = Snapshot(home_);
    EXPECT_EQ(Change(true), 1);
    EXPECT_TRUE(Says("the program's path is not UTF-8")) << message_;
    EXPECT_EQ(Snapshot(home_), before);
}

// A missing configuration folder is made for its owner alone, as the XDG
// base-directory rules say, and so is its autostart folder; nothing above
// it ever is.
TEST_F(AutostartEntry, AMissingConfigurationFolderIsMadePrivate) {
    place_.configFolder = home_ + "/absent/config";
    EXPECT_EQ(Change(true), 1);
    EXPECT_TRUE(Says("cannot make the folder")) << message_;
    EXPECT_FALSE(fs::exists(home_ + "/absent"));
    place_.configFolder = home_ + "/missing";
    ASSERT_EQ(Change(true), 0) << message_;
    for (const std::string& folder : {place_.configFolder, place_.configFolder + "/autostart"}) {
        struct stat st {};
        EXPECT_TRUE(stat(folder.c_str(), &st) == 0 && (st.st_mode & 0777) == 0700) << folder;
    }
}

TEST_F(AutostartEntry, ReadOnlyFoldersAreLeftAlone) {
    // The configuration folder read-only, the autostart folder not made yet.
    const int status = ChangeReadOnly(true, place_.configFolder);
    if (status < 0) GTEST_SKIP() << "cannot make a folder read-only here";
    EXPECT_EQ(status, 1);
    EXPECT_TRUE(Says("cannot make the folder")) << message_;
    EXPECT_FALSE(fs::exists(place_.configFolder + "/autostart"));

    // The autostart folder read-only, with and without the entry.
    const std::string folder = place_.configFolder + "/autostart";
    fs::create_directories(folder);
    EXPECT_EQ(ChangeReadOnly(true, folder), 1);
    EXPECT_TRUE(Says("cannot write in")) << message_;
    EXPECT_TRUE(fs::is_empty(folder));
    ASSERT_EQ(Change(true), 0);
    const auto before = Snapshot(home_);
    EXPECT_EQ(ChangeReadOnly(false, folder), 1);
    EXPECT_EQ(message_.find('\n'), std::string::npos);
    EXPECT_EQ(Snapshot(home_), before);
}

TEST_F(AutostartEntry, TheProgramAddsAndRemovesItsOwnEntry) {
    char real[PATH_MAX];
    ASSERT_NE(realpath(MEREGLASS_PROGRAM, real), nullptr);
    // No session: the entry alone changes, no watcher starts or stops.
    const std::vector<std::string> env{"XDG_CONFIG_HOME=" + place_.configFolder,
                                       "DISPLAY=", "WAYLAND_DISPLAY="};
    {
        ChildProcess add(MEREGLASS_PROGRAM, {MEREGLASS_PROGRAM, "--add-to-autostart"}, env);
        ASSERT_TRUE(add.Wait(30.0));
        EXPECT_EQ(add.status(), 0) << add.Output();
        EXPECT_EQ(add.Output().rfind("mereglass: added the autostart entry " + entry_, 0), 0u)
            << add.Output();
    }
    EXPECT_EQ(ExecWords(ReadText(entry_)), (std::vector<std::string>{real, "--idle-watch"}));
    {
        ChildProcess remove(MEREGLASS_PROGRAM, {MEREGLASS_PROGRAM, "--remove-from-autostart"}, env);
        ASSERT_TRUE(remove.Wait(30.0));
        EXPECT_EQ(remove.status(), 0) << remove.Output();
    }
    EXPECT_FALSE(fs::exists(entry_));
    // A failure is one line, and status 1.
    ASSERT_TRUE(fs::remove(place_.configFolder + "/autostart"));
    std::ofstream(place_.configFolder + "/autostart") << "a file\n";
    ChildProcess fail(MEREGLASS_PROGRAM, {MEREGLASS_PROGRAM, "--add-to-autostart"}, env);
    ASSERT_TRUE(fail.Wait(30.0));
    EXPECT_EQ(fail.status(), 1);
    const std::string out = fail.Output();
    EXPECT_EQ(out.rfind("mereglass: cannot change the autostart entry", 0), 0u) << out;
    EXPECT_EQ(out.find('\n'), out.size() - 1) << out;
}
