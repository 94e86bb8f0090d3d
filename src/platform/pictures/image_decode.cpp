// Decoding an accepted picture file with GdkPixbuf's loader for its kind,
// scaled while it loads and checked against its header's size, into an
// RGBA image turned upright.
//
// Provides: ScaledSize, StoredLimit, DecodeImage.
#include "platform/pictures/image_decode.h"

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <vector>

#include "support/translation.h"

namespace platform {

namespace {

// What the loader's size-prepared handler works with.
struct Sizing {
    const ImageHeader& header;
    ImageLimit limit;  // for the picture as stored
    int width = 0;     // the loader's own size, when it differs from the header's
    int height = 0;
};

// Scales the picture to the limit, or, when the loader's size is not the
// header's, has it decode nothing (a size of 0 is an error to it).
void OnSizePrepared(GdkPixbufLoader* loader, gint width, gint height, gpointer data) {
    auto* sizing = static_cast<Sizing*>(data);
    if (static_cast<uint32_t>(width) != sizing->header.width ||
        static_cast<uint32_t>(height) != sizing->header.height) {
        sizing->width = width;
        sizing->height = height;
        gdk_pixbuf_loader_set_size(loader, 0, 0);
        return;
    }
    int64_t w = 0, h = 0;
    ScaledSize(sizing->limit, width, height, &w, &h);
    if (w != width || h != height) {
        gdk_pixbuf_loader_set_size(loader, static_cast<int>(w), static_cast<int>(h));
    }
}

// Where the stored pixel (x, y) of a w × h picture goes in the picture
// turned upright by EXIF `orientation`.
void Upright(int orientation, int w, int h, int x, int y, int* ux, int* uy) {
    switch (orientation) {
        case 2:
            *ux = w - 1 - x;
            *uy = y;
            break;
        case 3:
            *ux = w - 1 - x;
            *uy = h - 1 - y;
            break;
        case 4:
            *ux = x;
            *uy = h - 1 - y;
            break;
        case 5:
            *ux = y;
            *uy = x;
            break;
        case 6:
            *ux = h - 1 - y;
            *uy = x;
            break;
        case 7:
            *ux = h - 1 - y;
            *uy = w - 1 - x;
            break;
        case 8:
            *ux = y;
            *uy = w - 1 - x;
            break;
        default:
            *ux = x;
            *uy = y;
            break;
    }
}

// Decodes the open file `fd` with GdkPixbuf's loader for `header`'s kind,
// which scales while it loads. The pixbuf (a reference the caller
// releases), or null with the reason in `error`.
GdkPixbuf* Decode(int fd, const ImageHeader& header, const ImageLimit& limit, std::string* error) {
    Sizing sizing{header, StoredLimit(limit, header)};
    GError* gerror = nullptr;
    GdkPixbufLoader* loader =
        gdk_pixbuf_loader_new_with_type(header.kind == ImageKind::Png ? "png" : "jpeg", &gerror);
    if (loader == nullptr) {
        *error = gerror != nullptr ? gerror->message : _("this system cannot read such pictures");
        g_clear_error(&gerror);
        return nullptr;
    }
    g_signal_connect(loader, "size-prepared", G_CALLBACK(OnSizePrepared), &sizing);
    bool ok = true;
    std::vector<guchar> chunk(1 << 16);
    for (;;) {
        const ssize_t n = read(fd, chunk.data(), chunk.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            *error = std::strerror(errno);
            ok = false;
            break;
        }
        if (n == 0) break;
        if (!gdk_pixbuf_loader_write(loader, chunk.data(), static_cast<gsize>(n), &gerror) ||
            sizing.width != 0) {
            ok = false;
            break;
        }
    }
    if (sizing.width != 0) {
        *error = Format(_("its size changed while it was read: %d × %d pixels, not %u × %u"),
                        sizing.width, sizing.height, header.width, header.height);
    }
    // Closing finishes the image, and must happen even after a failure.
    if (!gdk_pixbuf_loader_close(loader, ok && !gerror ? &gerror : nullptr)) ok = false;
    GdkPixbuf* pixbuf = ok ? gdk_pixbuf_loader_get_pixbuf(loader) : nullptr;
    if (pixbuf) g_object_ref(pixbuf);
    if (!pixbuf && error->empty()) {
        *error = gerror ? gerror->message : _("the file holds no image this program can read");
    }
    g_clear_error(&gerror);
    g_object_unref(loader);
    return pixbuf;
}

}  // namespace

void ScaledSize(const ImageLimit& limit, int64_t width, int64_t height, int64_t* w, int64_t* h) {
    *w = width;
    *h = height;
    if (width <= limit.maxWidth && height <= limit.maxHeight) return;
    if (!limit.keepAspect) {
        *w = std::min<int64_t>(width, limit.maxWidth);
        *h = std::min<int64_t>(height, limit.maxHeight);
        return;
    }
    const double scale =
        std::min(static_cast<double>(limit.maxWidth) / static_cast<double>(width),
                 static_cast<double>(limit.maxHeight) / static_cast<double>(height));
    *w = std::max<int64_t>(1, std::llround(static_cast<double>(width) * scale));
    *h = std::max<int64_t>(1, std::llround(static_cast<double>(height) * scale));
}

ImageLimit StoredLimit(const ImageLimit& limit, const ImageHeader& header) {
    if (header.orientation < 5) return limit;
    return {limit.maxHeight, limit.maxWidth, limit.keepAspect};
}

bool DecodeImage(int fd, const ImageHeader& header, const ImageLimit& limit, RgbaImage* image,
                 std::string* error) {
    GdkPixbuf* pixbuf = Decode(fd, header, limit, error);
    if (!pixbuf) return false;

    const int w = gdk_pixbuf_get_width(pixbuf);
    const int h = gdk_pixbuf_get_height(pixbuf);
    const int channels = gdk_pixbuf_get_n_channels(pixbuf);
    const int stride = gdk_pixbuf_get_rowstride(pixbuf);
    const bool alpha = gdk_pixbuf_get_has_alpha(pixbuf);
    const bool usable = gdk_pixbuf_get_colorspace(pixbuf) == GDK_COLORSPACE_RGB &&
                        gdk_pixbuf_get_bits_per_sample(pixbuf) == 8 &&
                        (channels == 3 || channels == 4) && w > 0 && h > 0 &&
                        static_cast<size_t>(w) <= SIZE_MAX / 4 / static_cast<size_t>(h);
    if (!usable) {
        g_object_unref(pixbuf);
        *error = _("the image has a pixel format that cannot be used");
        return false;
    }
    // Photographs carry their orientation beside their pixels: each pixel
    // goes straight to its place in the upright picture.
    const bool turned = header.orientation >= 5;
    image->width = turned ? h : w;
    image->height = turned ? w : h;
    image->pixels.assign(static_cast<size_t>(w) * static_cast<size_t>(h) * 4, 0);
    const guchar* data = gdk_pixbuf_read_pixels(pixbuf);
    for (int row = 0; row < h; ++row) {
        const guchar* in = data + static_cast<size_t>(row) * static_cast<size_t>(stride);
        for (int col = 0; col < w; ++col, in += channels) {
            int x = 0, y = 0;
            Upright(header.orientation, w, h, col, row, &x, &y);
            uint8_t* out =
                &image->pixels[(static_cast<size_t>(image->height - 1 - y) * image->width + x) * 4];
            out[0] = in[0];
            out[1] = in[1];
            out[2] = in[2];
            out[3] = alpha ? in[3] : 255;
        }
    }
    g_object_unref(pixbuf);
    return true;
}

}  // namespace platform
