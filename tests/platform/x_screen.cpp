// Screenshots, the painted desktop and polling for whole-program tests.
#include "x_screen.h"

#include <X11/Xutil.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>

Shot Screenshot(Display* display, Window window, int x, int y, int w, int h) {
    Shot shot;
    // A window that went (or is not mapped) cannot be read: an error that
    // the test sees as an empty shot, not one that ends it.
    XSync(display, False);
    const XErrorHandler previous = XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    XImage* image = XGetImage(display, window, x, y, static_cast<unsigned>(w),
                              static_cast<unsigned>(h), AllPlanes, ZPixmap);
    XSync(display, False);
    XSetErrorHandler(previous);
    if (image == nullptr) return shot;
    shot.width = w;
    shot.height = h;
    shot.pixels.reserve(static_cast<size_t>(w) * static_cast<size_t>(h));
    for (int yy = 0; yy < h; ++yy) {
        for (int xx = 0; xx < w; ++xx) {
            const unsigned long p = XGetPixel(image, xx, yy);
            shot.pixels.push_back(Rgb{static_cast<int>((p >> 16) & 0xff),
                                      static_cast<int>((p >> 8) & 0xff),
                                      static_cast<int>(p & 0xff)});
        }
    }
    XDestroyImage(image);
    return shot;
}

int Differing(const Shot& a, const Shot& b) {
    int n = 0;
    for (size_t i = 0; i < a.pixels.size() && i < b.pixels.size(); ++i) {
        const Rgb& p = a.pixels[i];
        const Rgb& q = b.pixels[i];
        if (std::abs(p.r - q.r) + std::abs(p.g - q.g) + std::abs(p.b - q.b) > 24) ++n;
    }
    return n;
}

bool Reddish(const Rgb& p) { return p.r > 40 && p.r > 2 * p.b && p.r > 2 * p.g; }
bool Bluish(const Rgb& p) { return p.b > 40 && p.b > 2 * p.r && p.b > 2 * p.g; }
bool Black(const Rgb& p) { return p.r < 8 && p.g < 8 && p.b < 8; }

void PaintDesktop(Display* display, int width, int height) {
    const Window root = DefaultRootWindow(display);
    const int screen = DefaultScreen(display);
    Pixmap pixmap =
        XCreatePixmap(display, root, static_cast<unsigned>(width), static_cast<unsigned>(height),
                      static_cast<unsigned>(DefaultDepth(display, screen)));
    GC gc = XCreateGC(display, pixmap, 0, nullptr);
    constexpr int kCell = 10;
    for (int y = 0; y < height; y += kCell) {
        for (int x = 0; x < width; x += kCell) {
            const unsigned long level = ((x + y) / kCell) % 2 == 0 ? 0xff : 0x90;
            XSetForeground(display, gc, x < width / 2 ? level << 16 : level);
            XFillRectangle(display, pixmap, gc, x, y, kCell, kCell);
        }
    }
    XSetWindowBackgroundPixmap(display, root, pixmap);
    XClearWindow(display, root);
    XFreeGC(display, gc);
    XFreePixmap(display, pixmap);
    XSync(display, False);
}

double Now() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

bool EventuallyPoll(bool (*call)(void*), void* context, double seconds) {
    const double end = Now() + seconds;
    for (;;) {
        if (call(context)) return true;
        if (Now() >= end) return false;
        usleep(50000);
    }
}
