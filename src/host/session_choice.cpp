// The session a mode runs in. Relies on the session port.
#include "host/session_choice.h"

#include <cstdlib>

bool FullScreenOnWayland(const CommandLine& cl, const char* waylandDisplay) {
    switch (cl.session) {
        case CommandLine::Session::Native:
            return true;
        case CommandLine::Session::X11:
            return false;
        default:
            return waylandDisplay != nullptr && *waylandDisplay != '\0';
    }
}

std::unique_ptr<platform::Session> OpenScreenSession(const CommandLine& cl, std::string* error) {
    if (cl.mode == HostMode::FullScreen &&
        FullScreenOnWayland(cl, std::getenv("WAYLAND_DISPLAY"))) {
        return std::unique_ptr<platform::Session>(platform::OpenWaylandSession(error));
    }
    return std::unique_ptr<platform::Session>(
        platform::OpenX11Session(cl.display.empty() ? nullptr : cl.display.c_str(), error));
}
