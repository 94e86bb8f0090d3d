// The Wayland port of the platform layer: a connection to the compositor
// with its outputs and input, one covering view per output, and the
// pictures of the desktop the session offers (the compositor's screencopy,
// the screenshot portal). Plain structs and free functions like
// platform.h's; nothing here includes Wayland, EGL or GLib. The files:
//   wayland_connection.cpp  registry, outputs, seat input, dispatching
//   wayland_view.cpp        layer-shell or full-screen toplevel surfaces
//                           with their EGL window and context
//   wayland_screencopy.cpp  an output's pixels through screencopy
//   wayland_output_power.cpp  whether the compositor has an output
//                           powered off
//   portal_screenshot.cpp   GDBus: the screenshot portal; cropping its
//                           picture to an output
//   portal_grant.cpp        GDBus: GNOME's grant of screenshots
//   portal_file.cpp         statx: deleting the portal's picture file
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

// Asks the screenshot portal on the session bus for a picture of the whole
// desktop, without asking the user (interactive=false), waiting at most
// `timeoutSeconds` for it. The file the portal saved the picture in is
// deleted once read when the portal made it for this request (a regular
// file of this user, of one name, stamped after the request began); any
// other file it names is left. An answer that comes after the wait is
// still listened for, two minutes more in a thread of its own, and its
// file deleted unread under the same rule. Where the portal would first ask the user
// whether programs may take screenshots (GNOME without a grant:
// PortalScreenshotGrant), it is not asked at all. False, with a reason
// that names the portal, when it is not asked, there is none, it refuses,
// fails or does not answer in time.
bool PortalScreenshot(double timeoutSeconds, RgbaImage* image, std::string* error);

// What the desktop's portal makes of a screenshot asked for without the
// user (GNOME's permission store: table "screenshot", id "screenshot", under
// the app id "" of a program run from the host, or "org.example.Mereglass"
// where a newer portal files a program started from its menu entry).
enum class ScreenshotGrant {
    NotNeeded,  // not GNOME ($XDG_CURRENT_DESKTOP does not name it)
    Granted,    // GNOME, and the store holds "yes" for either id, "no" for neither
    Unasked,    // GNOME, and nothing for either (or no store): the portal would ask
    Refused,    // GNOME, and the store holds "no" for either: it refuses unasked
};
// Looks the grant up on the session bus, waiting at most `timeoutSeconds`.
ScreenshotGrant PortalScreenshotGrant(double timeoutSeconds);
// The one request that may ask the user, for the settings dialog: the same
// request as PortalScreenshot's but made whatever the grant, so that GNOME
// asks its question now, over the dialog, and stores the answer. Waits at
// most `timeoutSeconds` (the user is answering); the picture is not kept
// and its file is deleted. False, with a reason, when no picture came.
bool RequestPortalScreenshotGrant(double timeoutSeconds, std::string* error);

// The part of a picture of the whole desktop that `output` shows: the
// desktop spans the outputs' logical rectangles, and the picture is scaled
// from it by one factor a side. False when the output lies outside it.
bool CropDesktopPicture(const RgbaImage& desktop, const std::vector<WaylandOutput>& outputs,
                        const WaylandOutput& output, RgbaImage* image);

}  // namespace platform
