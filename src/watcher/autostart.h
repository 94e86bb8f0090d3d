// --add-to-autostart and --remove-from-autostart: the desktop's autostart
// entry that starts the idle watch with every session, written or removed
// through platform/autostart_entry.h (which the settings dialog's check
// box shares).
#pragma once

// Adds (`add`) or removes the entry of the running program. What changed
// is the command's output, one line on standard output; why nothing could
// change is one line to the user (Tell). Returns the exit status: 0 when
// the entry is as asked, 1 when it could not be made so.
int RunAutostart(bool add);
