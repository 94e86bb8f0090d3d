// The frame loop's pacing: its tick schedule, its wait on ppoll, and its
// pace on battery and on mains.
#include "host/frame_pacing.h"

#include <algorithm>
#include <cmath>
#include <ctime>

double NextTickDue(double due, double now, double interval) {
    const double next = due + interval;
    return next < now ? now : next;
}

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

double PacedInterval(double saverInterval, bool anyReduced, bool savingBattery) {
    if (!anyReduced && !savingBattery) return saverInterval;
    return std::max(saverInterval, 1.0 / kEconomyFramesPerSecond);
}
