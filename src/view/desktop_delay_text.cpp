// The note and the warning about the desktop's own idle delay.
#include "view/desktop_delay_text.h"

#include <string>

namespace {

std::string Count(int n, const char* unit) {
    return std::to_string(n) + " " + unit + (n == 1 ? "" : "s");
}

const char* ActionText(platform::DesktopIdleAction action) {
    switch (action) {
        case platform::DesktopIdleAction::Blank:
            return "blanks the screen";
        case platform::DesktopIdleAction::Lock:
            return "locks the screen";
        case platform::DesktopIdleAction::ScreenOff:
            return "turns the screen off";
    }
    return "blanks the screen";
}

}  // namespace

std::string DurationText(int seconds) {
    const int minutes = seconds / 60, rest = seconds % 60;
    if (minutes == 0) return Count(rest, "second");
    if (rest == 0) return Count(minutes, "minute");
    return Count(minutes, "minute") + " " + Count(rest, "second");
}

std::string DesktopDelayNote(const platform::DesktopIdleDelay& delay) {
    if (delay.seconds <= 0) return {};
    return delay.desktop + " " + ActionText(delay.action) + " after " +
           DurationText(delay.seconds) + " idle";
}

std::string DesktopDelayWarning(const platform::DesktopIdleDelay& delay, int saverSeconds) {
    if (delay.seconds <= 0 || delay.seconds > saverSeconds) return {};
    const std::string when = delay.seconds == saverSeconds
                                 ? "just as the saver starts"
                                 : "before the saver starts at " + DurationText(saverSeconds);
    return DesktopDelayNote(delay) + ", " + when + ": shorten the saver's idle time or lengthen " +
           delay.desktop + "'s";
}
