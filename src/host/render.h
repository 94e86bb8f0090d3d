// --render: the host's frame loop on a headless session, with a hook that
// runs a simulated clock and writes every K-th frame as a PNG file. Needs
// no display.
#pragma once

#include "command/command_line.h"

namespace platform {
struct SettingsStore;
}

// Runs the render described by `cl` (cl.mode is HostMode::Render) with the
// settings of `store` (not owned). Prints the wall-clock frame rate and the
// CPU time per frame at the end. Returns the process's exit status: 0 on
// success, 1 when the context, the folder or a frame file could not be
// made. SIGINT and SIGTERM end the run early,
// cleanly: the view is torn down and *stopSignal names the signal (else it
// is 0), for the caller to end the process by it.
int RunRender(const CommandLine& cl, platform::SettingsStore* store, int* stopSignal);
