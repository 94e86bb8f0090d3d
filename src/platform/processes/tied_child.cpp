// A child process tied to this one: fork and exec, a death signal from the
// parent, and a pipe that reports a failed exec. Relies on POSIX and
// Linux's prctl.
//
// Provides: StartTiedChild.
#include "platform/tied_child.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "support/translation.h"

namespace platform {

namespace {

// Between fork and exec only async-signal-safe calls: the parent may have
// GLib's threads, whose locks may be held at the fork.
[[noreturn]] void ExecChild(char* const* argv, int keepFd, pid_t parent, int reportFd) {
    // The child ends with its parent, even when the parent is killed; a
    // parent that ended before prctl took effect is caught by getppid.
    if (prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || getppid() != parent) _exit(127);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    for (int signal : {SIGTERM, SIGINT, SIGPIPE}) sigaction(signal, &dfl, nullptr);
    if (keepFd >= 0) fcntl(keepFd, F_SETFD, 0);
    execv(argv[0], argv);
    const int e = errno;
    ssize_t written = write(reportFd, &e, sizeof e);
    (void)written;
    _exit(127);
}

}  // namespace

int StartTiedChild(const std::vector<std::string>& args, int keepFd, std::string* error) {
    if (args.empty()) {
        *error = _("no program");
        return -1;
    }
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    // The exec closes the write end; an errno arriving through it means the
    // exec failed.
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        *error = std::strerror(errno);
        return -1;
    }
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) ExecChild(argv.data(), keepFd, parent, report[1]);
    close(report[1]);
    if (pid < 0) {
        *error = std::strerror(errno);
        close(report[0]);
        return -1;
    }
    int execErrno = 0;
    ssize_t n;
    do {
        n = read(report[0], &execErrno, sizeof execErrno);
    } while (n < 0 && errno == EINTR);
    close(report[0]);
    if (n == static_cast<ssize_t>(sizeof execErrno)) {
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        *error = std::strerror(execErrno);
        return -1;
    }
    return pid;
}

}  // namespace platform
