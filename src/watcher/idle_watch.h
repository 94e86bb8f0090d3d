// The idle watcher (--idle-watch): it stays in the session, asleep on the
// session's events, starts the saver full screen on every output once the
// session has been idle for the idle time, stops it when input comes, and
// starts it again after the next idle time. It never starts the saver
// while a program holds idleness off or the session is locked. It follows
// its settings file (a new idle time counts at once) and tells its status
// to whoever asks (--idle-status). One runs per session. Relies on the
// platform's idle session, watcher's lock and status, and the saver
// child.
#pragma once

#include "command/command_line.h"

namespace platform {
struct SettingsStore;
}

// Watches, with the settings of `store` (the process's, not owned; read
// again whenever its file changes), until the session goes or a stop
// signal comes. Returns the exit
// status: 1, with one line, when there is nothing to watch, another
// watcher runs, a screen-saver daemon is in charge, the source of
// idleness goes away or the saver cannot be started; 0 when a stop signal
// ended it (*stopSignal names it; the saver has ended by then and the
// caller ends the process by the signal).
int RunIdleWatch(const CommandLine& cl, platform::SettingsStore* store, int* stopSignal);

// --idle-status: prints the running watcher's status (its idle time and
// source, whether the saver shows, what holds it off and since when), or,
// when none runs, what the session says now with the idle time of
// `store`'s settings. Returns 0 when a watcher
// answered, 1 otherwise.
int RunIdleStatus(const CommandLine& cl, platform::SettingsStore* store);
