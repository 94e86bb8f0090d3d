// The X server's IDLETIME counter of the SYNC extension (the milliseconds
// since the last input), shared by the idle watcher's alarms and the
// display power's wait for input. Private to the X11 backend; relies on
// Xlib and libXext's SYNC.
#pragma once

#include <X11/Xlib.h>
#include <X11/extensions/sync.h>

namespace platform {

// The counter, or None when the server keeps none (SYNC initialized by the
// caller).
XSyncCounter FindIdleTimeCounter(::Display* display);

}  // namespace platform
