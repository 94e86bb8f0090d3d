// The desktop portal's screenshot on the session bus: a picture of the
// whole desktop taken without the user, and GNOME's grant that decides
// whether the portal would ask the user first. For the Wayland session,
// which cuts each output's part from the picture, and for the settings
// dialog, which makes the one request that may ask. Plain free functions
// like platform.h's; nothing here includes GLib. The bodies are
// portal_screenshot.cpp and portal_grant.cpp.
#pragma once

#include <string>

#include "platform/platform.h"

namespace platform {

// Asks the screenshot portal on the session bus for a picture of the whole
// desktop, without asking the user (interactive=false), waiting at most
// `timeoutSeconds` for it. The file the portal saved the picture in is
// deleted once read when the portal made it for this request (a regular
// file of this user, of one name, stamped after the request began); any
// other file it names is left. An answer that comes after the wait is
// still listened for, two minutes more in a thread of its own, and its
// file deleted unread under the same rule. Where the portal would first ask the user
// whether programs may take screenshots (GNOME without a grant:
// PortalScreenshotGrant), it is not asked at all. False, with a reason
// that names the portal, when it is not asked, there is none, it refuses,
// fails or does not answer in time.
bool PortalScreenshot(double timeoutSeconds, RgbaImage* image, std::string* error);

// What the desktop's portal makes of a screenshot asked for without the
// user (GNOME's permission store: table "screenshot", id "screenshot", under
// the app id "" of a program run from the host, or "org.example.Mereglass"
// where a newer portal files a program started from its menu entry).
enum class ScreenshotGrant {
    NotNeeded,  // not GNOME ($XDG_CURRENT_DESKTOP does not name it)
    Granted,    // GNOME, and the store holds "yes" for either id, "no" for neither
    Unasked,    // GNOME, and nothing for either (or no store): the portal would ask
    Refused,    // GNOME, and the store holds "no" for either: it refuses unasked
};
// Looks the grant up on the session bus, waiting at most `timeoutSeconds`.
ScreenshotGrant PortalScreenshotGrant(double timeoutSeconds);
// The one request that may ask the user, for the settings dialog: the same
// request as PortalScreenshot's but made whatever the grant, so that GNOME
// asks its question now, over the dialog, and stores the answer. Waits at
// most `timeoutSeconds` (the user is answering); the picture is not kept
// and its file is deleted. False, with a reason, when no picture came.
bool RequestPortalScreenshotGrant(double timeoutSeconds, std::string* error);

}  // namespace platform
