// The X11 backend's port of View: a GLX context on a window the program
// creates, on the root, or on another program's window. Relies on Xlib
// and GLX.
//
// Provides: CreateWindowView, ViewWindow, ConnectionOfView.
#include <GL/gl.h>
#include <GL/glx.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/view_port.h"
#include "platform/x11/x11_connection.h"
#include "support/translation.h"

namespace platform {

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
        *error = _("the window does not exist");
        return nullptr;
    }
    // An input-only window has no pixels: every draw would be an X error.
    if (a.c_class == InputOnly) {
        char id[32];
        std::snprintf(id, sizeof id, "0x%lx", w);
        *error = Format(_("the window %s is input-only: nothing can be drawn in it"), id);
        return nullptr;
    }
    XVisualInfo want{};
    want.visualid = XVisualIDFromVisual(a.visual);
    want.screen = XScreenNumberOfScreen(a.screen);
    int count = 0;
    XVisualInfo* vi = XGetVisualInfo(d, VisualIDMask | VisualScreenMask, &want, &count);
    if (!vi) {
        *error = _("the window's visual is unknown");
        return nullptr;
    }
    int useGL = 0, db = 0;
    if (glXGetConfig(d, vi, GLX_USE_GL, &useGL) != 0 || !useGL) {
        XFree(vi);
        *error = _("the window's visual does not support OpenGL");
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
    XVisualInfo visual{};  // the context's
    // A 1 × 1 drawable of the context's visual, made current instead of
    // the window while offWindow holds (DrawOffWindow).
    Pixmap smallPixmap = None;
    GLXPixmap smallDrawable = None;
    bool offWindow = false;
    bool made = false;  // complete, and among the connection's views

    ~GlxWindowView() override {
        ::Display* d = connection->display;
        if (context) {
            if (glXGetCurrentContext() == context) glXMakeCurrent(d, None, nullptr);
            glXDestroyContext(d, context);
        }
        if (smallDrawable != None) glXDestroyGLXPixmap(d, smallDrawable);
        if (smallPixmap != None) XFreePixmap(d, smallPixmap);
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
        return glXMakeCurrent(d, offWindow ? smallDrawable : window, context) == True;
    }
    bool DrawOffWindow(bool off) override {
        ::Display* d = connection->display;
        if (off && smallDrawable == None) {
            smallPixmap = XCreatePixmap(d, window, 1, 1, static_cast<unsigned>(visual.depth));
            smallDrawable = glXCreateGLXPixmap(d, &visual, smallPixmap);
            if (smallDrawable == None) return false;
        }
        offWindow = off;
        return MakeCurrent();
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
    bool SyncToRefresh() override;
    WindowId Window() const override { return window; }
    bool Lost() const override { return IsLost(connection->display, window); }
};

bool HasGlxExtension(::Display* d, const char* name) {
    const char* all = glXQueryExtensionsString(d, DefaultScreen(d));
    if (all == nullptr) return false;
    const size_t n = std::strlen(name);
    for (const char* at = std::strstr(all, name); at != nullptr; at = std::strstr(at + n, name)) {
        if ((at == all || at[-1] == ' ') && (at[n] == ' ' || at[n] == '\0')) return true;
    }
    return false;
}

bool GlxWindowView::SyncToRefresh() {
    ::Display* d = connection->display;
    if (!doubleBuffered || IsLost(d, window)) return false;
    using SwapIntervalExt = void (*)(::Display*, GLXDrawable, int);
    using SwapIntervalMesa = int (*)(unsigned);
    if (HasGlxExtension(d, "GLX_EXT_swap_control")) {
        auto set = reinterpret_cast<SwapIntervalExt>(
            glXGetProcAddress(reinterpret_cast<const GLubyte*>("glXSwapIntervalEXT")));
        if (set != nullptr) {
            set(d, window, 1);
            return true;
        }
    }
    if (HasGlxExtension(d, "GLX_MESA_swap_control")) {
        auto set = reinterpret_cast<SwapIntervalMesa>(
            glXGetProcAddress(reinterpret_cast<const GLubyte*>("glXSwapIntervalMESA")));
        return set != nullptr && set(1) == 0;
    }
    return false;
}

// A new window of the program's own for the view, with a visual of its
// choosing. Null with the reason when there is no visual to draw with.
XVisualInfo* MakeOwnWindow(GlxWindowView* view, const ViewRequest& request, std::string* reason) {
    XVisualInfo* vi = ChooseOwnVisual(view->connection->display, &view->doubleBuffered);
    if (!vi) {
        *reason = _("no OpenGL visual with RGB colour and depth");
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
        if (error) *error = _("the X server has no GLX extension");
        return nullptr;
    }

    auto* view = new GlxWindowView;
    view->connection = c;
    view->kind = request.kind;
    const bool own = request.kind == ViewKind::TopLevel || request.kind == ViewKind::FullScreen;
    XVisualInfo* vi =
        own ? MakeOwnWindow(view, request, &reason) : UseExistingWindow(view, request, &reason);
    if (!vi || !view->window) {
        if (error) *error = reason.empty() ? _("the window does not exist") : reason;
        if (vi) XFree(vi);
        delete view;
        return nullptr;
    }

    view->context = glXCreateContext(d, vi, nullptr, True);
    view->visual = *vi;
    XFree(vi);
    if (!view->context || !glXMakeCurrent(d, view->window, view->context)) {
        if (error) *error = _("cannot make an OpenGL context on the window");
        delete view;
        return nullptr;
    }
    view->made = true;
    c->views.push_back(view);
    XFlush(d);
    return view;
}

WindowId ViewWindow(const View* view) { return view->Window(); }

Connection* ConnectionOfView(const View* view) {
    const auto* glx = dynamic_cast<const GlxWindowView*>(view);
    return glx != nullptr ? glx->connection : nullptr;
}

}  // namespace platform
