// The headless fixture itself: a context exists without a display, it is a
// compatibility profile (fixed function works), and read-back is exact.
#include "headless_gl.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cstring>

TEST(HeadlessGL, ClearsAndReadsBackExactColours) {
    HeadlessGL gl(64, 32);
    ASSERT_TRUE(gl.ok()) << gl.error();
    glClearColor(1.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    const auto pixels = gl.ReadPixels();
    ASSERT_EQ(pixels.size(), 64u * 32u * 4u);
    EXPECT_EQ(gl.PixelAt(pixels, 0, 0), 0xFF0000FFu);
    EXPECT_EQ(gl.PixelAt(pixels, 63, 31), 0xFF0000FFu);
}

TEST(HeadlessGL, FixedFunctionQuadCoversOnlyItsHalf) {
    HeadlessGL gl(40, 20);
    ASSERT_TRUE(gl.ok()) << gl.error();
    const char* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
    ASSERT_NE(version, nullptr);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, 40, 0, 20, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glColor4f(0, 1, 0, 1);
    glBegin(GL_QUADS);
    glVertex2f(0, 0);
    glVertex2f(20, 0);
    glVertex2f(20, 20);
    glVertex2f(0, 20);
    glEnd();
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR)) << version;
    const auto pixels = gl.ReadPixels();
    EXPECT_EQ(gl.PixelAt(pixels, 5, 10), 0x00FF00FFu);
    EXPECT_EQ(gl.PixelAt(pixels, 35, 10), 0x000000FFu);
}

TEST(HeadlessGL, HasADepthBufferAndResizes) {
    HeadlessGL gl(16, 16);
    ASSERT_TRUE(gl.ok()) << gl.error();
    GLint depthBits = 0;
    glGetIntegerv(GL_DEPTH_BITS, &depthBits);
    EXPECT_GE(depthBits, 16);
    ASSERT_TRUE(gl.Resize(30, 10));
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], 30);
    EXPECT_EQ(viewport[3], 10);
    glClearColor(0, 0, 1, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    const auto pixels = gl.ReadPixels();
    EXPECT_EQ(pixels.size(), 30u * 10u * 4u);
    EXPECT_EQ(gl.PixelAt(pixels, 29, 9), 0x0000FFFFu);
}

TEST(HeadlessGL, TwoContextsLiveSideBySide) {
    HeadlessGL a(8, 8);
    HeadlessGL b(8, 8);
    ASSERT_TRUE(a.ok() && b.ok());
    a.MakeCurrent();
    glClearColor(1, 1, 1, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    b.MakeCurrent();
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    a.MakeCurrent();
    EXPECT_EQ(a.PixelAt(a.ReadPixels(), 3, 3), 0xFFFFFFFFu);
    b.MakeCurrent();
    EXPECT_EQ(b.PixelAt(b.ReadPixels(), 3, 3), 0x000000FFu);
}

// The read-back clears OpenGL's error flag, so an error left by the drawing
// must not pass unseen through it.
TEST(HeadlessGLDeathTest, ReadBackEndsTheTestOnAPendingError) {
    EXPECT_DEATH(
        {
            HeadlessGL gl(8, 8);
            if (!gl.ok()) return;  // no context: fails, as nothing died
            glEnable(0x7fff);      // no such capability: GL_INVALID_ENUM
            gl.ReadPixels();
        },
        "reading the 8 × 8 pixels failed");
}
