// Tests of the screen's scale factor from the Xft.dpi resource and
// GDK_SCALE.
#include "command/screen_scale.h"

#include <gtest/gtest.h>

TEST(ScreenScale, GdkScaleWinsElseXftDpiOver96RoundedWithinOneToEight) {
    struct Case {
        const char* dpi;
        const char* gdk;
        int factor;
    };
    const Case cases[] = {
        {nullptr, nullptr, 1}, {"", "", 1},          {"96", nullptr, 1},    {"120", nullptr, 1},
        {"144", nullptr, 2},   {"192 ", nullptr, 2}, {"288.0", nullptr, 3}, {"40", nullptr, 1},
        {"9999", nullptr, 8},  {"junk", nullptr, 1}, {"-192", nullptr, 1},  {"192", "1", 1},
        {"96", "3", 3},        {"96", "20", 8},      {"192", "abc", 2},     {"192", "0", 2},
        {"192", "2.5", 2},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ScreenScaleFactor(c.dpi, c.gdk), c.factor)
            << (c.dpi ? c.dpi : "(none)") << " / " << (c.gdk ? c.gdk : "(none)");
    }
}
