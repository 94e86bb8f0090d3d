// The platform services of an X display: Xlib, XRandR and GLX.
//
// Provides: OpenConnection, CloseConnection, ConnectionFd, FlushConnection,
// RootWindowId, WindowLost, DpiResource; ListScreens, WindowRectangle;
// CreateWindowView and its port of View (GLX on the window);
// DrainEvents; ReadScreenshotProperty, ReadRootRectangle; the process's X
// error handler.
#include <GL/gl.h>
#include <GL/glx.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xresource.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xrandr.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

#include "platform/platform_internal.h"
#include "platform/view_port.h"

namespace platform {

struct Connection {
    ::Display* display = nullptr;
    std::vector<View*> views;
    Atom wmProtocols = None;
    Atom wmDeleteWindow = None;
};

namespace {

// ---------------------------------------------------------------- X errors

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

void RecordLost(::Display* display, XID window) {
    auto& lost = LostWindows();
    for (const LostWindow& l : lost) {
        if (l.display == display && l.window == window) return;
    }
    if (lost.size() >= 256) lost.erase(lost.begin());
    lost.push_back({display, window});
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
    std::fprintf(stderr, "mereglass: X error: %s (request %d.%d, resource 0x%lx)\n", text,
                 event->request_code, event->minor_code, event->resourceid);
    return 0;
}

void InstallErrorHandler() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    XSetErrorHandler(HandleXError);
}

bool IsLost(::Display* display, XID window) {
    for (const LostWindow& l : LostWindows()) {
        if (l.display == display && l.window == window) return true;
    }
    return false;
}

void ForgetDisplay(::Display* display) {
    auto& lost = LostWindows();
    std::erase_if(lost, [display](const LostWindow& l) { return l.display == display; });
}

}  // namespace

// ---------------------------------------------------------------- connection

Connection* OpenConnection(const char* name, std::string* error) {
    InstallErrorHandler();
    PinSoftwareDriver();
    ::Display* display = XOpenDisplay(name);
    if (!display) {
        const char* shown = name ? name : getenv("DISPLAY");
        if (error) {
            *error = std::string("cannot open the X display \"") + (shown ? shown : "") + "\"";
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

// ---------------------------------------------------------------- views

namespace {

const long kOwnEventMask = StructureNotifyMask | ExposureMask | KeyPressMask | ButtonPressMask;
// A window of its own (not full screen) also reports where the pointer is
// dragged, so that the user can touch the water.
const long kTopLevelEventMask = kOwnEventMask | ButtonMotionMask;
// Another program's window: only what every client may select. Button
// presses can be selected by one client only.
const long kForeignEventMask = StructureNotifyMask | ExposureMask;

XVisualInfo* ChooseOwnVisual(::Display* d, bool* doubleBuffered) {
    int depthSizes[] = {24, 16};
    for (int depth : depthSizes) {
        int attrs[] = {
            GLX_RGBA, GLX_DOUBLEBUFFER, GLX_RED_SIZE, 8,   GLX_GREEN_SIZE, 8, GLX_BLUE_SIZE,
            8,        GLX_DEPTH_SIZE,   depth,        None};
        if (XVisualInfo* vi = glXChooseVisual(d, DefaultScreen(d), attrs)) {
            *doubleBuffered = true;
            return vi;
        }
    }
    int single[] = {GLX_RGBA, GLX_RED_SIZE, 1, GLX_GREEN_SIZE, 1, GLX_BLUE_SIZE, 1, GLX_DEPTH_SIZE,
                    1,        None};
    *doubleBuffered = false;
    return glXChooseVisual(d, DefaultScreen(d), single);
}

XVisualInfo* VisualOfWindow(::Display* d, Window w, bool* doubleBuffered, std::string* error) {
    XWindowAttributes a{};
    if (!XGetWindowAttributes(d, w, &a)) {
        *error = "the window does not exist";
        return nullptr;
    }
    XVisualInfo want{};
    want.visualid = XVisualIDFromVisual(a.visual);
    want.screen = XScreenNumberOfScreen(a.screen);
    int count = 0;
    XVisualInfo* vi = XGetVisualInfo(d, VisualIDMask | VisualScreenMask, &want, &count);
    if (!vi) {
        *error = "the window's visual is unknown";
        return nullptr;
    }
    int useGL = 0, db = 0;
    if (glXGetConfig(d, vi, GLX_USE_GL, &useGL) != 0 || !useGL) {
        XFree(vi);
        *error = "the window's visual does not support OpenGL";
        return nullptr;
    }
    glXGetConfig(d, vi, GLX_DOUBLEBUFFER, &db);
    *doubleBuffered = db != 0;
    return vi;
}

// Asks the window manager for a borderless full-screen window.
void MakeFullScreenHints(::Display* d, Window w) {
    const Atom state = XInternAtom(d, "_NET_WM_STATE", False);
    const Atom fullscreen = XInternAtom(d, "_NET_WM_STATE_FULLSCREEN", False);
    XChangeProperty(d, w, state, XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&fullscreen), 1);
    // Motif hints: flags = decorations, decorations = none.
    const long motif[5] = {2, 0, 0, 0, 0};
    const Atom motifAtom = XInternAtom(d, "_MOTIF_WM_HINTS", False);
    XChangeProperty(d, w, motifAtom, motifAtom, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(motif), 5);
}

Window CreateOwnWindow(Connection* c, const ViewRequest& r, XVisualInfo* vi, Colormap* colormap) {
    ::Display* d = c->display;
    const Window root = RootWindow(d, vi->screen);
    int x = r.hasPosition ? r.x : 0, y = r.hasPosition ? r.y : 0, w = r.width, h = r.height;
    if (r.kind == ViewKind::FullScreen) {
        x = r.screen.x;
        y = r.screen.y;
        w = r.screen.width;
        h = r.screen.height;
    }
    w = std::max(w, 1);
    h = std::max(h, 1);
    *colormap = XCreateColormap(d, root, vi->visual, AllocNone);
    XSetWindowAttributes a{};
    a.colormap = *colormap;
    a.background_pixel = BlackPixel(d, vi->screen);
    a.border_pixel = 0;
    a.event_mask = r.kind == ViewKind::TopLevel ? kTopLevelEventMask : kOwnEventMask;
    const Window window = XCreateWindow(
        d, root, x, y, static_cast<unsigned>(w), static_cast<unsigned>(h), 0, vi->depth,
        InputOutput, vi->visual, CWColormap | CWBackPixel | CWBorderPixel | CWEventMask, &a);
    XStoreName(d, window, r.title.c_str());
    XClassHint cls{};
    cls.res_name = const_cast<char*>("mereglass");
    cls.res_class = const_cast<char*>("Mereglass");
    XSetClassHint(d, window, &cls);
    XSetWMProtocols(d, window, &c->wmDeleteWindow, 1);
    XSizeHints hints{};
    hints.flags = PSize;
    hints.width = w;
    hints.height = h;
    if (r.kind == ViewKind::TopLevel && r.hasPosition) {
        hints.flags |= USPosition;
        hints.x = x;
        hints.y = y;
    }
    if (r.kind == ViewKind::FullScreen) {
        hints.flags |= PPosition | USPosition;
        hints.x = x;
        hints.y = y;
        MakeFullScreenHints(d, window);
    }
    XSetWMNormalHints(d, window, &hints);
    return window;
}

}  // namespace

namespace {

// A GLX context on an X window: one the program created, the root, or
// another program's window.
struct GlxWindowView final : View {
    Connection* connection = nullptr;
    WindowId window = 0;
    ViewKind kind = ViewKind::TopLevel;
    bool ownsWindow = false;
    bool doubleBuffered = false;
    Colormap colormap = None;  // created with the window, freed with it
    GLXContext context = nullptr;
    bool made = false;  // complete, and among the connection's views

    ~GlxWindowView() override {
        ::Display* d = connection->display;
        if (context) {
            if (glXGetCurrentContext() == context) glXMakeCurrent(d, None, nullptr);
            glXDestroyContext(d, context);
        }
        if (ownsWindow) {
            XDestroyWindow(d, window);
            XFreeColormap(d, colormap);
        } else if (made && !IsLost(d, window) && kind == ViewKind::Foreign) {
            XSelectInput(d, window, NoEventMask);
        }
        if (made) {
            XSync(d, False);
            std::erase(connection->views, this);
        }
    }

    bool MakeCurrent() override {
        ::Display* d = connection->display;
        if (IsLost(d, window)) return false;
        return glXMakeCurrent(d, window, context) == True;
    }
    void Show() override {
        if (!ownsWindow) return;
        XMapRaised(connection->display, window);
        XFlush(connection->display);
    }
    bool Resize(int width, int height) override {
        if (!ownsWindow || width <= 0 || height <= 0) return false;
        XResizeWindow(connection->display, window, static_cast<unsigned>(width),
                      static_cast<unsigned>(height));
        XFlush(connection->display);
        return true;
    }
    void Size(int* width, int* height) override {
        ::Display* d = connection->display;
        ::Window root = None;
        int x = 0, y = 0;
        unsigned w = 0, h = 0, border = 0, depth = 0;
        if (IsLost(d, window) || !XGetGeometry(d, window, &root, &x, &y, &w, &h, &border, &depth)) {
            w = h = 0;
        }
        *width = static_cast<int>(w);
        *height = static_cast<int>(h);
    }
    void Present() override {
        if (doubleBuffered && !IsLost(connection->display, window)) {
            glXSwapBuffers(connection->display, window);
        } else {
            glFlush();
        }
    }
    WindowId Window() const override { return window; }
    Connection* XConnection() const override { return connection; }
    bool Lost() const override { return IsLost(connection->display, window); }
};

// A new window of the program's own for the view, with a visual of its
// choosing. Null with the reason when there is no visual to draw with.
XVisualInfo* MakeOwnWindow(GlxWindowView* view, const ViewRequest& request, std::string* reason) {
    XVisualInfo* vi = ChooseOwnVisual(view->connection->display, &view->doubleBuffered);
    if (!vi) {
        *reason = "no OpenGL visual with RGB colour and depth";
        return nullptr;
    }
    view->window = CreateOwnWindow(view->connection, request, vi, &view->colormap);
    view->ownsWindow = true;
    return vi;
}

// The root or a foreign window for the view, drawn with its own visual;
// its structure and exposure events are selected beside the owner's. Null
// with the reason when the window is gone or cannot take OpenGL.
XVisualInfo* UseExistingWindow(GlxWindowView* view, const ViewRequest& request,
                               std::string* reason) {
    ::Display* d = view->connection->display;
    const Window w = request.kind == ViewKind::Root ? DefaultRootWindow(d) : request.foreign;
    XSync(d, False);
    XVisualInfo* vi = VisualOfWindow(d, w, &view->doubleBuffered, reason);
    XSync(d, False);
    if (!vi || IsLost(d, w)) return vi;
    view->window = w;
    XWindowAttributes a{};
    XGetWindowAttributes(d, w, &a);
    XSelectInput(d, w, a.your_event_mask | kForeignEventMask);
    return vi;
}

}  // namespace

View* CreateWindowView(Connection* c, const ViewRequest& request, std::string* error) {
    ::Display* d = c->display;
    std::string reason;
    int glxError = 0, glxEvent = 0;
    if (!glXQueryExtension(d, &glxError, &glxEvent)) {
        if (error) *error = "the X server has no GLX extension";
        return nullptr;
    }

    auto* view = new GlxWindowView;
    view->connection = c;
    view->kind = request.kind;
    const bool own = request.kind == ViewKind::TopLevel || request.kind == ViewKind::FullScreen;
    XVisualInfo* vi =
        own ? MakeOwnWindow(view, request, &reason) : UseExistingWindow(view, request, &reason);
    if (!vi || !view->window) {
        if (error) *error = reason.empty() ? "the window does not exist" : reason;
        if (vi) XFree(vi);
        delete view;
        return nullptr;
    }

    view->context = glXCreateContext(d, vi, nullptr, True);
    XFree(vi);
    if (!view->context || !glXMakeCurrent(d, view->window, view->context)) {
        if (error) *error = "cannot make an OpenGL context on the window";
        delete view;
        return nullptr;
    }
    view->made = true;
    c->views.push_back(view);
    XFlush(d);
    return view;
}

void* ConnectionDisplay(const Connection* connection) { return connection->display; }

// ---------------------------------------------------------------- events

int DrainEvents(Connection* c, std::vector<Event>* events) {
    ::Display* d = c->display;
    int added = 0;
    auto watched = [c](Window w) {
        return std::any_of(c->views.begin(), c->views.end(),
                           [w](const View* v) { return v->Window() == w; });
    };
    while (XPending(d) > 0) {
        XEvent x;
        XNextEvent(d, &x);
        Event e;
        switch (x.type) {
            case ConfigureNotify:
                e.kind = EventKind::Resized;
                e.window = x.xconfigure.window;
                e.width = x.xconfigure.width;
                e.height = x.xconfigure.height;
                break;
            case Expose:
                if (x.xexpose.count != 0) continue;
                e.kind = EventKind::Exposed;
                e.window = x.xexpose.window;
                break;
            case KeyPress: {
                e.kind = EventKind::KeyPressed;
                e.window = x.xkey.window;
                KeySym sym = NoSymbol;
                const int n = XLookupString(&x.xkey, e.text, sizeof e.text - 1, &sym, nullptr);
                e.text[std::max(0, n)] = '\0';
                e.keysym = static_cast<uint32_t>(sym);
                break;
            }
            case ButtonPress:
                e.kind = EventKind::ButtonPressed;
                e.window = x.xbutton.window;
                e.button = x.xbutton.button;
                e.x = x.xbutton.x;
                e.y = x.xbutton.y;
                break;
            case MotionNotify:
                e.kind = EventKind::PointerDragged;
                e.window = x.xmotion.window;
                e.x = x.xmotion.x;
                e.y = x.xmotion.y;
                break;
            case DestroyNotify:
                if (x.xdestroywindow.window != x.xdestroywindow.event) continue;
                e.kind = EventKind::Destroyed;
                e.window = x.xdestroywindow.window;
                if (watched(e.window)) RecordLost(d, e.window);
                break;
            case ClientMessage:
                if (x.xclient.message_type != c->wmProtocols ||
                    static_cast<Atom>(x.xclient.data.l[0]) != c->wmDeleteWindow) {
                    continue;
                }
                e.kind = EventKind::CloseRequested;
                e.window = x.xclient.window;
                break;
            default:
                continue;
        }
        if (!watched(e.window)) continue;
        events->push_back(e);
        ++added;
    }
    return added;
}

// ---------------------------------------------------------------- desktop

namespace {

// Where a colour channel sits in a pixel value, and how wide it is.
struct Channel {
    int shift = 0;
    int bits = 0;
};

Channel ChannelOf(unsigned long mask) {
    Channel c;
    if (!mask) return c;
    while (!(mask & 1)) {
        mask >>= 1;
        ++c.shift;
    }
    while (mask & 1) {
        mask >>= 1;
        ++c.bits;
    }
    return c;
}

uint8_t Expand(unsigned long pixel, Channel c) {
    if (c.bits == 0) return 0;
    const unsigned long v = (pixel >> c.shift) & ((1ul << c.bits) - 1);
    if (c.bits >= 8) return static_cast<uint8_t>(v >> (c.bits - 8));
    return static_cast<uint8_t>((v * 255 + ((1ul << c.bits) - 1) / 2) / ((1ul << c.bits) - 1));
}

// Converts a true-colour XImage (top row first) into RGBA, bottom row first.
bool ConvertImage(XImage* x, const Visual* visual, RgbaImage* image) {
    if (!x || !visual || (visual->c_class != TrueColor && visual->c_class != DirectColor)) {
        return false;
    }
    const int w = x->width, h = x->height;
    if (w <= 0 || h <= 0) return false;
    const Channel r = ChannelOf(visual->red_mask), g = ChannelOf(visual->green_mask),
                  b = ChannelOf(visual->blue_mask);
    image->width = w;
    image->height = h;
    image->pixels.assign(static_cast<size_t>(w) * static_cast<size_t>(h) * 4, 0);
    const bool fast = x->bits_per_pixel == 32 && x->byte_order == LSBFirst && r.bits == 8 &&
                      g.bits == 8 && b.bits == 8;
    for (int row = 0; row < h; ++row) {
        uint8_t* out = &image->pixels[static_cast<size_t>(h - 1 - row) * w * 4];
        const auto* in = reinterpret_cast<const uint8_t*>(x->data) +
                         static_cast<size_t>(row) * static_cast<size_t>(x->bytes_per_line);
        for (int col = 0; col < w; ++col, out += 4) {
            unsigned long p;
            if (fast) {
                const uint8_t* q = in + col * 4;
                p = static_cast<unsigned long>(q[0]) | (static_cast<unsigned long>(q[1]) << 8) |
                    (static_cast<unsigned long>(q[2]) << 16) |
                    (static_cast<unsigned long>(q[3]) << 24);
            } else {
                p = XGetPixel(x, col, row);
            }
            out[0] = Expand(p, r);
            out[1] = Expand(p, g);
            out[2] = Expand(p, b);
            out[3] = 255;
        }
    }
    return true;
}

// Reads a rectangle of a drawable of the given depth; false on any error.
bool ReadDrawable(::Display* d, Drawable drawable, int x, int y, unsigned w, unsigned h,
                  const Visual* visual, RgbaImage* image) {
    XSync(d, False);
    XImage* xi = XGetImage(d, drawable, x, y, w, h, AllPlanes, ZPixmap);
    if (!xi) return false;
    const bool ok = ConvertImage(xi, visual, image);
    XDestroyImage(xi);
    return ok;
}

}  // namespace

bool ReadScreenshotProperty(Connection* c, WindowId window, RgbaImage* image) {
    ::Display* d = c->display;
    const Atom property = XInternAtom(d, "_SCREENSAVER_SCREENSHOT", True);
    if (property == None) return false;
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(d, window, property, 0, 1, False, XA_PIXMAP, &type, &format, &count,
                           &after, &data) != Success) {
        return false;
    }
    Pixmap pixmap = None;
    if (data && type == XA_PIXMAP && format == 32 && count == 1) {
        pixmap = static_cast<Pixmap>(*reinterpret_cast<unsigned long*>(data));
    }
    if (data) XFree(data);
    if (pixmap == None) return false;

    XSync(d, False);
    Window root = None;
    int x = 0, y = 0;
    unsigned w = 0, h = 0, border = 0, depth = 0;
    if (!XGetGeometry(d, pixmap, &root, &x, &y, &w, &h, &border, &depth) || w == 0 || h == 0) {
        return false;
    }
    // A pixmap has no visual: the window's, when the depths agree, tells how
    // its pixels are laid out; else the screen's default.
    const Visual* visual = DefaultVisual(d, DefaultScreen(d));
    XWindowAttributes a{};
    if (XGetWindowAttributes(d, window, &a) && a.depth == static_cast<int>(depth)) {
        visual = a.visual;
    }
    return ReadDrawable(d, pixmap, 0, 0, w, h, visual, image);
}

bool ReadRootRectangle(Connection* c, const ScreenInfo& rectangle, RgbaImage* image) {
    ::Display* d = c->display;
    const int screen = DefaultScreen(d);
    const int x0 = std::max(rectangle.x, 0), y0 = std::max(rectangle.y, 0);
    const int x1 = std::min(rectangle.x + rectangle.width, DisplayWidth(d, screen));
    const int y1 = std::min(rectangle.y + rectangle.height, DisplayHeight(d, screen));
    if (x1 <= x0 || y1 <= y0) return false;
    return ReadDrawable(d, DefaultRootWindow(d), x0, y0, static_cast<unsigned>(x1 - x0),
                        static_cast<unsigned>(y1 - y0), DefaultVisual(d, screen), image);
}

}  // namespace platform
