// Tests of the -fps display: the text, and that it draws in the lower-left
// corner without disturbing the state of the frame drawn under it.
#include "host/frame_rate_text.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cmath>
#include <utility>

#include "headless_gl.h"

TEST(FrameRateText, Formats) {
    char text[32];
    FormatFrameRate(59.94, text, sizeof text);
    EXPECT_STREQ(text, "59.9 fps");
    FormatFrameRate(-3.0, text, sizeof text);
    EXPECT_STREQ(text, "0.0 fps");
    FormatFrameRate(1e9, text, sizeof text);
    EXPECT_STREQ(text, "9999.9 fps");
    FormatFrameRate(std::nan(""), text, sizeof text);
    EXPECT_STREQ(text, "0.0 fps");
}

TEST(FrameRateText, DrawsInTheLowerLeftCornerAndRestoresState) {
    HeadlessGL gl(320, 240);
    if (!gl.ok()) GTEST_SKIP() << gl.error();
    glClearColor(0.0f, 0.0f, 1.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_LIGHTING);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glTranslatef(1.0f, 2.0f, 3.0f);
    glColor4f(0.25f, 0.5f, 0.75f, 1.0f);

    DrawFrameRate(42.0, 320, 240);

    const std::vector<uint8_t> pixels = gl.ReadPixels();
    int yellow = 0, plate = 0;
    for (int y = 0; y < 20; ++y) {
        for (int x = 0; x < 120; ++x) {
            const uint32_t p = gl.PixelAt(pixels, x, y);
            if (p == 0xffff00ffu) ++yellow;
            if (p == 0x000000ffu) ++plate;
        }
    }
    EXPECT_GT(yellow, 50);
    EXPECT_GT(plate, 200);
    // The rest of the view is untouched.
    EXPECT_EQ(gl.PixelAt(pixels, 200, 200), 0x0000ffffu);
    EXPECT_EQ(gl.PixelAt(pixels, 300, 5), 0x0000ffffu);

    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_TRUE(glIsEnabled(GL_LIGHTING));
    GLint mode = 0;
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    EXPECT_EQ(mode, GL_MODELVIEW);
    GLfloat m[16];
    glGetFloatv(GL_MODELVIEW_MATRIX, m);
    EXPECT_EQ(m[12], 1.0f);
    EXPECT_EQ(m[14], 3.0f);
    GLfloat c[4];
    glGetFloatv(GL_CURRENT_COLOR, c);
    EXPECT_EQ(c[1], 0.5f);
}

TEST(FrameRateText, GlyphsGrowOnTallViews) {
    HeadlessGL gl(1600, 1080);
    if (!gl.ok()) GTEST_SKIP() << gl.error();
    glClearColor(0.0f, 0.0f, 1.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    DrawFrameRate(8.0, 1600, 1080);
    const std::vector<uint8_t> pixels = gl.ReadPixels();
    // 1080 / 270 = 4-pixel cells: the plate is 2 * 8 + 7 * 4 = 44 pixels high.
    EXPECT_EQ(gl.PixelAt(pixels, 2, 43), 0x000000ffu);
    EXPECT_EQ(gl.PixelAt(pixels, 2, 44), 0x0000ffffu);
}

TEST(FrameRateText, GlyphsFollowTheScale) {
    HeadlessGL gl(320, 240);
    if (!gl.ok()) GTEST_SKIP() << gl.error();
    // Cells of 2 points: 4 pixels at scale 2 (plate 2 * 8 + 7 * 4 = 44
    // high), 1 pixel at scale 0.5 (a half-size frame: 2 * 2 + 7 = 11).
    for (const auto& [scale, plate] : {std::pair{2.0f, 44}, std::pair{0.5f, 11}}) {
        glClearColor(0.0f, 0.0f, 1.0f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        DrawFrameRate(8.0, 320, 240, scale);
        const std::vector<uint8_t> pixels = gl.ReadPixels();
        EXPECT_EQ(gl.PixelAt(pixels, 0, plate - 1), 0x000000ffu) << scale;
        EXPECT_EQ(gl.PixelAt(pixels, 0, plate), 0x0000ffffu) << scale;
    }
}
