// Image files through GdkPixbuf (PNG, JPEG and the other formats it knows),
// read from a descriptor that is checked to be a regular file and scaled
// down while they load.
//
// Provides: LoadImageFile, LoadImageFileWithin.
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <vector>

#include "platform/platform.h"
#include "support/regular_file.h"

namespace platform {

namespace {

// Image files larger than this are not read at all.
constexpr uint64_t kMaxImageBytes = uint64_t{1} << 30;

// The largest image the loader is asked for: at most maxWidth ×
// maxHeight pixels, each side scaled on its own (a picture stretched over
// the pool anyway) or both by one factor (keepAspect).
struct SizeLimit {
    int maxWidth;
    int maxHeight;
    bool keepAspect;
};

void OnSizePrepared(GdkPixbufLoader* loader, gint width, gint height, gpointer data) {
    const SizeLimit& limit = *static_cast<const SizeLimit*>(data);
    if (width <= limit.maxWidth && height <= limit.maxHeight) return;
    if (!limit.keepAspect) {
        gdk_pixbuf_loader_set_size(loader, width > limit.maxWidth ? limit.maxWidth : width,
                                   height > limit.maxHeight ? limit.maxHeight : height);
        return;
    }
    const double scale = std::min(static_cast<double>(limit.maxWidth) / width,
                                  static_cast<double>(limit.maxHeight) / height);
    gdk_pixbuf_loader_set_size(loader, std::max(1, static_cast<int>(std::lround(width * scale))),
                               std::max(1, static_cast<int>(std::lround(height * scale))));
}

// Decodes the open file `fd` with a GdkPixbuf loader that scales while it
// loads. The pixbuf (a reference the caller releases), or null with the
// reason in `error`.
GdkPixbuf* Decode(int fd, SizeLimit limit, std::string* error) {
    GdkPixbufLoader* loader = gdk_pixbuf_loader_new();
    g_signal_connect(loader, "size-prepared", G_CALLBACK(OnSizePrepared), &limit);
    GError* gerror = nullptr;
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
        *error = gerror ? gerror->message : "the file holds no image this program can read";
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
    GdkPixbuf* loaded = Decode(fd, limit, &reason);
    close(fd);
    if (!loaded) {
        if (error) *error = reason;
        return false;
    }
    // Photographs carry their orientation separately from their pixels.
    GdkPixbuf* pixbuf = gdk_pixbuf_apply_embedded_orientation(loaded);
    g_object_unref(loaded);
    if (!pixbuf) {
        if (error) *error = "cannot read the image";
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
        if (error) *error = "the image has a pixel format that cannot be used";
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
