// Diagnostics and timing: the message sink, debug log, frame-rate counter,
// clock.
#include "support/diagnostics.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
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

// The path given to SetDebugLogPath; empty for the default.
std::string& ChosenLogPath() {
    static std::string path;
    return path;
}

// The folder of the default log: $XDG_STATE_HOME/mereglass, or
// $HOME/.local/state/mereglass when that is unset or not absolute; empty
// when HOME is neither.
std::string DefaultLogFolder() {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state && state[0] == '/') return std::string(state) + "/mereglass";
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/') return std::string(home) + "/.local/state/mereglass";
    return "";
}

// Makes `folder` and its missing parents, each new one for its owner only.
// A failure is left to the fopen that follows.
void MakeFolders(const std::string& folder) {
    for (size_t end = folder.find('/', 1);; end = folder.find('/', end + 1)) {
        const std::string part = folder.substr(0, end);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return;
        if (end == std::string::npos) return;
    }
}

// Opens the log in `mode`, making the default log's folder first. Null when
// it cannot be opened.
FILE* OpenLog(const char* mode) {
    if (!ChosenLogPath().empty()) return std::fopen(ChosenLogPath().c_str(), mode);
    const std::string folder = DefaultLogFolder();
    if (folder.empty()) return nullptr;
    MakeFolders(folder);
    return std::fopen((folder + "/debug.txt").c_str(), mode);
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

namespace {

// The length of the valid UTF-8 sequence at text[i] (1 to 4), or 0 when
// the byte there starts none: a lone continuation byte, an overlong form,
// a surrogate, a code point above U+10FFFF or a cut sequence.
size_t Utf8Length(const std::string& text, size_t i) {
    const auto byte = [&](size_t k) {
        return i + k < text.size() ? static_cast<unsigned char>(text[i + k]) : 0u;
    };
    const unsigned lead = byte(0);
    size_t length = 0;
    unsigned low = 0x80, high = 0xbf;  // the second byte's range
    if (lead < 0x80) return 1;
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        if (lead == 0xe0) low = 0xa0;
        if (lead == 0xed) high = 0x9f;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        if (lead == 0xf0) low = 0x90;
        if (lead == 0xf4) high = 0x8f;
    } else {
        return 0;
    }
    if (byte(1) < low || byte(1) > high) return 0;
    for (size_t k = 2; k < length; ++k) {
        if (byte(k) < 0x80 || byte(k) > 0xbf) return 0;
    }
    return length;
}

// Whether the valid sequence of `length` bytes at text[i] is a character
// a message must not show as it is.
bool IsHidden(const std::string& text, size_t i, size_t length) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[i + k]); };
    if (length == 1) return byte(0) < 0x20 || byte(0) == 0x7f;
    if (length == 2) return byte(0) == 0xc2 && byte(1) < 0xa0;  // U+0080 to U+009F
    if (length != 3 || byte(0) != 0xe2) return false;
    // U+2028 to U+202E, and U+2066 to U+2069.
    return (byte(1) == 0x80 && byte(2) >= 0xa8 && byte(2) <= 0xae) ||
           (byte(1) == 0x81 && byte(2) >= 0xa6 && byte(2) <= 0xa9);
}

}  // namespace

std::string DisplayName(const std::string& name) {
    static const char kHex[] = "0123456789abcdef";
    std::string shown;
    shown.reserve(name.size());
    for (size_t i = 0; i < name.size();) {
        const size_t length = Utf8Length(name, i);
        const size_t escaped = length == 0 ? 1 : IsHidden(name, i, length) ? length : 0;
        for (size_t k = 0; k < escaped; ++k) {
            const auto c = static_cast<unsigned char>(name[i + k]);
            shown += "\\x";
            shown += kHex[c >> 4];
            shown += kHex[c & 15];
        }
        if (escaped == 0) shown.append(name, i, length);
        i += escaped != 0 ? escaped : length;
    }
    return shown;
}

void ERRORBOX(const char* /*text*/) {}
void ERRORCLOSE(const char* /*text*/) {}

void SetDebugLogPath(const std::string& path) { ChosenLogPath() = path; }

std::string DebugLogPath() {
    if (!ChosenLogPath().empty()) return ChosenLogPath();
    const std::string folder = DefaultLogFolder();
    return folder.empty() ? "" : folder + "/debug.txt";
}

void DEBUG(double value) {
    FILE* f = OpenLog("a");
    if (!f) return;
    std::fprintf(f, "%f\n", value);
    std::fclose(f);
}

void DEBUGstr(const char* text) {
    FILE* f = OpenLog("w");
    if (!f) return;
    std::fprintf(f, "%s\n", text ? text : "");
    std::fclose(f);
}

void DEBUGp3d(VECTOR3D v) {
    FILE* f = OpenLog("w");
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
