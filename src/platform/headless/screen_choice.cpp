// The choice of a screen among the monitors, and the one screen of a
// program without a display. Relies on nothing but the standard library.
//
// Provides: HeadlessScreens, MainScreen, ScreenOfRectangle.
#include <algorithm>

#include "platform/platform.h"

namespace platform {

std::vector<ScreenInfo> HeadlessScreens(int width, int height) {
    ScreenInfo s;
    s.width = width;
    s.height = height;
    s.number = 1;
    s.primary = true;
    return {s};
}

ScreenInfo MainScreen(const std::vector<ScreenInfo>& screens) {
    for (const ScreenInfo& s : screens) {
        if (s.primary) return s;
    }
    return screens.empty() ? ScreenInfo{} : screens.front();
}

ScreenInfo ScreenOfRectangle(const std::vector<ScreenInfo>& screens, int x, int y, int width,
                             int height) {
    const long cx = x + width / 2;
    const long cy = y + height / 2;
    for (const ScreenInfo& s : screens) {
        if (cx >= s.x && cx < long{s.x} + s.width && cy >= s.y && cy < long{s.y} + s.height) {
            return s;
        }
    }
    long best = 0;
    const ScreenInfo* bestScreen = nullptr;
    for (const ScreenInfo& s : screens) {
        const long w = std::min<long>(long{x} + width, long{s.x} + s.width) - std::max(x, s.x);
        const long h = std::min<long>(long{y} + height, long{s.y} + s.height) - std::max(y, s.y);
        if (w > 0 && h > 0 && w * h > best) {
            best = w * h;
            bestScreen = &s;
        }
    }
    return bestScreen ? *bestScreen : MainScreen(screens);
}

}  // namespace platform
