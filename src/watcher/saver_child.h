// The idle watcher's saver: this program run full screen as a child
// process, which ends when the watcher ends however it ends (the kernel
// sends it SIGTERM), is asked to stop with SIGTERM and killed when it does
// not. Relies on the platform's tied child and Linux's pidfd.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "command/command_line.h"

struct SaverChild {
    pid_t pid = -1;
    int pidFd = -1;         // readable once the child has ended
    bool stopping = false;  // SIGTERM was sent
    double killAt = 0.0;    // when stopping: killed if it still runs then
};

// The saver's command line: `program`, --fullscreen, the session's path
// (--wayland or --x11) and what the watcher's own command line says of the
// picture, the display, the frame rate text and the settings.
std::vector<std::string> SaverCommand(const std::string& program, const CommandLine& watcher,
                                      bool wayland);

// Starts `command` as the saver, with SIGTERM and SIGINT at their default.
// False, with a one-line reason, when it cannot start (no such program,
// not executable).
bool StartSaverChild(const std::vector<std::string>& command, SaverChild* child,
                     std::string* error);
// While `held`, the saver stays up whatever the input (a locker takes
// it); released, input ends it again (SIGUSR1, SIGUSR2).
void HoldSaverChild(SaverChild* child, bool held);
// Asks it to stop at `now`; from `now` + `graceSeconds` KillLateSaverChild
// kills it.
void StopSaverChild(SaverChild* child, double now, double graceSeconds);
void KillLateSaverChild(SaverChild* child, double now);
// Once pidFd is readable: reaps the child into *status (as waitpid gives
// it) and forgets it. False while it still runs.
bool ReapSaverChild(SaverChild* child, int* status);
// Stops it and waits for its end, at most `graceSeconds` before it is
// killed.
void EndSaverChild(SaverChild* child, double graceSeconds);

// "ended with status 1", "ended by signal 11 (Segmentation fault)".
std::string DescribeEnding(int status);
