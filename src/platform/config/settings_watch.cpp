// The settings file's watch on inotify: the file's folder (for the file's
// name) and the folder above it (for the folder's), and, where the file
// is a link, the folder of the file it names. The watches are set again
// after each change, so a folder made later or a link pointed elsewhere
// is followed. Relies on Linux's inotify and POSIX paths.
//
// Provides: OpenSettingsWatch, CloseSettingsWatch, SettingsWatchFd,
// SettingsWatchChanged.
#include "platform/settings_watch.h"

#include <limits.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace platform {

namespace {

constexpr uint32_t kFileEvents = IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_CREATE |
                                 IN_DELETE | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF;

struct Watched {
    int descriptor;
    std::string name;  // the entry of the folder it concerns
};

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

struct SettingsWatch {
    int fd = -1;
    std::string path;
    std::vector<Watched> watched;
};

namespace {

void Add(SettingsWatch* w, const std::string& entry) {
    const int d = inotify_add_watch(w->fd, FolderOf(entry).c_str(), kFileEvents | IN_ONLYDIR);
    if (d >= 0) w->watched.push_back(Watched{d, NameOf(entry)});
}

// Sets the watches for the file as things stand now.
void Arm(SettingsWatch* w) {
    for (const Watched& x : w->watched) inotify_rm_watch(w->fd, x.descriptor);
    w->watched.clear();
    Add(w, w->path);
    Add(w, FolderOf(w->path));
    char target[PATH_MAX];
    if (realpath(w->path.c_str(), target) != nullptr && w->path != target) Add(w, target);
}

}  // namespace

SettingsWatch* OpenSettingsWatch(const std::string& path) {
    const int fd = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (fd < 0) return nullptr;
    auto* w = new SettingsWatch;
    w->fd = fd;
    w->path = path;
    Arm(w);
    return w;
}

void CloseSettingsWatch(SettingsWatch* w) {
    if (w == nullptr) return;
    close(w->fd);
    delete w;
}

int SettingsWatchFd(const SettingsWatch* w) { return w->fd; }

bool SettingsWatchChanged(SettingsWatch* w) {
    alignas(inotify_event) char buffer[4096];
    bool changed = false;
    for (;;) {
        const ssize_t n = read(w->fd, buffer, sizeof buffer);
        if (n <= 0) break;
        for (ssize_t at = 0; at < n;) {
            const auto* e = reinterpret_cast<const inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
            if ((e->mask & IN_Q_OVERFLOW) != 0) changed = true;
            for (const Watched& x : w->watched) {
                if (x.descriptor != e->wd) continue;
                const bool self = (e->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) != 0;
                if (self || (e->len > 0 && x.name == e->name)) changed = true;
            }
        }
    }
    if (changed) Arm(w);
    return changed;
}

}  // namespace platform
