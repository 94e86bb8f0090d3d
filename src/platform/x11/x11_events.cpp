// The events of the views' windows, read from the X connection without
// blocking and told in the platform's own terms; the display power's
// alarm is handed to it. Relies on Xlib.
//
// Provides: DrainEvents.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>

#include "platform/view_port.h"
#include "platform/x11/x11_connection.h"

namespace platform {

namespace {

// Whether `window` is the window of one of the connection's views.
bool Watched(const Connection* c, Window window) {
    return std::any_of(c->views.begin(), c->views.end(),
                       [window](const View* v) { return v->Window() == window; });
}

Event KeyEvent(XKeyEvent* key) {
    Event e;
    e.kind = EventKind::KeyPressed;
    e.window = key->window;
    KeySym sym = NoSymbol;
    const int n = XLookupString(key, e.text, sizeof e.text - 1, &sym, nullptr);
    e.text[std::max(0, n)] = '\0';
    e.keysym = static_cast<uint32_t>(sym);
    return e;
}

// The event that `x` tells of; false for one the program does not report
// (the earlier parts of an exposure, a child's destruction, a client
// message other than the window manager's close request, other kinds).
bool Translate(const Connection* c, XEvent* x, Event* e) {
    switch (x->type) {
        case ConfigureNotify:
            e->kind = EventKind::Resized;
            e->window = x->xconfigure.window;
            e->width = x->xconfigure.width;
            e->height = x->xconfigure.height;
            return true;
        case Expose:
            e->kind = EventKind::Exposed;
            e->window = x->xexpose.window;
            return x->xexpose.count == 0;
        case KeyPress:
            *e = KeyEvent(&x->xkey);
            return true;
        case ButtonPress:
            e->kind = EventKind::ButtonPressed;
            e->window = x->xbutton.window;
            e->button = x->xbutton.button;
            e->x = x->xbutton.x;
            e->y = x->xbutton.y;
            return true;
        case MotionNotify:
            e->kind = EventKind::PointerDragged;
            e->window = x->xmotion.window;
            e->x = x->xmotion.x;
            e->y = x->xmotion.y;
            return true;
        case DestroyNotify:
            e->kind = EventKind::Destroyed;
            e->window = x->xdestroywindow.window;
            return x->xdestroywindow.window == x->xdestroywindow.event;
        case ClientMessage:
            e->kind = EventKind::CloseRequested;
            e->window = x->xclient.window;
            return x->xclient.message_type == c->wmProtocols &&
                   static_cast<Atom>(x->xclient.data.l[0]) == c->wmDeleteWindow;
        default:
            return false;
    }
}

}  // namespace

int DrainEvents(Connection* c, std::vector<Event>* events) {
    ::Display* d = c->display;
    int added = 0;
    while (XPending(d) > 0) {
        XEvent x;
        XNextEvent(d, &x);
        if (TakeDisplayPowerEvent(c, x)) continue;
        Event e;
        if (!Translate(c, &x, &e) || !Watched(c, e.window)) continue;
        if (e.kind == EventKind::Destroyed) RecordLost(d, e.window);
        events->push_back(e);
        ++added;
    }
    return added;
}

}  // namespace platform
