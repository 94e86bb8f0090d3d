// The idle session's part on an X server: alarms on the server's IDLETIME
// counter (the milliseconds since the last input), one that rings when it
// reaches the idle time and, while idle, one that rings when input sets it
// back. Also whether XScreenSaver's daemon runs on the display: it marks a
// window of its own with _SCREENSAVER_VERSION. Relies on Xlib and the SYNC
// extension of libXext.
//
// Provides: OpenIdleX11, CloseIdleX11, IdleX11Fd, DispatchIdleX11.
#include <X11/Xlib.h>
#include <X11/extensions/sync.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/idle_internal.h"
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

XSyncCounter FindIdleTime(::Display* display) {
    int count = 0;
    XSyncSystemCounter* counters = XSyncListSystemCounters(display, &count);
    XSyncCounter found = None;
    for (int i = 0; i < count && counters != nullptr; ++i) {
        if (std::strcmp(counters[i].name, "IDLETIME") == 0) found = counters[i].counter;
    }
    if (counters != nullptr) XSyncFreeSystemCounterList(counters);
    return found;
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

// True when the server has hung up: the socket reads as ended.
bool ServerGone(::Display* display) {
    char byte = 0;
    const ssize_t n = recv(ConnectionNumber(display), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
}

}  // namespace

IdleX11* OpenIdleX11(uint32_t idleMilliseconds, std::string* daemon, std::string* error) {
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
        (x->idleTime = FindIdleTime(x->display)) == None) {
        *error = _("the X server keeps no idle time (the SYNC extension's IDLETIME counter)");
        CloseIdleX11(x);
        return nullptr;
    }
    x->idleAlarm = SetAlarm(x, XSyncPositiveTransition, idleMilliseconds);
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
        IdleEvent e;
        if (alarm->alarm == x->idleAlarm && x->activeAlarm == None) {
            e.kind = IdleEventKind::Idle;
            // Input sets the counter back below the idle time.
            x->activeAlarm = SetAlarm(x, XSyncNegativeTransition, x->milliseconds);
            events->push_back(e);
        } else if (alarm->alarm == x->activeAlarm && x->activeAlarm != None) {
            e.kind = IdleEventKind::Active;
            XSyncDestroyAlarm(x->display, x->activeAlarm);
            x->activeAlarm = None;
            events->push_back(e);
        }
    }
    XFlush(x->display);
    return true;
}

}  // namespace platform
