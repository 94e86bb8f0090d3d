// The preview pane's child process: a child tied to the dialog's process,
// and an orderly end. Relies on POSIX and the processes' tied child
// (platform/tied_child.h).
//
// Provides: StartPreviewChild, PreviewChildRunning, StopPreviewChild.
#include "platform/toolkit/preview_child.h"

#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/tied_child.h"
#include "support/diagnostics.h"
#include "support/translation.h"

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

}  // namespace

PreviewChild* StartPreviewChild(const std::vector<std::string>& args, int keepFd,
                                std::string* error) {
    std::string reason;
    const int pid = StartTiedChild(args, keepFd, &reason);
    if (pid < 0) {
        *error = args.empty()
                     ? reason
                     : Format(_("cannot run %s: %s"), DisplayName(args[0]).c_str(), reason.c_str());
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
