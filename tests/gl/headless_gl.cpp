// Headless OpenGL for tests: EGL surfaceless platform + pbuffer.
#include "headless_gl.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

namespace {

// Terminating EGL unloads Mesa's driver, which leaves LeakSanitizer with
// leaks it cannot attribute. Keeping the driver loaded for the whole
// process avoids that; the display is never terminated.
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

EGLDisplay SoftwareDisplay(std::string& error) {
    // Never pick up a GPU, never write a shader cache into the home folder.
    setenv("LIBGL_ALWAYS_SOFTWARE", "1", 0);
    setenv("MESA_SHADER_CACHE_DISABLE", "true", 0);
    PinSoftwareDriver();

    static EGLDisplay display = EGL_NO_DISPLAY;
    if (display != EGL_NO_DISPLAY) return display;

    auto getPlatformDisplay = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
        eglGetProcAddress("eglGetPlatformDisplayEXT"));
    if (!getPlatformDisplay) {
        error = "eglGetPlatformDisplayEXT is missing";
        return EGL_NO_DISPLAY;
    }
    EGLDisplay d = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    if (d == EGL_NO_DISPLAY) {
        error = "no surfaceless EGL display";
        return EGL_NO_DISPLAY;
    }
    EGLint major = 0, minor = 0;
    if (!eglInitialize(d, &major, &minor)) {
        error = "eglInitialize failed";
        return EGL_NO_DISPLAY;
    }
    display = d;
    return display;
}

}  // namespace

HeadlessGL::HeadlessGL(int width, int height) {
    EGLDisplay display = SoftwareDisplay(error_);
    if (display == EGL_NO_DISPLAY) return;
    display_ = display;

    if (!eglBindAPI(EGL_OPENGL_API)) {
        error_ = "eglBindAPI(EGL_OPENGL_API) failed";
        return;
    }
    const EGLint want[] = {EGL_SURFACE_TYPE, EGL_PBUFFER_BIT, EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT,
                           EGL_RED_SIZE, 8, EGL_GREEN_SIZE, 8, EGL_BLUE_SIZE, 8, EGL_ALPHA_SIZE, 8,
                           EGL_DEPTH_SIZE, 24, EGL_NONE};
    EGLConfig configs[64];
    EGLint count = 0;
    if (!eglChooseConfig(display, want, configs, 64, &count) || count == 0) {
        error_ = "no EGL config with 8-bit RGBA, depth and pbuffers";
        return;
    }
    // Deeper colour configs come first; take one with exactly 8 bits each.
    for (EGLint i = 0; i < count && !config_; ++i) {
        EGLint r, g, b, a;
        eglGetConfigAttrib(display, configs[i], EGL_RED_SIZE, &r);
        eglGetConfigAttrib(display, configs[i], EGL_GREEN_SIZE, &g);
        eglGetConfigAttrib(display, configs[i], EGL_BLUE_SIZE, &b);
        eglGetConfigAttrib(display, configs[i], EGL_ALPHA_SIZE, &a);
        if (r == 8 && g == 8 && b == 8 && a == 8) config_ = configs[i];
    }
    if (!config_) {
        error_ = "no EGL config with exactly 8 bits per channel";
        return;
    }
    const EGLint attrs[] = {EGL_CONTEXT_OPENGL_PROFILE_MASK,
                            EGL_CONTEXT_OPENGL_COMPATIBILITY_PROFILE_BIT, EGL_NONE};
    EGLContext context = eglCreateContext(display, config_, EGL_NO_CONTEXT, attrs);
    if (context == EGL_NO_CONTEXT) {
        error_ = "eglCreateContext failed";
        return;
    }
    context_ = context;
    ok_ = MakeSurface(width, height);
}

HeadlessGL::~HeadlessGL() {
    if (!display_) return;
    eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    if (surface_) eglDestroySurface(display_, surface_);
    if (context_) eglDestroyContext(display_, context_);
}

bool HeadlessGL::MakeSurface(int width, int height) {
    const EGLint attrs[] = {EGL_WIDTH, width, EGL_HEIGHT, height, EGL_NONE};
    EGLSurface surface = eglCreatePbufferSurface(display_, config_, attrs);
    if (surface == EGL_NO_SURFACE) {
        error_ = "eglCreatePbufferSurface failed";
        return false;
    }
    if (!eglMakeCurrent(display_, surface, surface, context_)) {
        eglDestroySurface(display_, surface);
        error_ = "eglMakeCurrent failed";
        return false;
    }
    if (surface_) eglDestroySurface(display_, surface_);
    surface_ = surface;
    width_ = width;
    height_ = height;
    glViewport(0, 0, width, height);
    return true;
}

bool HeadlessGL::Resize(int width, int height) {
    if (!context_) return false;
    return MakeSurface(width, height);
}

void HeadlessGL::MakeCurrent() {
    if (context_) eglMakeCurrent(display_, surface_, surface_, context_);
}

std::vector<uint8_t> HeadlessGL::ReadPixels() const {
    std::vector<uint8_t> pixels(static_cast<size_t>(width_) * height_ * 4);
    glFinish();
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width_, height_, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    return pixels;
}

uint32_t HeadlessGL::PixelAt(const std::vector<uint8_t>& pixels, int x, int y) const {
    const size_t i = (static_cast<size_t>(y) * width_ + x) * 4;
    return (uint32_t{pixels[i]} << 24) | (uint32_t{pixels[i + 1]} << 16) |
           (uint32_t{pixels[i + 2]} << 8) | pixels[i + 3];
}

bool HeadlessGL::WritePPM(const std::string& path, const std::vector<uint8_t>& rgba, int width,
                          int height) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    std::fprintf(f, "P6\n%d %d\n255\n", width, height);
    for (int y = height - 1; y >= 0; --y) {
        for (int x = 0; x < width; ++x) {
            std::fwrite(&rgba[(static_cast<size_t>(y) * width + x) * 4], 1, 3, f);
        }
    }
    return std::fclose(f) == 0;
}
