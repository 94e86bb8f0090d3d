// The host: the saver's views on a session (X11, a Wayland compositor or
// headless) and the one frame loop that runs them in every mode. The loop
// ticks every view against absolute deadlines (at most 30 a second on
// battery or in the reduced frame), waits on the session's descriptor, a
// signalfd and the power source in between, and never waits inside a
// draw. In full screen a key, a click or pointer motion ends it; in a
// window of its own a click drops a drip on the water under the pointer
// and a drag leaves a trail. A run with a FrameHook (--render) reads the
// hook's clock and ticks without waiting.
#pragma once

#include <memory>

#include "command/command_line.h"
#include "host/hosted_view.h"
#include "platform/session.h"

// What a run that writes its frames adds to the loop.
class FrameHook {
public:
    virtual ~FrameHook() = default;
    // The time the views see, seconds: a simulated clock.
    virtual double Clock() const = 0;
    // Once every view has started, before the first tick.
    virtual void Begin(HostedView* hv) = 0;
    // After each tick of `hv` (hv->frames.presented says whether it drew
    // a frame). False ends the run with *status as the exit status.
    virtual bool AfterTick(HostedView* hv, int* status) = 0;
};

// Runs the saver on `session` as `cl` says, with the settings of `store`
// (the process's, not owned) and `hook` (null: a saver on the screen at
// the real clock). Returns the exit status: 0 for a normal
// end (the window closed under the program, a key or a click in full
// screen, the hook's last frame); 1 when a view cannot be made or started,
// there is nothing to cover, or the server goes (one line says why); the
// hook's status when it ends the run. When SIGTERM or SIGINT ended the
// run, every view has been torn down and *stopSignal names the signal
// (else 0); the caller then ends the process by it. During start-up the
// two signals keep their default action, so one that arrives while the
// program opens its views or reads its files ends it at once.
int RunHost(const CommandLine& cl, platform::SettingsStore* store,
            std::unique_ptr<platform::Session> session, FrameHook* hook, int* stopSignal);
