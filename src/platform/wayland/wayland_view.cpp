// The Wayland port of View: one surface covering an output (a layer-shell
// surface on the overlay layer, else a full-screen toplevel) with a
// wl_egl_window (at the output's scale, or a size the compositor stretches),
// an EGL window surface and a desktop OpenGL context that
// shares objects with the connection's other views. Presents are paced by
// the compositor's frame callbacks. Relies on libwayland-client,
// wayland-egl, EGL and the generated protocol code.
//
// Provides: CreateWaylandView, WaylandViewReady; OutputOfView, OutputOfSurface,
// ReleaseWaylandEgl.
#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <wayland-egl.h>

#include <algorithm>
#include <cstring>

#include "platform/platform_internal.h"
#include "platform/view_port.h"
#include "platform/wayland/wayland_internal.h"
#include "support/translation.h"

namespace platform {

namespace {

// How long a new view waits for the compositor to size it.
constexpr double kConfigureSeconds = 2.0;

struct WaylandView final : View {
    WaylandConnection* connection = nullptr;
    uint32_t output = 0;
    SurfaceScale scale;
    wl_surface* surface = nullptr;
    zwlr_layer_surface_v1* layer = nullptr;
    xdg_surface* shellSurface = nullptr;
    xdg_toplevel* toplevel = nullptr;
    wl_egl_window* window = nullptr;
    EGLSurface eglSurface = EGL_NO_SURFACE;
    EGLConfig surfaceConfig = nullptr;  // eglSurface's
    EGLContext context = EGL_NO_CONTEXT;
    wl_callback* frame = nullptr;  // the frame callback of the latest present
    // The size the compositor asked for, logical pixels, and the drawable
    // that shows it in full detail (the scale times that).
    int logicalWidth = 0;
    int logicalHeight = 0;
    int fullWidth = 0;
    int fullHeight = 0;
    int width = 0;  // the drawable, pixels: the full-detail one or a reduced one
    int height = 0;
    bool configured = false;
    bool closed = false;

    ~WaylandView() override;
    bool MakeCurrent() override {
        return !closed &&
               eglMakeCurrent(connection->eglDisplay, eglSurface, eglSurface, context) == EGL_TRUE;
    }
    void Show() override {}  // mapped by its first present
    bool Resize(int w, int h) override { return w == width && h == height; }
    void Size(int* w, int* h) override {
        *w = width;
        *h = height;
    }
    void Present() override;
    bool Lost() const override { return closed; }
    bool ScaleBuffer(int w, int h) override;
    // The host draws only once the last frame's callback came.
    bool SyncToRefresh() override { return true; }

    // The compositor's size (0: its choice, the output's size) takes
    // effect at the next present.
    void Configure(int w, int h);
    // The drawable for the logical size at the current scale, announced
    // when it changes.
    void Rescale();
    // Makes the EGL surface one of `config` and the context current on it;
    // false, with the surface as it was, when EGL refuses.
    bool UseConfig(EGLConfig config);
};

void OnFrameDone(void* data, wl_callback* callback, uint32_t) {
    auto* v = static_cast<WaylandView*>(data);
    wl_callback_destroy(callback);
    if (v->frame == callback) v->frame = nullptr;
}

const wl_callback_listener kFrameListener = {OnFrameDone};

void WaylandView::Present() {
    if (closed) return;
    if (frame != nullptr) wl_callback_destroy(frame);
    frame = wl_surface_frame(surface);
    wl_callback_add_listener(frame, &kFrameListener, this);
    eglSwapBuffers(connection->eglDisplay, eglSurface);
}

void WaylandView::Configure(int w, int h) {
    const OutputState* o = FindOutput(connection, output);
    if ((w <= 0 || h <= 0) && o != nullptr) {
        w = o->info.width;
        h = o->info.height;
    }
    if (w <= 0 || h <= 0) return;
    configured = true;
    if (w == logicalWidth && h == logicalHeight) return;
    logicalWidth = w;
    logicalHeight = h;
    Rescale();
}

void WaylandView::Rescale() {
    if (!configured) return;
    int w = 0, h = 0;
    FullDetailSize(scale, logicalWidth, logicalHeight, &w, &h);
    if (w == fullWidth && h == fullHeight) {
        // The drawable stays, reduced or not; only the surface's size moved.
        CoverSurface(connection, &scale, logicalWidth, logicalHeight, width, height);
        return;
    }
    fullWidth = width = w;
    fullHeight = height = h;
    CoverSurface(connection, &scale, logicalWidth, logicalHeight, w, h);
    if (window == nullptr) return;  // made at this size
    wl_egl_window_resize(window, width, height, 0, 0);
    WaylandEvent e;
    e.kind = WaylandEventKind::Resized;
    e.output = output;
    e.width = width;
    e.height = height;
    connection->events.push_back(e);
}

bool WaylandView::ScaleBuffer(int w, int h) {
    if (closed || window == nullptr || w <= 0 || h <= 0 ||
        !CoverSurface(connection, &scale, logicalWidth, logicalHeight, w, h)) {
        return false;
    }
    width = w;
    height = h;
    wl_egl_window_resize(window, width, height, 0, 0);
    // A reduced drawable is the software renderer's, where the depth test
    // changes next to nothing of the water and costs a twentieth of the
    // frame (see host/scaled_frame.h); full detail keeps its depth buffer.
    const bool reduced = w != fullWidth || h != fullHeight;
    if (connection->eglFlatConfig != nullptr) {
        UseConfig(
            static_cast<EGLConfig>(reduced ? connection->eglFlatConfig : connection->eglConfig));
    }
    return true;
}

bool WaylandView::UseConfig(EGLConfig config) {
    if (config == surfaceConfig) return true;
    EGLDisplay display = connection->eglDisplay;
    eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    eglDestroySurface(display, eglSurface);
    EGLConfig made = config;
    eglSurface = eglCreateWindowSurface(display, config,
                                        reinterpret_cast<EGLNativeWindowType>(window), nullptr);
    if (eglSurface == EGL_NO_SURFACE) {
        made = surfaceConfig;
        eglSurface = eglCreateWindowSurface(display, made,
                                            reinterpret_cast<EGLNativeWindowType>(window), nullptr);
    }
    surfaceConfig = made;
    if (eglSurface == EGL_NO_SURFACE || !MakeCurrent()) return false;
    // The swap interval belongs to the surface.
    eglSwapInterval(display, 0);
    return made == config;
}

void Closed(WaylandView* v) {
    if (v->closed) return;
    v->closed = true;
    WaylandEvent e;
    e.kind = WaylandEventKind::Closed;
    e.output = v->output;
    v->connection->events.push_back(e);
}

void OnLayerConfigure(void* data, zwlr_layer_surface_v1* layer, uint32_t serial, uint32_t w,
                      uint32_t h) {
    zwlr_layer_surface_v1_ack_configure(layer, serial);
    static_cast<WaylandView*>(data)->Configure(static_cast<int>(w), static_cast<int>(h));
}

void OnLayerClosed(void* data, zwlr_layer_surface_v1*) { Closed(static_cast<WaylandView*>(data)); }

const zwlr_layer_surface_v1_listener kLayerListener = {OnLayerConfigure, OnLayerClosed};

// A full-screen toplevel takes its output's size, applied with the
// surface's configure that follows.
void OnToplevelConfigure(void*, xdg_toplevel*, int32_t, int32_t, wl_array*) {}

void OnToplevelClose(void* data, xdg_toplevel*) { Closed(static_cast<WaylandView*>(data)); }

// Version 1 of xdg_wm_base, which is what it is bound at.
const xdg_toplevel_listener kToplevelListener = {OnToplevelConfigure, OnToplevelClose, nullptr,
                                                 nullptr};

void OnShellConfigure(void* data, xdg_surface* surface, uint32_t serial) {
    xdg_surface_ack_configure(surface, serial);
    // A full-screen toplevel covers its output: its size is the output's.
    static_cast<WaylandView*>(data)->Configure(0, 0);
}

const xdg_surface_listener kShellListener = {OnShellConfigure};

// A window configuration of desktop OpenGL with 8-bit RGB, preferably
// without alpha (the surface is opaque), and `depth` bits of depth or more
// (none at all when 0); null when there is none.
EGLConfig WindowConfig(EGLDisplay display, EGLint depth) {
    const EGLint want[] = {EGL_SURFACE_TYPE,
                           EGL_WINDOW_BIT,
                           EGL_RENDERABLE_TYPE,
                           EGL_OPENGL_BIT,
                           EGL_RED_SIZE,
                           8,
                           EGL_GREEN_SIZE,
                           8,
                           EGL_BLUE_SIZE,
                           8,
                           EGL_DEPTH_SIZE,
                           depth,
                           EGL_NONE};
    EGLConfig configs[64];
    EGLint count = 0;
    if (!eglChooseConfig(display, want, configs, 64, &count)) return nullptr;
    for (int pass = 0; pass < 2; ++pass) {
        for (EGLint i = 0; i < count; ++i) {
            EGLint r = 0, g = 0, b = 0, a = 0, z = 0;
            eglGetConfigAttrib(display, configs[i], EGL_RED_SIZE, &r);
            eglGetConfigAttrib(display, configs[i], EGL_GREEN_SIZE, &g);
            eglGetConfigAttrib(display, configs[i], EGL_BLUE_SIZE, &b);
            eglGetConfigAttrib(display, configs[i], EGL_ALPHA_SIZE, &a);
            eglGetConfigAttrib(display, configs[i], EGL_DEPTH_SIZE, &z);
            if (r == 8 && g == 8 && b == 8 && (pass == 1 || a == 0) && (depth > 0 || z == 0)) {
                return configs[i];
            }
        }
    }
    return nullptr;
}

// The connection's EGL display and a window configuration with a 24-bit
// depth buffer; where contexts need no configuration, also one without.
bool StartEgl(WaylandConnection* c, std::string* error) {
    if (c->eglDisplay != nullptr) return true;
    PinSoftwareDriver();
    auto getPlatformDisplay = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
        eglGetProcAddress("eglGetPlatformDisplayEXT"));
    EGLDisplay display = getPlatformDisplay != nullptr
                             ? getPlatformDisplay(EGL_PLATFORM_WAYLAND_KHR, c->display, nullptr)
                             : EGL_NO_DISPLAY;
    EGLint major = 0, minor = 0;
    if (display == EGL_NO_DISPLAY || !eglInitialize(display, &major, &minor)) {
        *error = _("no EGL display on the Wayland connection");
        return false;
    }
    if (!eglBindAPI(EGL_OPENGL_API)) {
        eglTerminate(display);
        *error = _("EGL cannot bind desktop OpenGL");
        return false;
    }
    const EGLConfig chosen = WindowConfig(display, 24);
    if (chosen == nullptr) {
        eglTerminate(display);
        *error = _("no EGL window configuration with 8-bit RGB and depth");
        return false;
    }
    c->eglDisplay = display;
    c->eglConfig = chosen;
    // Contexts without a configuration can move between surfaces of both.
    const char* extensions = eglQueryString(display, EGL_EXTENSIONS);
    if (extensions != nullptr && std::strstr(extensions, "EGL_KHR_no_config_context") != nullptr) {
        c->eglFlatConfig = WindowConfig(display, 0);
    }
    return true;
}

WaylandView::~WaylandView() {
    if (context != EGL_NO_CONTEXT && eglGetCurrentContext() == context) {
        eglMakeCurrent(connection->eglDisplay, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    }
    if (eglSurface != EGL_NO_SURFACE) eglDestroySurface(connection->eglDisplay, eglSurface);
    if (window != nullptr) wl_egl_window_destroy(window);
    if (context != EGL_NO_CONTEXT) {
        // The views after this one share objects with another that stays.
        if (connection->eglShareContext == context) {
            connection->eglShareContext = EGL_NO_CONTEXT;
            for (View* other : connection->views) {
                auto* w = static_cast<WaylandView*>(other);
                if (w != this && w->context != EGL_NO_CONTEXT) {
                    connection->eglShareContext = w->context;
                    break;
                }
            }
        }
        eglDestroyContext(connection->eglDisplay, context);
    }
    if (frame != nullptr) wl_callback_destroy(frame);
    EndSurfaceScale(&scale);
    if (layer != nullptr) zwlr_layer_surface_v1_destroy(layer);
    if (toplevel != nullptr) xdg_toplevel_destroy(toplevel);
    if (shellSurface != nullptr) xdg_surface_destroy(shellSurface);
    if (surface != nullptr) wl_surface_destroy(surface);
    std::erase(connection->views, this);
    wl_display_flush(connection->display);
}

// Gives the view's surface its role: a layer-shell surface on the overlay
// layer over all of `o`, taking the keyboard, else a full-screen toplevel
// on it.
void AssignRole(WaylandConnection* c, const OutputState& o, WaylandView* v) {
    if (c->layerShell != nullptr) {
        v->layer = zwlr_layer_shell_v1_get_layer_surface(
            c->layerShell, v->surface, o.output, ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY, "mereglass");
        zwlr_layer_surface_v1_add_listener(v->layer, &kLayerListener, v);
        zwlr_layer_surface_v1_set_anchor(
            v->layer, ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP | ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM |
                          ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT | ZWLR_LAYER_SURFACE_V1_ANCHOR_RIGHT);
        zwlr_layer_surface_v1_set_exclusive_zone(v->layer, -1);
        zwlr_layer_surface_v1_set_keyboard_interactivity(
            v->layer, ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_EXCLUSIVE);
    } else {
        v->shellSurface = xdg_wm_base_get_xdg_surface(c->wmBase, v->surface);
        xdg_surface_add_listener(v->shellSurface, &kShellListener, v);
        v->toplevel = xdg_surface_get_toplevel(v->shellSurface);
        xdg_toplevel_add_listener(v->toplevel, &kToplevelListener, v);
        xdg_toplevel_set_title(v->toplevel, "Mereglass");
        xdg_toplevel_set_app_id(v->toplevel, "mereglass");
        xdg_toplevel_set_fullscreen(v->toplevel, o.output);
    }
}

// Creates the view's surface at the output's scale, with its role, opaque,
// and commits it so the compositor sizes it.
void CreateSurface(WaylandConnection* c, const OutputState& o, WaylandView* v) {
    v->surface = wl_compositor_create_surface(c->compositor);
    StartSurfaceScale(c, v->surface, o.info.scale, &v->scale);
    v->scale.changed = [v] { v->Rescale(); };
    AssignRole(c, o, v);
    // The surface is opaque: the compositor need not draw what is under it.
    wl_region* opaque = wl_compositor_create_region(c->compositor);
    wl_region_add(opaque, 0, 0, INT32_MAX, INT32_MAX);
    wl_surface_set_opaque_region(v->surface, opaque);
    wl_region_destroy(opaque);
    wl_surface_commit(v->surface);
}

// Gives a sized view its wl_egl_window, EGL window surface and context
// (sharing objects with the connection's other views) and makes it
// current. False when EGL cannot.
bool StartDrawing(WaylandConnection* c, WaylandView* v) {
    auto* display = static_cast<EGLDisplay>(c->eglDisplay);
    auto* config = static_cast<EGLConfig>(c->eglConfig);
    v->window = wl_egl_window_create(v->surface, v->width, v->height);
    v->eglSurface =
        v->window != nullptr
            ? eglCreateWindowSurface(display, config,
                                     reinterpret_cast<EGLNativeWindowType>(v->window), nullptr)
            : EGL_NO_SURFACE;
    const EGLint attrs[] = {EGL_CONTEXT_OPENGL_PROFILE_MASK,
                            EGL_CONTEXT_OPENGL_COMPATIBILITY_PROFILE_BIT, EGL_NONE};
    v->surfaceConfig = config;
    v->context =
        v->eglSurface != EGL_NO_SURFACE
            ? eglCreateContext(display, c->eglFlatConfig != nullptr ? EGL_NO_CONFIG_KHR : config,
                               static_cast<EGLContext>(c->eglShareContext), attrs)
            : EGL_NO_CONTEXT;
    if (v->context == EGL_NO_CONTEXT || !v->MakeCurrent()) return false;
    if (c->eglShareContext == nullptr) c->eglShareContext = v->context;
    // Frames are paced by the frame callbacks, never inside a swap.
    eglSwapInterval(display, 0);
    return true;
}

}  // namespace

View* CreateWaylandView(WaylandConnection* c, uint32_t output, std::string* error) {
    OutputState* o = FindOutput(c, output);
    if (o == nullptr || !o->complete) {
        *error = _("the output is gone");
        return nullptr;
    }
    if (!StartEgl(c, error)) return nullptr;
    auto* v = new WaylandView;
    v->connection = c;
    v->output = output;
    c->views.push_back(v);
    CreateSurface(c, *o, v);
    if (!DispatchUntil(c, kConfigureSeconds, [v] { return v->configured || v->closed; }) ||
        v->closed) {
        *error = v->closed ? _("the compositor closed the surface at once")
                           : _("the compositor did not size the surface in time");
        delete v;
        return nullptr;
    }
    if (!StartDrawing(c, v)) {
        *error = _("no EGL window surface and context for the output");
        delete v;
        return nullptr;
    }
    return v;
}

bool WaylandViewReady(const View* view) {
    return static_cast<const WaylandView*>(view)->frame == nullptr;
}

uint32_t OutputOfView(const View* view) { return static_cast<const WaylandView*>(view)->output; }

uint32_t OutputOfSurface(const WaylandConnection* connection, const wl_surface* surface) {
    if (surface == nullptr) return 0;
    for (const View* view : connection->views) {
        const auto* v = static_cast<const WaylandView*>(view);
        if (v->surface == surface) return v->output;
    }
    return 0;
}

void ReleaseWaylandEgl(WaylandConnection* connection) {
    if (connection->eglDisplay == nullptr) return;
    eglMakeCurrent(connection->eglDisplay, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    eglTerminate(connection->eglDisplay);
    eglReleaseThread();
    connection->eglDisplay = nullptr;
    connection->eglConfig = nullptr;
    connection->eglFlatConfig = nullptr;
    connection->eglShareContext = nullptr;
}

}  // namespace platform
