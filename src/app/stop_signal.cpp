// Ending the process by the signal that asked it to stop.
#include "app/stop_signal.h"

#include <signal.h>
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
