// One idle watcher per session: a lock file in the user's runtime folder,
// named after the session's display, held with flock for as long as the
// watcher runs (the kernel lets go of it however the process ends), with
// the holder's process id in it. The autostart options and the settings
// dialog use it too, to start a watcher at once and to stop the running
// one. Relies on POSIX files, flock and processes; this header includes
// no system headers.
#pragma once

#include <string>

namespace platform {

struct WatcherLock {
    int fd = -1;
    std::string path;
};

// The session's name for the lock from $WAYLAND_DISPLAY, else $DISPLAY
// (letters, digits, '.', '-' and '_' only); empty without either. Each
// display has one name however it is spelled: a Wayland name is the same
// as its full path in `runtimeDir` ($XDG_RUNTIME_DIR); an X display
// ":0", ":0.0" and "unix:0" are the same (the screen does not count, nor
// "unix" for the local host).
std::string WatcherSession(const char* waylandDisplay, const char* display, const char* runtimeDir);
// The same for this process's environment.
std::string CurrentWatcherSession();

// The lock file of `session`: in $XDG_RUNTIME_DIR when it is an absolute
// path, else in a folder of the user's own under /tmp.
std::string WatcherLockPath(const std::string& session);

// Takes the lock at `path`. False, with a one-line reason, when another
// watcher holds it (named by its process id) or it cannot be made.
bool TakeWatcherLock(const std::string& path, WatcherLock* lock, std::string* error);
void ReleaseWatcherLock(WatcherLock* lock);

// The process id of the watcher that holds the lock at `path`; 0 when
// none does.
long RunningWatcher(const std::string& path);

// Starts `program` --idle-watch on its own, in a session of its own, its
// standard error the caller's: the watcher of this session, if none runs.
// True when one runs by then, or the one started says it is watching
// (its status socket answers) within a few seconds.
bool StartWatcherNow(const std::string& program);
// Asks this session's running watcher to end (SIGTERM). True when one was
// running.
bool StopWatcherNow();

// After the autostart entry was added (or found there) or removed, the
// session follows it: its watcher is started or stopped now. The clause
// that says so, to end the line that told of the entry ("; it runs now"),
// or empty.
std::string FollowAutostart(bool added, const std::string& program);

}  // namespace platform
