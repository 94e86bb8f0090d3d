// The desktop's pictures for a host's views, taken before any view of the
// program shows: the main monitor's for every view, or (on a compositor)
// each output's own. Relies on the session port and the view's desktop
// capture.
#pragma once

#include <string>
#include <vector>

#include "platform/session.h"
#include "view/desktop_capture.h"

// Takes the pictures for the views `requests` will make. Where the session
// covers its outputs each over its own picture, and no picture of the
// user's comes first (no image file, and no folder preferred to the
// desktop, or one that cannot be used): one per request, all from one
// source (the compositor's copies, else the portal's picture), made
// private as sources.privacy says, with one line naming the source.
// Otherwise, and when not every output has one, the result is empty and
// *shared holds the picture every view shows (AcquireDesktopImage: the
// session's picture of sources.where, else the user's, else the built-in
// one).
std::vector<platform::RgbaImage> TakeDesktopPictures(
    platform::Session* session, const std::vector<platform::ViewRequest>& requests,
    const DesktopSources& sources, platform::RgbaImage* shared);

// The picture of an output `name` that came while the saver runs: the
// compositor's copy of it, else the one that stands in for the desktop
// (the user's, else the built-in picture), acquired for that output.
platform::RgbaImage NewOutputPicture(platform::Session* session,
                                     const platform::ViewRequest& request, const std::string& name,
                                     const DesktopSources& sources);
