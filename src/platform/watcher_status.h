// The running idle watcher's status, told on a socket beside its lock to
// whoever asks (--idle-status, the settings dialog): its idle time, where
// it learns of idleness, whether the saver shows, and what holds it off.
// A socket of the user's own folder, answered by the watcher's one loop
// and closed at once; nothing is kept for a caller. Relies on POSIX local
// sockets; this header includes no system headers.
#pragma once

#include <string>
#include <vector>

#include "platform/idle_session.h"

namespace platform {

struct WatcherStatus {
    long pid = 0;              // the watcher's process
    double idleSeconds = 0.0;  // its idle time
    std::string source;        // where it learns of idleness (untranslated)
    bool saverShows = false;
    std::vector<IdleHold> holds;
};

// The socket of the watcher whose lock is at `lockPath`.
std::string WatcherStatusPath(const std::string& lockPath);

// The watcher's side: a listening socket at `path` (a stale one replaced),
// or -1 with a reason.
int OpenWatcherStatusSocket(const std::string& path, std::string* error);
void CloseWatcherStatusSocket(int fd, const std::string& path);
// Answers every caller waiting on `fd` with `status`, without blocking.
void AnswerWatcherStatus(int fd, const WatcherStatus& status);

// The asking side: false when no watcher answers at `path` within about a
// second.
bool AskWatcherStatus(const std::string& path, WatcherStatus* status);

// The status as its text travels, and back: tab-separated lines. The
// parser takes any text and keeps what it understands.
std::string WatcherStatusText(const WatcherStatus& status);
WatcherStatus ParseWatcherStatus(const std::string& text);

}  // namespace platform
