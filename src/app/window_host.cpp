// The X11 hosts and their frame loop. The loop ticks every view at 1/60 s
// against absolute deadlines, waits on the X connection and a signalfd in
// between (so events and signals are handled at once), and never waits
// inside a draw; clicks and drags in a window of its own drip on the water.
// Relies on the platform layer, the scene's touch, Linux's signalfd and
// ppoll.
#include "app/window_host.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "app/hosted_view.h"
#include "app/screen_scale.h"
#include "app/tick_schedule.h"
#include "scene/scene.h"
#include "view/settings.h"

namespace {

// Views that save CPU on a software renderer draw this percentage of each
// side of their window, at most this many frames a second.
constexpr int kEconomyPercent = 50;
constexpr double kEconomyFramesPerSecond = 30.0;

// Blocks SIGTERM and SIGINT and returns a descriptor that becomes readable
// when one arrives; -1 when signalfd is not available (the signals are then
// left to their default action).
int OpenStopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    if (sigprocmask(SIG_BLOCK, &set, nullptr) != 0) return -1;
    const int fd = signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    if (fd < 0) sigprocmask(SIG_UNBLOCK, &set, nullptr);
    return fd;
}

// The scale factor the desktop states for the display: GDK_SCALE, else the
// Xft.dpi resource. A GDK_SCALE that is no factor is named in one line.
int ScreenScale(platform::Connection* connection) {
    const char* gdkScale = std::getenv("GDK_SCALE");
    int factor = 0;
    if (gdkScale != nullptr && *gdkScale != '\0' && !ParseScaleFactor(gdkScale, &factor)) {
        std::fprintf(stderr, "mereglass: GDK_SCALE=\"%s\" is not a whole number from 1; ignored\n",
                     gdkScale);
        gdkScale = nullptr;
    }
    return ScreenScaleFactor(platform::DpiResource(connection).c_str(), gdkScale);
}

// The views a mode asks for.
std::vector<platform::ViewRequest> Requests(const CommandLine& cl,
                                            const std::vector<platform::ScreenInfo>& screens,
                                            bool* readRoot) {
    std::vector<platform::ViewRequest> out;
    platform::ViewRequest r;
    *readRoot = true;
    switch (cl.mode) {
        case HostMode::Root: {
            // A screen-saver daemon names its window in the environment; the
            // variable is honoured only together with -root.
            const char* env = std::getenv("XSCREENSAVER_WINDOW");
            unsigned long id = 0;
            if (env != nullptr && *env != '\0') {
                if (ParseWindowId(env, &id)) {
                    r.kind = platform::ViewKind::Foreign;
                    r.foreign = id;
                    *readRoot = false;
                } else {
                    std::fprintf(stderr,
                                 "mereglass: XSCREENSAVER_WINDOW=\"%s\" is not a window id; "
                                 "using the root window\n",
                                 env);
                }
            }
            if (r.kind != platform::ViewKind::Foreign) r.kind = platform::ViewKind::Root;
            out.push_back(r);
            break;
        }
        case HostMode::WindowId:
            r.kind = platform::ViewKind::Foreign;
            r.foreign = cl.windowId;
            *readRoot = false;
            out.push_back(r);
            break;
        case HostMode::FullScreen:
            for (const platform::ScreenInfo& s : screens) {
                r.kind = platform::ViewKind::FullScreen;
                r.screen = s;
                out.push_back(r);
            }
            break;
        default:
            r.kind = platform::ViewKind::TopLevel;
            r.width = cl.windowWidth;
            r.height = cl.windowHeight;
            r.hasPosition = cl.hasPosition;
            r.x = cl.windowX;
            r.y = cl.windowY;
            // Negative offsets count from the right and bottom edges.
            if (cl.hasPosition && (cl.windowXFromRight || cl.windowYFromBottom)) {
                int right = 0, bottom = 0;
                for (const platform::ScreenInfo& s : screens) {
                    right = std::max(right, s.x + s.width);
                    bottom = std::max(bottom, s.y + s.height);
                }
                if (cl.windowXFromRight) r.x = right + cl.windowX - cl.windowWidth;
                if (cl.windowYFromBottom) r.y = bottom + cl.windowY - cl.windowHeight;
            }
            out.push_back(r);
            break;
    }
    return out;
}

struct Host {
    platform::Connection* connection = nullptr;
    platform::SettingsStore* store = nullptr;
    HostShared shared;
    std::vector<std::unique_ptr<HostedView>> views;
    int signalFd = -1;

    ~Host() {
        // Every saver is torn down in its own context before the
        // connection goes.
        for (auto& hv : views) EndHostedView(hv.get());
        views.clear();
        if (connection != nullptr) platform::CloseConnection(connection);
        if (store != nullptr) platform::CloseSettingsStore(store);
        if (signalFd >= 0) close(signalFd);
    }

    HostedView* Find(platform::WindowId window) {
        for (auto& hv : views) {
            if (platform::ViewWindow(hv->view) == window) return hv.get();
        }
        return nullptr;
    }
};

// A click (trail false) or a drag (trail true) at the event's pointer
// position: a drip on the water under it. A drag drips only when it reaches
// another grid point than the latest touch, so a trail has at most one drip
// per point it crosses.
void TouchWater(HostedView* hv, const platform::Event& e, bool trail) {
    SSMAIN* scene = hv->saver != nullptr ? hv->saver->ssMain : nullptr;
    if (scene == nullptr || hv->width <= 0 || hv->height <= 0) return;
    // The saver may draw a reduced frame that is stretched over the window:
    // the pixel is taken to the size the scene draws at.
    const bool scaled = hv->scaled.active();
    const float sx = scaled ? static_cast<float>(hv->scaled.width()) / hv->width : 1.0f;
    const float sy = scaled ? static_cast<float>(hv->scaled.height()) / hv->height : 1.0f;
    int column = 0, row = 0;
    if (!scene->PixelToGrid((static_cast<float>(e.x) + 0.5f) * sx,
                            (static_cast<float>(e.y) + 0.5f) * sy, &column, &row)) {
        return;
    }
    if (trail && column == hv->touchColumn && row == hv->touchRow) return;
    scene->DropAt(column, row, trail);
    hv->touchColumn = column;
    hv->touchRow = row;
}

// Handles the waiting events. False when the program is to end.
bool HandleEvents(Host* host, bool fullScreen, std::vector<platform::Event>* events) {
    events->clear();
    platform::DrainEvents(host->connection, events);
    for (const platform::Event& e : *events) {
        HostedView* hv = host->Find(e.window);
        if (hv == nullptr) continue;
        switch (e.kind) {
            case platform::EventKind::Resized:
                if (e.width > 0 && e.height > 0 &&
                    (e.width != hv->width || e.height != hv->height)) {
                    ResizeHostedView(hv, e.width, e.height);
                }
                break;
            case platform::EventKind::KeyPressed:
                if (fullScreen) return false;
                break;
            case platform::EventKind::ButtonPressed:
                if (fullScreen) return false;
                // Buttons 4 and up are the wheel's: they drop nothing.
                if (hv->touchable && e.button >= 1 && e.button <= 3) TouchWater(hv, e, false);
                break;
            case platform::EventKind::PointerDragged:
                if (hv->touchable) TouchWater(hv, e, true);
                break;
            case platform::EventKind::Destroyed:
            case platform::EventKind::CloseRequested:
                return false;
            case platform::EventKind::Exposed:
                break;
        }
    }
    for (auto& hv : host->views) {
        if (platform::ViewLost(hv->view)) return false;
    }
    return true;
}

// The stop signal waiting on `fd` (consumed), or 0.
int StopRequested(int fd) {
    if (fd < 0) return 0;
    signalfd_siginfo info;
    if (read(fd, &info, sizeof info) != static_cast<ssize_t>(sizeof info)) return 0;
    return static_cast<int>(info.ssi_signo);
}

}  // namespace

int RunWindowHost(const CommandLine& cl, int* stopSignal) {
    *stopSignal = 0;
    Host host;
    std::string error;
    host.connection =
        platform::OpenConnection(cl.display.empty() ? nullptr : cl.display.c_str(), &error);
    if (host.connection == nullptr) {
        std::fprintf(stderr, "mereglass: %s\n", error.c_str());
        return 1;
    }
    const std::vector<platform::ScreenInfo> screens = platform::ListScreens(host.connection);
    const platform::ScreenInfo mainScreen = platform::MainScreen(screens);
    const int screenScale = cl.scale > 0 ? cl.scale : ScreenScale(host.connection);

    bool readRoot = true;
    const std::vector<platform::ViewRequest> requests = Requests(cl, screens, &readRoot);
    host.store = platform::OpenSettingsStore(kSettingsModule);
    host.shared.store = host.store;
    host.shared.clock = [] { return platform::ClockSeconds(); };
    DesktopSources sources;
    sources.connection = host.connection;
    sources.readRoot = readRoot;
    sources.mainScreen = mainScreen;
    sources.imageFile = cl.imageFile;
    SetPictureFolder(host.store, cl, &sources);
    host.shared.overrides = cl.settings;

    for (const platform::ViewRequest& request : requests) {
        auto hv = std::make_unique<HostedView>();
        hv->view = platform::CreateWindowView(host.connection, request, &error);
        if (hv->view == nullptr) {
            std::fprintf(stderr, "mereglass: %s\n", error.c_str());
            return 1;
        }
        platform::ViewSize(hv->view, &hv->width, &hv->height);
        if (request.kind == platform::ViewKind::FullScreen) {
            hv->screenNumber = request.screen.number;
        } else {
            int x = 0, y = 0, w = 0, h = 0;
            platform::WindowRectangle(host.connection, platform::ViewWindow(hv->view), &x, &y, &w,
                                      &h);
            hv->screenNumber = platform::ScreenOfRectangle(screens, x, y, w, h).number;
        }
        hv->mainScreenNumber = mainScreen.number;
        hv->showFps = cl.showFps;
        hv->screenScale = screenScale;
        hv->scalePercent = kEconomyPercent;
        hv->touchable = request.kind == platform::ViewKind::TopLevel;
        host.views.push_back(std::move(hv));
    }

    // Every view shows the main monitor: the screenshot property is read
    // from the window on it (or the only window). The image is taken once,
    // before any window of ours is mapped, so the root still shows the
    // desktop.
    sources.window = platform::ViewWindow(host.views.front()->view);
    for (auto& hv : host.views) {
        if (hv->screenNumber == mainScreen.number) {
            sources.window = platform::ViewWindow(hv->view);
            break;
        }
    }
    AcquirePicture(sources, &host.shared);

    // The frame rate shown is that of the main monitor's view.
    HostedView* counter = host.views.front().get();
    for (auto& hv : host.views) {
        if (hv->screenNumber == mainScreen.number) {
            counter = hv.get();
            break;
        }
    }
    for (auto& hv : host.views) hv->countsFrames = hv.get() == counter;

    for (auto& hv : host.views) {
        ConnectHostedView(hv.get(), &host.shared);
        if (!StartHostedView(hv.get(), cl.preview, &error)) {
            std::fprintf(stderr, "mereglass: %s\n", error.c_str());
            return 1;
        }
    }
    ReleasePicture(&host.shared);
    // From here on the stop signals wait for the loop, which tears every view
    // down before the process ends by the signal. Until now they had their
    // default action: nothing needed tidying that the end of the process
    // does not tidy.
    host.signalFd = OpenStopSignals();
    for (auto& hv : host.views) platform::ShowView(hv->view);
    platform::FlushConnection(host.connection);

    const bool fullScreen = cl.mode == HostMode::FullScreen;
    // A view that saves CPU on a software renderer also draws at most
    // kEconomyFramesPerSecond: a steady rate it can hold instead of an
    // uneven one it cannot. Motion follows the clock, so only smoothness
    // changes.
    double interval = host.views.front()->saver->AnimationTimeInterval();
    for (auto& hv : host.views) {
        if (hv->scaled.active()) interval = std::max(interval, 1.0 / kEconomyFramesPerSecond);
    }
    std::vector<platform::Event> events;
    events.reserve(64);
    double deadline = platform::ClockSeconds() + interval;
    pollfd fds[2] = {{platform::ConnectionFd(host.connection), POLLIN, 0},
                     {host.signalFd, POLLIN, 0}};
    const nfds_t nfds = host.signalFd >= 0 ? 2 : 1;

    for (;;) {
        if (!HandleEvents(&host, fullScreen, &events)) break;
        *stopSignal = StopRequested(host.signalFd);
        if (*stopSignal != 0) break;

        bool anyAnimating = false;
        for (auto& hv : host.views) anyAnimating = anyAnimating || hv->saver->IsAnimating();

        double now = platform::ClockSeconds();
        if (anyAnimating && now >= deadline) {
            for (auto& hv : host.views) {
                if (hv->saver->IsAnimating()) hv->saver->AnimateOneFrame();
            }
            platform::FlushConnection(host.connection);
            deadline = NextTickDue(deadline, platform::ClockSeconds(), interval);
            continue;  // events that came during the draw first
        }

        // Wait for the X server, a signal or the next deadline.
        timespec timeout{};
        const timespec* wait = nullptr;
        if (anyAnimating) {
            const double left = deadline - now;
            timeout.tv_sec = static_cast<time_t>(left);
            timeout.tv_nsec = static_cast<long>((left - std::floor(left)) * 1e9);
            wait = &timeout;
        }
        fds[0].revents = 0;
        fds[1].revents = 0;
        ppoll(fds, nfds, wait, nullptr);
    }
    return 0;  // Host's destructor tears every view down
}
