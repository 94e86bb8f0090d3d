// Diagnostics and timing: the message sink, debug log, frame-rate counter,
// clock.
#include "support/diagnostics.h"

#include <cstdio>
#include <ctime>
#include <utility>

namespace {

void StandardErrorSink(const char* caption, const char* text) {
    if (*caption == '\0') {
        std::fprintf(stderr, "mereglass: %s\n", text);
    } else {
        std::fprintf(stderr, "mereglass: %s: %s\n", caption, text);
    }
}

AlertSink& CurrentSink() {
    static AlertSink sink = StandardErrorSink;
    return sink;
}

std::string& LogPath() {
    static std::string path = "/Users/Shared/debug.txt";
    return path;
}

}  // namespace

AlertSink SetAlertSink(AlertSink sink) {
    if (!sink) sink = StandardErrorSink;
    return std::exchange(CurrentSink(), std::move(sink));
}

void MessageBox(void* /*owner*/, const char* text, const char* caption, int /*style*/) {
    CurrentSink()(caption ? caption : "", text ? text : "");
}

void Tell(const std::string& line) { CurrentSink()("", line.c_str()); }

void ERRORBOX(const char* /*text*/) {}
void ERRORCLOSE(const char* /*text*/) {}

void SetDebugLogPath(const std::string& path) { LogPath() = path; }
const std::string& DebugLogPath() { return LogPath(); }

void DEBUG(double value) {
    FILE* f = std::fopen(LogPath().c_str(), "a");
    if (!f) return;
    std::fprintf(f, "%f\n", value);
    std::fclose(f);
}

void DEBUGstr(const char* text) {
    FILE* f = std::fopen(LogPath().c_str(), "w");
    if (!f) return;
    std::fprintf(f, "%s\n", text ? text : "");
    std::fclose(f);
}

void DEBUGp3d(VECTOR3D v) {
    FILE* f = std::fopen(LogPath().c_str(), "w");
    if (!f) return;
    std::fprintf(f, "%f,%f,%f\n", v.x, v.y, v.z);
    std::fclose(f);
}

int32_t fCount = 0;
double frameRate = 0.0;
double lastcountTime = 0.0;
int32_t lastcountFrame = 0;

void CalcFrameRate(double now) {
    if (now < 0.25) return;
    if (now <= lastcountTime + 0.25) return;
    // The difference wraps like a 32-bit counter instead of overflowing.
    const int32_t frames =
        static_cast<int32_t>(static_cast<uint32_t>(fCount) - static_cast<uint32_t>(lastcountFrame));
    frameRate = static_cast<double>(frames) / (now - lastcountTime);
    lastcountFrame = fCount;
    lastcountTime = now;
}

void Clock(int* hour, int* minute, int* second) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (now == static_cast<std::time_t>(-1) || !localtime_r(&now, &local)) return;
    *hour = local.tm_hour;
    *minute = local.tm_min;
    *second = local.tm_sec;
}
