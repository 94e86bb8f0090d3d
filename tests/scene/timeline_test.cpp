// The timelines of the intro, the banner and the message card, followed
// through a run of 0.05-second frames and through single long steps.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "scene_rig.h"

namespace {

constexpr double kStep = 0.05;
constexpr int kWidth = 640;
constexpr int kHeight = 480;

struct Sample {
    double t;
    float bannerTimer;
    bool bannerShown;
    bool bannerAtTop;
    point2d bannerPos;
    uint32_t messageIndex;
    float cardTimer;
    float cardAlpha;
    float introAlpha1;
    float introAlpha2;
    bool introDone;
};

// One run of 165 seconds (3300 frames) of a 640 x 480 scene, sampled after
// every frame; samples[k] follows frame k + 1, at about (k + 1) * 0.05 s.
class Timeline : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        SceneRig rig(16, 16);
        ASSERT_TRUE(rig.gl.ok()) << rig.gl.error();
        ASSERT_TRUE(rig.Setup(TestSettings(), false, kWidth, kHeight));
        samples_ = new std::vector<Sample>;
        for (int i = 0; i < 3300; ++i) {
            rig.Frame(kStep);
            const SSMAIN& s = rig.scene;
            samples_->push_back({s.totalTime, s.bannerTimer, s.bannerShown, s.bannerAtTop,
                                 s.bannerPos, s.messageIndex, s.cardTimer, s.cardAlpha,
                                 s.introAlpha1, s.introAlpha2, s.introDone});
        }
    }
    static void TearDownTestSuite() {
        delete samples_;
        samples_ = nullptr;
    }

    // The sample after the frame that ends at about t seconds.
    static const Sample& At(double t) {
        const size_t k = static_cast<size_t>(std::lround(t / kStep)) - 1;
        return (*samples_)[k];
    }
    static const std::vector<Sample>& All() { return *samples_; }

private:
    static std::vector<Sample>* samples_;
};

std::vector<Sample>* Timeline::samples_ = nullptr;

}  // namespace

TEST_F(Timeline, IntroFadesInAndOutOnSchedule) {
    EXPECT_NEAR(At(5.0).introAlpha1, 0.0f, 1e-5f);
    EXPECT_GT(At(5.05).introAlpha1, 0.04f);  // visible in the step after 5 s
    EXPECT_NEAR(At(5.5).introAlpha1, 0.5f, 1e-5f);
    EXPECT_NEAR(At(6.0).introAlpha1, 1.0f, 1e-5f);
    EXPECT_NEAR(At(6.0).introAlpha2, -1.0f, 0.05f + 1e-5f);
    EXPECT_LE(At(7.0).introAlpha2, 0.05f);
    EXPECT_NEAR(At(8.0).introAlpha2, 1.0f, 0.05f + 1e-5f);
    EXPECT_GE(At(8.05).introAlpha2, 1.0f);
    EXPECT_GE(At(11.95).introAlpha1, 1.0f);  // both held until 12 s
    EXPECT_GE(At(11.95).introAlpha2, 1.0f);
    EXPECT_NEAR(At(12.5).introAlpha1, 0.5f, 0.05f + 1e-5f);
    EXPECT_LE(At(13.0).introAlpha1, 1e-5f);  // the first is gone at 13 s
    EXPECT_GE(At(12.95).introAlpha2, 1.0f);  // held while the first fades
    EXPECT_GT(At(14.0).introAlpha2, 0.0f);
    EXPECT_LE(At(14.05).introAlpha2, 1e-5f);  // the second at 14.05 s
    EXPECT_FALSE(At(14.05).introDone);
    EXPECT_TRUE(At(14.1).introDone);
    // Nothing moves once the intro is done.
    EXPECT_EQ(All().back().introAlpha1, At(14.1).introAlpha1);
    EXPECT_EQ(All().back().introAlpha2, At(14.1).introAlpha2);
    EXPECT_TRUE(All().back().introDone);
}

TEST_F(Timeline, BannerAppearsEveryFiftySecondsOnAlternatingEdges) {
    std::vector<const Sample*> starts;
    std::vector<double> ends;
    for (size_t k = 1; k < All().size(); ++k) {
        if (All()[k].bannerShown && !All()[k - 1].bannerShown) starts.push_back(&All()[k]);
        if (!All()[k].bannerShown && All()[k - 1].bannerShown) ends.push_back(All()[k].t);
    }
    ASSERT_EQ(starts.size(), 3u);
    ASSERT_EQ(ends.size(), 3u);
    // Each phase ends in the first frame that takes its timer below 0; the
    // timer restarts without the overshoot, so a phase may run one frame long.
    EXPECT_GE(starts[0]->t, 15.0);
    EXPECT_LE(starts[0]->t, 15.0 + kStep + 1e-6);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_GE(ends[i] - starts[i]->t, 20.0 - 1e-6) << i;
        EXPECT_LE(ends[i] - starts[i]->t, 20.0 + kStep + 1e-6) << i;
        if (i + 1 < 3) {
            EXPECT_GE(starts[i + 1]->t - ends[i], 30.0 - 1e-6) << i;
            EXPECT_LE(starts[i + 1]->t - ends[i], 30.0 + kStep + 1e-6) << i;
        }
        EXPECT_EQ(starts[i]->bannerAtTop, i != 1) << i;
        EXPECT_TRUE(starts[i]->bannerPos.x == 0.0f ||
                    starts[i]->bannerPos.x == static_cast<float>(kWidth - 256));
        EXPECT_TRUE(starts[i]->messageIndex == 4 || starts[i]->messageIndex == 5);
    }
}

TEST_F(Timeline, BannerRestsAndHidesAtItsEdge) {
    // Before the first appearance it eases from -35 to the hidden -40.
    EXPECT_LT(At(1.0).bannerPos.y, -35.0f);
    EXPECT_NEAR(At(14.0).bannerPos.y, -40.0f, 1e-3f);
    // Top edge: resting at height - 40, hidden at height + 40.
    EXPECT_NEAR(At(30.0).bannerPos.y, kHeight - 40.0f, 0.01f);
    EXPECT_NEAR(At(60.0).bannerPos.y, kHeight + 40.0f, 0.01f);
    // Bottom edge: resting at 5, hidden at -40.
    EXPECT_NEAR(At(80.0).bannerPos.y, 5.0f, 0.01f);
    EXPECT_NEAR(At(110.0).bannerPos.y, -40.0f, 0.01f);
    EXPECT_NEAR(At(130.0).bannerPos.y, kHeight - 40.0f, 0.01f);
}

TEST_F(Timeline, BannerSlidesExponentially) {
    size_t k = 0;
    while (!All()[k].bannerShown) ++k;
    // The appearance starts just above the top edge; each frame covers the
    // fraction 0.05 of the remaining way to height - 40.
    const float target = kHeight - 40.0f;
    EXPECT_NEAR(All()[k].bannerPos.y, kHeight + 40.0f - 80.0f * 0.05f, 1e-4f);
    const double start = All()[k].bannerPos.y - target;
    const double afterOne = All()[k + 20].bannerPos.y - target;
    const double afterThree = All()[k + 60].bannerPos.y - target;
    EXPECT_NEAR(afterOne / start, std::pow(0.95, 20), 1e-4);    // about 64 % covered
    EXPECT_NEAR(afterThree / start, std::pow(0.95, 60), 1e-4);  // about 95 % covered
    for (size_t i = k; i < k + 60; ++i) {
        EXPECT_GT(All()[i].bannerPos.y, All()[i + 1].bannerPos.y);
        EXPECT_GT(All()[i + 1].bannerPos.y, target);
    }
}

TEST_F(Timeline, CardBeginsEveryMinuteAndFadesOverTwoSeconds) {
    std::vector<size_t> begins;
    for (size_t k = 1; k < All().size(); ++k) {
        if (All()[k].cardTimer > All()[k - 1].cardTimer) begins.push_back(k);
    }
    ASSERT_EQ(begins.size(), 3u);
    // From 0 the countdown runs to below -40, then from 20 to below -40:
    // every 60 seconds, and a frame more where a threshold falls on a frame.
    const double expected[] = {40.0, 100.0, 160.0};
    for (size_t i = 0; i < 3; ++i) {
        const size_t k = begins[i];
        EXPECT_GE(All()[k].t, expected[i] - 1e-6) << i;
        EXPECT_LE(All()[k].t, expected[i] + (i + 1) * kStep + 1e-6) << i;
        EXPECT_EQ(All()[k].cardTimer, 20.0f);
        EXPECT_EQ(All()[k].cardAlpha, 0.0f);
        EXPECT_EQ(All()[k - 1].cardAlpha, 0.0f);
        // Rises by 0.025 per frame: half at 1 s, opaque after 2 s.
        EXPECT_NEAR(All()[k + 20].cardAlpha, 0.5f, 1e-4f);
        EXPECT_LT(All()[k + 39].cardAlpha, 1.0f);
        EXPECT_GE(All()[k + 40].cardAlpha, 1.0f - 1e-4f);
        // A frame may take it above 1 by one step; the next settles it.
        EXPECT_LE(All()[k + 41].cardAlpha, 1.0f + 0.025f + 1e-4f);
        if (k + 440 >= All().size()) continue;
        EXPECT_EQ(All()[k + 42].cardAlpha, 1.0f);
        EXPECT_EQ(All()[k + 399].cardAlpha, 1.0f);
        // Falls over 2 s once the countdown has passed 0 (20 s after it began).
        size_t fall = k;
        while (All()[fall].cardTimer > 0.0f) ++fall;
        EXPECT_NEAR(All()[fall].t - All()[k].t, 20.0, 0.11);
        EXPECT_NEAR(All()[fall + 19].cardAlpha, 0.5f, 0.03f);
        EXPECT_EQ(All()[fall + 42].cardAlpha, 0.0f);
        EXPECT_EQ(All()[fall + 100].cardAlpha, 0.0f);
    }
    // The card shows the banner's latest message.
    EXPECT_EQ(All()[begins[1]].messageIndex, At(65.1).messageIndex);
}

TEST(TimelineLongSteps, TwoSecondsOfFadeInMoveAnOpacityByTwo) {
    SceneRig rig(16, 16);
    ASSERT_TRUE(rig.gl.ok()) << rig.gl.error();
    ASSERT_TRUE(rig.Setup(TestSettings(), false, kWidth, kHeight));
    for (int i = 0; i < 110; ++i) rig.Frame(kStep);
    ASSERT_NEAR(rig.scene.introAlpha1, 0.5f, 1e-5f);
    rig.Frame(2.0);
    EXPECT_NEAR(rig.scene.introAlpha1, 2.5f, 1e-5f);
    EXPECT_EQ(rig.scene.introAlpha2, -1.0f);
    // The second image starts in the next frame.
    rig.Frame(kStep);
    EXPECT_NEAR(rig.scene.introAlpha1, 2.5f, 1e-5f);
    EXPECT_NEAR(rig.scene.introAlpha2, -0.95f, 1e-6f);
}

TEST(TimelineLongSteps, TwoSecondsOfSlideOvershootByTheShortfall) {
    SceneRig rig(16, 16);
    ASSERT_TRUE(rig.gl.ok()) << rig.gl.error();
    ASSERT_TRUE(rig.Setup(TestSettings(), false, kWidth, kHeight));
    while (!rig.scene.bannerShown) rig.Frame(kStep);
    ASSERT_TRUE(rig.scene.bannerAtTop);
    const float target = kHeight - 40.0f;
    const float shortfall = rig.scene.bannerPos.y - target;
    ASSERT_GT(shortfall, 50.0f);
    rig.Frame(2.0);
    EXPECT_NEAR(rig.scene.bannerPos.y, target - shortfall, 1e-3f);
    // Later small steps bring it back.
    for (int i = 0; i < 200; ++i) rig.Frame(kStep);
    EXPECT_NEAR(rig.scene.bannerPos.y, target, 0.01f);
}

TEST(TimelineLongSteps, TheCardNeedsOnlyOneStepToSettle) {
    SceneRig rig(16, 16);
    ASSERT_TRUE(rig.gl.ok()) << rig.gl.error();
    ASSERT_TRUE(rig.Setup(TestSettings(), false, kWidth, kHeight));
    rig.scene.cardTimer = 10.0f;
    rig.scene.cardAlpha = 0.5f;
    rig.Frame(2.0);
    EXPECT_FLOAT_EQ(rig.scene.cardAlpha, 1.5f);
    rig.Frame(kStep);
    EXPECT_EQ(rig.scene.cardAlpha, 1.0f);
    rig.scene.cardTimer = 0.5f;
    rig.scene.cardAlpha = 0.5f;
    rig.Frame(2.0);  // the countdown passes 0: fading
    EXPECT_FLOAT_EQ(rig.scene.cardAlpha, -0.5f);
    rig.Frame(kStep);
    EXPECT_EQ(rig.scene.cardAlpha, 0.0f);
}

TEST(TimelineGlState, AFrameLeavesTheOverlaysProjectionAndSwitches) {
    SceneRig rig(64, 48);
    ASSERT_TRUE(rig.gl.ok()) << rig.gl.error();
    ASSERT_TRUE(rig.Setup(TestSettings(), false, kWidth, kHeight));
    for (int i = 0; i < 150; ++i) rig.Frame(kStep);  // 7.5 s: the second image fades in
    EXPECT_TRUE(glIsEnabled(GL_LIGHTING));
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
    GLfloat m[16];
    // Orthographic over the view's pixels: x 0 ... 640 maps to -1 ... 1.
    glGetFloatv(GL_PROJECTION_MATRIX, m);
    EXPECT_FLOAT_EQ(m[0], 2.0f / kWidth);
    EXPECT_FLOAT_EQ(m[5], 2.0f / kHeight);
    EXPECT_EQ(m[11], 0.0f);
    EXPECT_EQ(m[15], 1.0f);
    // The canvas scale stays on the model-view matrix.
    glGetFloatv(GL_MODELVIEW_MATRIX, m);
    EXPECT_FLOAT_EQ(m[0], kWidth / 1024.0f);
    EXPECT_FLOAT_EQ(m[5], kHeight / 768.0f);
    GLint depth = 0;
    glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &depth);
    EXPECT_EQ(depth, 1);
    // The intro leaves the second image's colour current.
    GLfloat colour[4];
    glGetFloatv(GL_CURRENT_COLOR, colour);
    EXPECT_EQ(colour[0], 1.0f);
    EXPECT_NEAR(colour[3], rig.scene.introAlpha2, 1e-6f);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}
