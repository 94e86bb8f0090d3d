// The idle watcher's lock, and starting or stopping the session's watcher
// from outside it. Relies on POSIX files, flock, fork and exec.
//
// Provides: WatcherSession, CurrentWatcherSession, WatcherLockPath,
// TakeWatcherLock, ReleaseWatcherLock, RunningWatcher, StartWatcherNow,
// StopWatcherNow, FollowAutostart.
#include "platform/watcher_lock.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "platform/watcher_status.h"
#include "support/diagnostics.h"
#include "support/translation.h"

namespace platform {

namespace {

// How long a watcher started here may take to take its lock, and to say
// it is watching, seconds.
constexpr double kLockSeconds = 3.0;
constexpr double kStartSeconds = 10.0;

// The last 64 characters of `text` (where names differ), each but the
// plain ones a '_'.
std::string Plain(const std::string& text) {
    std::string out;
    for (char c : text.substr(text.size() > 64 ? text.size() - 64 : 0)) {
        const bool plain = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') ||
                           (c >= 'A' && c <= 'Z') || c == '.' || c == '-' || c == '_';
        out += plain ? c : '_';
    }
    return out;
}

// A folder of the user's own under /tmp, made when missing: 0700, owned by
// the user and not a link, else empty.
std::string PrivateTemporaryFolder() {
    const std::string dir = "/tmp/mereglass-" + std::to_string(getuid());
    mkdir(dir.c_str(), 0700);
    struct stat st {};
    if (lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid() ||
        (st.st_mode & 077) != 0) {
        return "";
    }
    return dir;
}

// The process id written in the lock file, or 0.
long HolderOf(int fd) {
    char text[32] = {};
    const ssize_t n = pread(fd, text, sizeof text - 1, 0);
    return n > 0 ? std::strtol(text, nullptr, 10) : 0;
}

}  // namespace

std::string WatcherSession(const char* waylandDisplay, const char* display,
                           const char* runtimeDir) {
    if (waylandDisplay != nullptr && *waylandDisplay != '\0') {
        // A full path in the runtime folder is the name the folder gives.
        std::string name = waylandDisplay;
        const std::string folder = runtimeDir != nullptr ? std::string(runtimeDir) + "/" : "";
        if (folder.size() > 1 && name.compare(0, folder.size(), folder) == 0 &&
            name.find('/', folder.size()) == std::string::npos) {
            name.erase(0, folder.size());
        }
        return "wayland-" + Plain(name);
    }
    if (display == nullptr || *display == '\0') return "";
    // [host]:number[.screen]
    std::string name = display;
    const size_t colon = name.rfind(':');
    if (colon != std::string::npos) {
        std::string host = name.substr(0, colon);
        std::string number = name.substr(colon + 1);
        const size_t dot = number.find('.');
        if (dot != std::string::npos) number.resize(dot);
        if (host == "unix") host.clear();
        name = host + ":" + number;
    }
    return "x11-" + Plain(name);
}

std::string CurrentWatcherSession() {
    return WatcherSession(std::getenv("WAYLAND_DISPLAY"), std::getenv("DISPLAY"),
                          std::getenv("XDG_RUNTIME_DIR"));
}

std::string WatcherLockPath(const std::string& session) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::string dir = runtime != nullptr && runtime[0] == '/' ? runtime : PrivateTemporaryFolder();
    if (dir.empty()) return "";
    return dir + "/mereglass-idle-watch-" + session + ".lock";
}

bool TakeWatcherLock(const std::string& path, WatcherLock* lock, std::string* error) {
    if (path.empty()) {
        *error = _("no folder of the user's own for the idle watcher's lock ($XDG_RUNTIME_DIR)");
        return false;
    }
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    if (fd < 0) {
        *error = Format(_("cannot make the idle watcher's lock %s: %s"), DisplayName(path).c_str(),
                        std::strerror(errno));
        return false;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const long holder = HolderOf(fd);
        close(fd);
        *error = _("an idle watcher already runs in this session");
        if (holder > 0) *error += " (process " + std::to_string(holder) + ")";
        return false;
    }
    const std::string pid = std::to_string(getpid()) + "\n";
    if (ftruncate(fd, 0) != 0 || pwrite(fd, pid.data(), pid.size(), 0) < 0) {
        // The lock holds without the process id in it.
    }
    lock->fd = fd;
    lock->path = path;
    return true;
}

void ReleaseWatcherLock(WatcherLock* lock) {
    if (lock->fd < 0) return;
    close(lock->fd);
    lock->fd = -1;
}

long RunningWatcher(const std::string& path) {
    if (path.empty()) return 0;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return 0;
    long holder = 0;
    if (flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK) holder = HolderOf(fd);
    close(fd);
    return holder;
}

bool StartWatcherNow(const std::string& program) {
    const std::string session = CurrentWatcherSession();
    if (session.empty()) return false;
    const std::string lock = WatcherLockPath(session);
    if (RunningWatcher(lock) > 0) return true;
    const char* argv[] = {program.c_str(), "--idle-watch", nullptr};
    const pid_t first = fork();
    if (first < 0) return false;
    if (first == 0) {
        // A session of its own, so that it outlives a dialog closed by its
        // terminal; the second fork makes it no child of ours.
        setsid();
        if (fork() != 0) _exit(0);
        const int null = open("/dev/null", O_RDWR);
        if (null >= 0) {
            dup2(null, 0);
            dup2(null, 1);
        }
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        execv(argv[0], const_cast<char* const*>(argv));
        _exit(127);
    }
    int status = 0;
    while (waitpid(first, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return false;
    // It runs once it says it is watching. One that has not taken the lock
    // by the time the first answer is due has ended (another session's
    // daemon in charge, nothing to watch): it said why on its own.
    const std::string socket = WatcherStatusPath(lock);
    const double start = ClockSeconds();
    for (;;) {
        WatcherStatus answer;
        if (AskWatcherStatus(socket, &answer)) return true;
        const double waited = ClockSeconds() - start;
        if (waited > kStartSeconds || (waited > kLockSeconds && RunningWatcher(lock) == 0)) {
            return false;
        }
        usleep(100 * 1000);
    }
}

bool StopWatcherNow() {
    const std::string session = CurrentWatcherSession();
    if (session.empty()) return false;
    const long holder = RunningWatcher(WatcherLockPath(session));
    return holder > 0 && kill(static_cast<pid_t>(holder), SIGTERM) == 0;
}

std::string FollowAutostart(bool added, const std::string& program) {
    if (added) return StartWatcherNow(program) ? _("; it runs now") : "";
    return StopWatcherNow() ? _("; the running idle watch ends") : "";
}

}  // namespace platform
