// The state behind the platform's View handle, shared by the X11/GLX and
// the headless EGL backends. Private to src/platform/.
#pragma once

#include "platform/platform.h"

namespace platform {

struct View {
    bool headless = false;
    int width = 0;  // headless: the buffer's size
    int height = 0;

    // EGL (headless)
    void* eglDisplay = nullptr;
    void* eglConfig = nullptr;
    void* eglContext = nullptr;
    void* eglSurface = nullptr;

    // GLX (windows)
    Connection* connection = nullptr;
    WindowId window = 0;
    ViewKind kind = ViewKind::TopLevel;
    bool ownsWindow = false;
    bool doubleBuffered = false;
    unsigned long colormap = 0;  // created with the window, freed with it
    void* glxContext = nullptr;
};

// The headless backend's side of the View functions (platform_headless.cpp).
bool HeadlessMakeCurrent(View* view);
bool HeadlessResize(View* view, int width, int height);
void HeadlessDestroy(View* view);

// The Xlib display (a ::Display*) of a connection.
void* ConnectionDisplay(const Connection* connection);

// Keeps Mesa's software driver loaded for the life of the process.
void PinSoftwareDriver();

}  // namespace platform
