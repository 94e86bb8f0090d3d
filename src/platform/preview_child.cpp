// The preview pane's child process: fork and exec, a death signal from the
// parent, a pipe that reports a failed exec, and an orderly end. Relies on
// POSIX and Linux's prctl.
//
// Provides: StartPreviewChild, PreviewChildRunning, StopPreviewChild.
#include "platform/preview_child.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "support/diagnostics.h"

namespace platform {

struct PreviewChild {
    pid_t pid = -1;
};

namespace {

// How long SIGTERM has before SIGKILL follows, and how often the child is
// looked at meanwhile.
constexpr long kTermNanoseconds = 1000000000L;
constexpr long kPollNanoseconds = 5000000L;

int StatusOf(int raw) {
    if (WIFEXITED(raw)) return WEXITSTATUS(raw);
    if (WIFSIGNALED(raw)) return 128 + WTERMSIG(raw);
    return -1;
}

// Between fork and exec only async-signal-safe calls: the dialog's process
// has GLib's threads, whose locks may be held at the fork.
[[noreturn]] void ExecChild(char* const* argv, int keepFd, pid_t parent, int reportFd) {
    // The child ends with the dialog, even when the dialog is killed; a
    // parent that ended before prctl took effect is caught by getppid.
    if (prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || getppid() != parent) _exit(127);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigaction(SIGTERM, &dfl, nullptr);
    sigaction(SIGPIPE, &dfl, nullptr);
    if (keepFd >= 0) fcntl(keepFd, F_SETFD, 0);
    execv(argv[0], argv);
    const int e = errno;
    ssize_t written = write(reportFd, &e, sizeof e);
    (void)written;
    _exit(127);
}

}  // namespace

PreviewChild* StartPreviewChild(const std::vector<std::string>& args, int keepFd,
                                std::string* error) {
    if (args.empty()) {
        *error = "no program";
        return nullptr;
    }
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    // The exec closes the write end; an errno arriving through it means the
    // exec failed.
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        *error = std::strerror(errno);
        return nullptr;
    }
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) ExecChild(argv.data(), keepFd, parent, report[1]);
    close(report[1]);
    if (pid < 0) {
        *error = std::strerror(errno);
        close(report[0]);
        return nullptr;
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
        *error = "cannot run " + DisplayName(args[0]) + ": " + std::strerror(execErrno);
        return nullptr;
    }
    auto* child = new PreviewChild;
    child->pid = pid;
    return child;
}

bool PreviewChildRunning(PreviewChild* child, int* status) {
    if (child->pid < 0) return false;
    int raw = 0;
    pid_t r;
    do {
        r = waitpid(child->pid, &raw, WNOHANG);
    } while (r < 0 && errno == EINTR);
    if (r == 0) return true;
    if (status) *status = r == child->pid ? StatusOf(raw) : -1;
    child->pid = -1;  // reaped (or, after ECHILD, never ours to reap)
    return false;
}

void StopPreviewChild(PreviewChild* child) {
    if (child == nullptr) return;
    if (PreviewChildRunning(child, nullptr)) {
        kill(child->pid, SIGTERM);
        const timespec step{0, kPollNanoseconds};
        for (long waited = 0; waited < kTermNanoseconds; waited += kPollNanoseconds) {
            if (!PreviewChildRunning(child, nullptr)) break;
            nanosleep(&step, nullptr);
        }
        if (child->pid >= 0) {
            kill(child->pid, SIGKILL);
            while (waitpid(child->pid, nullptr, 0) < 0 && errno == EINTR) {
            }
        }
    }
    delete child;
}

}  // namespace platform
