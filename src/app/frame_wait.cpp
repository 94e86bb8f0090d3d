// The frame loops' wait on ppoll.
#include "app/frame_wait.h"

#include <cmath>
#include <ctime>

void WaitForWork(pollfd* fds, nfds_t nfds, const double* deadline, double now) {
    timespec timeout{};
    const timespec* wait = nullptr;
    if (deadline != nullptr) {
        const double left = *deadline - now;
        timeout.tv_sec = static_cast<time_t>(left);
        timeout.tv_nsec = static_cast<long>((left - std::floor(left)) * 1e9);
        wait = &timeout;
    }
    for (nfds_t i = 0; i < nfds; ++i) fds[i].revents = 0;
    ppoll(fds, nfds, wait, nullptr);
}
