// The `programs:` list of an XScreenSaver init file (~/.xscreensaver), as
// text: finding it, and adding or removing this program's entry while every
// other byte of the file stays as it was. Pure string work, no I/O; relies
// on the standard library only.
//
// The file is read the way the XScreenSaver daemon reads it: a line ending
// in a backslash goes on over the next line, unless that backslash is
// itself escaped (`\\`); `!`, `#` and `;` start comment lines; a resource
// is `name: value`. Lines end in "\n" or "\r\n", and the lines an edit adds
// end as the file's first line does. The programs value holds one entry per
// `\n` escape, each `[-] [VISUAL:] ["Name"] command` (a leading `-`
// disables it). The daemon finds a bare command name in its hack folder, so
// an entry whose command is this program's full path, or its bare file
// name, counts as this program's entry.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// What an edit of the list did.
enum class ProgramsChange {
    Added,          // a new entry, at the end of the list
    Enabled,        // the entry was there, disabled; its `-` is gone
    AlreadyListed,  // an enabled entry was there; nothing changed
    Removed,        // every entry of the program is gone
    NotListed,      // there was none; nothing changed
};

struct ProgramsEdit {
    ProgramsChange change = ProgramsChange::NotListed;
    std::string text;  // the whole new file; the old one when nothing changed
};

// The entry that lists `program` (a full path), laid out as the settings
// program writes entries: `  GL: "Mereglass" PATH --root`, the command at
// column 32, padded to column 75, ending in ` \n`. A path with spaces or
// shell characters is put in single quotes.
std::string ProgramsEntryText(const std::string& program);

// Adds `program` to the programs list of `userFile` (the file's text, empty
// when there is none). A file without a programs resource gets one: a copy
// of the `*programs` list of `systemDefaults` (the text of the daemon's
// app-defaults file; nullopt when it cannot be read) with the entry at its
// end, so that no other saver leaves the list. False, with a short reason
// in `error`, for a file that is not text, a programs value that runs past
// the end of the file, a path that cannot be written into the list, or no
// usable system list when one is needed.
bool AddProgramsEntry(std::string_view userFile, std::optional<std::string_view> systemDefaults,
                      const std::string& program, ProgramsEdit* out, std::string* error);

// Removes every entry of `program` (enabled or not) from the programs list
// of `userFile`, in one pass over the file however many there are. A file
// without a programs resource is left alone (NotListed). False, with a
// reason in `error`, as for AddProgramsEntry.
bool RemoveProgramsEntry(std::string_view userFile, const std::string& program, ProgramsEdit* out,
                         std::string* error);
