// The X11 hosts and their frame loop. The loop ticks every view at 1/60 s
// against absolute deadlines (at most 30 a second on battery), waits on the
// X connection, a signalfd and the power source in between (so events,
// signals and the power's changes are handled at once), and never waits
// inside a draw; clicks and drags in a window of its own drip on the water.
// Relies on the platform layer, the scene's touch, the stop signals'
// signalfd and ppoll.
#include "app/window_host.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/battery_saving.h"
#include "app/frame_wait.h"
#include "app/hosted_view.h"
#include "app/screen_scale.h"
#include "app/stop_signal.h"
#include "app/tick_schedule.h"
#include "scene/scene.h"
#include "support/diagnostics.h"
#include "support/translation.h"
#include "view/settings_table.h"

namespace {

// Views that save CPU on a software renderer draw this percentage of each
// side of their window, at most kEconomyFramesPerSecond.
constexpr int kEconomyPercent = 50;

// The scale factor the desktop states for the display: GDK_SCALE, else the
// Xft.dpi resource. A GDK_SCALE that is no factor is named in one line.
int ScreenScale(platform::Connection* connection) {
    const char* gdkScale = std::getenv("GDK_SCALE");
    int factor = 0;
    if (gdkScale != nullptr && *gdkScale != '\0' && !ParseScaleFactor(gdkScale, &factor)) {
        Tell(Format(_("GDK_SCALE=\"%s\" is not a whole number from 1; ignored"),
                    DisplayName(gdkScale).c_str()));
        gdkScale = nullptr;
    }
    return ScreenScaleFactor(platform::DpiResource(connection).c_str(), gdkScale);
}

// The view of -root: the window a screen-saver daemon names in the
// environment (honoured only together with -root), else the root window.
platform::ViewRequest RootRequest(bool* readRoot) {
    platform::ViewRequest r;
    r.kind = platform::ViewKind::Root;
    const char* env = std::getenv("XSCREENSAVER_WINDOW");
    unsigned long id = 0;
    if (env == nullptr || *env == '\0') return r;
    if (ParseWindowId(env, &id)) {
        r.kind = platform::ViewKind::Foreign;
        r.foreign = id;
        *readRoot = false;
    } else {
        Tell(Format(_("XSCREENSAVER_WINDOW=\"%s\" is not a window id; using the root window"),
                    DisplayName(env).c_str()));
    }
    return r;
}

// The views a mode asks for.
std::vector<platform::ViewRequest> Requests(const CommandLine& cl,
                                            const std::vector<platform::ScreenInfo>& screens,
                                            bool* readRoot) {
    std::vector<platform::ViewRequest> out;
    platform::ViewRequest r;
    *readRoot = true;
    switch (cl.mode) {
        case HostMode::Root:
            out.push_back(RootRequest(readRoot));
            break;
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
    std::vector<platform::ScreenInfo> screens;
    platform::ScreenInfo mainScreen;
    int screenScale = 1;
    platform::SettingsStore* store = nullptr;
    HostShared shared;
    std::vector<std::unique_ptr<HostedView>> views;
    int signalFd = -1;
    BatteryWatch battery;

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

    // The view on the main monitor, else the first.
    HostedView* MainView() {
        for (auto& hv : views) {
            if (hv->screen.number == mainScreen.number) return hv.get();
        }
        return views.front().get();
    }
};

// Opens the display and reads its screens and scale factor. False, with a
// reason, when there is no display.
bool OpenDisplay(const CommandLine& cl, Host* host, std::string* error) {
    host->connection =
        platform::OpenConnection(cl.display.empty() ? nullptr : cl.display.c_str(), error);
    if (host->connection == nullptr) return false;
    host->screens = platform::ListScreens(host->connection);
    host->mainScreen = platform::MainScreen(host->screens);
    host->screenScale = cl.scale > 0 ? cl.scale : ScreenScale(host->connection);
    return true;
}

// Opens the settings and says where the views' picture may come from.
DesktopSources OpenSettings(const CommandLine& cl, Host* host, bool readRoot) {
    host->store = platform::OpenSettingsStore(kSettingsModule);
    host->shared.store = host->store;
    host->shared.clock = [] { return platform::ClockSeconds(); };
    DesktopSources sources;
    sources.connection = host->connection;
    sources.readRoot = readRoot;
    sources.mainScreen = host->mainScreen;
    SetUserPictures(host->store, cl, &sources);
    PrepareRenderer(host->store, cl);
    host->shared.overrides = cl.settings;
    return sources;
}

// Creates the window of one view (not yet shown) with its size and screen.
// Null, with a reason, when it cannot be made.
std::unique_ptr<HostedView> MakeView(const CommandLine& cl, const platform::ViewRequest& request,
                                     Host* host, std::string* error) {
    auto hv = std::make_unique<HostedView>();
    hv->view = platform::CreateWindowView(host->connection, request, error);
    if (hv->view == nullptr) return nullptr;
    platform::ViewSize(hv->view, &hv->screen.width, &hv->screen.height);
    if (request.kind == platform::ViewKind::FullScreen) {
        hv->screen.number = request.screen.number;
    } else {
        int x = 0, y = 0, w = 0, h = 0;
        platform::WindowRectangle(host->connection, platform::ViewWindow(hv->view), &x, &y, &w, &h);
        hv->screen.number = platform::ScreenOfRectangle(host->screens, x, y, w, h).number;
    }
    hv->screen.mainNumber = host->mainScreen.number;
    hv->frames.showFps = cl.showFps;
    hv->screen.scale = host->screenScale;
    hv->reduced.percent = kEconomyPercent;
    hv->touch.enabled = request.kind == platform::ViewKind::TopLevel;
    return hv;
}

// Takes the picture of every view once, before any window of ours is
// mapped, so the root still shows the desktop. Every view shows the main
// monitor: the screenshot property is read from the window on it (or the
// only window).
void CapturePicture(DesktopSources sources, Host* host) {
    sources.window = platform::ViewWindow(host->MainView()->view);
    AcquireDesktopImage(sources, &host->shared.desktopImage);
}

// Connects and starts every saver; the frame rate shown is that of the
// main monitor's view. False, with a reason, when a view cannot start.
bool StartViews(const CommandLine& cl, Host* host, std::string* error) {
    HostedView* counter = host->MainView();
    for (auto& hv : host->views) hv->frames.counted = hv.get() == counter;
    for (auto& hv : host->views) {
        ConnectHostedView(hv.get(), &host->shared);
        if (!StartHostedView(hv.get(), cl.preview, error)) return false;
    }
    ReleasePicture(&host->shared);
    return true;
}

// Follows the power state in every view, and gives the time between
// ticks. A view that saves CPU on a software renderer, or the battery,
// draws at most kEconomyFramesPerSecond: a steady rate it can hold instead
// of an uneven one it cannot. Motion follows the clock, so only smoothness
// changes.
double FollowPower(Host* host) {
    bool anyReduced = false, saving = false;
    for (auto& hv : host->views) {
        FollowBattery(hv.get(), host->battery.OnBattery());
        anyReduced = anyReduced || hv->reduced.scaled.active();
        saving = saving || hv->power.savingBattery;
    }
    return PacedInterval(host->views.front()->saver->AnimationTimeInterval(), anyReduced, saving);
}

// A click (trail false) or a drag (trail true) at the event's pointer
// position: a drip on the water under it. A drag drips only when it reaches
// another grid point than the latest touch, so a trail has at most one drip
// per point it crosses.
void TouchWater(HostedView* hv, const platform::Event& e, bool trail) {
    SSMAIN* scene = hv->saver != nullptr ? hv->saver->ssMain : nullptr;
    if (scene == nullptr || hv->screen.width <= 0 || hv->screen.height <= 0) return;
    // The saver may draw a reduced frame that is stretched over the window:
    // the pixel is taken to the size the scene draws at.
    const ScaledFrame& frame = hv->reduced.scaled;
    const float sx = frame.active() ? static_cast<float>(frame.width()) / hv->screen.width : 1.0f;
    const float sy = frame.active() ? static_cast<float>(frame.height()) / hv->screen.height : 1.0f;
    int column = 0, row = 0;
    if (!scene->PixelToGrid((static_cast<float>(e.x) + 0.5f) * sx,
                            (static_cast<float>(e.y) + 0.5f) * sy, &column, &row)) {
        return;
    }
    if (trail && column == hv->touch.column && row == hv->touch.row) return;
    scene->DropAt(column, row, trail);
    hv->touch.column = column;
    hv->touch.row = row;
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
                    (e.width != hv->screen.width || e.height != hv->screen.height)) {
                    ResizeHostedView(hv, e.width, e.height);
                }
                break;
            case platform::EventKind::KeyPressed:
                if (fullScreen) return false;
                break;
            case platform::EventKind::ButtonPressed:
                if (fullScreen) return false;
                // Buttons 4 and up are the wheel's: they drop nothing.
                if (hv->touch.enabled && e.button >= 1 && e.button <= 3) TouchWater(hv, e, false);
                break;
            case platform::EventKind::PointerDragged:
                if (hv->touch.enabled) TouchWater(hv, e, true);
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

// The frame loop: events first, then a tick of every animating view at
// each deadline, waiting in between. Returns when the program is to end;
// *stopSignal names the stop signal that ended it, if one did.
void RunFrameLoop(const CommandLine& cl, Host* host, int* stopSignal) {
    const bool fullScreen = cl.mode == HostMode::FullScreen;
    double interval = FollowPower(host);
    std::vector<platform::Event> events;
    events.reserve(64);
    double deadline = platform::ClockSeconds() + interval;
    // poll passes over a descriptor of -1.
    pollfd fds[3] = {{platform::ConnectionFd(host->connection), POLLIN, 0},
                     {host->signalFd, POLLIN, 0},
                     {host->battery.Fd(), POLLIN, 0}};

    for (;;) {
        if (!HandleEvents(host, fullScreen, &events)) break;
        *stopSignal = ReadStopSignal(host->signalFd);
        if (*stopSignal != 0) break;
        if (host->battery.Dispatch()) {
            interval = FollowPower(host);
            deadline = std::min(deadline, platform::ClockSeconds() + interval);
        }

        bool anyAnimating = false;
        for (auto& hv : host->views) anyAnimating = anyAnimating || hv->saver->IsAnimating();

        double now = platform::ClockSeconds();
        if (anyAnimating && now >= deadline) {
            for (auto& hv : host->views) {
                if (hv->saver->IsAnimating()) hv->saver->AnimateOneFrame();
            }
            platform::FlushConnection(host->connection);
            deadline = NextTickDue(deadline, platform::ClockSeconds(), interval);
            continue;  // events that came during the draw first
        }
        WaitForWork(fds, 3, anyAnimating ? &deadline : nullptr, now);
    }
}

}  // namespace

int RunWindowHost(const CommandLine& cl, int* stopSignal) {
    *stopSignal = 0;
    Host host;
    std::string error;
    if (!OpenDisplay(cl, &host, &error)) {
        Tell(error);
        return 1;
    }
    bool readRoot = true;
    const std::vector<platform::ViewRequest> requests = Requests(cl, host.screens, &readRoot);
    const DesktopSources sources = OpenSettings(cl, &host, readRoot);
    for (const platform::ViewRequest& request : requests) {
        std::unique_ptr<HostedView> hv = MakeView(cl, request, &host, &error);
        if (hv == nullptr) {
            Tell(error);
            return 1;
        }
        host.views.push_back(std::move(hv));
    }
    CapturePicture(sources, &host);
    if (!StartViews(cl, &host, &error)) {
        Tell(error);
        return 1;
    }
    // From here on the stop signals wait for the loop, which tears every view
    // down before the process ends by the signal. Until now they had their
    // default action: nothing needed tidying that the end of the process
    // does not tidy.
    host.signalFd = OpenStopSignalFd();
    if (std::any_of(host.views.begin(), host.views.end(),
                    [](const auto& hv) { return hv->power.saveBattery; })) {
        host.battery.Open();
    }
    for (auto& hv : host.views) platform::ShowView(hv->view);
    platform::FlushConnection(host.connection);

    RunFrameLoop(cl, &host, stopSignal);
    return 0;  // Host's destructor tears every view down
}
