// FrameWriter: glReadPixels into a buffer made once, libpng out to a file
// renamed into place once complete. Relies on OpenGL, libpng and POSIX
// open and rename.
#include "app/frame_writer.h"

#include <GL/gl.h>
#include <fcntl.h>
#include <png.h>
#include <unistd.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include "support/diagnostics.h"

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

// libpng reports errors by longjmp; the message goes to the caller, with
// the system's reason when a write failed.
struct PngError {
    std::jmp_buf jump;
    char message[256];
    int systemError;
};

void OnPngError(png_structp png, png_const_charp message) {
    auto* error = static_cast<PngError*>(png_get_error_ptr(png));
    std::snprintf(error->message, sizeof error->message, "%s", message);
    std::longjmp(error->jump, 1);
}

void OnPngWarning(png_structp, png_const_charp) {}

void OnPngWrite(png_structp png, png_bytep data, size_t length) {
    if (std::fwrite(data, 1, length, static_cast<FILE*>(png_get_io_ptr(png))) != length) {
        static_cast<PngError*>(png_get_error_ptr(png))->systemError = errno;
        png_error(png, "write error");
    }
}

void OnPngFlush(png_structp png) { std::fflush(static_cast<FILE*>(png_get_io_ptr(png))); }

// Writes the rows as an RGB PNG into `file`. False, with the reason, when
// libpng or a write fails.
bool WriteRows(FILE* file, int width, int height, uint8_t* const* rows, std::string* reason) {
    PngError pngError{};
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, &pngError, OnPngError, OnPngWarning);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (png == nullptr || info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        *reason = "out of memory";
        return false;
    }
    // Locals that live across setjmp are not changed after it.
    if (setjmp(pngError.jump) != 0) {
        png_destroy_write_struct(&png, &info);
        *reason =
            pngError.systemError != 0 ? std::strerror(pngError.systemError) : pngError.message;
        return false;
    }
    png_set_write_fn(png, file, OnPngWrite, OnPngFlush);
    // Frames are written often: fast compression is worth the extra bytes.
    png_set_compression_level(png, 3);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_write_image(png, const_cast<png_bytepp>(rows));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

bool FrameWriter::WritePng(const std::string& path, std::string* error) {
    // Written under a name of its own and renamed once complete, so that a
    // frame file is whole or absent; a link in the way is not followed.
    const std::string part = path + ".part";
    const int fd = open(part.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
    FILE* file = fd >= 0 ? fdopen(fd, "wb") : nullptr;
    if (file == nullptr) {
        *error = DisplayName(path) + ": " + std::strerror(errno);
        if (fd >= 0) close(fd);
        return false;
    }
    std::string reason;
    bool ok = WriteRows(file, width_, height_, rows_.data(), &reason);
    if (ok && (std::fflush(file) != 0 || std::ferror(file) != 0)) {
        reason = std::strerror(errno);
        ok = false;
    }
    if (std::fclose(file) != 0 && ok) {
        reason = std::strerror(errno);
        ok = false;
    }
    if (ok && std::rename(part.c_str(), path.c_str()) != 0) {
        reason = std::strerror(errno);
        ok = false;
    }
    if (!ok) {
        unlink(part.c_str());
        *error = DisplayName(path) + ": " + reason;
    }
    return ok;
}
