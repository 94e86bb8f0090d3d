// What the user reads about the desktop's own idle delay beside the
// saver's: a note for the settings dialog, and the one-line warning when
// the desktop blanks, locks or turns off the screen before the saver's
// idle time is up (the saver would start behind it). Relies on the plain
// record of platform/desktop_idle_delay.h only.
#pragma once

#include <string>

#include "platform/desktop_idle_delay.h"

// A length of time as the user reads it: "1 minute", "10 minutes",
// "45 seconds", "2 minutes 30 seconds".
std::string DurationText(int seconds);

// "GNOME blanks the screen after 5 minutes idle"; empty when the desktop
// has no delay.
std::string DesktopDelayNote(const platform::DesktopIdleDelay& delay);

// The warning when the desktop's delay is not later than the saver's idle
// time (`saverSeconds`), e.g. "GNOME blanks the screen after 5 minutes
// idle, before the saver starts at 10 minutes: shorten the saver's idle
// time or lengthen GNOME's"; empty when the saver comes first or the
// desktop has no delay.
std::string DesktopDelayWarning(const platform::DesktopIdleDelay& delay, int saverSeconds);
