// Tests of ScaledFrame on the headless renderer: what is drawn into the
// reduced frame covers the whole window after the stretch, and the frame
// follows a new window size.
#include "app/scaled_frame.h"

#define GL_GLEXT_PROTOTYPES 1
#include <GL/gl.h>
#include <GL/glext.h>
#include <gtest/gtest.h>

#include "headless_gl.h"

namespace {

// Fills the left half of the current viewport red and the right half blue.
void DrawHalves() {
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0.0, 2.0, 0.0, 1.0, -1.0, 1.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glClearColor(0.0f, 1.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glBegin(GL_QUADS);
    glColor3f(1.0f, 0.0f, 0.0f);
    glVertex2f(0.0f, 0.0f);
    glVertex2f(1.0f, 0.0f);
    glVertex2f(1.0f, 1.0f);
    glVertex2f(0.0f, 1.0f);
    glColor3f(0.0f, 0.0f, 1.0f);
    glVertex2f(1.0f, 0.0f);
    glVertex2f(2.0f, 0.0f);
    glVertex2f(2.0f, 1.0f);
    glVertex2f(1.0f, 1.0f);
    glEnd();
}

}  // namespace

TEST(ScaledFrame, SizesAndRendererNames) {
    EXPECT_EQ(ScaledSide(1920, 50), 960);
    EXPECT_EQ(ScaledSide(1081, 50), 540);
    EXPECT_EQ(ScaledSide(1, 50), 1);
    EXPECT_TRUE(IsSoftwareRenderer("llvmpipe (LLVM 15.0.6, 256 bits)"));
    EXPECT_TRUE(IsSoftwareRenderer("softpipe"));
    // Mesa's classic software driver and the name the DRI driver reports.
    EXPECT_TRUE(IsSoftwareRenderer("Mesa DRI swrast"));
    EXPECT_TRUE(IsSoftwareRenderer("Software Rasterizer"));
    EXPECT_FALSE(IsSoftwareRenderer("AMD Radeon RX 6600 (navi23, LLVM 15.0.6, DRM 3.49)"));
    EXPECT_FALSE(IsSoftwareRenderer("Mesa Intel(R) UHD Graphics 620 (KBL GT2)"));
    EXPECT_FALSE(IsSoftwareRenderer(nullptr));
}

TEST(ScaledFrame, StretchCoversTheWindowAndFollowsResizes) {
    HeadlessGL gl(200, 100);
    ASSERT_TRUE(gl.ok()) << gl.error();
    ASSERT_TRUE(ScaledFrame::Supported());
    ScaledFrame frame;
    for (const auto& [w, h] : {std::pair{200, 100}, std::pair{120, 80}}) {
        ASSERT_TRUE(gl.Resize(w, h));
        ASSERT_TRUE(frame.Create(w, h, 50));
        EXPECT_EQ(frame.width(), w / 2);
        EXPECT_EQ(frame.height(), h / 2);
        frame.Bind();
        glViewport(0, 0, frame.width(), frame.height());
        DrawHalves();
        // The window itself shows green until the stretch replaces it.
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        glViewport(0, 0, w, h);
        glClearColor(0.0f, 1.0f, 0.0f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        frame.Stretch();
        const std::vector<uint8_t> pixels = gl.ReadPixels();
        EXPECT_EQ(gl.PixelAt(pixels, 1, 1), 0xff0000ffu) << w;
        EXPECT_EQ(gl.PixelAt(pixels, w / 2 - 3, h - 2), 0xff0000ffu) << w;
        EXPECT_EQ(gl.PixelAt(pixels, w / 2 + 3, h - 2), 0x0000ffffu) << w;
        EXPECT_EQ(gl.PixelAt(pixels, w - 1, 0), 0x0000ffffu) << w;
    }
    frame.Destroy();
    EXPECT_FALSE(frame.active());
    frame.Destroy();
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}
