// The platform services that need no display.
//
// Provides: ClockSeconds; HeadlessScreens, MainScreen, ScreenOfRectangle;
// CreateHeadlessView and the headless side of the View functions (EGL on
// Mesa's surfaceless platform, desktop OpenGL, compatibility profile, an
// 8-bit RGBA + 24-bit depth pbuffer); BundleResourcePath.
#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>
#include <dlfcn.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "platform/platform_internal.h"

#ifndef MEREGLASS_DATA_DIR
#define MEREGLASS_DATA_DIR "/usr/local/share/mereglass"
#endif

namespace platform {

double ClockSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// ---------------------------------------------------------------- screens

std::vector<ScreenInfo> HeadlessScreens(int width, int height) {
    ScreenInfo s;
    s.width = width;
    s.height = height;
    s.number = 1;
    s.primary = true;
    return {s};
}

ScreenInfo MainScreen(const std::vector<ScreenInfo>& screens) {
    for (const ScreenInfo& s : screens) {
        if (s.primary) return s;
    }
    return screens.empty() ? ScreenInfo{} : screens.front();
}

ScreenInfo ScreenOfRectangle(const std::vector<ScreenInfo>& screens, int x, int y, int width,
                             int height) {
    const long cx = x + width / 2;
    const long cy = y + height / 2;
    for (const ScreenInfo& s : screens) {
        if (cx >= s.x && cx < long{s.x} + s.width && cy >= s.y && cy < long{s.y} + s.height) {
            return s;
        }
    }
    long best = 0;
    const ScreenInfo* bestScreen = nullptr;
    for (const ScreenInfo& s : screens) {
        const long w = std::min<long>(long{x} + width, long{s.x} + s.width) - std::max(x, s.x);
        const long h = std::min<long>(long{y} + height, long{s.y} + s.height) - std::max(y, s.y);
        if (w > 0 && h > 0 && w * h > best) {
            best = w * h;
            bestScreen = &s;
        }
    }
    return bestScreen ? *bestScreen : MainScreen(screens);
}

// ---------------------------------------------------------------- EGL views

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

bool MakeSurface(View* view, int width, int height) {
    const EGLint attrs[] = {EGL_WIDTH, width, EGL_HEIGHT, height, EGL_NONE};
    EGLSurface surface = eglCreatePbufferSurface(view->eglDisplay, view->eglConfig, attrs);
    if (surface == EGL_NO_SURFACE) return false;
    if (!eglMakeCurrent(view->eglDisplay, surface, surface, view->eglContext)) {
        eglDestroySurface(view->eglDisplay, surface);
        return false;
    }
    if (view->eglSurface) eglDestroySurface(view->eglDisplay, view->eglSurface);
    view->eglSurface = surface;
    view->width = width;
    view->height = height;
    return true;
}

}  // namespace

View* CreateHeadlessView(int width, int height, std::string* error) {
    std::string reason;
    if (width <= 0 || height <= 0) {
        if (error) *error = "a headless view needs a size of at least 1 × 1";
        return nullptr;
    }
    EGLDisplay display = SurfacelessDisplay(&reason);
    if (display == EGL_NO_DISPLAY) {
        if (error) *error = reason;
        return nullptr;
    }
    if (!eglBindAPI(EGL_OPENGL_API)) {
        if (error) *error = "EGL cannot bind desktop OpenGL";
        return nullptr;
    }
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
    EGLConfig config = nullptr;
    if (eglChooseConfig(display, want, configs, 64, &count)) {
        // Deeper colour configurations come first: take exactly 8 bits each.
        for (EGLint i = 0; i < count && !config; ++i) {
            EGLint r = 0, g = 0, b = 0, a = 0;
            eglGetConfigAttrib(display, configs[i], EGL_RED_SIZE, &r);
            eglGetConfigAttrib(display, configs[i], EGL_GREEN_SIZE, &g);
            eglGetConfigAttrib(display, configs[i], EGL_BLUE_SIZE, &b);
            eglGetConfigAttrib(display, configs[i], EGL_ALPHA_SIZE, &a);
            if (r == 8 && g == 8 && b == 8 && a == 8) config = configs[i];
        }
    }
    if (!config) {
        if (error) *error = "no EGL configuration with 8-bit RGBA, depth and pbuffers";
        return nullptr;
    }
    const EGLint attrs[] = {EGL_CONTEXT_OPENGL_PROFILE_MASK,
                            EGL_CONTEXT_OPENGL_COMPATIBILITY_PROFILE_BIT, EGL_NONE};
    EGLContext context = eglCreateContext(display, config, EGL_NO_CONTEXT, attrs);
    if (context == EGL_NO_CONTEXT) {
        if (error) *error = "eglCreateContext failed";
        return nullptr;
    }
    auto* view = new View;
    view->headless = true;
    view->eglDisplay = display;
    view->eglConfig = config;
    view->eglContext = context;
    if (!MakeSurface(view, width, height)) {
        if (error) *error = "no offscreen buffer of that size";
        HeadlessDestroy(view);
        delete view;
        return nullptr;
    }
    return view;
}

bool HeadlessMakeCurrent(View* view) {
    return eglMakeCurrent(view->eglDisplay, view->eglSurface, view->eglSurface, view->eglContext) ==
           EGL_TRUE;
}

bool HeadlessResize(View* view, int width, int height) {
    if (width <= 0 || height <= 0) return false;
    return MakeSurface(view, width, height);
}

void HeadlessDestroy(View* view) {
    if (eglGetCurrentContext() == view->eglContext) {
        eglMakeCurrent(view->eglDisplay, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    }
    if (view->eglSurface) eglDestroySurface(view->eglDisplay, view->eglSurface);
    if (view->eglContext) eglDestroyContext(view->eglDisplay, view->eglContext);
    view->eglSurface = nullptr;
    view->eglContext = nullptr;
}

// ---------------------------------------------------------------- bundle

namespace {

bool IsFile(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

std::string BundleResourcePath(const char* name, const char* type) {
    const std::string file = std::string(name) + "." + type;
    char exe[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n > 0) {
        std::string dir(exe, static_cast<size_t>(n));
        dir.erase(dir.find_last_of('/') + 1);
        if (IsFile(dir + file)) return dir + file;
        // An installed tree that has moved since it was built: the program
        // lives in <prefix>/libexec/xscreensaver, the data in <prefix>/share.
        const std::string moved = dir + "../../share/mereglass/" + file;
        if (IsFile(moved)) return moved;
    }
    const std::string installed = std::string(MEREGLASS_DATA_DIR) + "/" + file;
    if (IsFile(installed)) return installed;
    return {};
}

}  // namespace platform
