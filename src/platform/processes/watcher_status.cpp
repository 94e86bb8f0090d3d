// The idle watcher's status socket: a local stream socket beside the
// watcher's lock, in the user's own runtime folder; the watcher writes its
// status and closes each connection it accepts, and never reads. Relies
// on POSIX sockets and poll.
//
// Provides: WatcherStatusPath, OpenWatcherStatusSocket,
// CloseWatcherStatusSocket, AnswerWatcherStatus, AskWatcherStatus,
// WatcherStatusText, ParseWatcherStatus.
#include "platform/watcher_status.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "platform/platform.h"
#include "support/diagnostics.h"
#include "support/translation.h"

namespace platform {

namespace {

// The most a status may take, and how long an asker waits, milliseconds.
constexpr size_t kMaxStatusBytes = 64 * 1024;
constexpr int kAskMilliseconds = 1000;
constexpr const char* kLockSuffix = ".lock";

bool Address(const std::string& path, sockaddr_un* address) {
    *address = sockaddr_un{};
    address->sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address->sun_path) return false;
    std::memcpy(address->sun_path, path.data(), path.size());
    return true;
}

// A field of one line: tabs and line breaks would split it.
std::string Field(const std::string& text) {
    std::string out = text;
    for (char& c : out) {
        if (c == '\t' || c == '\n' || c == '\r') c = ' ';
    }
    return out;
}

std::vector<std::string> Split(const std::string& line) {
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        const size_t tab = line.find('\t', start);
        out.push_back(
            line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos) return out;
        start = tab + 1;
    }
}

}  // namespace

std::string WatcherStatusPath(const std::string& lockPath) {
    std::string base = lockPath;
    const size_t n = std::strlen(kLockSuffix);
    if (base.size() > n && base.compare(base.size() - n, n, kLockSuffix) == 0) {
        base.resize(base.size() - n);
    }
    return base + ".socket";
}

int OpenWatcherStatusSocket(const std::string& path, std::string* error) {
    sockaddr_un address;
    if (!Address(path, &address)) {
        *error = Format(_("the idle watcher's status socket %s: the path is too long"),
                        DisplayName(path).c_str());
        return -1;
    }
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        *error = std::strerror(errno);
        return -1;
    }
    // The lock is ours: a socket left there is a watcher's that ended.
    unlink(path.c_str());
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        listen(fd, 8) != 0) {
        *error = Format(_("cannot make the idle watcher's status socket %s: %s"),
                        DisplayName(path).c_str(), std::strerror(errno));
        close(fd);
        return -1;
    }
    return fd;
}

void CloseWatcherStatusSocket(int fd, const std::string& path) {
    if (fd < 0) return;
    close(fd);
    unlink(path.c_str());
}

void AnswerWatcherStatus(int fd, const WatcherStatus& status) {
    const std::string text = WatcherStatusText(status).substr(0, kMaxStatusBytes);
    for (;;) {
        const int client = accept4(fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (client < 0) return;
        // A local socket's buffer takes the whole status; a caller that
        // reads none of it loses nothing of ours.
        if (send(client, text.data(), text.size(), MSG_DONTWAIT | MSG_NOSIGNAL) < 0) {
            // Nothing to do: the caller gets no answer.
        }
        close(client);
    }
}

bool AskWatcherStatus(const std::string& path, WatcherStatus* status) {
    sockaddr_un address;
    if (!Address(path, &address)) return false;
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return false;
    }
    std::string text;
    const double deadline = ClockSeconds() + kAskMilliseconds / 1000.0;
    bool ended = false;
    while (!ended && text.size() < kMaxStatusBytes) {
        const double left = deadline - ClockSeconds();
        pollfd p{fd, POLLIN, 0};
        if (left <= 0.0 || poll(&p, 1, static_cast<int>(left * 1000.0) + 1) <= 0) break;
        char buffer[4096];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ended = n == 0;
            break;
        }
        text.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    if (!ended) return false;
    *status = ParseWatcherStatus(text);
    return status->pid > 0;
}

std::string WatcherStatusText(const WatcherStatus& s) {
    // Whole numbers only: the two sides may read numbers in other locales.
    std::string out = "pid\t" + std::to_string(s.pid) + "\n";
    out += "idle\t" + std::to_string(std::llround(s.idleSeconds * 1000.0)) + "\t" +
           Field(s.source) + "\n";
    out += std::string("saver\t") + (s.saverShows ? "1" : "0") + "\n";
    for (const IdleHold& h : s.holds) {
        out += "hold\t" + std::to_string(std::llround(h.since)) + "\t" + std::to_string(h.pid) +
               "\t" + Field(h.way) + "\t" + Field(h.who) + "\t" + Field(h.reason) + "\n";
    }
    return out;
}

WatcherStatus ParseWatcherStatus(const std::string& text) {
    WatcherStatus s;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        const std::vector<std::string> f = Split(line);
        if (f[0] == "pid" && f.size() >= 2) {
            s.pid = std::strtol(f[1].c_str(), nullptr, 10);
        } else if (f[0] == "idle" && f.size() >= 3) {
            s.idleSeconds = static_cast<double>(std::strtoll(f[1].c_str(), nullptr, 10)) / 1000.0;
            s.source = f[2];
        } else if (f[0] == "saver" && f.size() >= 2) {
            s.saverShows = f[1] == "1";
        } else if (f[0] == "hold" && f.size() >= 6) {
            IdleHold h;
            h.since = static_cast<double>(std::strtoll(f[1].c_str(), nullptr, 10));
            h.pid = std::strtol(f[2].c_str(), nullptr, 10);
            h.way = f[3];
            h.who = f[4];
            h.reason = f[5];
            s.holds.push_back(h);
        }
    }
    return s;
}

}  // namespace platform
