// The state behind the platform's Connection handle, and the record of
// windows lost under the program, shared by the files of the X11 backend.
// Private to src/platform/x11/; relies on Xlib.
#pragma once

#include <X11/Xlib.h>

#include <vector>

#include "platform/x11.h"

namespace platform {

struct Connection {
    ::Display* display = nullptr;
    std::vector<View*> views;  // the views on it, whose windows' events are reported
    Atom wmProtocols = None;
    Atom wmDeleteWindow = None;
};

// The connection of a GLX window view; null for any other view
// (x11_window_view.cpp).
Connection* ConnectionOfView(const View* view);

// Records `window` of `display` as lost: named by a BadWindow or
// BadDrawable error, or destroyed under the program.
void RecordLost(::Display* display, XID window);
// Whether `window` of `display` was recorded as lost.
bool IsLost(::Display* display, XID window);

}  // namespace platform
