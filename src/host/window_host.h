// The X11 hosts: -window, -root, -window-id and --fullscreen. Each opens its
// views on the X display and runs the frame loop until a signal, a lost
// window or (full screen) a key or a click ends it.
#pragma once

#include "host/command_line.h"

// Runs the saver as `cl` says (a mode of Window, Root, WindowId or
// FullScreen). Returns the exit status: 0 for a normal end (SIGTERM,
// SIGINT, the window closed or destroyed under the program), 1 when the
// display or a view cannot be opened.
int RunWindowHost(const CommandLine& cl);
