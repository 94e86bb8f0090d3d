// The Wayland port of the platform layer: a connection to the compositor
// with its outputs and input, one covering view per output, and the
// pictures of the desktop the session offers (each output's by the
// compositor's screencopy, else its part of the screenshot portal's
// picture of the whole desktop, platform/portal_screenshot.h). The program
// reaches Wayland through its session (session.h, OpenWaylandSession); the
// backend's own files and the tests use these. Plain structs and free
// functions like platform.h's; nothing here includes Wayland, EGL or GLib.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace platform {

// An open connection to a Wayland compositor.
struct WaylandConnection;

// One output of the compositor.
struct WaylandOutput {
    uint32_t id = 0;   // the registry's name for it: stable while it exists
    std::string name;  // "DP-1", "HEADLESS-1"; empty when the compositor names none
    // Where it is in the desktop and its size there, in logical pixels.
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    int scale = 1;      // the output's integer scale factor
    int transform = 0;  // how the compositor turns the picture for it (wl_output)
    // The compositor has it powered off (KWin's DPMS); false when the
    // compositor does not say.
    bool poweredOff = false;
};

// Connects to `name` (null: $WAYLAND_DISPLAY) and learns the outputs and
// what the compositor offers, waiting at most two seconds. Null, with a
// reason in `error`, when there is no compositor, or it offers neither
// layer-shell surfaces nor full-screen toplevels.
WaylandConnection* OpenWayland(const char* name, std::string* error);
// Views on the connection must be destroyed first.
void CloseWayland(WaylandConnection* connection);
// The socket, for poll(); readable when events wait.
int WaylandFd(const WaylandConnection* connection);
// True when the compositor tells each output's power
// (org_kde_kwin_dpms_manager).
bool WaylandTellsPower(const WaylandConnection* connection);
// True when views are layer-shell surfaces on the overlay layer; false when
// they are full-screen toplevels (a compositor without layer-shell).
bool WaylandHasLayerShell(const WaylandConnection* connection);
// The outputs whose description is complete, in the order the compositor
// announced them.
std::vector<WaylandOutput> WaylandOutputs(const WaylandConnection* connection);
// Sends buffered requests. False once the compositor has gone.
bool WaylandFlush(WaylandConnection* connection);

enum class WaylandEventKind {
    OutputAdded,    // `output` is complete and may be covered
    OutputRemoved,  // `output` is gone (its view, if any, is closed too)
    Resized,        // the view on `output` now has width × height pixels
    Closed,         // the compositor closed the view on `output`
    KeyPressed,     // a key was pressed
    ButtonPressed,  // a pointer button was pressed
    PointerMoved,   // the pointer moved by (x, y) logical pixels since it entered
    PowerChanged,   // `output` was powered off or back on (WaylandOutput::poweredOff)
};

struct WaylandEvent {
    WaylandEventKind kind = WaylandEventKind::Resized;
    uint32_t output = 0;
    int width = 0;
    int height = 0;
    double x = 0.0;
    double y = 0.0;
};

// Reads what waits on the socket without blocking, dispatches it and
// appends the events to `events`. False, with a reason in `error`, once the
// compositor has gone or ended the connection.
bool WaylandDispatch(WaylandConnection* connection, std::vector<WaylandEvent>* events,
                     std::string* error);

// A view covering `output`: a layer-shell surface on the overlay layer
// (anchored to every edge, exclusive zone -1, the keyboard to itself), else
// a full-screen toplevel on it; with a desktop OpenGL (compatibility
// profile) context of its own that shares objects with the connection's
// other views, made current. Waits at most two seconds for the compositor
// to size it. Null, with a reason, when it cannot be made. Destroyed with
// DestroyView; it draws and presents through the View functions, and
// presents at most once per frame the compositor asks for.
View* CreateWaylandView(WaylandConnection* connection, uint32_t output, std::string* error);
// True when the compositor asked for the view's next frame (or it has
// presented none yet): a Present now is shown without waiting.
bool WaylandViewReady(const View* view);

// Reads the pixels of `output` through the compositor's screencopy,
// without the pointer, in the output's own orientation (its transform and
// a flipped buffer undone), one pixel per device pixel. Waits at most
// `timeoutSeconds`. False, with a reason, when the compositor offers no
// screencopy, refuses, or does not answer in time.
bool CaptureWaylandOutput(WaylandConnection* connection, uint32_t output, double timeoutSeconds,
                          RgbaImage* image, std::string* error);
// True when the compositor offers screencopy.
bool WaylandHasScreencopy(const WaylandConnection* connection);

// A captured buffer (width × height pixels, rows `stride` bytes apart, top
// row first, in the wl_shm format `format`; rows bottom first when
// yInverted) turned by the inverse of the output's `transform` into an
// image upright on the desktop. False for a format other than XRGB8888,
// ARGB8888, XBGR8888 and ABGR8888.
bool OrientCapture(const uint8_t* data, int width, int height, int stride, uint32_t format,
                   bool yInverted, int transform, RgbaImage* image);

// The part of a picture of the whole desktop that `output` shows: the
// desktop spans the outputs' logical rectangles, and the picture is scaled
// from it by one factor a side. False when the output lies outside it.
bool CropDesktopPicture(const RgbaImage& desktop, const std::vector<WaylandOutput>& outputs,
                        const WaylandOutput& output, RgbaImage* image);

}  // namespace platform
