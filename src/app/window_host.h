// The X11 hosts: -window, -root, -window-id and --fullscreen. Each opens its
// views on the X display and runs the frame loop until a signal, a lost
// window or (full screen) a key or a click ends it. In a window of its own
// a click drops a drip on the water under the pointer and a drag leaves a
// trail of small ones.
#pragma once

#include "app/command_line.h"

// Runs the saver as `cl` says (a mode of Window, Root, WindowId or
// FullScreen). Returns the exit status: 0 for a normal end (the window
// closed or destroyed under the program, a key or a click in full screen),
// 1 when the display or a view cannot be opened. When SIGTERM or SIGINT
// ended the run, every view has been torn down and *stopSignal names the
// signal (else it is 0); the caller then ends the process by it.
// During start-up the two signals keep their default action, so one that
// arrives while the program opens its views or reads its files ends it at
// once.
int RunWindowHost(const CommandLine& cl, int* stopSignal);
