// The X11 port of the platform layer: the connection to an X server, its
// monitors, GLX views on its windows, their events and reads of the
// desktop's pixels. The program reaches X11 through its session
// (session.h, OpenX11Session); the backend's own files and the tests use
// these. Plain structs and free functions like platform.h's; nothing here
// includes Xlib.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace platform {

// ---------------------------------------------------------------- X display

// An open connection to an X server.
struct Connection;

// Opens the display `name` (null: $DISPLAY). Null, with a reason in
// `error`, when there is no X server to talk to. Installs the process's X
// error handler on first use: errors never end the program; BadWindow and
// BadDrawable errors are recorded against the window they name (see
// WindowLost).
Connection* OpenConnection(const char* name, std::string* error);
// Destroys the connection's own windows and closes it. Views on it must be
// destroyed first.
void CloseConnection(Connection* connection);
// The socket of the connection, for poll(); readable when events wait.
int ConnectionFd(const Connection* connection);
// Sends buffered requests to the server.
void FlushConnection(Connection* connection);
// The root window of the default screen.
WindowId RootWindowId(const Connection* connection);
// True once `window` was destroyed under the program: a DestroyNotify seen by
// DrainEvents, or a BadWindow/BadDrawable error that named it.
bool WindowLost(const Connection* connection, WindowId window);

// The value of the Xft.dpi resource that the desktop put into the X
// server's resource database (the dots per inch it draws text for), as
// text; empty when there is none.
std::string DpiResource(Connection* connection);

// ---------------------------------------------------------------- screens

// The monitors of the X screen, from XRandR; the whole X screen as one
// monitor when XRandR has none. Never empty on a working connection.
std::vector<ScreenInfo> ListScreens(Connection* connection);
// The window's rectangle in root coordinates. False when the window is gone.
bool WindowRectangle(Connection* connection, WindowId window, int* x, int* y, int* width,
                     int* height);

// ---------------------------------------------------------------- views

// Makes a GLX context on an X window and makes it current. Windows the
// program creates are double-buffered with a 24-bit depth buffer and are
// created UNMAPPED, so the desktop can still be read from the root: call
// ShowView after the capture. On the root or a foreign window the window's
// own visual decides the configuration. Null, with a reason in `error`,
// when no context can be made (no GLX, a window that is gone).
View* CreateWindowView(Connection* connection, const ViewRequest& request, std::string* error);
// The view's X window; 0 for a headless or Wayland view.
WindowId ViewWindow(const View* view);

// ---------------------------------------------------------------- events

enum class EventKind {
    Resized,         // the window's size changed to width × height
    Exposed,         // part of the window needs drawing again
    KeyPressed,      // a key was pressed: keysym, and its text in `text` if any
    ButtonPressed,   // a mouse button was pressed: button, at (x, y)
    PointerDragged,  // the pointer moved to (x, y) with a button held (top-level views only)
    Destroyed,       // the window was destroyed (it is now lost)
    CloseRequested,  // the window manager asks to close a window we created
};

struct Event {
    EventKind kind = EventKind::Exposed;
    WindowId window = 0;
    int width = 0;
    int height = 0;
    uint32_t keysym = 0;
    char text[8] = {};
    unsigned button = 0;
    // ButtonPressed, PointerDragged: the pointer in window pixels, from the
    // window's top-left corner.
    int x = 0;
    int y = 0;
};

// Appends every event that waits on the connection to `events` without
// blocking, and returns how many it appended. Only events of the views'
// windows are reported; consecutive resizes of one window arrive as they
// came, the last one is the size now.
int DrainEvents(Connection* connection, std::vector<Event>* events);

// ---------------------------------------------------------------- desktop

// Reads the pixmap named by the window's _SCREENSAVER_SCREENSHOT property
// (type PIXMAP), which a screen-saver daemon leaves on the windows it hands
// to savers. False when there is none or it cannot be read.
bool ReadScreenshotProperty(Connection* connection, WindowId window, RgbaImage* image);
// Reads a rectangle of the root window, clipped to the root. Must happen
// before the program's own windows are mapped. False when nothing can be
// read.
bool ReadRootRectangle(Connection* connection, const ScreenInfo& rectangle, RgbaImage* image);

}  // namespace platform
