// The monotonic clock. Relies on POSIX clock_gettime.
//
// Provides: ClockSeconds.
#include <time.h>

#include "platform/platform.h"

namespace platform {

double ClockSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

}  // namespace platform
