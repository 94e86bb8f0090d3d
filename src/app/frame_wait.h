// The frame loops' wait: until the display connection or the stop signals'
// descriptor is readable, or the next tick is due. Relies on ppoll.
#pragma once

#include <poll.h>

// Waits until one of `fds` (the connection first, the stop signals'
// descriptor second) is readable or, when `deadline` is set, until that
// time on the clock that gave `now` (seconds). Clears both descriptors'
// revents before it waits.
void WaitForWork(pollfd* fds, nfds_t nfds, const double* deadline, double now);
