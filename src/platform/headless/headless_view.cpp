// The headless backend's port of View: EGL on Mesa's surfaceless platform,
// desktop OpenGL, compatibility profile, drawing into an 8-bit RGBA pbuffer
// with a 24-bit depth buffer. Needs no display. Relies on EGL, OpenGL and
// dlopen.
//
// Provides: CreateHeadlessView; PinSoftwareDriver (platform_internal.h).
#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>
#include <dlfcn.h>

#include "platform/platform_internal.h"
#include "platform/view_port.h"

namespace platform {

// Unloading Mesa's driver when EGL or GLX lets go of it leaves leaks that
// LeakSanitizer cannot attribute; the driver stays loaded for the process.
void PinSoftwareDriver() {
    static const bool pinned = [] {
        const char* paths[] = {"/usr/lib/x86_64-linux-gnu/dri/swrast_dri.so",
                               "/usr/lib/aarch64-linux-gnu/dri/swrast_dri.so", "swrast_dri.so"};
        for (const char* p : paths) {
            if (dlopen(p, RTLD_NOW | RTLD_NODELETE | RTLD_GLOBAL)) return true;
        }
        return false;
    }();
    (void)pinned;
}

namespace {

// The surfaceless display, initialised once and never terminated.
EGLDisplay SurfacelessDisplay(std::string* error) {
    static EGLDisplay display = EGL_NO_DISPLAY;
    if (display != EGL_NO_DISPLAY) return display;
    PinSoftwareDriver();
    auto getPlatformDisplay = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
        eglGetProcAddress("eglGetPlatformDisplayEXT"));
    if (!getPlatformDisplay) {
        *error = "EGL has no eglGetPlatformDisplayEXT";
        return EGL_NO_DISPLAY;
    }
    EGLDisplay d = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    EGLint major = 0, minor = 0;
    if (d == EGL_NO_DISPLAY || !eglInitialize(d, &major, &minor)) {
        *error = "no surfaceless EGL display (Mesa's EGL is needed)";
        return EGL_NO_DISPLAY;
    }
    display = d;
    return display;
}

// An EGL context drawing into a pbuffer of the surfaceless display.
struct HeadlessView final : View {
    EGLDisplay display = EGL_NO_DISPLAY;
    EGLConfig config = nullptr;
    EGLContext context = EGL_NO_CONTEXT;
    EGLSurface surface = EGL_NO_SURFACE;
    int width = 0;  // the buffer's size
    int height = 0;

    ~HeadlessView() override {
        if (context == EGL_NO_CONTEXT) return;
        if (eglGetCurrentContext() == context) {
            eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        }
        if (surface != EGL_NO_SURFACE) eglDestroySurface(display, surface);
        eglDestroyContext(display, context);
    }

    // Replaces the buffer with one of the given size and makes it current.
    bool MakeSurface(int w, int h) {
        const EGLint attrs[] = {EGL_WIDTH, w, EGL_HEIGHT, h, EGL_NONE};
        EGLSurface made = eglCreatePbufferSurface(display, config, attrs);
        if (made == EGL_NO_SURFACE) return false;
        if (!eglMakeCurrent(display, made, made, context)) {
            eglDestroySurface(display, made);
            return false;
        }
        if (surface != EGL_NO_SURFACE) eglDestroySurface(display, surface);
        surface = made;
        width = w;
        height = h;
        return true;
    }

    bool MakeCurrent() override {
        return eglMakeCurrent(display, surface, surface, context) == EGL_TRUE;
    }
    void Show() override {}
    bool Resize(int w, int h) override { return w > 0 && h > 0 && MakeSurface(w, h); }
    void Size(int* w, int* h) override {
        *w = width;
        *h = height;
    }
    void Present() override { glFlush(); }
};

// The configuration with exactly 8 bits of each colour, a depth buffer and
// pbuffers for desktop OpenGL; null when there is none.
EGLConfig ChooseConfig(EGLDisplay display) {
    const EGLint want[] = {EGL_SURFACE_TYPE,
                           EGL_PBUFFER_BIT,
                           EGL_RENDERABLE_TYPE,
                           EGL_OPENGL_BIT,
                           EGL_RED_SIZE,
                           8,
                           EGL_GREEN_SIZE,
                           8,
                           EGL_BLUE_SIZE,
                           8,
                           EGL_ALPHA_SIZE,
                           8,
                           EGL_DEPTH_SIZE,
                           24,
                           EGL_NONE};
    EGLConfig configs[64];
    EGLint count = 0;
    if (!eglChooseConfig(display, want, configs, 64, &count)) return nullptr;
    // Deeper colour configurations come first: take exactly 8 bits each.
    for (EGLint i = 0; i < count; ++i) {
        EGLint r = 0, g = 0, b = 0, a = 0;
        eglGetConfigAttrib(display, configs[i], EGL_RED_SIZE, &r);
        eglGetConfigAttrib(display, configs[i], EGL_GREEN_SIZE, &g);
        eglGetConfigAttrib(display, configs[i], EGL_BLUE_SIZE, &b);
        eglGetConfigAttrib(display, configs[i], EGL_ALPHA_SIZE, &a);
        if (r == 8 && g == 8 && b == 8 && a == 8) return configs[i];
    }
    return nullptr;
}

// The headless view's display, configuration and context; false with the
// reason when one of them cannot be had.
bool MakeContext(HeadlessView* view, std::string* reason) {
    view->display = SurfacelessDisplay(reason);
    if (view->display == EGL_NO_DISPLAY) return false;
    if (!eglBindAPI(EGL_OPENGL_API)) {
        *reason = "EGL cannot bind desktop OpenGL";
        return false;
    }
    view->config = ChooseConfig(view->display);
    if (!view->config) {
        *reason = "no EGL configuration with 8-bit RGBA, depth and pbuffers";
        return false;
    }
    const EGLint attrs[] = {EGL_CONTEXT_OPENGL_PROFILE_MASK,
                            EGL_CONTEXT_OPENGL_COMPATIBILITY_PROFILE_BIT, EGL_NONE};
    view->context = eglCreateContext(view->display, view->config, EGL_NO_CONTEXT, attrs);
    if (view->context == EGL_NO_CONTEXT) {
        *reason = "eglCreateContext failed";
        return false;
    }
    return true;
}

}  // namespace

View* CreateHeadlessView(int width, int height, std::string* error) {
    std::string reason;
    if (width <= 0 || height <= 0) {
        if (error) *error = "a headless view needs a size of at least 1 × 1";
        return nullptr;
    }
    auto* view = new HeadlessView;
    if (!MakeContext(view, &reason)) {
        if (error) *error = reason;
        delete view;
        return nullptr;
    }
    if (!view->MakeSurface(width, height)) {
        if (error) *error = "no offscreen buffer of that size";
        delete view;
        return nullptr;
    }
    return view;
}

}  // namespace platform
