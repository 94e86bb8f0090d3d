// Decoding an accepted picture file with GdkPixbuf's loader for its kind,
// scaled while it loads, into an RGBA image.
//
// Provides: ScaledSize, DecodeImage.
#include "platform/desktop/image_decode.h"

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

void OnSizePrepared(GdkPixbufLoader* loader, gint width, gint height, gpointer data) {
    const ImageLimit& limit = *static_cast<const ImageLimit*>(data);
    int64_t w = 0, h = 0;
    ScaledSize(limit, width, height, &w, &h);
    if (w != width || h != height) {
        gdk_pixbuf_loader_set_size(loader, static_cast<int>(w), static_cast<int>(h));
    }
}

// Decodes the open file `fd` with GdkPixbuf's loader for `header`'s kind,
// which scales while it loads. The pixbuf (a reference the caller
// releases), or null with the reason in `error`.
GdkPixbuf* Decode(int fd, const ImageHeader& header, const ImageLimit& limit, std::string* error) {
    GError* gerror = nullptr;
    GdkPixbufLoader* loader =
        gdk_pixbuf_loader_new_with_type(header.kind == ImageKind::Png ? "png" : "jpeg", &gerror);
    if (loader == nullptr) {
        *error = gerror != nullptr ? gerror->message : _("this system cannot read such pictures");
        g_clear_error(&gerror);
        return nullptr;
    }
    g_signal_connect(loader, "size-prepared", G_CALLBACK(OnSizePrepared),
                     const_cast<ImageLimit*>(&limit));
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
        if (!gdk_pixbuf_loader_write(loader, chunk.data(), static_cast<gsize>(n), &gerror)) {
            ok = false;
            break;
        }
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

bool DecodeImage(int fd, const ImageHeader& header, const ImageLimit& limit, RgbaImage* image,
                 std::string* error) {
    GdkPixbuf* loaded = Decode(fd, header, limit, error);
    if (!loaded) return false;
    // Photographs carry their orientation separately from their pixels.
    GdkPixbuf* pixbuf = gdk_pixbuf_apply_embedded_orientation(loaded);
    g_object_unref(loaded);
    if (!pixbuf) {
        *error = _("cannot read the image");
        return false;
    }

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
    image->width = w;
    image->height = h;
    image->pixels.assign(static_cast<size_t>(w) * static_cast<size_t>(h) * 4, 0);
    const guchar* data = gdk_pixbuf_read_pixels(pixbuf);
    for (int row = 0; row < h; ++row) {
        const guchar* in = data + static_cast<size_t>(row) * static_cast<size_t>(stride);
        uint8_t* out = &image->pixels[static_cast<size_t>(h - 1 - row) * w * 4];
        for (int col = 0; col < w; ++col, in += channels, out += 4) {
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
