// Reads of the desktop's pixels: the screenshot a screen-saver daemon
// leaves on its window, and rectangles of the root window. Relies on Xlib.
//
// Provides: ReadScreenshotProperty, ReadRootRectangle.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>

#include "platform/x11/x11_connection.h"

namespace platform {

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
