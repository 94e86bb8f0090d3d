// Tests of MereglassView against a fake platform: a real headless OpenGL
// context, a clock the test sets, and a log of every platform call.
#include "view/mereglass_view.h"

#include <GL/gl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <vector>

#include "fake_platform.h"
#include "platform/platform.h"
#include "scene/scene.h"
#include "settings/settings_table.h"

namespace {

using Log = std::vector<std::string>;

constexpr int kWidth = 160;
constexpr int kHeight = 120;

// A view created, sized and started on a fake platform.
struct Rig {
    FakePlatform fake;
    std::unique_ptr<MereglassView> view;

    explicit Rig(bool withArchive = true, int screen = 1, bool mainMonitorOnly = false)
        : fake(kWidth, kHeight) {
        if (withArchive) fake.archive = MEREGLASS_TEST_ARCHIVE;
        fake.screen = screen;
        fake.mainMonitorOnly = mainMonitorOnly;
    }

    bool Create(bool preview = false) {
        if (!fake.gl.ok()) return false;
        view = std::make_unique<MereglassView>(&fake.services);
        if (!view->InitWithFrame(NSRect{0, 0, kWidth, kHeight}, preview)) return false;
        view->SetFrameSize(kWidth, kHeight);
        view->StartAnimation();
        fake.Take();
        return true;
    }

    void Tick(double now) {
        fake.now = now;
        view->AnimateOneFrame();
    }

    // Fills the colour buffer with one colour, to see later whether a tick
    // cleared or drew.
    void Paint(float r, float g, float b) {
        fake.gl.MakeCurrent();
        glClearColor(r, g, b, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
    }

    uint32_t Pixel(int x, int y) {
        fake.gl.MakeCurrent();
        return fake.gl.PixelAt(fake.gl.ReadPixels(), x, y);
    }
};

#define REQUIRE_RIG(rig, ...)                                            \
    do {                                                                 \
        if (!(rig).Create(__VA_ARGS__)) GTEST_SKIP() << "no GL context"; \
    } while (0)

}  // namespace

TEST(ViewCreation, ReadsSettingsCapturesAndSetsTheTickPeriod) {
    FakePlatform fake(kWidth, kHeight);
    if (!fake.gl.ok()) GTEST_SKIP() << fake.gl.error();
    fake.settings = SETTINGS{false, true, 40, 7, 90, false};
    fake.mainMonitorOnly = true;
    MereglassView view(&fake.services);
    ASSERT_TRUE(view.InitWithFrame(NSRect{0, 0, 300, 200}, true));

    EXPECT_EQ(fake.Take(), (Log{"settings", "capture"}));
    EXPECT_TRUE(view.MainMonitorOnly);
    EXPECT_EQ(view.mySettings.WATERSPEED, 40);
    EXPECT_EQ(view.mySettings.WATERSHIFT, 7);
    EXPECT_EQ(view.mySettings.DRIPSPEED, 90);
    EXPECT_FALSE(view.mySettings.LIGHTING);
    EXPECT_TRUE(view.IsPreview());
    EXPECT_TRUE(view.ThisScreenIsOn);
    EXPECT_EQ(view.viewAllocated, 1);
    EXPECT_EQ(view.glReady, 0);
    EXPECT_EQ(view.initialized, 0);
    EXPECT_EQ(view.ssMain, nullptr);
    EXPECT_NE(view.DeskTex, 0u);
    EXPECT_EQ(view.DeskTex, fake.capturedName);
    EXPECT_EQ(view.Scrn.width, 300.0f);
    EXPECT_EQ(view.Scrn.height, 200.0f);
    EXPECT_EQ(view.AnimationTimeInterval(), 1.0 / 60.0);
    EXPECT_FALSE(MereglassView::PerformGammaFade());
    view.Dealloc();
}

TEST(ViewCreation, RejectsAnEmptyFrame) {
    FakePlatform fake(kWidth, kHeight);
    MereglassView view(&fake.services);
    EXPECT_FALSE(view.InitWithFrame(NSRect{0, 0, 0, 100}, false));
    EXPECT_TRUE(fake.Take().empty());
}

TEST(ViewStart, ClearsToBlackAndPresents) {
    Rig rig;
    if (!rig.fake.gl.ok()) GTEST_SKIP() << rig.fake.gl.error();
    rig.view = std::make_unique<MereglassView>(&rig.fake.services);
    ASSERT_TRUE(rig.view->InitWithFrame(NSRect{0, 0, kWidth, kHeight}, false));
    rig.Paint(1, 0, 0);
    rig.fake.Take();
    rig.view->StartAnimation();
    EXPECT_EQ(rig.fake.Take(), (Log{"current", "present"}));
    EXPECT_EQ(rig.Pixel(5, 5), 0x000000ffu);
    EXPECT_TRUE(rig.view->IsAnimating());
}

TEST(ViewFirstTick, SetsUpAndDrawsNothing) {
    Rig rig;
    REQUIRE_RIG(rig);
    rig.Paint(1, 0, 0);
    rig.Tick(1000.5);

    // Context, the seed's clock reading, the archive, the clock for the
    // step base, the step's own reading; no present.
    EXPECT_EQ(rig.fake.Take(), (Log{"current", "clock", "bundle murkle.respak", "clock", "clock"}));
    MereglassView& v = *rig.view;
    ASSERT_NE(v.ssMain, nullptr);
    EXPECT_EQ(v.glReady, 1);
    EXPECT_EQ(v.initialized, 1);
    EXPECT_EQ(v.animtime, 1000.5);
    // Setup received the size and the preview flag.
    EXPECT_EQ(v.ssMain->width, kWidth);
    EXPECT_EQ(v.ssMain->height, kHeight);
    EXPECT_FALSE(v.ssMain->preview);
    // The archive's textures are in and the desktop texture is handed over.
    EXPECT_GE(v.ssMain->textureCount, 6);
    EXPECT_EQ(v.ssMain->deskTexture, rig.fake.capturedName);
    EXPECT_EQ(v.DeskTex, 0u);
    // No Update, no Draw: the clocks stand and the buffer holds the clear
    // colour of the set-up (transparent black), not the red painted before.
    EXPECT_EQ(v.ssMain->totalTime, 0.0);
    EXPECT_EQ(rig.Pixel(kWidth / 2, kHeight / 2), 0x00000000u);
    // glInit set the viewport and the state the scene relies on.
    GLint viewport[4] = {};
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], kWidth);
    EXPECT_EQ(viewport[3], kHeight);
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_TRUE(glIsEnabled(GL_COLOR_MATERIAL));
    GLint depthFunc = 0;
    glGetIntegerv(GL_DEPTH_FUNC, &depthFunc);
    EXPECT_EQ(depthFunc, GL_LEQUAL);
}

TEST(ViewFirstTick, SeedsTheRandomSequenceFromWholeSeconds) {
    Rig a;
    REQUIRE_RIG(a);
    a.Tick(1234.9);
    const uint32_t indexA = a.view->ssMain->messageIndex;
    const int nextA = rand();

    Rig b;
    REQUIRE_RIG(b);
    b.Tick(1234.1);
    EXPECT_EQ(b.view->ssMain->messageIndex, indexA);
    EXPECT_EQ(rand(), nextA);

    // The constructor draws the first number after the seed.
    srand(1234u);
    EXPECT_EQ(static_cast<uint32_t>(rand() % 2 + 4), indexA);
}

TEST(ViewFirstTick, PreviewReachesTheScene) {
    Rig rig;
    REQUIRE_RIG(rig, true);
    rig.Tick(50.0);
    ASSERT_NE(rig.view->ssMain, nullptr);
    EXPECT_TRUE(rig.view->ssMain->preview);
}

// The host's factor reaches the scene made on the first tick, and a scene
// that exists already.
TEST(ViewFirstTick, OverlayScaleReachesTheScene) {
    Rig rig;
    REQUIRE_RIG(rig, false);
    rig.view->SetOverlayScale(2.0f);
    rig.Tick(50.0);
    ASSERT_NE(rig.view->ssMain, nullptr);
    EXPECT_EQ(rig.view->ssMain->overlayScale, 2.0f);
    rig.view->SetOverlayScale(0.5f);
    EXPECT_EQ(rig.view->ssMain->overlayScale, 0.5f);
}

TEST(ViewStep, ShortStepWaitsAndCarriesOver) {
    Rig rig;
    REQUIRE_RIG(rig);
    rig.Tick(1000.5);
    rig.Tick(1000.5 + 1.0 / 60.0);  // a normal step
    const double base = rig.view->animtime;
    EXPECT_EQ(base, 1000.5 + 1.0 / 60.0);
    rig.fake.Take();

    rig.Tick(base + 0.005);
    EXPECT_EQ(rig.fake.Take(), (Log{"current", "clock"}));
    EXPECT_EQ(rig.view->animtime, base);
    const double before = rig.view->ssMain->totalTime;

    rig.Paint(1, 0, 0);
    rig.Tick(base + 0.012);
    EXPECT_EQ(rig.fake.Take(), (Log{"current", "clock", "clock", "present"}));
    EXPECT_EQ(rig.view->ssMain->frameTime, (base + 0.012) - base);
    EXPECT_EQ(rig.view->ssMain->totalTime, before + ((base + 0.012) - base));
    EXPECT_EQ(rig.view->animtime, base + 0.012);
    // The scene drew over the red.
    EXPECT_NE(rig.Pixel(kWidth / 2, kHeight / 2), 0xff0000ffu);
}

TEST(ViewStep, LongPauseOnlyRebasesTheClock) {
    Rig rig;
    REQUIRE_RIG(rig);
    rig.Tick(1000.5);
    rig.Tick(1000.55);
    const double total = rig.view->ssMain->totalTime;
    rig.view->StopAnimation();
    EXPECT_FALSE(rig.view->IsAnimating());
    rig.view->StartAnimation();
    rig.fake.Take();

    rig.Tick(1003.55);
    EXPECT_EQ(rig.fake.Take(), (Log{"current", "clock", "clock"}));
    EXPECT_EQ(rig.view->animtime, 1003.55);
    EXPECT_EQ(rig.view->ssMain->totalTime, total);

    rig.Tick(1003.6);
    EXPECT_EQ(rig.view->ssMain->frameTime, 1003.6 - 1003.55);
    EXPECT_EQ(rig.view->ssMain->totalTime, total + (1003.6 - 1003.55));
}

TEST(ViewStep, BothLimitsAreStrict) {
    Rig rig;
    REQUIRE_RIG(rig);
    rig.Tick(0.0);
    EXPECT_EQ(rig.view->animtime, 0.0);

    // 0.02 - 0.01 and 0.01 - 0.0 are both exactly the double 0.01.
    ASSERT_EQ(0.01 - 0.0, 0.01);
    rig.fake.Take();
    rig.Tick(0.01);  // exactly 0.01: not drawn
    EXPECT_EQ(rig.fake.Take(), (Log{"current", "clock"}));
    EXPECT_EQ(rig.view->ssMain->totalTime, 0.0);

    rig.Tick(2.0);  // exactly 2.0 after the base: drawn
    EXPECT_EQ(rig.fake.Take(), (Log{"current", "clock", "clock", "present"}));
    EXPECT_EQ(rig.view->ssMain->frameTime, 2.0);

    rig.Tick(4.0 + 1e-9);  // just over 2.0: only re-bases
    EXPECT_EQ(rig.fake.Take(), (Log{"current", "clock", "clock"}));
    EXPECT_EQ(rig.view->ssMain->totalTime, 2.0);
    EXPECT_EQ(rig.view->animtime, 4.0 + 1e-9);
}

TEST(ViewResize, NextTickSetsTheNewSizeBeforeDrawing) {
    Rig rig;
    REQUIRE_RIG(rig);
    rig.Tick(10.0);
    rig.Tick(10.02);
    rig.fake.Take();

    rig.view->SetFrameSize(200, 100);
    EXPECT_EQ(rig.fake.Take(), (Log{"resize 200x100"}));
    EXPECT_EQ(rig.view->glReady, 0);
    EXPECT_EQ(rig.view->ssMain->width, kWidth);  // nothing before the tick

    rig.Tick(10.04);
    EXPECT_EQ(rig.view->glReady, 1);
    EXPECT_EQ(rig.view->ssMain->width, 200);
    EXPECT_EQ(rig.view->ssMain->height, 100);
    EXPECT_EQ(rig.view->Scrn.width, 200.0f);
    GLint viewport[4] = {};
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], 200);
    EXPECT_EQ(viewport[3], 100);
    // The projection follows the new aspect ratio: gluPerspective's x scale
    // is f / aspect, its y scale f.
    GLdouble projection[16] = {};
    glGetDoublev(GL_PROJECTION_MATRIX, projection);
    EXPECT_NEAR(projection[5] / projection[0], 2.0, 1e-6);
}

TEST(ViewScreens, MainMonitorOnlyKeepsOtherScreensBlack) {
    Rig rig(true, /*screen=*/2, /*mainMonitorOnly=*/true);
    if (!rig.fake.gl.ok()) GTEST_SKIP() << rig.fake.gl.error();
    rig.view = std::make_unique<MereglassView>(&rig.fake.services);
    ASSERT_TRUE(rig.view->InitWithFrame(NSRect{0, 0, kWidth, kHeight}, false));
    rig.Paint(1, 0, 0);
    rig.view->StartAnimation();
    EXPECT_FALSE(rig.view->ThisScreenIsOn);
    EXPECT_EQ(rig.Pixel(3, 3), 0x000000ffu);
    rig.fake.Take();

    rig.Tick(500.0);
    EXPECT_FALSE(rig.view->IsAnimating());
    EXPECT_TRUE(rig.fake.Take().empty());  // no context, no clock, no archive
    EXPECT_EQ(rig.view->ssMain, nullptr);
    EXPECT_EQ(rig.view->glReady, 0);
    EXPECT_EQ(rig.Pixel(3, 3), 0x000000ffu);
}

TEST(ViewScreens, MainMonitorOnlyRunsOnTheMainScreen) {
    Rig rig(true, /*screen=*/1, /*mainMonitorOnly=*/true);
    REQUIRE_RIG(rig);
    EXPECT_TRUE(rig.view->ThisScreenIsOn);
    rig.Tick(500.0);
    EXPECT_NE(rig.view->ssMain, nullptr);
}

TEST(ViewScreens, EveryScreenRunsWithoutTheSetting) {
    Rig rig(true, /*screen=*/3, /*mainMonitorOnly=*/false);
    REQUIRE_RIG(rig);
    rig.Tick(500.0);
    EXPECT_TRUE(rig.view->IsAnimating());
    EXPECT_NE(rig.view->ssMain, nullptr);
}

TEST(ViewSetupFailure, MissingArchiveKeepsTheLoopGoing) {
    Rig rig(/*withArchive=*/false);
    REQUIRE_RIG(rig);
    const uint32_t desk = rig.view->DeskTex;
    ASSERT_NE(desk, 0u);
    rig.Tick(1000.5);
    MereglassView& v = *rig.view;
    ASSERT_NE(v.ssMain, nullptr);
    EXPECT_EQ(v.initialized, 1);
    // The desktop is handed over and the clock starts all the same: the
    // water runs over the desktop, without the archive's pictures.
    EXPECT_EQ(rig.fake.Take(), (Log{"current", "clock", "bundle murkle.respak", "clock", "clock"}));
    EXPECT_EQ(v.ssMain->deskTexture, desk);
    EXPECT_EQ(v.DeskTex, 0u);
    EXPECT_EQ(v.animtime, 1000.5);
    EXPECT_EQ(v.ssMain->totalTime, 0.0);

    rig.Tick(1000.52);
    EXPECT_EQ(rig.fake.Take(), (Log{"current", "clock", "clock", "present"}));
    EXPECT_GT(v.ssMain->totalTime, 0.0);

    // The scene owns the texture and deletes it at tear-down.
    v.Dealloc();
    rig.fake.gl.MakeCurrent();
    EXPECT_FALSE(glIsTexture(desk));
}

TEST(ViewSetupFailure, DamagedArchiveIsNamedAndTheDesktopStillShows) {
    char path[] = "/tmp/mereglass-archive-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "MRKF", 4), 4);  // a header cut short
    close(fd);
    Rig rig;
    rig.fake.archive = path;
    REQUIRE_RIG(rig);
    const uint32_t desk = rig.view->DeskTex;
    testing::internal::CaptureStderr();
    rig.Tick(30.0);
    const std::string message = testing::internal::GetCapturedStderr();
    unlink(path);
    EXPECT_EQ(message, std::string("mereglass: cannot read ") + path +
                           "; the water runs without its pictures\n");
    ASSERT_NE(rig.view->ssMain, nullptr);
    EXPECT_EQ(rig.view->ssMain->deskTexture, desk);
}

TEST(ViewSetupFailure, NoDesktopImageStillRuns) {
    Rig rig;
    rig.fake.captureFails = true;
    REQUIRE_RIG(rig);
    EXPECT_EQ(rig.view->DeskTex, 0u);
    rig.Tick(20.0);
    rig.Tick(20.02);
    ASSERT_NE(rig.view->ssMain, nullptr);
    EXPECT_EQ(rig.view->ssMain->deskTexture, 0u);
    EXPECT_GT(rig.view->ssMain->totalTime, 0.0);
}

TEST(ViewTeardown, DeallocCleansUpInItsOwnContext) {
    Rig a;
    REQUIRE_RIG(a);
    Rig b;
    REQUIRE_RIG(b);
    a.Tick(30.0);
    a.Tick(30.02);
    b.Tick(30.0);
    b.Tick(30.02);
    const uint32_t deskA = a.view->ssMain->deskTexture;
    const uint32_t deskB = b.view->ssMain->deskTexture;
    ASSERT_NE(deskA, 0u);
    ASSERT_NE(deskB, 0u);

    // B's context is current when A goes: A makes its own current first.
    b.fake.gl.MakeCurrent();
    a.fake.Take();
    a.view->Dealloc();
    EXPECT_EQ(a.fake.Take(), (Log{"current"}));
    EXPECT_EQ(a.view->ssMain, nullptr);
    a.fake.gl.MakeCurrent();
    EXPECT_FALSE(glIsTexture(deskA));
    EXPECT_FALSE(glIsEnabled(GL_LIGHTING));
    b.fake.gl.MakeCurrent();
    EXPECT_TRUE(glIsTexture(deskB));

    // A second Dealloc (and the destructor) does nothing more.
    a.view->Dealloc();
    EXPECT_TRUE(a.fake.Take().empty());
    b.view->Dealloc();
}

TEST(ViewTeardown, LostContextStillReleasesTheScene) {
    Rig rig;
    REQUIRE_RIG(rig);
    rig.Tick(30.0);
    rig.fake.contextLost = true;
    rig.fake.gl.MakeCurrent();
    rig.fake.Take();
    rig.Tick(30.05);  // cannot draw
    EXPECT_EQ(rig.fake.Take(), (Log{"current"}));
    rig.view->Dealloc();  // the sanitizer build checks that nothing leaks
    EXPECT_EQ(rig.view->ssMain, nullptr);
}
