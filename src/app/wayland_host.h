// The Wayland host: --fullscreen on a Wayland compositor itself. It covers
// every output with a view of its own over a picture of that output taken
// before (screencopy, else the screenshot portal, else the picture the
// user named or the built-in one), follows outputs that come and go, and
// runs until a key, a click, pointer motion or a stop signal. Relies on
// the platform's Wayland port and the hosted view.
#pragma once

#include "app/command_line.h"

// True when --fullscreen runs on the Wayland compositor rather than an X
// server: --wayland, or neither --wayland nor --x11 with a non-empty
// `waylandDisplay` (the value of $WAYLAND_DISPLAY, or null).
bool FullScreenOnWayland(const CommandLine& cl, const char* waylandDisplay);

// Runs --fullscreen on the compositor. Returns the exit status: 0 after a
// key, a click or pointer motion; 1 when there is no compositor to cover,
// or it goes away (one line says why). When SIGTERM or SIGINT ended the run,
// every view has been torn down and *stopSignal names the signal (else 0);
// the caller then ends the process by it. During start-up the two signals
// keep their default action.
int RunWaylandHost(const CommandLine& cl, int* stopSignal);
