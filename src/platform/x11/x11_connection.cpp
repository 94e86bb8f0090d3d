// The X display: the connection, the process's X error handler, the
// monitors from XRandR and the desktop's DPI resource. Relies on Xlib,
// XRandR and GLX (for its error codes).
//
// Provides: OpenConnection, CloseConnection, ConnectionFd, FlushConnection,
// RootWindowId, WindowLost, DpiResource; ListScreens, WindowRectangle;
// RecordLost, IsLost (x11_connection.h).
#include "platform/x11/x11_connection.h"

#include <GL/glx.h>
#include <X11/Xresource.h>
#include <X11/extensions/Xrandr.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform_internal.h"
#include "support/diagnostics.h"
#include "support/translation.h"

namespace platform {

// ---------------------------------------------------------------- X errors

namespace {

// Windows named by a BadWindow or BadDrawable error, or destroyed under us,
// per display. Bounded: a lost window is usually followed by its view's end.
struct LostWindow {
    ::Display* display;
    XID window;
};
std::vector<LostWindow>& LostWindows() {
    static std::vector<LostWindow> lost;
    return lost;
}

int g_glxErrorBase = -1;
// GLX error codes, relative to the extension's error base.
const int kGlxBadDrawable = 2;
const int kGlxBadWindow = 12;

// Errors never end the program. A window that vanished under us is
// recorded, so that its view ends cleanly; anything else is reported once a
// line.
int HandleXError(::Display* display, XErrorEvent* event) {
    const int code = event->error_code;
    const bool glxDrawable = g_glxErrorBase >= 0 && (code == g_glxErrorBase + kGlxBadDrawable ||
                                                     code == g_glxErrorBase + kGlxBadWindow);
    if (code == BadWindow || code == BadDrawable || glxDrawable) {
        RecordLost(display, event->resourceid);
        return 0;
    }
    char text[256] = {};
    XGetErrorText(display, code, text, sizeof text);
    char line[400];
    std::snprintf(line, sizeof line, _("X error: %s (request %d.%d, resource 0x%lx)"), text,
                  event->request_code, event->minor_code, event->resourceid);
    Tell(line);
    return 0;
}

void InstallErrorHandler() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    XSetErrorHandler(HandleXError);
}

void ForgetDisplay(::Display* display) {
    auto& lost = LostWindows();
    std::erase_if(lost, [display](const LostWindow& l) { return l.display == display; });
}

}  // namespace

void RecordLost(::Display* display, XID window) {
    auto& lost = LostWindows();
    for (const LostWindow& l : lost) {
        if (l.display == display && l.window == window) return;
    }
    if (lost.size() >= 256) lost.erase(lost.begin());
    lost.push_back({display, window});
}

bool IsLost(::Display* display, XID window) {
    for (const LostWindow& l : LostWindows()) {
        if (l.display == display && l.window == window) return true;
    }
    return false;
}

// ---------------------------------------------------------------- connection

Connection* OpenConnection(const char* name, std::string* error) {
    InstallErrorHandler();
    PinSoftwareDriver();
    ::Display* display = XOpenDisplay(name);
    if (!display) {
        const char* shown = name ? name : getenv("DISPLAY");
        if (error) {
            *error = Format(_("cannot open the X display \"%s\""),
                            DisplayName(shown ? shown : "").c_str());
        }
        return nullptr;
    }
    auto* c = new Connection;
    c->display = display;
    c->wmProtocols = XInternAtom(display, "WM_PROTOCOLS", False);
    c->wmDeleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
    int event = 0, errorBase = 0;
    if (g_glxErrorBase < 0 && glXQueryExtension(display, &errorBase, &event)) {
        g_glxErrorBase = errorBase;
    }
    return c;
}

void CloseConnection(Connection* connection) {
    if (!connection) return;
    for (View* v : std::vector<View*>(connection->views)) DestroyView(v);
    ForgetDisplay(connection->display);
    XCloseDisplay(connection->display);
    delete connection;
}

int ConnectionFd(const Connection* connection) { return ConnectionNumber(connection->display); }

void FlushConnection(Connection* connection) { XFlush(connection->display); }

WindowId RootWindowId(const Connection* connection) {
    return DefaultRootWindow(connection->display);
}

bool WindowLost(const Connection* connection, WindowId window) {
    return IsLost(connection->display, window);
}

std::string DpiResource(Connection* connection) {
    const char* resources = XResourceManagerString(connection->display);
    if (resources == nullptr) return "";
    XrmInitialize();
    XrmDatabase database = XrmGetStringDatabase(resources);
    if (database == nullptr) return "";
    std::string dpi;
    char* type = nullptr;
    XrmValue value{};
    if (XrmGetResource(database, "Xft.dpi", "Xft.Dpi", &type, &value) && value.addr != nullptr) {
        dpi.assign(value.addr, strnlen(value.addr, value.size));
    }
    XrmDestroyDatabase(database);
    return dpi;
}

// ---------------------------------------------------------------- screens

std::vector<ScreenInfo> ListScreens(Connection* connection) {
    ::Display* d = connection->display;
    std::vector<ScreenInfo> screens;
    int event = 0, error = 0;
    if (XRRQueryExtension(d, &event, &error)) {
        int count = 0;
        XRRMonitorInfo* monitors = XRRGetMonitors(d, DefaultRootWindow(d), True, &count);
        for (int i = 0; monitors && i < count; ++i) {
            const XRRMonitorInfo& m = monitors[i];
            ScreenInfo s;
            s.x = m.x;
            s.y = m.y;
            s.width = m.width;
            s.height = m.height;
            s.number = m.noutput > 0 ? static_cast<int>(m.outputs[0]) : i + 1;
            s.primary = m.primary != 0;
            screens.push_back(s);
        }
        if (monitors) XRRFreeMonitors(monitors);
    }
    if (screens.empty()) {
        ScreenInfo s;
        s.width = DisplayWidth(d, DefaultScreen(d));
        s.height = DisplayHeight(d, DefaultScreen(d));
        s.number = 1;
        s.primary = true;
        screens.push_back(s);
    }
    return screens;
}

bool WindowRectangle(Connection* connection, WindowId window, int* x, int* y, int* width,
                     int* height) {
    ::Display* d = connection->display;
    XWindowAttributes a{};
    if (!XGetWindowAttributes(d, window, &a)) return false;
    Window child = None;
    int rx = 0, ry = 0;
    if (!XTranslateCoordinates(d, window, a.root, 0, 0, &rx, &ry, &child)) return false;
    *x = rx;
    *y = ry;
    *width = a.width;
    *height = a.height;
    return true;
}

}  // namespace platform
