// When the desktop itself blanks, locks or turns off the screen once the
// session is idle, and which of the three it does first: GNOME's session
// idle delay (GSettings), KDE's screen locker and KDE's energy saving on
// mains power (their files in the configuration folder). The saver's idle
// watch starts too late when that comes first. Relies on GIO; this header
// includes none of it.
#pragma once

#include <string>

namespace platform {

// What the desktop does to the screen after its delay.
enum class DesktopIdleAction {
    Blank,      // GNOME: the screen goes blank
    Lock,       // KDE's screen locker locks the session
    ScreenOff,  // KDE's energy saving turns the screen off
};

// The desktop's earliest idle action. `seconds` 0: none applies (another
// desktop, the delay switched off, or its settings not found).
struct DesktopIdleDelay {
    int seconds = 0;
    std::string desktop;  // "GNOME" or "KDE", as the user knows it
    DesktopIdleAction action = DesktopIdleAction::Blank;
};

// The delay of the desktop that `currentDesktop` names (the value of
// XDG_CURRENT_DESKTOP, a colon-separated list such as "ubuntu:GNOME"):
//  - with GNOME in the list: org.gnome.desktop.session's idle-delay
//    (seconds, 0 for never), read through the process's GSettings backend
//    only when that schema is installed;
//  - with KDE in the list: <configFolder>/kscreenlockerrc, [Daemon]
//    Autolock (true when absent) and Timeout (minutes, 5 when absent), and
//    <configFolder>/powermanagementprofilesrc, [AC][DPMSControl] idleTime
//    (seconds; no group, no screen turned off).
// The earliest that applies; a file that cannot be read counts as absent.
DesktopIdleDelay ReadDesktopIdleDelay(const std::string& currentDesktop,
                                      const std::string& configFolder);
// The same for this session: $XDG_CURRENT_DESKTOP and the user's
// configuration folder ($XDG_CONFIG_HOME, else ~/.config).
DesktopIdleDelay ReadDesktopIdleDelay();

}  // namespace platform
