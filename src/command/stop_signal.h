// How the program ends when it is asked to stop. Screen-saver daemons stop a
// hack with SIGTERM and log one that dies by it as a normal end; a hack that
// catches it and exits 0 is logged as ending abnormally. So the host tidies
// up and then ends by the very signal that asked. Relies on POSIX signals.
#pragma once

// The signals that ask the program to stop: SIGTERM and SIGINT.
bool IsStopSignal(int signal);

// Ends the process by `signal`: restores its default action, unblocks it and
// raises it. Does not return (exits with 128 + signal should the signal not
// end the process).
[[noreturn]] void EndBySignal(int signal);

// Blocks SIGTERM and SIGINT and returns a descriptor (signalfd) that becomes
// readable when one arrives; -1 when signalfd is not available (the signals
// are then left to their default action). With `hold`, SIGUSR1 and SIGUSR2
// too: the idle watcher's saver is held up by them (BlockHoldSignals).
int OpenStopSignalFd(bool hold = false);

// Blocks SIGUSR1 and SIGUSR2 until OpenStopSignalFd(true) hears them: the
// idle watcher's saver, which they hold up and release, blocks them first
// thing, so that one sent before its loop runs waits for it.
void BlockHoldSignals();

// The signal waiting on the descriptor `fd` (consumed), or 0.
int ReadStopSignal(int fd);
