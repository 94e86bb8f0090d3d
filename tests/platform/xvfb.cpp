// Xvfb: starts and stops a private virtual X server for a test; when it
// cannot start, its own last words are the reason.
#include "xvfb.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

extern char** environ;

Xvfb::Xvfb(int width, int height, int depth, const std::vector<std::string>& extra) {
    int fds[2];
    if (pipe(fds) != 0) {
        error_ = std::string("pipe: ") + std::strerror(errno);
        return;
    }
    fcntl(fds[0], F_SETFD, FD_CLOEXEC);

    const std::string fd = std::to_string(fds[1]);
    const std::string screen =
        std::to_string(width) + "x" + std::to_string(height) + "x" + std::to_string(depth);
    std::vector<std::string> args = {"Xvfb", "-displayfd", fd,  "-noreset", "-nolisten",
                                     "tcp",  "-screen",    "0", screen};
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    // What the server says goes to a file without a name, whose last line
    // is the reason a test gives when the server cannot start.
    char log[] = "/tmp/mereglass-xvfb-XXXXXX";
    const int logFd = mkostemp(log, O_CLOEXEC);
    unlink(log);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, logFd, 2);
    const int spawned = posix_spawnp(&pid_, "Xvfb", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (spawned != 0) {
        pid_ = -1;
        close(fds[0]);
        close(logFd);
        error_ = std::string("cannot start Xvfb: ") + std::strerror(spawned);
        return;
    }

    // The server writes its display number and a newline once it listens.
    std::string number;
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (;;) {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        const long elapsed =
            (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
        if (elapsed > 30000) {
            error_ = "Xvfb did not report a display within 30 s";
            break;
        }
        pollfd p{fds[0], POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(30000 - elapsed)) <= 0) continue;
        char c = 0;
        const ssize_t n = read(fds[0], &c, 1);
        if (n <= 0) {
            error_ = "Xvfb ended without reporting a display";
            break;
        }
        if (c == '\n') {
            if (!number.empty()) display_ = ":" + number;
            break;
        }
        number += c;
    }
    close(fds[0]);
    if (display_.empty()) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
        if (error_.empty()) error_ = "Xvfb reported no display number";
        char text[8192];
        std::string said(text, std::max<ssize_t>(0, pread(logFd, text, sizeof text, 0)));
        said.erase(said.find_last_not_of("\n ") + 1);
        if (!said.empty()) error_ += ": " + said.substr(said.rfind('\n') + 1);
    }
    close(logFd);
}

Xvfb::~Xvfb() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
}
