// Where the program's resources are: beside the executable, else in the
// installed data directory. Relies on POSIX stat and /proc/self/exe.
//
// Provides: BundleResourcePath.
#include <sys/stat.h>
#include <unistd.h>

#include <climits>

#include "platform/platform.h"

#ifndef MEREGLASS_DATA_DIR
#define MEREGLASS_DATA_DIR "/usr/local/share/mereglass"
#endif

namespace platform {

namespace {

bool IsFile(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

std::string BundleResourcePath(const char* name, const char* type) {
    const std::string file = std::string(name) + "." + type;
    char exe[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n > 0) {
        std::string dir(exe, static_cast<size_t>(n));
        dir.erase(dir.find_last_of('/') + 1);
        if (IsFile(dir + file)) return dir + file;
        // An installed tree that has moved since it was built: the program
        // lives in <prefix>/libexec/xscreensaver, the data in <prefix>/share.
        const std::string moved = dir + "../../share/mereglass/" + file;
        if (IsFile(moved)) return moved;
    }
    const std::string installed = std::string(MEREGLASS_DATA_DIR) + "/" + file;
    if (IsFile(installed)) return installed;
    return {};
}

}  // namespace platform
