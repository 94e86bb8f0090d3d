// The note and the warning about the desktop's own idle delay, in the
// user's language (support/translation.h).
#include "watcher/desktop_delay_text.h"

#include <string>

#include "support/translation.h"

namespace {

// "KDE blanks the screen after 5 minutes idle", one sentence per action.
std::string ActionNote(platform::DesktopIdleAction action, const std::string& desktop,
                       const std::string& duration) {
    switch (action) {
        case platform::DesktopIdleAction::Blank:
            break;
        case platform::DesktopIdleAction::Lock:
            return Format(_("%s locks the screen after %s idle"), desktop.c_str(),
                          duration.c_str());
        case platform::DesktopIdleAction::ScreenOff:
            return Format(_("%s turns the screen off after %s idle"), desktop.c_str(),
                          duration.c_str());
    }
    return Format(_("%s blanks the screen after %s idle"), desktop.c_str(), duration.c_str());
}

}  // namespace

std::string DurationText(int seconds) {
    const int minutes = seconds / 60, rest = seconds % 60;
    const std::string s = Format(P_("%d second", "%d seconds", rest), rest);
    if (minutes == 0) return s;
    const std::string m = Format(P_("%d minute", "%d minutes", minutes), minutes);
    if (rest == 0) return m;
    return m + " " + s;
}

std::string DesktopDelayNote(const platform::DesktopIdleDelay& delay) {
    if (delay.seconds <= 0) return {};
    return ActionNote(delay.action, delay.desktop, DurationText(delay.seconds));
}

std::string DesktopDelayWarning(const platform::DesktopIdleDelay& delay, int saverSeconds) {
    if (delay.seconds <= 0 || delay.seconds > saverSeconds) return {};
    const std::string note = DesktopDelayNote(delay);
    if (delay.seconds == saverSeconds) {
        return Format(_("%s, just as the saver starts: shorten the saver's idle time or "
                        "lengthen %s's"),
                      note.c_str(), delay.desktop.c_str());
    }
    return Format(_("%s, before the saver starts at %s: shorten the saver's idle time or "
                    "lengthen %s's"),
                  note.c_str(), DurationText(saverSeconds).c_str(), delay.desktop.c_str());
}
