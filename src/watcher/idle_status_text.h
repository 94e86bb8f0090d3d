// What the user reads of the idle watcher's status: the lines that
// --idle-status prints and the settings dialog shows under the idle time
// (who holds the saver off, how and since when). Relies on the plain
// records of platform/watcher_status.h only.
#pragma once

#include <string>
#include <vector>

#include "platform/watcher_status.h"

// One hold: "mpv (process 4321), through the X screen saver's
// suspension, since 14:02", with ": “reason”" after it when one was given.
// `now` (seconds since the epoch) decides whether the day is shown.
std::string IdleHoldText(const platform::IdleHold& hold, double now);

// The lines of --idle-status: the watcher that runs (`running`) or not,
// its idle time and source, whether the saver shows, then one line per
// hold (indented), or that nothing holds the saver off.
std::vector<std::string> IdleStatusLines(const platform::WatcherStatus& status, bool running,
                                         double now);

// The note under the dialog's idle time: the holds, one line each after a
// heading; empty when nothing holds the saver off.
std::string IdleHoldsNote(const std::vector<platform::IdleHold>& holds, double now);
