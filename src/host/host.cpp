// The host and its frame loop. Relies on the session port, the hosted
// view, the stop signals' signalfd, the power source
// and ppoll.
#include "host/host.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "command/screen_scale.h"
#include "command/stop_signal.h"
#include "host/frame_pacing.h"
#include "host/output_pictures.h"
#include "host/view_requests.h"
#include "settings/settings_table.h"
#include "support/diagnostics.h"
#include "support/translation.h"

namespace {

// Pointer motion up to this many logical pixels from where the pointer
// entered is a tremor, not a user.
constexpr double kMotionSlack = 8.0;

struct Host {
    explicit Host(const CommandLine& commandLine) : cl(commandLine) {}
    ~Host() {
        // Every saver is torn down in its own context before the session
        // goes.
        for (auto& hv : views) EndHostedView(hv.get());
        views.clear();
        session.reset();
        if (signalFd >= 0) close(signalFd);
    }

    const CommandLine& cl;
    std::unique_ptr<platform::Session> session;
    FrameHook* hook = nullptr;
    HostShared shared;
    DesktopSources sources;
    platform::ScreenInfo mainScreen;
    int desktopScale = 0;  // the desktop's own text scale; 0 until asked
    std::vector<std::unique_ptr<HostedView>> views;
    std::map<int, std::string> names;  // of the outputs covered, for messages
    int signalFd = -1;
    // Full screen under the idle watcher, held up for the locker: input
    // does not end it (SIGUSR1 holds, SIGUSR2 releases).
    bool held = false;
    BatteryWatch battery;
    std::vector<platform::SessionEvent> events;

    HostedView* Find(const platform::View* view) {
        for (auto& hv : views) {
            if (hv->view == view) return hv.get();
        }
        return nullptr;
    }

    HostedView* OnOutput(int number) {
        for (auto& hv : views) {
            if (hv->screen.number == number) return hv.get();
        }
        return nullptr;
    }

    // The view on the main monitor, else the first.
    HostedView* MainView() {
        HostedView* main = OnOutput(mainScreen.number);
        return main != nullptr ? main : views.front().get();
    }
};

// The scale factor the desktop states for the session: GDK_SCALE, else the
// Xft.dpi resource. A GDK_SCALE that is no factor is named in one line.
int DesktopScale(Host* host) {
    if (host->desktopScale > 0) return host->desktopScale;
    const char* gdkScale = std::getenv("GDK_SCALE");
    int factor = 0;
    if (gdkScale != nullptr && *gdkScale != '\0' && !ParseScaleFactor(gdkScale, &factor)) {
        Tell(Format(_("GDK_SCALE=\"%s\" is not a whole number from 1; ignored"),
                    DisplayName(gdkScale).c_str()));
        gdkScale = nullptr;
    }
    host->desktopScale = ScreenScaleFactor(host->session->DpiResource().c_str(), gdkScale);
    return host->desktopScale;
}

const char* NameOf(const platform::Output& o) {
    return o.name.empty() ? _("an output") : o.name.c_str();
}

// Takes the settings as the views will read them and says where the
// views' picture may come from.
void TakeSettings(Host* host, const platform::ViewRequest& mainRequest) {
    host->shared.settings = PeekSettings(host->shared.store);
    ApplySettingOverrides(host->cl, &host->shared.settings);
    if (host->hook != nullptr) {
        host->shared.clock = [hook = host->hook] { return hook->Clock(); };
    } else {
        host->shared.clock = [] { return platform::ClockSeconds(); };
    }
    host->shared.overrides = host->cl.settings;
    host->sources.session = host->session.get();
    host->sources.where = mainRequest;
    host->sources.where.screen = host->mainScreen;
    host->sources.mainScreen = host->mainScreen;
    SetUserPictures(host->shared.settings, host->cl, &host->sources);
    // Frames written to files are drawn in full, at the renderer's pace.
    if (host->hook == nullptr) PrepareRenderer(host->shared.settings);
}

// Makes the view `request` asks for (not yet shown, nor started) over
// `picture` (empty: the shared one). Null, with a reason, when it cannot be
// made.
std::unique_ptr<HostedView> MakeView(Host* host, const platform::ViewRequest& request,
                                     const platform::Output& output, platform::RgbaImage picture,
                                     std::string* error) {
    auto hv = std::make_unique<HostedView>();
    hv->view = host->session->CreateView(request, error);
    if (hv->view == nullptr) return nullptr;
    platform::ViewSize(hv->view, &hv->screen.width, &hv->screen.height);
    hv->screen.number = request.kind == platform::ViewKind::FullScreen
                            ? request.screen.number
                            : host->session->ScreenOfView(hv->view).number;
    hv->screen.mainNumber = host->mainScreen.number;
    const CommandLine& cl = host->cl;
    hv->screen.scale = cl.scale > 0       ? cl.scale
                       : output.scale > 0 ? output.scale
                                          : DesktopScale(host);
    // Frames written to files carry no frame rate: it would be the
    // simulated clock's.
    hv->frames.showFps = cl.showFps && host->hook == nullptr;
    hv->frames.counted = hv->screen.number == host->mainScreen.number;
    // Views that save CPU on a software renderer draw a share of each side
    // of their window, at most kEconomyFramesPerSecond.
    hv->reduced.percent =
        host->hook != nullptr ? 100 : ReducedPercent(hv->screen.width, hv->screen.height);
    hv->touchable = request.kind == platform::ViewKind::TopLevel;
    hv->picture = std::move(picture);
    return hv;
}

// Connects and starts a view's saver, then lets go of its own picture.
// False, with a reason, when it cannot start.
bool StartView(Host* host, HostedView* hv, std::string* error) {
    ConnectHostedView(hv, &host->shared);
    const bool started = StartHostedView(hv, host->cl.preview, error);
    hv->picture = platform::RgbaImage{};
    return started;
}

// The output a request covers, else the main one.
platform::Output OutputOf(const std::vector<platform::Output>& outputs,
                          const platform::ViewRequest& request, const platform::ScreenInfo& main) {
    const int number =
        request.kind == platform::ViewKind::FullScreen ? request.screen.number : main.number;
    for (const platform::Output& o : outputs) {
        if (o.screen.number == number) return o;
    }
    return outputs.front();
}

// Makes and starts every view the mode asks for, over the pictures taken
// before any of them shows; the frame rate shown is that of the main
// monitor's view. False, having said why, when one cannot be made or
// started.
bool StartViews(Host* host, const std::vector<platform::Output>& outputs) {
    const std::vector<platform::ViewRequest> requests = ViewRequests(host->cl, outputs);
    TakeSettings(host, requests.front());
    // A compositor shows a view as soon as it is made: the outputs'
    // pictures come first. Elsewhere the windows stay unmapped until shown,
    // and a view that cannot be made is said before anything else.
    const bool covers = host->session->CoversOutputs();
    std::vector<platform::RgbaImage> pictures;
    if (covers) {
        pictures = TakeDesktopPictures(host->session.get(), requests, host->sources,
                                       &host->shared.desktopImage);
    }
    pictures.resize(requests.size());
    std::string error;
    for (size_t i = 0; i < requests.size(); ++i) {
        const platform::Output output = OutputOf(outputs, requests[i], host->mainScreen);
        auto hv = MakeView(host, requests[i], output, std::move(pictures[i]), &error);
        if (hv == nullptr) {
            Tell(covers ? Format(_("cannot cover %s: %s"), NameOf(output), error.c_str()) : error);
            return false;
        }
        host->names[hv->screen.number] = NameOf(output);
        host->views.push_back(std::move(hv));
    }
    if (!covers) {
        TakeDesktopPictures(host->session.get(), requests, host->sources,
                            &host->shared.desktopImage);
    }
    HostedView* counter = host->MainView();
    for (auto& hv : host->views) {
        hv->frames.counted = hv.get() == counter;
        if (!StartView(host, hv.get(), &error)) {
            Tell(covers ? Format(_("cannot cover %s: %s"), host->names[hv->screen.number].c_str(),
                                 error.c_str())
                        : error);
            return false;
        }
    }
    ReleasePicture(&host->shared);
    return true;
}

// An output that came while the saver runs: covered over its own picture
// where the session takes one, else over the one that stands in for it.
void CoverNewOutput(Host* host, int number) {
    if (host->OnOutput(number) != nullptr) return;
    for (const platform::Output& output : host->session->Outputs()) {
        if (output.screen.number != number) continue;
        platform::ViewRequest request;
        request.kind = platform::ViewKind::FullScreen;
        request.screen = output.screen;
        std::string error;
        auto hv = MakeView(
            host, request, output,
            NewOutputPicture(host->session.get(), request, NameOf(output), host->sources), &error);
        if (hv != nullptr && !StartView(host, hv.get(), &error)) {
            EndHostedView(hv.get());
            hv.reset();
        }
        if (hv == nullptr) {
            Tell(Format(_("cannot cover %s: %s"), NameOf(output), error.c_str()));
            return;
        }
        // An output that comes while the loop runs draws as the others do.
        FollowBattery(hv.get(), host->battery.OnBattery());
        host->names[number] = NameOf(output);
        host->views.push_back(std::move(hv));
    }
}

void Uncover(Host* host, int number) {
    for (auto it = host->views.begin(); it != host->views.end(); ++it) {
        if ((*it)->screen.number != number) continue;
        Tell(Format(_("%s went away; the others stay covered"), host->names[number].c_str()));
        EndHostedView(it->get());
        host->views.erase(it);
        return;
    }
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
        anyReduced = anyReduced || DrawsReducedFrame(hv.get());
        saving = saving || hv->power.savingBattery;
    }
    const double saverInterval =
        host->views.empty() ? 0.0 : host->views.front()->saver->AnimationTimeInterval();
    return PacedInterval(saverInterval, anyReduced, saving);
}

// A click (trail false) or a drag (trail true) at (x, y) of the window: a
// drip on the water under it (MereglassView::TouchWater).
void TouchWater(HostedView* hv, double x, double y, bool trail) {
    if (hv->saver == nullptr || hv->screen.width <= 0 || hv->screen.height <= 0) return;
    // The saver may draw a reduced frame that is stretched over the window:
    // the pixel is taken to the size the scene draws at.
    const ScaledFrame& frame = hv->reduced.scaled;
    const float sx = frame.active() ? static_cast<float>(frame.width()) / hv->screen.width : 1.0f;
    const float sy = frame.active() ? static_cast<float>(frame.height()) / hv->screen.height : 1.0f;
    hv->saver->TouchWater((static_cast<float>(x) + 0.5f) * sx, (static_cast<float>(y) + 0.5f) * sy,
                          trail);
}

enum class Outcome { Running, Ended, Gone };

// Handles one event: a view resized, touched or closed, an output come or
// gone, the user back in full screen. (A change of an output's power needs
// nothing here: the loop asks for it at each turn.)
Outcome Handle(Host* host, const platform::SessionEvent& e) {
    using Kind = platform::SessionEventKind;
    const bool fullScreen = host->cl.mode == HostMode::FullScreen;
    // Held up by the idle watcher, full screen stays for the locker.
    const bool endsOnInput = fullScreen && !host->held;
    HostedView* hv = host->Find(e.view);
    switch (e.kind) {
        case Kind::Resized:
            if (hv != nullptr && e.width > 0 && e.height > 0 &&
                (e.width != hv->screen.width || e.height != hv->screen.height)) {
                ResizeHostedView(hv, e.width, e.height);
            }
            break;
        case Kind::KeyPressed:
            if (endsOnInput) return Outcome::Ended;
            break;
        case Kind::ButtonPressed:
            if (fullScreen) {
                if (endsOnInput) return Outcome::Ended;
                break;
            }
            // Buttons 4 and up are the wheel's: they drop nothing.
            if (hv != nullptr && hv->touchable && e.button >= 1 && e.button <= 3) {
                TouchWater(hv, e.x, e.y, false);
            }
            break;
        case Kind::PointerDragged:
            if (hv != nullptr && hv->touchable) TouchWater(hv, e.x, e.y, true);
            break;
        case Kind::PointerMoved:
            if (endsOnInput && (std::abs(e.x) > kMotionSlack || std::abs(e.y) > kMotionSlack)) {
                return Outcome::Ended;
            }
            break;
        case Kind::OutputAdded:
            if (fullScreen) CoverNewOutput(host, e.output);
            break;
        case Kind::OutputGone:
            Uncover(host, e.output);
            break;
        case Kind::PowerChanged:
            break;
        case Kind::Closed:
            return Outcome::Ended;
    }
    return Outcome::Running;
}

Outcome HandleEvents(Host* host) {
    host->events.clear();
    std::string error;
    if (!host->session->Dispatch(&host->events, &error)) {
        Tell(error);
        return Outcome::Gone;
    }
    for (const platform::SessionEvent& e : host->events) {
        const Outcome outcome = Handle(host, e);
        if (outcome != Outcome::Running) return outcome;
    }
    return Outcome::Running;
}

// Whether the view draws at its ticks: its saver animates and the output
// it shows is powered on (nothing drawn on a dark one would show).
bool Lit(const Host* host, const HostedView& hv) {
    return hv.saver->IsAnimating() && !host->session->OutputDark(hv.screen.number);
}

// Whether the view can draw now: lit, and the session is ready for it (a
// compositor has taken its last frame).
bool CanDraw(const Host* host, const HostedView& hv) {
    return Lit(host, hv) && host->session->ViewReady(hv.view);
}

// One tick of every view that can draw (the others skip it; motion
// follows the clock), then the hook. False when the hook ends the run.
bool Tick(Host* host, int* status) {
    for (auto& hv : host->views) {
        if (!CanDraw(host, *hv)) continue;
        hv->frames.presented = false;
        hv->saver->AnimateOneFrame();
        if (host->hook != nullptr && !host->hook->AfterTick(hv.get(), status)) return false;
    }
    return true;
}

// The frame loop: events first, then a tick of every view that can draw at
// each deadline (at once with a hook), waiting in between. While none can
// (every output it covers is powered off, or every view waits for the
// compositor) it waits for news with no timeout, and draws at once when an
// output comes back on. Returns the exit status; *stopSignal names the
// stop signal that ended it, if one did.
int RunFrameLoop(Host* host, int* stopSignal) {
    double interval = FollowPower(host);
    double deadline = platform::ClockSeconds() + interval;
    // poll passes over a descriptor of -1.
    pollfd fds[3] = {{host->session->Fd(), POLLIN, 0},
                     {host->signalFd, POLLIN, 0},
                     {host->battery.Fd(), POLLIN, 0}};
    int status = 0;
    std::string error;
    bool anyLit = true;
    for (;;) {
        // Signals first: input that came with the watcher's hold stays.
        for (int signal = ReadStopSignal(host->signalFd); signal != 0;
             signal = ReadStopSignal(host->signalFd)) {
            if (signal == SIGUSR1 || signal == SIGUSR2) {
                host->held = signal == SIGUSR1;
                continue;
            }
            *stopSignal = signal;
            return 0;
        }
        const Outcome outcome = HandleEvents(host);
        if (outcome != Outcome::Running) return outcome == Outcome::Gone ? 1 : 0;
        if (host->battery.Dispatch()) {
            interval = FollowPower(host);
            deadline = std::min(deadline, platform::ClockSeconds() + interval);
        }

        const bool anyAnimating =
            std::any_of(host->views.begin(), host->views.end(),
                        [](const auto& hv) { return hv->saver->IsAnimating(); });
        if (!anyAnimating && host->hook != nullptr) return status;
        const double now = platform::ClockSeconds();
        const bool wasLit = anyLit;
        anyLit = std::any_of(host->views.begin(), host->views.end(),
                             [host](const auto& hv) { return Lit(host, *hv); });
        if (anyLit && !wasLit) deadline = now;
        const bool anyCanDraw =
            anyLit && std::any_of(host->views.begin(), host->views.end(),
                                  [host](const auto& hv) { return CanDraw(host, *hv); });
        if (anyCanDraw && (host->hook != nullptr || now >= deadline)) {
            if (!Tick(host, &status)) return status;
            if (!host->session->Flush(&error)) {
                Tell(error);
                return 1;
            }
            deadline = NextTickDue(deadline, platform::ClockSeconds(), interval);
            continue;  // events that came during the draw first
        }
        WaitForWork(fds, 3, anyCanDraw ? &deadline : nullptr, now);
    }
}

}  // namespace

int RunHost(const CommandLine& cl, platform::SettingsStore* store,
            std::unique_ptr<platform::Session> session, FrameHook* hook, int* stopSignal) {
    *stopSignal = 0;
    Host host(cl);
    host.shared.store = store;
    host.session = std::move(session);
    host.hook = hook;
    const std::vector<platform::Output> outputs = host.session->Outputs();
    if (outputs.empty()) {
        Tell(_("the Wayland compositor has no outputs to cover"));
        return 1;
    }
    std::vector<platform::ScreenInfo> screens;
    for (const platform::Output& o : outputs) screens.push_back(o.screen);
    host.mainScreen = platform::MainScreen(screens);
    if (!StartViews(&host, outputs)) return 1;
    // From here on the stop signals wait for the loop, which tears every view
    // down before the process ends by the signal. Until now they had their
    // default action: nothing needed tidying that the end of the process
    // does not tidy.
    host.signalFd = OpenStopSignalFd(cl.mode == HostMode::FullScreen);
    if (hook == nullptr && std::any_of(host.views.begin(), host.views.end(),
                                       [](const auto& hv) { return hv->power.saveBattery; })) {
        host.battery.Open();
    }
    for (auto& hv : host.views) platform::ShowView(hv->view);
    std::string error;
    if (!host.session->Flush(&error)) {
        Tell(error);
        return 1;
    }
    if (hook != nullptr) hook->Begin(host.views.front().get());
    return RunFrameLoop(&host, stopSignal);  // Host's destructor tears every view down
}
