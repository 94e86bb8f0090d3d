// Ending the process by the signal that asked it to stop, and hearing that
// signal through a signalfd. Relies on POSIX signals and Linux's signalfd.
#include "command/stop_signal.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdio>

bool IsStopSignal(int signal) { return signal == SIGTERM || signal == SIGINT; }

void EndBySignal(int signal) {
    std::fflush(nullptr);
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    raise(signal);
    _exit(128 + signal);
}

void BlockHoldSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGUSR1);
    sigaddset(&set, SIGUSR2);
    sigprocmask(SIG_BLOCK, &set, nullptr);
}

int OpenStopSignalFd(bool hold) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    if (hold) {
        sigaddset(&set, SIGUSR1);
        sigaddset(&set, SIGUSR2);
    }
    if (sigprocmask(SIG_BLOCK, &set, nullptr) != 0) return -1;
    const int fd = signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    if (fd < 0) sigprocmask(SIG_UNBLOCK, &set, nullptr);
    return fd;
}

int ReadStopSignal(int fd) {
    if (fd < 0) return 0;
    signalfd_siginfo info;
    if (read(fd, &info, sizeof info) != static_cast<ssize_t>(sizeof info)) return 0;
    return static_cast<int>(info.ssi_signo);
}
