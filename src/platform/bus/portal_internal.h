// What the screenshot portal's files share: the session bus, the
// desktop's names, GNOME's grant and the portal's picture file. Private to
// src/platform/bus/; relies on GIO.
#pragma once

#include <gio/gio.h>

#include <cstdint>
#include <ctime>
#include <string>

#include "platform/bus/session_bus_internal.h"
#include "platform/portal_screenshot.h"

namespace platform {

// True when $XDG_CURRENT_DESKTOP (a list separated by colons) holds
// `name`, compared without regard to case.
bool DesktopNamed(const char* name);

// The grant as the permission store on `bus` holds it (PortalScreenshotGrant).
ScreenshotGrant LookUpScreenshotGrant(GDBusConnection* bus, double timeoutSeconds);

// The real-time clock now, taken just before a request: a file with a
// later time stamp was made after it.
timespec PortalRequestTime();

// A file the portal named, judged before it is read.
struct PortalFile {
    int folder = -1;           // a descriptor (O_PATH) of its folder; -1 for none
    std::string name;          // its name in the folder
    unsigned deviceMajor = 0;  // the file's device and inode, as statx gives them
    unsigned deviceMinor = 0;
    uint64_t inode = 0;
    bool madeAfter = false;  // made after the request: it may be deleted
};

// Judges the file at `path`: the portal made it for this request when it
// is a regular file of this user, its only name, whose birth time (else
// its change time) is later than `requested`. `file` always needs
// DeletePortalFile, which deletes it only when so judged.
void JudgePortalFile(const char* path, const timespec& requested, PortalFile* file);

// Deletes the judged file when it was made for the request and its name
// still names the same file (device and inode); leaves anything else.
// Closes the folder's descriptor. True when it deleted the file.
bool DeletePortalFile(PortalFile* file);

}  // namespace platform
