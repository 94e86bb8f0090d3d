// FrameWriter: glReadPixels into a buffer made once, libpng out to a file
// synced and renamed into place once complete. Relies on OpenGL, libpng and
// the POSIX *at calls.
#include "host/frame_writer.h"

#include <GL/gl.h>
#include <fcntl.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include "support/diagnostics.h"
#include "support/translation.h"

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

// Opens the partial file `part` in the folder `folder` for writing: never
// through a link, never blocking (a named pipe with no reader would hold
// the render, a pipe with one would take the frame), and only a regular
// file. The descriptor, in blocking mode again; -1 with the reason, and
// *foreign set when something other than a regular file has that name.
int OpenPartialFile(int folder, const std::string& part, std::string* reason, bool* foreign) {
    const int fd = openat(folder, part.c_str(),
                          O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    struct stat st {};
    // A pipe without a reader refuses the open with ENXIO.
    *foreign =
        (fd < 0 && errno == ENXIO) || (fd >= 0 && fstat(fd, &st) == 0 && !S_ISREG(st.st_mode));
    const int flags = fd >= 0 && !*foreign ? fcntl(fd, F_GETFL) : -1;
    if (flags >= 0 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0) return fd;
    *reason = *foreign ? _("not a regular file") : std::strerror(errno);
    if (fd >= 0) close(fd);
    return -1;
}

}  // namespace

bool FrameWriter::WritePng(const std::string& path, std::string* error) {
    // Written under a name of its own and renamed once complete, so that a
    // frame file is whole or absent; a link in the way is not followed.
    // Both names are taken in a descriptor of the folder, so that a folder
    // whose own name nearly fills PATH_MAX still takes whole frame names.
    const size_t slash = path.rfind('/');
    const std::string folderName = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::string part = name + ".part";
    std::string reason;
    bool foreign = false;
    const int folder = open(folderName.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    const int fd = folder >= 0 ? OpenPartialFile(folder, part, &reason, &foreign) : -1;
    if (folder < 0) reason = std::strerror(errno);
    FILE* file = fd >= 0 ? fdopen(fd, "wb") : nullptr;
    if (fd >= 0 && file == nullptr) {
        reason = std::strerror(errno);
        close(fd);
    }
    if (file == nullptr) {
        // What has the partial file's name and is not one stays as it is.
        *error = DisplayName(foreign ? path + ".part" : path) + ": " + reason;
        if (folder >= 0) close(folder);
        return false;
    }
    bool ok = WriteRows(file, width_, height_, rows_.data(), &reason);
    // Flushed and synced before the rename: a frame that has its name after
    // a crash has its bytes too.
    if (ok && (std::fflush(file) != 0 || std::ferror(file) != 0 || fsync(fd) != 0)) {
        reason = std::strerror(errno);
        ok = false;
    }
    if (std::fclose(file) != 0 && ok) {
        reason = std::strerror(errno);
        ok = false;
    }
    if (ok && renameat(folder, part.c_str(), folder, name.c_str()) != 0) {
        reason = std::strerror(errno);
        ok = false;
    }
    if (!ok) {
        unlinkat(folder, part.c_str(), 0);
        *error = DisplayName(path) + ": " + reason;
    }
    close(folder);
    return ok;
}
