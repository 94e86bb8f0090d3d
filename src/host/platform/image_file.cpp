// Image files through GdkPixbuf (PNG, JPEG and the other formats it knows).
//
// Provides: LoadImageFile.
#include <gdk-pixbuf/gdk-pixbuf.h>

#include <cstring>

#include "host/platform/platform.h"

namespace platform {

bool LoadImageFile(const char* path, RgbaImage* image, std::string* error) {
    GError* gerror = nullptr;
    GdkPixbuf* loaded = gdk_pixbuf_new_from_file(path, &gerror);
    if (!loaded) {
        if (error) *error = gerror ? gerror->message : "cannot read the image";
        g_clear_error(&gerror);
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

}  // namespace platform
