// A child process tied to this one: started with fork and exec, it gets
// SIGTERM when this process ends, however it ends. Shared by the settings
// dialog's preview and the idle watcher's saver. Relies on POSIX and
// Linux's prctl; this header includes no system headers.
#pragma once

#include <string>
#include <vector>

namespace platform {

// Starts the program args[0] with the arguments `args` and this process's
// environment, standard input, output and error, no signal blocked and
// SIGTERM, SIGINT and SIGPIPE at their default. The descriptor `keepFd`
// (-1 for none) stays open in it under the same number; the other
// close-on-exec descriptors do not. Its process id, or -1 with the
// system's reason in `error` when it cannot start (fork failed, or exec
// did: a missing program).
int StartTiedChild(const std::vector<std::string>& args, int keepFd, std::string* error);

}  // namespace platform
