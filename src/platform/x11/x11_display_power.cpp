// The display's power: whether DPMS has the monitors in standby,
// suspended or off. The extension sends no events, so the state is read
// where it can have changed: while the monitors are on, at most once a
// second as the frame loop turns (it is awake then, drawing); while they
// are off, only when an alarm on the SYNC extension's IDLETIME counter
// rings. Input (or a screen-saver reset) sets that counter back, and it is
// what brings the monitors back on. Not seen: a client that turns them on
// without either (`xset dpms force on`, DPMS switched off) leaves the saver
// still until the next input. Relies on Xlib and libXext's DPMS and SYNC.
//
// Provides: TakeDisplayPowerEvent, FollowDisplayPower.
#include <X11/Xlib.h>
#include <X11/extensions/dpms.h>
#include <X11/extensions/sync.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include "platform/x11/x11_connection.h"
#include "platform/x11/x11_idle_time.h"

namespace platform {

namespace {

// While the monitors are on, the state is read at most this often,
// seconds.
constexpr double kReadSeconds = 1.0;

void Start(Connection* c) {
    DisplayPower& p = c->power;
    p.started = true;
    int event = 0, error = 0, major = 0, minor = 0;
    if (!DPMSQueryExtension(c->display, &event, &error) || !DPMSCapable(c->display) ||
        !XSyncQueryExtension(c->display, &p.syncEventBase, &error) ||
        !XSyncInitialize(c->display, &major, &minor)) {
        return;
    }
    p.idleTime = FindIdleTimeCounter(c->display);
    p.known = p.idleTime != None;
}

bool ReadDark(::Display* display) {
    CARD16 level = DPMSModeOn;
    BOOL enabled = False;
    return DPMSInfo(display, &level, &enabled) && enabled && level != DPMSModeOn;
}

// An alarm that rings when the idle time falls below what it is now: at
// the next input.
void ArmAlarm(Connection* c) {
    DisplayPower& p = c->power;
    XSyncValue idle;
    XSyncIntToValue(&idle, 0);
    XSyncQueryCounter(c->display, p.idleTime, &idle);
    const int now = XSyncValueHigh32(idle) != 0
                        ? INT_MAX
                        : static_cast<int>(std::min<unsigned>(XSyncValueLow32(idle), INT_MAX));
    XSyncAlarmAttributes attributes{};
    attributes.trigger.counter = p.idleTime;
    attributes.trigger.value_type = XSyncAbsolute;
    attributes.trigger.test_type = XSyncNegativeTransition;
    XSyncIntToValue(&attributes.trigger.wait_value, std::max(now, 1));
    XSyncIntToValue(&attributes.delta, 0);
    attributes.events = True;
    p.alarm = XSyncCreateAlarm(c->display,
                               XSyncCACounter | XSyncCAValueType | XSyncCATestType | XSyncCAValue |
                                   XSyncCADelta | XSyncCAEvents,
                               &attributes);
}

}  // namespace

bool TakeDisplayPowerEvent(Connection* c, const XEvent& event) {
    DisplayPower& p = c->power;
    if (!p.known || event.type != p.syncEventBase + XSyncAlarmNotify) return false;
    if (reinterpret_cast<const XSyncAlarmNotifyEvent&>(event).alarm == p.alarm) p.due = true;
    return true;
}

void FollowDisplayPower(Connection* c, double now) {
    DisplayPower& p = c->power;
    if (!p.started) Start(c);
    if (!p.known || (p.alarm != None ? !p.due : now - p.readAt < kReadSeconds)) return;
    p.due = false;
    p.readAt = now;
    p.dark = ReadDark(c->display);
    if (p.alarm != None) {
        XSyncDestroyAlarm(c->display, p.alarm);
        p.alarm = None;
    }
    if (p.dark) ArmAlarm(c);
}

}  // namespace platform
