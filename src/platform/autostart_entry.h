// The desktop's autostart entry that starts this program's idle watch with
// every session: $XDG_CONFIG_HOME/autostart/mereglass-idle-watch.desktop,
// a desktop entry whose Exec runs the program's full path with
// --idle-watch. Written whole beside its place and renamed over it; nothing
// else in the user's folders is written or removed. Shared by the
// program's --add-to-autostart and --remove-from-autostart and by the
// settings dialog's check box. Relies on POSIX file calls; this header
// includes no system headers.
#pragma once

#include <string>

namespace platform {

// Where the entry goes and what it runs.
struct AutostartPlace {
    // The user's configuration folder, absolute: $XDG_CONFIG_HOME, or
    // ~/.config when that is unset or not absolute. When missing, it is
    // made for its owner alone (0700), as is its "autostart" folder;
    // nothing above it ever is.
    std::string configFolder;
    // The program's full path, as Exec runs it.
    std::string program;
};

// The place for the running program: the configuration folder as above
// (HOME, else the password database's home folder) and the real path of
// /proc/self/exe. False, with a reason, when either cannot be found.
bool DefaultAutostartPlace(AutostartPlace* place, std::string* error);

// <configFolder>/autostart and the entry's file in it.
std::string AutostartFolder(const AutostartPlace& place);
std::string AutostartEntryPath(const AutostartPlace& place);

// The entry's whole text for `program`: Type, Name, Comment, Exec, Icon,
// Terminal and X-GNOME-Autostart-enabled=true. Shown in the desktop's list
// of startup programs (no NoDisplay), so the user can switch it off there.
std::string AutostartEntryText(const std::string& program);

// One word of an Exec line as desktop entries write it: quoted when it
// holds a space or another character that quoting must protect, '%'
// doubled, and backslashes, tabs and line breaks escaped once more for the
// key file's string value.
std::string ExecArgument(const std::string& word);

// True when something (a file, or a link to one) is at the entry's place.
bool AutostartEntryPresent(const AutostartPlace& place);
// True when a desktop entry is there and the desktop has not switched it
// off (Hidden=true, or X-GNOME-Autostart-enabled=false): what the settings
// dialog's check box shows.
bool AutostartEntryEnabled(const AutostartPlace& place);

// Writes (`add`) or removes the entry. Returns the exit status: 0 when the
// entry is as asked, whether or not anything changed; 1 when nothing could
// change (the autostart folder is a file or cannot be made or written, a
// folder is in the entry's place, the program's path is not UTF-8, which
// no desktop entry can hold, ...), with everything left as it was. An
// entry the desktop switched off is written again, switched on.
// `message` gets the one line that says which, without the program's name.
int ChangeAutostartEntry(bool add, const AutostartPlace& place, std::string* message);

}  // namespace platform
