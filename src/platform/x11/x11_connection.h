// The state behind the platform's Connection handle, the record of
// windows lost under the program and the display's power, shared by the
// files of the X11 backend. Private to src/platform/x11/; relies on Xlib
// and the SYNC extension's types.
#pragma once

#include <X11/Xlib.h>
#include <X11/extensions/sync.h>

#include <vector>

#include "platform/x11/x11.h"

namespace platform {

// Whether DPMS has the display's monitors off, and the alarm that rings
// at the next input while it has (x11_display_power.cpp).
struct DisplayPower {
    bool started = false;  // the extensions were looked for
    // The server has DPMS and an IDLETIME counter (without which a return
    // could not be seen: the monitors then count as on).
    bool known = false;
    bool dark = false;      // DPMS has the monitors in standby, suspended or off
    double readAt = -1e9;   // when the state was last read, ClockSeconds
    bool due = false;       // the alarm rang: read the state now
    int syncEventBase = 0;  // the SYNC extension's first event
    XSyncCounter idleTime = None;
    XSyncAlarm alarm = None;  // while dark
};

struct Connection {
    ::Display* display = nullptr;
    std::vector<View*> views;  // the views on it, whose windows' events are reported
    Atom wmProtocols = None;
    Atom wmDeleteWindow = None;
    DisplayPower power;
};

// The connection of a GLX window view; null for any other view
// (x11_window_view.cpp).
Connection* ConnectionOfView(const View* view);

// Records `window` of `display` as lost: named by a BadWindow or
// BadDrawable error, or destroyed under the program.
void RecordLost(::Display* display, XID window);
// Whether `window` of `display` was recorded as lost.
bool IsLost(::Display* display, XID window);

// Whether `event` is the display power's alarm, which makes the next read
// of the state due (x11_display_power.cpp).
bool TakeDisplayPowerEvent(Connection* connection, const XEvent& event);
// Reads the DPMS state into connection->power.dark where it may have
// changed: while the monitors are on, when a second has passed since the
// last read (`now`, ClockSeconds); while they are off, when the alarm
// rang. A read is a round trip: events that come meanwhile, the alarm's
// too, wait in Xlib's queue.
void FollowDisplayPower(Connection* connection, double now);

}  // namespace platform
