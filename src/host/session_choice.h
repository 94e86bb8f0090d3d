// The session a mode runs in: headless for --render, the Wayland
// compositor for --fullscreen on a Wayland session, else the X display.
#pragma once

#include <memory>
#include <string>

#include "command/command_line.h"
#include "platform/session.h"

// True when --fullscreen runs on the Wayland compositor rather than an X
// server: --wayland, or neither --wayland nor --x11 with a non-empty
// `waylandDisplay` (the value of $WAYLAND_DISPLAY, or null).
bool FullScreenOnWayland(const CommandLine& cl, const char* waylandDisplay);

// Opens the session for a mode that draws on the screen (not --render).
// Null, with a reason, when there is no display or compositor to open.
std::unique_ptr<platform::Session> OpenScreenSession(const CommandLine& cl, std::string* error);
