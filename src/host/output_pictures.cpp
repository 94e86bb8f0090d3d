// The desktop's pictures for a host's views. Relies on the session port,
// the view's desktop capture and privacy, and support/diagnostics.h.
#include "host/output_pictures.h"

#include <algorithm>

#include "support/diagnostics.h"
#include "support/translation.h"
#include "view/desktop_privacy.h"

namespace {

// Each request's picture from the session, all of one kind: when the
// outputs came from different sources (screencopy failed for a later one),
// they are read again, now all from the portal. DesktopRead::Missing, with
// *missing saying why, when not every output has one.
platform::DesktopRead ReadEach(platform::Session* session,
                               const std::vector<platform::ViewRequest>& requests,
                               std::vector<platform::RgbaImage>* pictures, std::string* missing) {
    platform::DesktopRead first = platform::DesktopRead::Missing;
    for (int pass = 0; pass < 2; ++pass) {
        bool mixed = false;
        for (size_t i = 0; i < requests.size(); ++i) {
            const platform::DesktopRead kind =
                session->ReadDesktop(requests[i], &(*pictures)[i], missing);
            if (kind == platform::DesktopRead::Missing) return kind;
            if (i == 0) first = kind;
            mixed = mixed || kind != first;
        }
        if (!mixed) return first;
    }
    return platform::DesktopRead::Missing;
}

}  // namespace

std::vector<platform::RgbaImage> TakeDesktopPictures(
    platform::Session* session, const std::vector<platform::ViewRequest>& requests,
    const DesktopSources& sources, platform::RgbaImage* shared) {
    // A picture the user named comes first, as it does for the shared
    // picture.
    if (!session->CoversOutputs() || !sources.imageFile.empty()) {
        AcquireDesktopImage(sources, shared);
        return {};
    }
    // So does a folder preferred to the desktop; when it fails, each
    // output's own picture follows, as without it.
    DesktopSources rest = sources;
    if (sources.folderFirst) {
        if (AcquirePreferredFolderPicture(sources, shared)) return {};
        rest.folderFirst = false;
        rest.imageFolder.clear();
    }
    std::vector<platform::RgbaImage> pictures(requests.size());
    std::string missing;
    const platform::DesktopRead kind = ReadEach(session, requests, &pictures, &missing);
    if (kind == platform::DesktopRead::Missing) {
        // The line that names the picture shown instead gives the reasons.
        DesktopSources instead = rest;
        instead.session = nullptr;
        instead.noDesktop = missing;
        AcquireDesktopImage(instead, shared);
        return {};
    }
    for (platform::RgbaImage& picture : pictures) ProtectDesktopPicture(sources.privacy, &picture);
    if (kind == platform::DesktopRead::Screencopy) {
        Tell(_("the desktop's picture comes from the compositor (screencopy)"));
    } else {
        Tell(Format(_("the desktop's picture comes from the screenshot portal (%s)"),
                    missing.c_str()));
    }
    return pictures;
}

platform::RgbaImage NewOutputPicture(platform::Session* session,
                                     const platform::ViewRequest& request, const std::string& name,
                                     const DesktopSources& sources) {
    platform::RgbaImage picture;
    std::string missing;
    if (session->ReadDesktop(request, &picture, &missing) != platform::DesktopRead::Missing) {
        ProtectDesktopPicture(sources.privacy, &picture);
        return picture;
    }
    DesktopSources instead = sources;
    instead.session = nullptr;
    instead.mainScreen = request.screen;
    instead.noDesktop = name + ": " + missing;
    AcquireDesktopImage(instead, &picture);
    return picture;
}
