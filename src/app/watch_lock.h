// One idle watcher per session: a lock file in the user's runtime folder,
// named after the session's display, held with flock for as long as the
// watcher runs (the kernel lets go of it however the process ends), with
// the holder's process id in it. Relies on POSIX files and flock.
#pragma once

#include <sys/types.h>

#include <string>

struct WatcherLock {
    int fd = -1;
    std::string path;
};

// The session's name for the lock from $WAYLAND_DISPLAY, else $DISPLAY
// (letters, digits, '.', '-' and '_' only); empty without either.
std::string WatcherSession(const char* waylandDisplay, const char* display);

// The lock file of `session`: in $XDG_RUNTIME_DIR when it is an absolute
// path, else in a folder of the user's own under /tmp.
std::string WatcherLockPath(const std::string& session);

// Takes the lock at `path`. False, with a one-line reason, when another
// watcher holds it (named by its process id) or it cannot be made.
bool TakeWatcherLock(const std::string& path, WatcherLock* lock, std::string* error);
void ReleaseWatcherLock(WatcherLock* lock);
