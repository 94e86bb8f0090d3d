// The frame loops' wait: until the display connection, the stop signals'
// or the power source's descriptor is readable, or the next tick is due.
// Relies on ppoll.
#pragma once

#include <poll.h>

// Waits until one of `fds` (the connection first, the stop signals'
// descriptor second, the power source's third; -1 for none) is readable
// or, when `deadline` is set, until that time on the clock that gave `now`
// (seconds). Clears every descriptor's revents before it waits.
void WaitForWork(pollfd* fds, nfds_t nfds, const double* deadline, double now);
