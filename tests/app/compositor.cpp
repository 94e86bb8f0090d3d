// Compositor: how each compositor is started headless, its clients run,
// its outputs read back and its seat given input. The paths of the program
// and of the test tools come from the build (MEREGLASS_* definitions).
#include "compositor.h"

#include <signal.h>
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

namespace fs = std::filesystem;

constexpr unsigned kUser = 65534;
// Every compositor's clients find it under this name.
const char kSocket[] = "wayland-1";

struct OutputSize {
    const char* name;
    int width, height;
};

// The two outputs of each compositor. KWin makes all of its outputs one
// size.
const OutputSize kSwayOutputs[] = {{"HEADLESS-1", 320, 240}, {"HEADLESS-2", 256, 192}};
const OutputSize kKwinOutputs[] = {{"Virtual-0", 320, 240}, {"Virtual-1", 320, 240}};
const OutputSize kMutterOutputs[] = {{"Meta-0", 320, 240}, {"Meta-1", 256, 192}};

const OutputSize* OutputsOf(CompositorKind kind) {
    switch (kind) {
        case CompositorKind::Sway:
            return kSwayOutputs;
        case CompositorKind::Kwin:
            return kKwinOutputs;
        case CompositorKind::Mutter:
            return kMutterOutputs;
    }
    return kSwayOutputs;
}

// The tools each compositor needs: the system's, then ours (an empty path
// is a tool the build left out, for want of its headers).
std::vector<std::string> NeedsOf(CompositorKind kind) {
    std::vector<std::string> needs = {"/usr/bin/dbus-daemon", "/usr/bin/setpriv",
                                      MEREGLASS_IDLE_INHIBITOR};
    switch (kind) {
        case CompositorKind::Sway:
            needs.insert(needs.end(),
                         {"/usr/bin/sway", "/usr/bin/swaybg", "/usr/bin/swaymsg", "/usr/bin/grim",
                          "/usr/bin/wtype", MEREGLASS_VIRTUAL_POINTER});
            break;
        case CompositorKind::Kwin:
            needs.insert(needs.end(), {"/usr/bin/kwin_wayland", MEREGLASS_FAKE_INPUT,
                                       MEREGLASS_KWIN_SCREENSHOT});
            break;
        case CompositorKind::Mutter:
            needs.insert(needs.end(), {"/usr/bin/mutter", "/usr/bin/pipewire", "/usr/bin/gdbus",
                                       MEREGLASS_SCREEN_CAST, MEREGLASS_REMOTE_DESKTOP,
                                       MEREGLASS_SESSION_MANAGER});
            break;
    }
    return needs;
}

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// The last line of `text`, without its newline.
std::string LastLine(const std::string& text) {
    const size_t end = text.find_last_not_of('\n');
    if (end == std::string::npos) return {};
    const size_t newline = text.rfind('\n', end);
    const size_t begin = newline == std::string::npos ? 0 : newline + 1;
    return text.substr(begin, end + 1 - begin);
}

// Whether `s` shows sway's desktop colour everywhere.
bool SwayDesktop(const Shot& s) {
    for (size_t i = 0; i + 2 < s.rgb.size(); i += 3) {
        if (s.rgb[i] != kSwayDesktop[0] || s.rgb[i + 1] != kSwayDesktop[1] ||
            s.rgb[i + 2] != kSwayDesktop[2]) {
            return false;
        }
    }
    return true;
}

}  // namespace

double MonotonicSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

std::string Compositor::Unavailable(CompositorKind kind) {
    for (const std::string& need : NeedsOf(kind)) {
        if (need.empty()) return "a test tool for it was not built (see scripts/setup)";
        if (!Exists(need)) return need + " is not installed (scripts/setup installs it)";
    }
    return {};
}

const char* Compositor::name() const {
    switch (kind_) {
        case CompositorKind::Sway:
            return "sway";
        case CompositorKind::Kwin:
            return "KWin";
        case CompositorKind::Mutter:
            return "Mutter";
    }
    return "?";
}

std::unique_ptr<Compositor> Compositor::Start(CompositorKind kind, std::string* error) {
    std::unique_ptr<Compositor> c(new Compositor(kind));
    bool up = c->Prepare(error) && c->StartBus(error);
    if (up) {
        switch (kind) {
            case CompositorKind::Sway:
                up = c->StartSway(error);
                break;
            case CompositorKind::Kwin:
                up = c->StartKwin(error);
                break;
            case CompositorKind::Mutter:
                up = c->StartMutter(error);
                break;
        }
    }
    up = up && c->HoldSeatDevices(error) && c->WaitForDesktops(error);
    if (!up) {
        *error = std::string(c->name()) + ": " + *error + "\n" + c->Log();
        return nullptr;
    }
    return c;
}

// The private folder: the runtime folder (the home, too), and copies of
// the program and the tools that the compositor's user can read.
bool Compositor::Prepare(std::string* error) {
    char dir[] = "/tmp/mereglass-compositor-XXXXXX";
    if (mkdtemp(dir) == nullptr || chmod(dir, 0755) != 0) {
        *error = "cannot make a private folder";
        return false;
    }
    dir_ = dir;
    run_ = dir_ + "/run";
    bin_ = dir_ + "/bin";
    otherUser_ = kind_ == CompositorKind::Sway && geteuid() == 0;
    if (mkdir(bin_.c_str(), 0755) != 0 || mkdir(run_.c_str(), 0700) != 0 ||
        (otherUser_ && chown(run_.c_str(), kUser, kUser) != 0)) {
        *error = "cannot make the runtime folder";
        return false;
    }
    std::vector<std::pair<std::string, std::string>> copies = {
        {MEREGLASS_PROGRAM, Program()}, {MEREGLASS_ARCHIVE, bin_ + "/murkle.respak"}};
    for (const char* tool :
         {MEREGLASS_VIRTUAL_POINTER, MEREGLASS_FAKE_INPUT, MEREGLASS_REMOTE_DESKTOP,
          MEREGLASS_KWIN_SCREENSHOT, MEREGLASS_SCREEN_CAST, MEREGLASS_IDLE_INHIBITOR,
          MEREGLASS_SESSION_MANAGER, MEREGLASS_BUS_STANDIN}) {
        if (*tool != '\0')
            copies.emplace_back(tool, bin_ + "/" + fs::path(tool).filename().string());
    }
    for (const auto& [from, to] : copies) {
        std::error_code failed;
        if (!fs::copy_file(from, to, failed) || chmod(to.c_str(), 0755) != 0) {
            *error = "cannot copy " + from + ": " + failed.message();
            return false;
        }
    }
    env_ = {"HOME=" + run_,
            "PATH=/usr/bin:/bin",
            "XDG_RUNTIME_DIR=" + run_,
            "XDG_CONFIG_HOME=" + run_ + "/.config",
            "XDG_CACHE_HOME=" + run_ + "/.cache",
            "XDG_DATA_HOME=" + run_ + "/.local/share",
            "DBUS_SESSION_BUS_ADDRESS=" + BusAddress(),
            std::string("WAYLAND_DISPLAY=") + kSocket,
            "XDG_SESSION_TYPE=wayland",
            "DISPLAY=",
            "QT_QPA_PLATFORM="};
    if (otherUser_) {
        if (std::string lsan = LsanOptionsForOtherUser(bin_); !lsan.empty()) env_.push_back(lsan);
    }
    return true;
}

std::unique_ptr<ChildProcess> Compositor::Spawn(std::vector<std::string> args,
                                                const std::vector<std::string>& env) {
    std::vector<std::string> setpriv = {"/usr/bin/setpriv", "--pdeathsig=TERM"};
    if (otherUser_) {
        const std::string id = std::to_string(kUser);
        setpriv.insert(setpriv.end(), {"--reuid=" + id, "--regid=" + id, "--clear-groups"});
    }
    args.insert(args.begin(), setpriv.begin(), setpriv.end());
    std::vector<std::string> all = env_;
    all.insert(all.end(), env.begin(), env.end());
    return std::make_unique<ChildProcess>(args.front(), args, all);
}

std::unique_ptr<ChildProcess> Compositor::StandIn(const std::vector<std::string>& args,
                                                  const std::vector<std::string>& env) {
    std::vector<std::string> all = {Tool("mereglass_bus_standin")};
    all.insert(all.end(), args.begin(), args.end());
    std::unique_ptr<ChildProcess> c = Spawn(all, env);
    if (!Soon([&] { return c->Output().find("ready\n") != std::string::npos || !c->running(); }) ||
        !c->running()) {
        return nullptr;
    }
    return c;
}

bool Compositor::Run(std::vector<std::string> args) {
    std::unique_ptr<ChildProcess> c = Spawn(std::move(args));
    return c->Wait(kCompositorDeadline) && c->status() == 0;
}

bool Compositor::StartBus(std::string* error) {
    helpers_.push_back(Spawn(
        {"/usr/bin/dbus-daemon", "--session", "--nofork", "--address=unix:path=" + run_ + "/bus"}));
    if (!Soon([&] { return Exists(run_ + "/bus"); })) {
        *error = "the session bus did not start";
        return false;
    }
    return true;
}

bool Compositor::StartSway(std::string* error) {
    const std::string config = dir_ + "/sway.conf";
    char colour[8];
    std::snprintf(colour, sizeof colour, "#%02x%02x%02x", kSwayDesktop[0], kSwayDesktop[1],
                  kSwayDesktop[2]);
    // grim's pictures show the pointer: it hides a second after it moved
    // (hidden, it leaves the client under it, so it must not hide between
    // the steps of a motion).
    std::ofstream(config) << "output * bg " << colour << " solid_color\n"
                          << "seat * hide_cursor 1000\n"
                          << "output " << kSwayOutputs[0].name << " resolution "
                          << kSwayOutputs[0].width << "x" << kSwayOutputs[0].height << "\n";
    chmod(config.c_str(), 0644);
    server_ = Spawn({"/usr/bin/sway", "-c", config},
                    {"WLR_BACKENDS=headless", "WLR_RENDERER=pixman", "WLR_LIBINPUT_NO_DEVICES=1"});
    if (!Soon([&] { return SwayCommand({"-t", "get_version"}); })) {
        *error = "no answer on its socket";
        return false;
    }
    const OutputSize& second = kSwayOutputs[1];
    if (!SwayCommand({"create_output"}) ||
        !SwayCommand({"output", second.name, "resolution",
                      std::to_string(second.width) + "x" + std::to_string(second.height)})) {
        *error = "cannot make its second output";
        return false;
    }
    return true;
}

bool Compositor::SwayCommand(std::vector<std::string> args) {
    if (swaySocket_.empty()) {
        for (const auto& e : fs::directory_iterator(run_)) {
            if (e.path().filename().string().rfind("sway-ipc.", 0) == 0) swaySocket_ = e.path();
        }
        if (swaySocket_.empty()) return false;
    }
    args.insert(args.begin(), {"/usr/bin/swaymsg", "-s", swaySocket_});
    return Run(args);
}

// KWin's own Qt platform plugin loads only into a program whose file name
// ends in kwin_wayland, and the installed one carries a file capability
// that a container may refuse: a plain copy of that name runs.
bool Compositor::StartKwin(std::string* error) {
    const std::string kwin = dir_ + "/kwin_wayland";
    std::error_code failed;
    fs::copy_file("/usr/bin/kwin_wayland", kwin, failed);
    chmod(kwin.c_str(), 0755);
    // It would lock the session after five idle minutes.
    fs::create_directories(run_ + "/.config", failed);
    std::ofstream(run_ + "/.config/kscreenlockerrc") << "[Daemon]\nAutolock=false\n"
                                                     << "LockOnResume=false\n";
    server_ =
        Spawn({kwin, "--virtual", "--width", std::to_string(kKwinOutputs[0].width), "--height",
               std::to_string(kKwinOutputs[0].height), "--output-count", "2", "--socket", kSocket},
              {"KWIN_WAYLAND_NO_PERMISSION_CHECKS=1", "KWIN_SCREENSHOT_NO_PERMISSION_CHECKS=1"});
    if (!Soon([&] { return Exists(run_ + "/" + kSocket) || !server_->running(); }) ||
        !server_->running()) {
        *error = "no Wayland socket";
        return false;
    }
    return true;
}

// Mutter offers no picture of its outputs but a screen cast through
// PipeWire; it asks GNOME's session manager nothing that matters here.
bool Compositor::StartMutter(std::string* error) {
    helpers_.push_back(Spawn({"/usr/bin/pipewire"}));
    if (!Soon([&] { return Exists(run_ + "/pipewire-0"); })) {
        *error = "PipeWire did not start";
        return false;
    }
    std::vector<std::string> args = {"/usr/bin/mutter", "--headless",        "--wayland",
                                     "--no-x11",        "--wayland-display", kSocket};
    for (const OutputSize& o : kMutterOutputs) {
        args.insert(args.end(), {"--virtual-monitor",
                                 std::to_string(o.width) + "x" + std::to_string(o.height)});
    }
    server_ = Spawn(args);
    if (!Soon([&] { return Exists(run_ + "/" + kSocket) || !server_->running(); }) ||
        !server_->running()) {
        *error = "no Wayland socket";
        return false;
    }
    sessionManager_ = Spawn({Tool("mereglass_session_manager")});
    if (!Soon([&] { return LastLine(sessionManager_->Output()) == "ready"; })) {
        *error = "the session manager did not start: " + sessionManager_->Output();
        return false;
    }
    return true;
}

// A keyboard and a pointer that stay in the seat, as a machine's own do:
// a client binds them as it starts, so none of the input a test gives
// later can come before the client has a keyboard or pointer to take it
// (a device that comes and goes while a busy client reads nothing would
// pass it by). sway's keyboard is wtype's, asleep for a day before it
// types.
bool Compositor::HoldSeatDevices(std::string* error) {
    const auto holding = [&](const std::vector<std::string>& args) {
        helpers_.push_back(Spawn(args));
        ChildProcess* h = helpers_.back().get();
        return Soon([&] {
                   return h->Output().find("holding\n") != std::string::npos || !h->running();
               }) &&
               h->running();
    };
    bool held = false;
    switch (kind_) {
        case CompositorKind::Sway:
            held = holding({Tool("mereglass_virtual_pointer"), "hold"});
            if (held) {
                helpers_.push_back(Spawn({"/usr/bin/wtype", "-s", "86400000", "a"}));
                held = Soon([&] {
                    std::unique_ptr<ChildProcess> inputs =
                        Spawn({"/usr/bin/swaymsg", "-s", swaySocket_, "-t", "get_inputs"});
                    return inputs->Wait(kCompositorDeadline) &&
                           inputs->Output().find("\"keyboard\"") != std::string::npos;
                });
            }
            break;
        case CompositorKind::Kwin:
            held = holding({Tool("mereglass_fake_input"), "hold"});
            break;
        case CompositorKind::Mutter:
            held = holding({Tool("mereglass_remote_desktop"), "hold"});
            break;
    }
    if (!held) *error = "no keyboard and pointer in its seat";
    return held;
}

// Each output is there at its size and shows the same picture twice
// running (sway: its colour, everywhere).
bool Compositor::WaitForDesktops(std::string* error) {
    const OutputSize* sizes = OutputsOf(kind_);
    outputs_ = {sizes[0].name, sizes[1].name};
    std::vector<Shot> before;
    const bool settled = Soon([&] {
        std::vector<Shot> now;
        if (!GrabEach(&now)) return false;
        for (size_t i = 0; i < now.size(); ++i) {
            if (now[i].width != sizes[i].width || now[i].height != sizes[i].height) return false;
        }
        if (kind_ == CompositorKind::Sway && !std::all_of(now.begin(), now.end(), SwayDesktop)) {
            return false;
        }
        const bool same = before.size() == now.size() &&
                          std::equal(before.begin(), before.end(), now.begin(),
                                     [](const Shot& a, const Shot& b) { return a.rgb == b.rgb; });
        before = std::move(now);
        return same;
    });
    if (!settled) {
        *error = "its outputs did not show a still desktop";
        return false;
    }
    desktops_ = std::move(before);
    return true;
}

Compositor::~Compositor() {
    inhibitor_.reset();
    sessionManager_.reset();
    if (server_ && server_->running()) {
        server_->Signal(SIGTERM);
        if (!server_->Wait(10.0)) server_->Signal(SIGKILL);
    }
    server_.reset();
    while (!helpers_.empty()) {
        if (helpers_.back()->running()) {
            helpers_.back()->Signal(SIGTERM);
            helpers_.back()->Wait(10.0);
        }
        helpers_.pop_back();
    }
    if (!dir_.empty()) {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
}

std::string Compositor::Log() const {
    std::string log = server_ ? server_->Output() : "";
    for (const auto& h : helpers_) log += h->Output();
    if (sessionManager_) log += sessionManager_->Output();
    // The last lines are the ones that tell.
    constexpr size_t kTail = 4000;
    return log.size() > kTail ? "…" + log.substr(log.size() - kTail) : log;
}

bool Compositor::Alive() {
    if (!server_ || !server_->running()) return false;
    for (const auto& h : helpers_) {
        if (!h->running()) return false;
    }
    return !sessionManager_ || sessionManager_->running();
}

void Compositor::Kill() {
    if (server_ && server_->running()) {
        server_->Signal(SIGKILL);
        server_->Wait(kCompositorDeadline);
    }
}

bool Compositor::Grab(const std::string& output, Shot* shot) {
    const std::string path = run_ + "/shot-" + output + ".ppm";
    bool ok = false;
    switch (kind_) {
        case CompositorKind::Sway:
            ok = Run({"/usr/bin/grim", "-t", "ppm", "-o", output, path});
            break;
        case CompositorKind::Kwin:
            ok = Run({Tool("mereglass_kwin_screenshot"), output, path});
            break;
        case CompositorKind::Mutter:
            ok = Run({Tool("mereglass_screen_cast"), output, path});
            break;
    }
    return ok && ReadPpm(path, shot);
}

// KWin and Mutter read every output in one go.
bool Compositor::GrabEach(std::vector<Shot>* shots) {
    shots->assign(outputs_.size(), Shot{});
    if (kind_ == CompositorKind::Sway) {
        for (size_t i = 0; i < outputs_.size(); ++i) {
            if (!Grab(outputs_[i], &(*shots)[i])) return false;
        }
        return true;
    }
    std::vector<std::string> args = {Tool(
        kind_ == CompositorKind::Kwin ? "mereglass_kwin_screenshot" : "mereglass_screen_cast")};
    for (const std::string& output : outputs_) {
        args.insert(args.end(), {output, run_ + "/shot-" + output + ".ppm"});
    }
    if (!Run(args)) return false;
    for (size_t i = 0; i < outputs_.size(); ++i) {
        if (!ReadPpm(run_ + "/shot-" + outputs_[i] + ".ppm", &(*shots)[i])) return false;
    }
    return true;
}

// wtype waits a little before it types, so the new keyboard has reached
// the clients; the other tools do the same.
bool Compositor::TypeKey() {
    switch (kind_) {
        case CompositorKind::Sway:
            return Run({"/usr/bin/wtype", "-s", "500", "a"});
        case CompositorKind::Kwin:
            return Run({Tool("mereglass_fake_input"), "key"});
        case CompositorKind::Mutter:
            return Run({Tool("mereglass_remote_desktop"), "key"});
    }
    return false;
}

bool Compositor::MovePointer(double dx, double dy, int steps) {
    const char* tool = "mereglass_virtual_pointer";
    if (kind_ == CompositorKind::Kwin) tool = "mereglass_fake_input";
    if (kind_ == CompositorKind::Mutter) tool = "mereglass_remote_desktop";
    std::vector<std::string> args = {Tool(tool)};
    if (kind_ != CompositorKind::Sway) args.push_back("motion");
    std::ostringstream x, y;
    x << dx;
    y << dy;
    args.insert(args.end(), {x.str(), y.str(), std::to_string(steps)});
    return Run(args);
}

bool Compositor::InhibitIdle(bool on) {
    if (kind_ == CompositorKind::Mutter) {
        if (!sessionManager_->Signal(on ? SIGUSR1 : SIGUSR2)) return false;
        return Soon([&] {
            return LastLine(sessionManager_->Output()) == (on ? "inhibited" : "not inhibited");
        });
    }
    if (!on) {
        if (inhibitor_) {
            inhibitor_->Signal(SIGTERM);
            inhibitor_->Wait(kCompositorDeadline);
        }
        // The compositor lets go of it as the client's connection closes.
        inhibitor_.reset();
        return true;
    }
    // In force once the compositor took the inhibitor and shows its window
    // (which may come a frame after the window's first frame callback). On
    // sway a real player inhibits: mpv playing a generated film, of one
    // colour so that the outputs stay still.
    const bool player = kind_ == CompositorKind::Sway && Exists("/usr/bin/mpv");
    inhibitor_ =
        player ? Spawn({"/usr/bin/mpv", "--no-config", "--vo=wlshm", "--ao=null", "--osd-level=0",
                        "--loop", "av://lavfi:color=c=0x336699:size=160x120:rate=5"},
                       {"HOME=" + run_})
               : Spawn({Tool("mereglass_idle_inhibitor")});
    const bool taken = player || Soon([&] {
                           return inhibitor_->Output().find("inhibiting\n") != std::string::npos ||
                                  !inhibitor_->running();
                       });
    if (!taken || !inhibitor_->running()) return false;
    std::vector<Shot> shots;
    return Soon([&] {
        if (!GrabEach(&shots)) return false;
        for (size_t i = 0; i < shots.size(); ++i) {
            if (Differing(shots[i], desktops_[i]) > 0) return true;
        }
        return false;
    });
}

bool Compositor::PowerSave(bool down) {
    return kind_ == CompositorKind::Mutter &&
           Run({"/usr/bin/gdbus", "call", "--session", "--dest", "org.gnome.Mutter.DisplayConfig",
                "--object-path", "/org/gnome/Mutter/DisplayConfig", "--method",
                "org.freedesktop.DBus.Properties.Set", "org.gnome.Mutter.DisplayConfig",
                "PowerSaveMode", down ? "<3>" : "<0>"});
}

Compositor* SharedCompositor::Get(std::string* error) {
    if (compositor_ && (spoilt_ || !compositor_->Alive())) compositor_.reset();
    spoilt_ = false;
    if (!compositor_) compositor_ = Compositor::Start(kind_, error);
    return compositor_.get();
}
