// Where the program's resources are: beside the executable, else in the
// installed data directory. Relies on POSIX stat and /proc/self/exe.
//
// Provides: BundleResourcePath, BundleLocaleDirectory.
#include <sys/stat.h>
#include <unistd.h>

#include <climits>

#include "platform/platform.h"

#ifndef MEREGLASS_DATA_DIR
#define MEREGLASS_DATA_DIR "/usr/local/share/mereglass"
#endif
#ifndef MEREGLASS_LOCALE_DIR
#define MEREGLASS_LOCALE_DIR "/usr/local/share/locale"
#endif

namespace platform {

namespace {

bool IsFile(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool IsFolder(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The executable's folder with a '/' at the end; empty when unknown.
std::string ExecutableFolder() {
    char exe[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return {};
    std::string dir(exe, static_cast<size_t>(n));
    dir.erase(dir.find_last_of('/') + 1);
    return dir;
}

}  // namespace

std::string BundleResourcePath(const char* name, const char* type) {
    const std::string file = std::string(name) + "." + type;
    const std::string dir = ExecutableFolder();
    if (!dir.empty()) {
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

std::string BundleLocaleDirectory() {
    const std::string dir = ExecutableFolder();
    if (!dir.empty()) {
        if (IsFolder(dir + "locale")) return dir + "locale";
        // The moved installed tree, as above.
        if (IsFolder(dir + "../../share/mereglass") && IsFolder(dir + "../../share/locale")) {
            return dir + "../../share/locale";
        }
    }
    return MEREGLASS_LOCALE_DIR;
}

}  // namespace platform
