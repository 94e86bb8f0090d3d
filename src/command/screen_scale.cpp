// The screen's scale factor from Xft.dpi and GDK_SCALE. Relies on the
// standard library only.
#include "command/screen_scale.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace {

// The dots per inch of a screen at scale 1.
constexpr double kBaseDpi = 96.0;

}  // namespace

bool ParseScaleFactor(const char* text, int* factor) {
    if (text == nullptr || *text < '0' || *text > '9') return false;
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (*end != '\0' || v < 1) return false;
    // A number too long for a long is still a large one.
    *factor = errno == ERANGE || v > kMaxScreenScale ? kMaxScreenScale : static_cast<int>(v);
    return true;
}

int ScreenScaleFactor(const char* xftDpi, const char* gdkScale) {
    int factor = 1;
    if (ParseScaleFactor(gdkScale, &factor)) return factor;
    if (xftDpi == nullptr || *xftDpi == '\0') return 1;
    char* end = nullptr;
    const double dpi = std::strtod(xftDpi, &end);
    // Xrm keeps what follows the colon up to the line's end: trailing
    // blanks are part of the value.
    while (*end == ' ' || *end == '\t') ++end;
    if (*end != '\0' || !std::isfinite(dpi) || dpi <= 0.0) return 1;
    const double scale = std::round(dpi / kBaseDpi);
    if (scale < 1.0) return 1;
    return scale > kMaxScreenScale ? kMaxScreenScale : static_cast<int>(scale);
}
