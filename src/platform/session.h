// The session port: one window system as the program's host sees it, the
// same small set of functions for X11, a Wayland compositor and a headless
// run. A session lists the outputs, makes a view per output or per given
// window, tells its events in one type, says which outputs are powered
// off, reads the desktop's picture and gives one descriptor to wait on.
// Each backend implements it in its own folder (x11/x11_session.cpp,
// wayland/wayland_session.cpp, headless/headless_session.cpp), with its
// state private there. Nothing here includes a window system's headers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace platform {

// One output of the session: a monitor of the X screen, an output of the
// compositor, or the headless frame.
struct Output {
    // Its place on the desktop and its size in device pixels; `number` is
    // stable while the output exists (ScreenInfo), `primary` marks the
    // main output.
    ScreenInfo screen;
    std::string name;  // "DP-1", "HEADLESS-1"; empty when the session names none
    // The output's scale factor; 0 when the session states none (X11: the
    // desktop's settings say).
    int scale = 0;
};

enum class SessionEventKind {
    KeyPressed,      // a key was pressed
    ButtonPressed,   // a pointer button was pressed: button, at (x, y) of `view`
    PointerDragged,  // the pointer moved to (x, y) of `view` with a button held
                     // (top-level windows only)
    PointerMoved,    // the pointer moved by (x, y) logical pixels since it entered
    Resized,         // `view` now has width × height pixels
    OutputAdded,     // `output` is complete and may be covered
    OutputGone,      // `output` went, or its view was closed by the compositor
    PowerChanged,    // an output was powered off or back on (OutputDark says
                     // which); `output` is 0 when it may be any of them
    Closed,          // `view`'s window was closed or destroyed under the program
};

struct SessionEvent {
    SessionEventKind kind = SessionEventKind::Resized;
    View* view = nullptr;  // the view it concerns; null for outputs and input
                           // not tied to one
    int output = 0;        // OutputAdded, OutputGone, PowerChanged: the output's number
    int width = 0;
    int height = 0;
    unsigned button = 0;
    // ButtonPressed, PointerDragged: window pixels from the top-left
    // corner; PointerMoved: logical pixels since the pointer entered.
    double x = 0.0;
    double y = 0.0;
};

// Where the desktop's picture came from.
enum class DesktopRead {
    Missing,     // nowhere: the session has none for that place
    Screenshot,  // the _SCREENSAVER_SCREENSHOT pixmap a daemon left on the window
    Root,        // the root window
    Screencopy,  // the compositor's copy of the output
    Portal,      // the screenshot portal's picture of the desktop, cut to the output
};

class Session {
public:
    virtual ~Session() = default;

    // The descriptor that is readable when events wait; -1 when the
    // session has none (headless).
    virtual int Fd() const = 0;
    // Appends the events that wait, without blocking. False, with a reason,
    // once the server has gone.
    virtual bool Dispatch(std::vector<SessionEvent>* events, std::string* error) = 0;
    // Sends buffered requests. False, with a reason, once the server has
    // gone.
    virtual bool Flush(std::string* error) = 0;

    // The outputs, in the session's order; never empty on a working X or
    // headless session, empty on a compositor that has none.
    virtual std::vector<Output> Outputs() = 0;
    // The text scale the desktop states for the whole session (X11: the
    // Xft.dpi resource, as text); empty when it states none.
    virtual std::string DpiResource() { return {}; }

    // A view where `request` says: on X11 any kind but Offscreen; on a
    // compositor FullScreen over the output whose number is
    // request.screen.number; headless only Offscreen. Windows the program
    // makes stay unmapped until ShowView. Null, with a reason, when it
    // cannot be made. Destroyed with DestroyView, before the session.
    virtual View* CreateView(const ViewRequest& request, std::string* error) = 0;
    // The output a view shows (on X11, the monitor that holds most of its
    // window).
    virtual ScreenInfo ScreenOfView(View* view) = 0;
    // True where each output's view shows the desktop's picture of that
    // output and outputs come and go (a compositor); false where every
    // view shows the main monitor's picture (X11, headless).
    virtual bool CoversOutputs() const { return false; }
    // False while the view must not draw: the compositor has not yet taken
    // its last frame. True elsewhere.
    virtual bool ViewReady(const View* view) const = 0;
    // True while the output `number` is powered off (in standby, suspended
    // or off): nothing drawn there shows, though a compositor may still ask
    // for frames. A PowerChanged event follows each change. On X11 the
    // display's DPMS state, the same for every monitor. False where the
    // session cannot tell (no DPMS, a compositor that says nothing of it)
    // and headless.
    virtual bool OutputDark(int /*number*/) const { return false; }

    // The desktop's picture where `request` would draw, taken before the
    // program's own windows show: on X11 the screenshot a daemon left on
    // the window (the root's for Root), else, except in another program's
    // window, the rectangle request.screen of the root; on a compositor
    // its copy of the output request.screen.number, else (until a view of
    // the program shows) the screenshot portal's picture cut to it;
    // headless none. DesktopRead::Missing, with *missing saying why, when it
    // has none; `missing` may also be set when a later source stood in.
    virtual DesktopRead ReadDesktop(const ViewRequest& request, RgbaImage* image,
                                    std::string* missing) = 0;
};

// Opens the X display `name` (null: $DISPLAY). Null, with a reason, when
// there is no X server.
Session* OpenX11Session(const char* name, std::string* error);
// Connects to the compositor at $WAYLAND_DISPLAY. Null, with a reason,
// when there is none.
Session* OpenWaylandSession(std::string* error);
// A session of one output of width × height pixels, drawn offscreen.
Session* OpenHeadlessSession(int width, int height);

}  // namespace platform
