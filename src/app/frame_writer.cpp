// FrameWriter: glReadPixels into a buffer made once, libpng out. Relies on
// OpenGL and libpng.
#include "app/frame_writer.h"

#include <GL/gl.h>
#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>

FrameWriter::FrameWriter(int width, int height)
    : width_(width),
      height_(height),
      pixels_(static_cast<size_t>(width) * static_cast<size_t>(height) * 3u),
      rows_(static_cast<size_t>(height)) {
    const size_t stride = static_cast<size_t>(width) * 3u;
    for (int y = 0; y < height; ++y) {
        rows_[static_cast<size_t>(y)] =
            pixels_.data() + stride * static_cast<size_t>(height - 1 - y);
    }
}

void FrameWriter::ReadFrame() {
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width_, height_, GL_RGB, GL_UNSIGNED_BYTE, pixels_.data());
}

namespace {

// libpng reports errors by longjmp; the message goes to the caller.
struct PngError {
    std::jmp_buf jump;
    char message[256];
};

void OnPngError(png_structp png, png_const_charp message) {
    auto* error = static_cast<PngError*>(png_get_error_ptr(png));
    std::snprintf(error->message, sizeof error->message, "%s", message);
    std::longjmp(error->jump, 1);
}

void OnPngWarning(png_structp, png_const_charp) {}

}  // namespace

bool FrameWriter::WritePng(const std::string& path, std::string* error) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        *error = path + ": " + std::strerror(errno);
        return false;
    }
    PngError pngError{};
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, &pngError, OnPngError, OnPngWarning);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (png == nullptr || info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        std::fclose(file);
        *error = path + ": out of memory";
        return false;
    }
    // Locals that live across setjmp are not changed after it.
    if (setjmp(pngError.jump) != 0) {
        png_destroy_write_struct(&png, &info);
        std::fclose(file);
        *error = path + ": " + pngError.message;
        return false;
    }
    png_init_io(png, file);
    // Frames are written often: fast compression is worth the extra bytes.
    png_set_compression_level(png, 3);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width_), static_cast<png_uint_32>(height_), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_write_image(png, rows_.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    if (std::fclose(file) != 0) {
        *error = path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}
