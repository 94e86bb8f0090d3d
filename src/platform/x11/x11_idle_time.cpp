// The IDLETIME counter, found among the server's system counters. Relies
// on libXext's SYNC.
//
// Provides: FindIdleTimeCounter.
#include "platform/x11/x11_idle_time.h"

#include <cstring>

namespace platform {

XSyncCounter FindIdleTimeCounter(::Display* display) {
    int count = 0;
    XSyncSystemCounter* counters = XSyncListSystemCounters(display, &count);
    XSyncCounter found = None;
    for (int i = 0; i < count && counters != nullptr; ++i) {
        if (std::strcmp(counters[i].name, "IDLETIME") == 0) found = counters[i].counter;
    }
    if (counters != nullptr) XSyncFreeSystemCounterList(counters);
    return found;
}

}  // namespace platform
