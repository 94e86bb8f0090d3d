// Opening and reading regular files without blocking on anything else.
#include "support/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "support/translation.h"

int OpenRegularFile(const char* path, uint64_t maxBytes, uint64_t* size, std::string* error,
                    bool* absent) {
    if (absent) *absent = false;
    // Without O_NONBLOCK, opening a named pipe waits for a writer.
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (absent) *absent = errno == ENOENT || errno == ENOTDIR;
        *error = std::strerror(errno);
        return -1;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        *error = std::strerror(errno);
        close(fd);
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        *error = S_ISDIR(st.st_mode) ? _("a folder, not a file") : _("not a regular file");
        close(fd);
        return -1;
    }
    if (static_cast<uint64_t>(st.st_size) > maxBytes) {
        *error = "larger than " + std::to_string(maxBytes) + " bytes";
        close(fd);
        return -1;
    }
    const int flags = fcntl(fd, F_GETFL);
    if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    *size = static_cast<uint64_t>(st.st_size);
    return fd;
}

bool ReadRegularFile(const char* path, uint64_t maxBytes, std::string* bytes, std::string* error,
                     bool* absent) {
    uint64_t size = 0;
    const int fd = OpenRegularFile(path, maxBytes, &size, error, absent);
    if (fd < 0) return false;
    bytes->clear();
    bytes->reserve(static_cast<size_t>(size));
    // The file may grow after fstat; what is read stays within the limit.
    char chunk[65536];
    for (;;) {
        const ssize_t n = read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            *error = std::strerror(errno);
            close(fd);
            return false;
        }
        if (n == 0) break;
        if (bytes->size() + static_cast<size_t>(n) > maxBytes) {
            *error = "larger than " + std::to_string(maxBytes) + " bytes";
            close(fd);
            return false;
        }
        bytes->append(chunk, static_cast<size_t>(n));
    }
    close(fd);
    return true;
}
