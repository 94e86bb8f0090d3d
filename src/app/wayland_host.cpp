// The Wayland host and its frame loop. Each output gets a hosted view over
// its own picture; the loop ticks the views against absolute deadlines (at
// most 30 a second on battery), draws a view only when the compositor
// asked for its next frame, and waits on the compositor's socket, a
// signalfd and the power source in between. Relies on the platform's
// Wayland port, the hosted view and ppoll.
#include "app/wayland_host.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <vector>

#include "app/battery_saving.h"
#include "app/frame_wait.h"
#include "app/hosted_view.h"
#include "app/stop_signal.h"
#include "app/tick_schedule.h"
#include "platform/wayland.h"
#include "support/diagnostics.h"
#include "support/translation.h"
#include "view/settings_table.h"

namespace {

// Views that save CPU on a software renderer draw this percentage of each
// side of their output, at most kEconomyFramesPerSecond (as on X11).
constexpr int kEconomyPercent = 50;
// The longest wait for any one source of the desktop's picture.
constexpr double kSourceSeconds = 2.0;
// Pointer motion up to this many logical pixels from where the pointer
// entered is a tremor, not a user.
constexpr double kMotionSlack = 8.0;

struct Host {
    platform::WaylandConnection* connection = nullptr;
    platform::SettingsStore* store = nullptr;
    HostShared shared;
    DesktopSources sources;
    const CommandLine* cl = nullptr;
    uint32_t mainOutput = 0;
    std::vector<std::pair<uint32_t, std::unique_ptr<HostedView>>> views;  // by output
    std::map<uint32_t, std::string> names;  // of the outputs covered, for messages
    int signalFd = -1;
    BatteryWatch battery;

    ~Host() {
        // Every saver is torn down in its own context before the
        // connection goes.
        for (auto& [output, hv] : views) EndHostedView(hv.get());
        views.clear();
        if (connection != nullptr) platform::CloseWayland(connection);
        if (store != nullptr) platform::CloseSettingsStore(store);
        if (signalFd >= 0) close(signalFd);
    }
};

platform::ScreenInfo ScreenOf(const platform::WaylandOutput& o) {
    platform::ScreenInfo s;
    s.x = o.x;
    s.y = o.y;
    s.width = o.width * o.scale;
    s.height = o.height * o.scale;
    s.number = static_cast<int>(o.id);
    return s;
}

const char* NameOf(const platform::WaylandOutput& o) {
    return o.name.empty() ? _("an output") : o.name.c_str();
}

// The picture of `output` from screencopy, made private as the settings
// say. False, with a reason, when the compositor gives none.
bool Screencopy(Host* host, uint32_t output, platform::RgbaImage* picture, std::string* error) {
    if (!platform::CaptureWaylandOutput(host->connection, output, kSourceSeconds, picture, error)) {
        return false;
    }
    ProtectDesktopPicture(host->sources.privacy, picture);
    return true;
}

// The pictures of `outputs`, one each, taken before anything of ours is
// on them: screencopy, else the screenshot portal's picture cropped to
// each. Where neither gives one, the picture stays empty and the view
// shows the shared one (the user's image or folder, else the built-in
// picture), which is then acquired. The desktop's pictures come blurred
// or pixelated as the settings say. Says in one line which source was
// used and why: the line that names the shared picture gives the
// session's reasons.
std::vector<platform::RgbaImage> TakePictures(Host* host,
                                              const std::vector<platform::WaylandOutput>& outputs) {
    std::vector<platform::RgbaImage> pictures(outputs.size());
    // A picture the user named, or a folder preferred to the desktop, comes
    // first, as on X11.
    if (!host->sources.imageFile.empty() || host->sources.folderFirst) {
        AcquireDesktopImage(host->sources, &host->shared.desktopImage);
        return pictures;
    }
    std::string why;
    if (platform::WaylandHasScreencopy(host->connection)) {
        bool all = true;
        for (size_t i = 0; i < outputs.size() && all; ++i) {
            std::string error;
            if (!Screencopy(host, outputs[i].id, &pictures[i], &error)) {
                why = Format(_("screencopy of %s: %s"), NameOf(outputs[i]), error.c_str());
                all = false;
            }
        }
        if (all) {
            Tell(_("the desktop's picture comes from the compositor (screencopy)"));
            return pictures;
        }
        pictures.assign(outputs.size(), platform::RgbaImage{});
    } else {
        why = _("the compositor offers no screencopy");
    }
    platform::RgbaImage desktop;
    std::string error;
    if (platform::PortalScreenshot(kSourceSeconds, &desktop, &error)) {
        // Once for the whole desktop, before it is cut up among the outputs.
        ProtectDesktopPicture(host->sources.privacy, &desktop);
        bool all = true;
        for (size_t i = 0; i < outputs.size(); ++i) {
            all = platform::CropDesktopPicture(desktop, outputs, outputs[i], &pictures[i]) && all;
        }
        if (all) {
            Tell(Format(_("the desktop's picture comes from the screenshot portal (%s)"),
                        why.c_str()));
            return pictures;
        }
        error = _("the screenshot portal's picture does not cover every output");
        pictures.assign(outputs.size(), platform::RgbaImage{});
    }
    // The line that names the picture shown instead gives the reasons.
    DesktopSources sources = host->sources;
    sources.noDesktop = why + "; " + error;
    AcquireDesktopImage(sources, &host->shared.desktopImage);
    return pictures;
}

// Covers `output` with a started view over `picture` (empty: the shared
// one). False, with a reason, when it cannot.
bool Cover(Host* host, const platform::WaylandOutput& output, platform::RgbaImage picture,
           std::string* error) {
    auto hv = std::make_unique<HostedView>();
    hv->view = platform::CreateWaylandView(host->connection, output.id, error);
    if (hv->view == nullptr) return false;
    platform::ViewSize(hv->view, &hv->screen.width, &hv->screen.height);
    hv->screen.number = static_cast<int>(output.id);
    hv->screen.mainNumber = static_cast<int>(host->mainOutput);
    hv->frames.showFps = host->cl->showFps;
    hv->screen.scale = host->cl->scale > 0 ? host->cl->scale : output.scale;
    hv->reduced.percent = kEconomyPercent;
    // The frame rate shown is that of the main output's view.
    hv->frames.counted = output.id == host->mainOutput;
    hv->picture = std::move(picture);
    ConnectHostedView(hv.get(), &host->shared);
    const bool started = StartHostedView(hv.get(), host->cl->preview, error);
    hv->picture = platform::RgbaImage{};
    if (!started) {
        EndHostedView(hv.get());
        return false;
    }
    // An output that comes while the loop runs draws as the others do.
    FollowBattery(hv.get(), host->battery.OnBattery());
    host->views.emplace_back(output.id, std::move(hv));
    host->names[output.id] = NameOf(output);
    return true;
}

HostedView* Find(Host* host, uint32_t output) {
    for (auto& [id, hv] : host->views) {
        if (id == output) return hv.get();
    }
    return nullptr;
}

void Uncover(Host* host, uint32_t output) {
    for (auto it = host->views.begin(); it != host->views.end(); ++it) {
        if (it->first != output) continue;
        EndHostedView(it->second.get());
        host->views.erase(it);
        return;
    }
}

// A new output: covered over its own picture when screencopy takes one,
// else over the built-in picture (the rest of the desktop is covered by
// now, so the portal's picture would show the saver).
void CoverNewOutput(Host* host, const platform::WaylandOutput& output) {
    if (Find(host, output.id) != nullptr) return;
    platform::RgbaImage picture;
    std::string error = "the compositor offers no screencopy";
    if (!platform::WaylandHasScreencopy(host->connection) ||
        !Screencopy(host, output.id, &picture, &error)) {
        DesktopSources sources = host->sources;
        sources.mainScreen = ScreenOf(output);
        sources.noDesktop = std::string(NameOf(output)) + ": " + error;
        AcquireDesktopImage(sources, &picture);
    }
    if (!Cover(host, output, std::move(picture), &error)) {
        Tell(Format(_("cannot cover %s: %s"), NameOf(output), error.c_str()));
    }
}

enum class Outcome { Running, UserActed, Gone };

Outcome HandleEvents(Host* host, std::vector<platform::WaylandEvent>* events) {
    events->clear();
    std::string error;
    if (!platform::WaylandDispatch(host->connection, events, &error)) {
        Tell(error);
        return Outcome::Gone;
    }
    for (const platform::WaylandEvent& e : *events) {
        switch (e.kind) {
            case platform::WaylandEventKind::KeyPressed:
            case platform::WaylandEventKind::ButtonPressed:
                return Outcome::UserActed;
            case platform::WaylandEventKind::PointerMoved:
                if (std::abs(e.x) > kMotionSlack || std::abs(e.y) > kMotionSlack) {
                    return Outcome::UserActed;
                }
                break;
            case platform::WaylandEventKind::Resized:
                if (HostedView* hv = Find(host, e.output);
                    hv != nullptr &&
                    (e.width != hv->screen.width || e.height != hv->screen.height)) {
                    ResizeHostedView(hv, e.width, e.height);
                }
                break;
            case platform::WaylandEventKind::OutputRemoved:
            case platform::WaylandEventKind::Closed:
                if (Find(host, e.output) != nullptr) {
                    Tell(Format(_("%s went away; the others stay covered"),
                                host->names[e.output].c_str()));
                }
                Uncover(host, e.output);
                break;
            case platform::WaylandEventKind::OutputAdded:
                for (const platform::WaylandOutput& o :
                     platform::WaylandOutputs(host->connection)) {
                    if (o.id == e.output) CoverNewOutput(host, o);
                }
                break;
        }
    }
    return Outcome::Running;
}

// Connects to the compositor, reads its outputs and opens the settings.
// False, having said why, when there is nothing to cover.
bool OpenHost(const CommandLine& cl, Host* host, std::vector<platform::WaylandOutput>* outputs) {
    std::string error;
    host->connection = platform::OpenWayland(nullptr, &error);
    if (host->connection == nullptr) {
        Tell(error);
        return false;
    }
    *outputs = platform::WaylandOutputs(host->connection);
    if (outputs->empty()) {
        Tell(_("the Wayland compositor has no outputs to cover"));
        return false;
    }
    // Wayland names no primary output: the first is the main one.
    host->mainOutput = outputs->front().id;
    host->store = platform::OpenSettingsStore(kSettingsModule);
    host->shared.store = host->store;
    host->shared.clock = [] { return platform::ClockSeconds(); };
    host->shared.overrides = cl.settings;
    host->sources.mainScreen = ScreenOf(outputs->front());
    SetUserPictures(host->store, cl, &host->sources);
    PrepareRenderer(host->store, cl);
    return true;
}

// Takes the outputs' pictures and covers each. False, having said why,
// when an output cannot be covered.
bool CoverAll(Host* host, const std::vector<platform::WaylandOutput>& outputs) {
    std::vector<platform::RgbaImage> pictures = TakePictures(host, outputs);
    std::string error;
    for (size_t i = 0; i < outputs.size(); ++i) {
        if (!Cover(host, outputs[i], std::move(pictures[i]), &error)) {
            Tell(Format(_("cannot cover %s: %s"), NameOf(outputs[i]), error.c_str()));
            return false;
        }
    }
    ReleasePicture(&host->shared);
    return true;
}

// Follows the power state in every view, and gives the time between
// ticks: the saver's, or at most kEconomyFramesPerSecond when a view saves
// CPU on a software renderer or the battery (as on X11).
double FollowPower(Host* host) {
    bool anyReduced = false, saving = false;
    for (const auto& [output, hv] : host->views) {
        FollowBattery(hv.get(), host->battery.OnBattery());
        anyReduced = anyReduced || DrawsReducedFrame(hv.get());
        saving = saving || hv->power.savingBattery;
    }
    return PacedInterval(host->views.front().second->saver->AnimationTimeInterval(), anyReduced,
                         saving);
}

// The frame loop: events first, then a tick of every animating view at
// each deadline, waiting in between. The program's status: 0 when the
// user or a stop signal (named in *stopSignal) ended it, 1 when the
// compositor went.
int RunFrameLoop(Host* host, int* stopSignal) {
    double interval = FollowPower(host);
    std::vector<platform::WaylandEvent> events;
    events.reserve(64);
    double deadline = platform::ClockSeconds() + interval;
    // poll passes over a descriptor of -1.
    pollfd fds[3] = {{platform::WaylandFd(host->connection), POLLIN, 0},
                     {host->signalFd, POLLIN, 0},
                     {host->battery.Fd(), POLLIN, 0}};

    for (;;) {
        const Outcome outcome = HandleEvents(host, &events);
        if (outcome == Outcome::Gone) return 1;
        if (outcome == Outcome::UserActed) return 0;
        *stopSignal = ReadStopSignal(host->signalFd);
        if (*stopSignal != 0) return 0;
        if (host->battery.Dispatch()) {
            interval = FollowPower(host);
            deadline = std::min(deadline, platform::ClockSeconds() + interval);
        }

        bool anyAnimating = false;
        for (auto& [output, hv] : host->views) {
            anyAnimating = anyAnimating || hv->saver->IsAnimating();
        }
        const double now = platform::ClockSeconds();
        if (anyAnimating && now >= deadline) {
            // A view whose last frame the compositor has not taken yet
            // (hidden, or slow) skips this tick; motion follows the clock.
            for (auto& [output, hv] : host->views) {
                if (hv->saver->IsAnimating() && platform::WaylandViewReady(hv->view)) {
                    hv->saver->AnimateOneFrame();
                }
            }
            if (!platform::WaylandFlush(host->connection)) {
                Tell(_("the Wayland compositor has gone"));
                return 1;
            }
            deadline = NextTickDue(deadline, platform::ClockSeconds(), interval);
            continue;
        }
        WaitForWork(fds, 3, anyAnimating ? &deadline : nullptr, now);
    }
}

}  // namespace

bool FullScreenOnWayland(const CommandLine& cl, const char* waylandDisplay) {
    switch (cl.session) {
        case CommandLine::Session::Native:
            return true;
        case CommandLine::Session::X11:
            return false;
        default:
            return waylandDisplay != nullptr && *waylandDisplay != '\0';
    }
}

int RunWaylandHost(const CommandLine& cl, int* stopSignal) {
    *stopSignal = 0;
    Host host;
    host.cl = &cl;
    std::vector<platform::WaylandOutput> outputs;
    if (!OpenHost(cl, &host, &outputs) || !CoverAll(&host, outputs)) return 1;
    // From here on the stop signals wait for the loop, which tears every view
    // down before the process ends by the signal.
    host.signalFd = OpenStopSignalFd();
    for (const auto& [output, hv] : host.views) {
        if (hv->power.saveBattery) host.battery.Open();
    }
    if (!platform::WaylandFlush(host.connection)) {
        Tell(_("the Wayland compositor has gone"));
        return 1;
    }
    return RunFrameLoop(&host, stopSignal);  // Host's destructor tears every view down
}
