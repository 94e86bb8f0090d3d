// The idle session's part on an X server: alarms on the server's IDLETIME
// counter (the milliseconds since the last input), one that rings when it
// reaches the idle time and, while idle, one that rings when input sets it
// back. Also whether XScreenSaver's daemon runs on the display: it marks a
// window of its own with _SCREENSAVER_VERSION; and which clients hold the
// server's screen saver suspended (XScreenSaverSuspend, as players and
// games do). The screen-saver extension tells nothing of a suspension (its
// state and idle time go on as without one); the server's resource
// accounting lists it as a resource of the type "SaverSuspend" owned by
// the client, and the client's process id with it. A suspension that ends
// sets the idle time back to 0, as input does. Relies on Xlib, the SYNC
// extension of libXext and libXRes.
//
// Provides: OpenIdleX11, CloseIdleX11, IdleX11Fd, SetIdleX11Time,
// X11SuspendHolds, ResetIdleX11, X11KeyboardGrabbed, DispatchIdleX11.
#include <X11/Xlib.h>
#include <X11/extensions/XRes.h>
#include <X11/extensions/sync.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/idle_internal.h"
#include "platform/x11/x11_idle_time.h"
#include "support/diagnostics.h"
#include "support/translation.h"

namespace platform {

struct IdleX11 {
    ::Display* display = nullptr;
    int syncEventBase = 0;
    XSyncCounter idleTime = None;
    XSyncAlarm idleAlarm = None;    // rings when IDLETIME reaches the idle time
    XSyncAlarm activeAlarm = None;  // while idle: rings when input sets it back
    uint32_t milliseconds = 0;
    bool idle = false;              // Idle told, Active not yet
    bool resources = false;         // the server has X-Resource 1.2
    Atom suspension = None;         // the resource type of a suspension
    std::vector<IdleEvent> events;  // found outside a dispatch
};

namespace {

// The watcher's connection is its only one: an error on it is not worth a
// word, and a lost server is seen on the socket before Xlib reads it.
int IgnoreError(::Display*, XErrorEvent*) { return 0; }
int IgnoreIoError(::Display*) { return 0; }
void KeepRunning(::Display*, void*) {}

XSyncAlarm SetAlarm(IdleX11* x, XSyncTestType test, uint32_t value) {
    XSyncAlarmAttributes attributes{};
    attributes.trigger.counter = x->idleTime;
    attributes.trigger.value_type = XSyncAbsolute;
    attributes.trigger.test_type = test;
    XSyncIntToValue(&attributes.trigger.wait_value, static_cast<int>(value));
    XSyncIntToValue(&attributes.delta, 0);
    attributes.events = True;
    const unsigned long mask = XSyncCACounter | XSyncCAValueType | XSyncCATestType | XSyncCAValue |
                               XSyncCADelta | XSyncCAEvents;
    return XSyncCreateAlarm(x->display, mask, &attributes);
}

// True when a child of the root carries XScreenSaver's version property.
bool XScreenSaverRuns(::Display* display) {
    const Atom version = XInternAtom(display, "_SCREENSAVER_VERSION", True);
    if (version == None) return false;
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count)) {
        return false;
    }
    bool found = false;
    for (unsigned i = 0; i < count && !found; ++i) {
        Atom type = None;
        int format = 0;
        unsigned long items = 0, after = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(display, children[i], version, 0, 0, False, AnyPropertyType, &type,
                               &format, &items, &after, &data) == Success) {
            found = type != None;
        }
        if (data != nullptr) XFree(data);
    }
    if (children != nullptr) XFree(children);
    return found;
}

// The process of the client whose resources start at `base`, 0 when the
// server does not know it (a client on another machine).
long ClientProcess(::Display* display, XID base) {
    XResClientIdSpec query{base, XRES_CLIENT_ID_PID_MASK};
    long count = 0;
    XResClientIdValue* values = nullptr;
    if (XResQueryClientIds(display, 1, &query, &count, &values) != Success) return 0;
    long pid = 0;
    for (long i = 0; i < count && pid <= 0; ++i) pid = XResGetClientPid(&values[i]);
    XResClientIdsDestroy(count, values);
    return pid > 0 ? pid : 0;
}

void Push(IdleX11* x, IdleEventKind kind) {
    IdleEvent e;
    e.kind = kind;
    x->events.push_back(e);
}

// The counter's value now, milliseconds.
int64_t IdleMilliseconds(IdleX11* x) {
    XSyncValue value;
    if (!XSyncQueryCounter(x->display, x->idleTime, &value)) return 0;
    return (static_cast<int64_t>(XSyncValueHigh32(value)) << 32) |
           static_cast<int64_t>(XSyncValueLow32(value));
}

// Idle from now on: input sets the counter back below the idle time.
void BecomeIdle(IdleX11* x) {
    x->idle = true;
    x->activeAlarm = SetAlarm(x, XSyncNegativeTransition, x->milliseconds);
    Push(x, IdleEventKind::Idle);
}

// True when the server has hung up: the socket reads as ended.
bool ServerGone(::Display* display) {
    char byte = 0;
    const ssize_t n = recv(ConnectionNumber(display), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
}

}  // namespace

IdleX11* OpenIdleX11(uint32_t idleMilliseconds, bool alarms, std::string* daemon,
                     std::string* error) {
    XSetErrorHandler(IgnoreError);
    XSetIOErrorHandler(IgnoreIoError);
    auto* x = new IdleX11;
    x->milliseconds = idleMilliseconds;
    x->display = XOpenDisplay(nullptr);
    if (x->display == nullptr) {
        const char* name = std::getenv("DISPLAY");
        *error = Format(_("cannot open the X display \"%s\""),
                        DisplayName(name != nullptr ? name : "").c_str());
        CloseIdleX11(x);
        return nullptr;
    }
    XSetIOErrorExitHandler(x->display, KeepRunning, nullptr);
    if (XScreenSaverRuns(x->display)) {
        *daemon = "XScreenSaver";
        CloseIdleX11(x);
        return nullptr;
    }
    int errorBase = 0, major = 0, minor = 0;
    if (!XSyncQueryExtension(x->display, &x->syncEventBase, &errorBase) ||
        !XSyncInitialize(x->display, &major, &minor) ||
        (x->idleTime = FindIdleTimeCounter(x->display)) == None) {
        *error = _("the X server keeps no idle time (the SYNC extension's IDLETIME counter)");
        CloseIdleX11(x);
        return nullptr;
    }
    int resourceEvents = 0, resourceErrors = 0;
    if (XResQueryExtension(x->display, &resourceEvents, &resourceErrors) &&
        XResQueryVersion(x->display, &major, &minor) && (major > 1 || (major == 1 && minor >= 2))) {
        x->resources = true;
        x->suspension = XInternAtom(x->display, "SaverSuspend", False);
    }
    if (alarms) x->idleAlarm = SetAlarm(x, XSyncPositiveTransition, idleMilliseconds);
    XFlush(x->display);
    return x;
}

void CloseIdleX11(IdleX11* x) {
    if (x == nullptr) return;
    if (x->display != nullptr) {
        if (!ServerGone(x->display)) {
            if (x->idleAlarm != None) XSyncDestroyAlarm(x->display, x->idleAlarm);
            if (x->activeAlarm != None) XSyncDestroyAlarm(x->display, x->activeAlarm);
        }
        XCloseDisplay(x->display);
    }
    delete x;
}

int IdleX11Fd(const IdleX11* x) { return ConnectionNumber(x->display); }

void SetIdleX11Time(IdleX11* x, uint32_t idleMilliseconds) {
    if (x->idleAlarm == None || ServerGone(x->display)) return;
    XSyncDestroyAlarm(x->display, x->idleAlarm);
    x->milliseconds = idleMilliseconds;
    x->idleAlarm = SetAlarm(x, XSyncPositiveTransition, idleMilliseconds);
    // Already idle for longer than the new time: the alarm's transition
    // has passed. Told at the next dispatch, which the caller makes.
    if (!x->idle && IdleMilliseconds(x) >= idleMilliseconds) BecomeIdle(x);
    XFlush(x->display);
}

void X11SuspendHolds(IdleX11* x, std::vector<IdleHold>* holds) {
    if (!x->resources || ServerGone(x->display)) return;
    int count = 0;
    XResClient* clients = nullptr;
    // These two answer True on success; XResQueryClientIds answers Success.
    if (!XResQueryClients(x->display, &count, &clients)) return;
    for (int i = 0; i < count; ++i) {
        int types = 0;
        XResType* kinds = nullptr;
        if (!XResQueryClientResources(x->display, clients[i].resource_base, &types, &kinds)) {
            continue;
        }
        bool suspends = false;
        for (int k = 0; k < types; ++k) {
            suspends = suspends || (kinds[k].resource_type == x->suspension && kinds[k].count > 0);
        }
        if (kinds != nullptr) XFree(kinds);
        if (!suspends) continue;
        IdleHold hold;
        hold.way = "X screen-saver suspension";
        hold.pid = ClientProcess(x->display, clients[i].resource_base);
        // Its end sets the idle time back, which the active alarm hears;
        // without alarms (another source) it is only found by asking.
        hold.signalled = x->idleAlarm != None;
        holds->push_back(hold);
    }
    if (clients != nullptr) XFree(clients);
}

bool X11KeyboardGrabbed(IdleX11* x) {
    if (ServerGone(x->display)) return false;
    const int grab = XGrabKeyboard(x->display, DefaultRootWindow(x->display), False, GrabModeAsync,
                                   GrabModeAsync, CurrentTime);
    if (grab == GrabSuccess) XUngrabKeyboard(x->display, CurrentTime);
    XFlush(x->display);
    return grab == AlreadyGrabbed;
}

void ResetIdleX11(IdleX11* x) {
    if (ServerGone(x->display)) return;
    XResetScreenSaver(x->display);
    XFlush(x->display);
}

bool DispatchIdleX11(IdleX11* x, std::vector<IdleEvent>* events, std::string* error) {
    if (ServerGone(x->display)) {
        *error = _("the X server has gone");
        return false;
    }
    while (XPending(x->display) > 0) {
        XEvent event;
        XNextEvent(x->display, &event);
        if (event.type != x->syncEventBase + XSyncAlarmNotify) continue;
        const auto* alarm = reinterpret_cast<const XSyncAlarmNotifyEvent*>(&event);
        if (alarm->alarm == x->idleAlarm && !x->idle) {
            BecomeIdle(x);
        } else if (alarm->alarm == x->activeAlarm && x->idle) {
            XSyncDestroyAlarm(x->display, x->activeAlarm);
            x->activeAlarm = None;
            x->idle = false;
            Push(x, IdleEventKind::Active);
        }
    }
    XFlush(x->display);
    events->insert(events->end(), x->events.begin(), x->events.end());
    x->events.clear();
    return true;
}

}  // namespace platform
