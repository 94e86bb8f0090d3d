// Listing this program in the user's XScreenSaver init file
// (~/.xscreensaver), for --add-to-xscreensaver and
// --remove-from-xscreensaver: reads the file, edits its programs list
// (listing/xscreensaver_programs.h) and replaces it atomically, keeping the
// previous file as ~/.xscreensaver.bak once the new one is written in full.
// Relies on POSIX file calls.
#pragma once

#include <sys/stat.h>

#include <string>

#include "listing/xscreensaver_programs.h"

struct ListingFiles {
    // ~/.xscreensaver. A symbolic link is followed: the file it names is
    // replaced, and the link stays.
    std::string initFile;
    // The daemon's app-defaults file, whose `*programs` list seeds a user
    // file that has none.
    std::string systemDefaults;
    // This program's full path, as the entry runs it.
    std::string program;
};

// The files for the running program: $HOME/.xscreensaver (the password
// database's home folder when HOME is unset), Debian's app-defaults file,
// and the real path of /proc/self/exe. False, with a reason, when neither
// gives a home folder or the program's path cannot be read.
bool DefaultListingFiles(ListingFiles* out, std::string* error);

// A change of the init file worked out from the file as it was read.
struct ListingChange {
    std::string target;   // the file the init file's links lead to
    bool exists = false;  // it existed when it was read
    std::string old;      // its text as read
    struct stat read {};  // its device, inode, size, time and mode as read
    ProgramsEdit edit;    // what the entry's change makes of it
    bool needed = false;  // the file must be replaced (edit.text)
};

// Reads the init file and works out the change (`add` or remove). Returns
// 1, with the line for the user in `message`, when the file cannot be
// read or understood; otherwise 0, with `needed` telling whether it must
// be replaced (when not, `message` says why nothing changes).
int PrepareListing(bool add, const ListingFiles& files, ListingChange* change,
                   std::string* message);

// Replaces the init file as PrepareListing worked out (change.needed),
// keeping the file read as the backup, only while the file is still the
// one read (its device, inode, size and modification time). Returns 0 when
// it is replaced, 1 when it cannot be, and 2 when another program changed
// it meanwhile (nothing replaced, not even the backup); the line for the
// user is in `message`.
int ReplaceListing(const ListingFiles& files, const ListingChange& change, std::string* message);

// Adds (`add`) or removes this program's entry. Returns the exit status:
// 0 when the list is as asked (whether or not the file changed), 1 when the
// file was left as it was because it cannot be read, understood or
// replaced, because another program changed it while it was being changed
// (it is read again once first), or because the user made it read-only
// (no write permission in its mode, which holds for root too). The backup
// is replaced only when the new file is ready to take the file's place.
// `message` gets the one line that says which, for the user (without the
// program's name).
int ChangeListing(bool add, const ListingFiles& files, std::string* message);
