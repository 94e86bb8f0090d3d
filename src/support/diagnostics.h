// Diagnostics and timing: the messages to the user (alerts and plain
// lines), the debug log writers, the frame-rate counter and the wall-clock
// reader. Relies on the C and C++ standard libraries and POSIX only; every
// message goes to one replaceable sink, so the core never depends on a
// windowing toolkit and a test or a dialog can catch every line the program
// says.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "support/vector.h"

// Receives one message for the user: its caption (an alert's title; empty
// for a plain line) and its text, both zero-terminated. The default sink
// writes "mereglass: <caption>: <text>", or "mereglass: <text>" when the
// caption is empty, as one line to standard error and returns at once: a
// screen saver must never wait on a dialog that nobody can click.
using AlertSink = std::function<void(const char* caption, const char* text)>;

// Installs the sink that MessageBox and Tell hand their messages to and
// returns the one it replaces. An empty sink restores the default.
AlertSink SetAlertSink(AlertSink sink);

// Tells the user one line: the text without the program's name or a line
// end, handed to the sink with an empty caption. Every layer says what the
// user should know (a file passed over, a setting out of range, a window
// that cannot be opened) through here.
void Tell(const std::string& line);

// A file name (or any text from outside: an argument, a variable) as a
// message may show it: each byte of a control character (C0, DEL, C1), of
// a character that reorders or breaks a line (the bidirectional overrides
// and isolates, the line and paragraph separators) and each byte that is
// not part of valid UTF-8 written as \xNN; everything else as it is.
std::string DisplayName(const std::string& name);

// Reports an error to the user through the alert sink. owner and style are
// ignored; null texts are passed on as empty strings.
void MessageBox(void* owner, const char* text, const char* caption, int style);

// Kept for callers that report errors in other ways; they do nothing.
void ERRORBOX(const char* text);
void ERRORCLOSE(const char* text);

// The debug log: by default $XDG_STATE_HOME/mereglass/debug.txt, or
// $HOME/.local/state/mereglass/debug.txt when XDG_STATE_HOME is unset or not
// an absolute path (read at each write); the default's folder and its
// missing parents are made, for the owner only, when the log is written.
// Each writer opens the file, writes one line and closes it; if the file
// cannot be opened (or neither variable is an absolute path), the call does
// nothing. An empty path restores the default.
void SetDebugLogPath(const std::string& path);
// The path the next write goes to; empty when there is none.
std::string DebugLogPath();

// Appends "%f\n".
void DEBUG(double value);
// Replaces the log's contents with "%s\n".
void DEBUGstr(const char* text);
// Replaces the log's contents with "%f,%f,%f\n" of x, y, z.
void DEBUGp3d(VECTOR3D v);

// Frame-rate counter state. fCount is advanced by whoever counts frames.
extern int32_t fCount;
extern double frameRate;        // frames per second, last computed
extern double lastcountTime;    // seconds, time of the last computation
extern int32_t lastcountFrame;  // fCount at the last computation

// Recomputes frameRate at most four times a second; now is in seconds on any
// monotonic clock. Calls before 0.25 s do nothing.
void CalcFrameRate(double now);

// Stores the local wall-clock time: hour 0-23, minute 0-59, second 0-60.
// Leaves all three untouched if the clock cannot be read.
void Clock(int* hour, int* minute, int* second);
