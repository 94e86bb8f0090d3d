// Tests of ScaledFrame on the headless renderer: what is drawn into the
// reduced frame covers the whole window after the stretch and reads back in
// the window's byte order, the frame follows a new window size, and the
// water drawn into it, which has no depth buffer, is the water drawn with one.
#include "host/scaled_frame.h"

#define GL_GLEXT_PROTOTYPES 1
#include <GL/gl.h>
#include <GL/glext.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <utility>

#include "headless_gl.h"
#include "scene_rig.h"

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

TEST(ScaledFrame, TheReducedFramesShorterSideIsBoundedPerOutput) {
    // Outputs of 720p to 5K, either way round, and a wide 1600-row one:
    // none is drawn with more rows than the bound, and none below 1440p
    // with fewer than half of its own.
    for (const auto& [w, h] : {std::pair{1280, 720}, std::pair{1920, 1080}, std::pair{1080, 1920},
                               std::pair{2560, 1440}, std::pair{3840, 1600}, std::pair{3840, 2160},
                               std::pair{2160, 3840}, std::pair{5120, 2880}}) {
        const int percent = ReducedPercent(w, h);
        EXPECT_LE(std::min(ScaledSide(w, percent), ScaledSide(h, percent)), kMostReducedRows)
            << w << "x" << h;
        if (std::min(w, h) <= 1440) {
            EXPECT_EQ(percent, 50) << w << "x" << h;
        }
    }
    EXPECT_EQ(ReducedPercent(3840, 2160), 25);
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
        // Read back in the window's byte order: blue, green, red, alpha.
        std::vector<uint32_t> back(static_cast<size_t>(frame.width()) * frame.height());
        frame.ReadPixels(back.data());
        const auto* bytes = reinterpret_cast<const uint8_t*>(back.data());
        EXPECT_EQ((std::vector<uint8_t>(bytes, bytes + 4)), (std::vector<uint8_t>{0, 0, 255, 255}));
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

TEST(ScaledFrame, TheWaterNeedsNoDepthBuffer) {
    // The same rough water twice into a full-size frame: once with a depth
    // buffer attached to it, once as it is, without one.
    constexpr int kW = 320, kH = 180;
    std::vector<uint32_t> shots[2];
    for (int depth = 0; depth < 2; ++depth) {
        std::srand(31);
        SceneRig rig(kW, kH);
        ASSERT_TRUE(rig.gl.ok()) << rig.gl.error();
        ASSERT_TRUE(rig.Setup(TestSettings(6)));
        rig.scene.deskTexture = MakeTexture(256, 128, [](int x, int y) {
            return (static_cast<uint32_t>(x * 37 % 256) << 24) |
                   (static_cast<uint32_t>(y * 53 % 256) << 16) | 0x4000FFu;
        });
        rig.scene.introDone = true;
        ScaledFrame frame;
        ASSERT_TRUE(frame.Create(kW, kH, 100));
        frame.Bind();
        GLuint depthBuffer = 0;
        if (depth) {
            glGenRenderbuffers(1, &depthBuffer);
            glBindRenderbuffer(GL_RENDERBUFFER, depthBuffer);
            glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT24, kW, kH);
            glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER,
                                      depthBuffer);
            ASSERT_EQ(glCheckFramebufferStatus(GL_FRAMEBUFFER),
                      static_cast<GLenum>(GL_FRAMEBUFFER_COMPLETE));
        }
        for (int i = 0; i < 45; ++i) {
            // Steep drips everywhere, so that crests stand in front of troughs.
            if (i % 3 == 0) {
                rig.scene.water->DropAt(static_cast<uint32_t>(std::rand() % 60 + 2),
                                        static_cast<uint32_t>(std::rand() % 60 + 2), 6.0f);
            }
            rig.Frame(1.0 / 30.0);
        }
        shots[depth].resize(static_cast<size_t>(kW) * kH);
        frame.ReadPixels(shots[depth].data());
        frame.Destroy();
        if (depthBuffer != 0) glDeleteRenderbuffers(1, &depthBuffer);
    }
    // Seen from straight above, a crest hides a trough only at its steepest:
    // two pixels here. A camera looking in at a slant (30 up, 60 out) makes
    // it sixty, which a depth buffer would be needed for.
    size_t differ = 0;
    for (size_t i = 0; i < shots[0].size(); ++i) {
        differ += ((shots[0][i] ^ shots[1][i]) & 0xffffffu) != 0;
    }
    EXPECT_LE(differ, 8u);
}
