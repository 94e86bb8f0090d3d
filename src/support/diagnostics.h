// Diagnostics and timing: the error alert, the debug log writers, the
// frame-rate counter and the wall-clock reader. Relies on the C and C++
// standard libraries only; the alert itself is a replaceable sink, so the
// core never depends on a windowing toolkit.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "support/vector.h"

// Receives one alert: its caption (title) and text, both zero-terminated.
// The default sink writes "mereglass: <caption>: <text>" as one line to
// standard error and returns at once: a screen saver must never wait on a
// dialog that nobody can click.
using AlertSink = std::function<void(const char* caption, const char* text)>;

// Installs the sink that MessageBox hands its alerts to and returns the one
// it replaces. An empty sink restores the default.
AlertSink SetAlertSink(AlertSink sink);

// Reports an error to the user through the alert sink. owner and style are
// ignored; null texts are passed on as empty strings.
void MessageBox(void* owner, const char* text, const char* caption, int style);

// Kept for callers that report errors in other ways; they do nothing.
void ERRORBOX(const char* text);
void ERRORCLOSE(const char* text);

// The debug log: "/Users/Shared/debug.txt" unless set otherwise. Each writer
// opens the file, writes one line and closes it; if the file cannot be
// opened, the call does nothing.
void SetDebugLogPath(const std::string& path);
const std::string& DebugLogPath();

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
