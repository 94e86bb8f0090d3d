// The views a mode asks for. Relies on the platform's view requests and
// support/diagnostics.h to tell the user.
#include "host/view_requests.h"

#include <algorithm>
#include <cstdlib>

#include "support/diagnostics.h"
#include "support/translation.h"

namespace {

// The view of -root: the window a screen-saver daemon names in the
// environment (honoured only together with -root), else the root window.
platform::ViewRequest RootRequest() {
    platform::ViewRequest r;
    r.kind = platform::ViewKind::Root;
    const char* env = std::getenv("XSCREENSAVER_WINDOW");
    unsigned long id = 0;
    if (env == nullptr || *env == '\0') return r;
    if (ParseWindowId(env, &id)) {
        r.kind = platform::ViewKind::Foreign;
        r.foreign = id;
    } else {
        Tell(Format(_("XSCREENSAVER_WINDOW=\"%s\" is not a window id; using the root window"),
                    DisplayName(env).c_str()));
    }
    return r;
}

platform::ViewRequest TopLevelRequest(const CommandLine& cl,
                                      const std::vector<platform::Output>& outputs) {
    platform::ViewRequest r;
    r.kind = platform::ViewKind::TopLevel;
    r.width = cl.windowWidth;
    r.height = cl.windowHeight;
    r.hasPosition = cl.hasPosition;
    r.x = cl.windowX;
    r.y = cl.windowY;
    // Negative offsets count from the right and bottom edges.
    if (cl.hasPosition && (cl.windowXFromRight || cl.windowYFromBottom)) {
        int right = 0, bottom = 0;
        for (const platform::Output& o : outputs) {
            right = std::max(right, o.screen.x + o.screen.width);
            bottom = std::max(bottom, o.screen.y + o.screen.height);
        }
        if (cl.windowXFromRight) r.x = right + cl.windowX - cl.windowWidth;
        if (cl.windowYFromBottom) r.y = bottom + cl.windowY - cl.windowHeight;
    }
    return r;
}

}  // namespace

std::vector<platform::ViewRequest> ViewRequests(const CommandLine& cl,
                                                const std::vector<platform::Output>& outputs) {
    std::vector<platform::ViewRequest> out;
    platform::ViewRequest r;
    switch (cl.mode) {
        case HostMode::Root:
            out.push_back(RootRequest());
            break;
        case HostMode::WindowId:
            r.kind = platform::ViewKind::Foreign;
            r.foreign = cl.windowId;
            out.push_back(r);
            break;
        case HostMode::FullScreen:
            for (const platform::Output& o : outputs) {
                r.kind = platform::ViewKind::FullScreen;
                r.screen = o.screen;
                out.push_back(r);
            }
            break;
        case HostMode::Render:
            r.kind = platform::ViewKind::Offscreen;
            r.width = cl.renderWidth;
            r.height = cl.renderHeight;
            out.push_back(r);
            break;
        default:
            out.push_back(TopLevelRequest(cl, outputs));
            break;
    }
    return out;
}
