// The idle watcher (--idle-watch): it stays in the session, asleep on the
// session's events, starts the saver full screen on every output once the
// session has been idle for the idle time, stops it when input comes, and
// starts it again after the next idle time. It never starts the saver
// while a program holds idleness off or the session is locked. One runs
// per session. Relies on the platform's idle session and watcher's lock,
// and the saver child.
#pragma once

#include "app/command_line.h"

// Watches until the session goes or a stop signal comes. Returns the exit
// status: 1, with one line, when there is nothing to watch, another
// watcher runs, a screen-saver daemon is in charge, the source of
// idleness goes away or the saver cannot be started; 0 when a stop signal
// ended it (*stopSignal names it; the saver has ended by then and the
// caller ends the process by the signal).
int RunIdleWatch(const CommandLine& cl, int* stopSignal);
