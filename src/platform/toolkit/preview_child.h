// The process behind the settings dialog's preview pane: started with
// fork and exec, tied to the dialog's life, ended with SIGTERM and then
// SIGKILL. Private to src/platform/toolkit/; relies on POSIX and Linux's
// prctl.
#pragma once

#include <string>
#include <vector>

namespace platform {

struct PreviewChild;

// Starts the program args[0] with the arguments `args` and the dialog's
// environment, standard input, output and error. The descriptor `keepFd`
// (-1 for none) stays open in it under the same number; the dialog's other
// close-on-exec descriptors do not. The child gets SIGTERM when the dialog's
// process ends, however it ends. Null, with a reason in `error`, when the
// program cannot be started (fork failed, or exec did: a missing program).
PreviewChild* StartPreviewChild(const std::vector<std::string>& args, int keepFd,
                                std::string* error);

// Whether the child still runs, without waiting. Once it has ended it is
// reaped, and `status` (if not null) gets its exit status, or 128 + the
// signal that ended it.
bool PreviewChildRunning(PreviewChild* child, int* status);

// Ends the child: SIGTERM, then SIGKILL when it is still there a second
// later; waits until it is reaped and frees the handle. Null does nothing.
void StopPreviewChild(PreviewChild* child);

}  // namespace platform
