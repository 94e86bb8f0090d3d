// PNG and JPEG files through GdkPixbuf's loaders for those two formats
// alone, read from a descriptor that is checked to be a regular file, their
// kind and size checked from their header (image_header.cpp) before a
// loader sees them, and scaled down while they load.
//
// Provides: LoadImageFile, LoadImageFileWithin.
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <vector>

#include "platform/desktop/image_header.h"
#include "platform/platform.h"
#include "support/regular_file.h"
#include "support/translation.h"

namespace platform {

namespace {

// Image files larger than this are not read at all.
constexpr uint64_t kMaxImageBytes = uint64_t{1} << 30;
// The most pixels a loader is let make before it scales them down (at 4
// bytes a pixel, 1 GB); a larger picture is refused from its header.
constexpr uint64_t kMaxDecodedPixels = 250'000'000;

// The largest image the loader is asked for: at most maxWidth ×
// maxHeight pixels, each side scaled on its own (a picture stretched over
// the pool anyway) or both by one factor (keepAspect).
struct SizeLimit {
    int maxWidth;
    int maxHeight;
    bool keepAspect;
};

// The size a width × height picture is scaled to (each side at least 1).
void ScaledSize(const SizeLimit& limit, int64_t width, int64_t height, int64_t* w, int64_t* h) {
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

void OnSizePrepared(GdkPixbufLoader* loader, gint width, gint height, gpointer data) {
    const SizeLimit& limit = *static_cast<const SizeLimit*>(data);
    int64_t w = 0, h = 0;
    ScaledSize(limit, width, height, &w, &h);
    if (w != width || h != height) {
        gdk_pixbuf_loader_set_size(loader, static_cast<int>(w), static_cast<int>(h));
    }
}

// The size the loader decodes the picture of `header` at before it scales
// it to the limit: a PNG at its own size; a JPEG whose decoder works row
// by row at 1/8, 1/4 or 1/2 of it, the smallest of those not smaller than
// the scaled size (else at its own size).
void DecodedSize(const ImageHeader& header, const SizeLimit& limit, uint64_t* w, uint64_t* h) {
    *w = header.width;
    *h = header.height;
    if (header.kind != ImageKind::Jpeg || header.wholeImage) return;
    int64_t sw = 0, sh = 0;
    ScaledSize(limit, header.width, header.height, &sw, &sh);
    for (uint64_t d = 8; d > 1; d /= 2) {
        const uint64_t dw = (header.width + d - 1) / d, dh = (header.height + d - 1) / d;
        if (dw >= static_cast<uint64_t>(sw) && dh >= static_cast<uint64_t>(sh)) {
            *w = dw;
            *h = dh;
            return;
        }
    }
}

// Reads the header of the open file `fd`: true when it is a PNG or JPEG
// that decodes within the budget for `limit`, so that neither a loader for
// another format nor one that would make too many pixels is ever reached.
bool AcceptHeader(int fd, const SizeLimit& limit, ImageHeader* header, std::string* error) {
    if (!ReadImageHeader(fd, header, error)) return false;
    uint64_t w = 0, h = 0;
    DecodedSize(*header, limit, &w, &h);
    if (w * h <= kMaxDecodedPixels) return true;
    *error = Format(_("it would decode to %lld × %lld pixels, more than %lld million"),
                    static_cast<long long>(w), static_cast<long long>(h),
                    static_cast<long long>(kMaxDecodedPixels / 1'000'000));
    return false;
}

// Decodes the open file `fd` with GdkPixbuf's loader for `header`'s kind,
// which scales while it loads. The pixbuf (a reference the caller
// releases), or null with the reason in `error`.
GdkPixbuf* Decode(int fd, const ImageHeader& header, SizeLimit limit, std::string* error) {
    GError* gerror = nullptr;
    GdkPixbufLoader* loader =
        gdk_pixbuf_loader_new_with_type(header.kind == ImageKind::Png ? "png" : "jpeg", &gerror);
    if (loader == nullptr) {
        *error = gerror != nullptr ? gerror->message : _("this system cannot read such pictures");
        g_clear_error(&gerror);
        return nullptr;
    }
    g_signal_connect(loader, "size-prepared", G_CALLBACK(OnSizePrepared), &limit);
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

bool LoadImage(const char* path, SizeLimit limit, RgbaImage* image, std::string* error) {
    std::string reason;
    uint64_t size = 0;
    // Only a regular file is read: a pipe or a device would block or never
    // end.
    const int fd = OpenRegularFile(path, kMaxImageBytes, &size, &reason);
    if (fd < 0) {
        if (error) *error = reason;
        return false;
    }
    limit.maxWidth = std::max(1, limit.maxWidth);
    limit.maxHeight = std::max(1, limit.maxHeight);
    ImageHeader header;
    GdkPixbuf* loaded =
        AcceptHeader(fd, limit, &header, &reason) ? Decode(fd, header, limit, &reason) : nullptr;
    close(fd);
    if (!loaded) {
        if (error) *error = reason;
        return false;
    }
    // Photographs carry their orientation separately from their pixels.
    GdkPixbuf* pixbuf = gdk_pixbuf_apply_embedded_orientation(loaded);
    g_object_unref(loaded);
    if (!pixbuf) {
        if (error) *error = _("cannot read the image");
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
        if (error) *error = _("the image has a pixel format that cannot be used");
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

}  // namespace

bool LoadImageFile(const char* path, int maxSide, RgbaImage* image, std::string* error) {
    return LoadImage(path, SizeLimit{maxSide, maxSide, false}, image, error);
}

bool LoadImageFileWithin(const char* path, int maxWidth, int maxHeight, RgbaImage* image,
                         std::string* error) {
    return LoadImage(path, SizeLimit{maxWidth, maxHeight, true}, image, error);
}

}  // namespace platform
