// The scene driver's state: construction, the settings rules, the size, the
// drip timer, touches on the water, the orbiting light, release, and the
// random sequence.
#include "scene/scene.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "scene_rig.h"
#include "water/water.h"

namespace {

// The light 0 position in eye coordinates that the camera makes of the
// world point (0, 100, 0): 22.5 behind the eye, which looks down -Y.
void ExpectLightStraightAbove() {
    GLfloat p[4];
    glGetLightfv(GL_LIGHT0, GL_POSITION, p);
    EXPECT_NEAR(p[0], 0.0f, 1e-4f);
    EXPECT_NEAR(p[1], 0.0f, 1e-4f);
    EXPECT_NEAR(p[2], 22.5f, 1e-4f);
    EXPECT_EQ(p[3], 1.0f);
}

}  // namespace

TEST(SceneState, ConstructorSetsInitialValuesAndDrawsOneRandomNumber) {
    std::srand(99);
    const int first = std::rand();
    const int second = std::rand();
    std::srand(99);
    SSMAIN scene;
    EXPECT_EQ(scene.messageIndex, static_cast<uint32_t>(first % 2 + 4));
    EXPECT_EQ(std::rand(), second);

    EXPECT_EQ(scene.totalTime, 0.0);
    EXPECT_EQ(scene.width, 0);
    EXPECT_EQ(scene.bannerTimer, 15.0f);
    EXPECT_FALSE(scene.bannerShown);
    EXPECT_EQ(scene.bannerPos.x, -256.0f);
    EXPECT_EQ(scene.bannerPos.y, -35.0f);
    EXPECT_EQ(scene.introAlpha1, -5.0f);
    EXPECT_EQ(scene.introAlpha2, -1.0f);
    EXPECT_EQ(scene.textures, nullptr);
    EXPECT_EQ(scene.water, nullptr);
    EXPECT_TRUE(scene.lighting);
    EXPECT_EQ(scene.dripTimer, 1.0f);
    EXPECT_EQ(scene.lightTarget.z, 100.0f);
    EXPECT_EQ(scene.cameraPos.y, 77.5f);
    EXPECT_EQ(scene.aspect, 1.3333332538604736f);
}

TEST(SceneSettings, WaterSpeedBelowATenthFallsBackToNormal) {
    SceneRig rig(16, 16);
    ASSERT_TRUE(rig.gl.ok()) << rig.gl.error();
    const struct {
        int32_t setting;
        float speed;
    } cases[] = {{9, 1.0f}, {10, 0.1f}, {250, 2.5f}, {100, 1.0f}, {0, 1.0f}, {-40, 1.0f}};
    for (const auto& c : cases) {
        SETTINGS s = TestSettings();
        s.WATERSPEED = c.setting;
        ASSERT_TRUE(rig.Setup(s));
        EXPECT_EQ(rig.scene.waterSpeed, c.speed) << c.setting;
        EXPECT_EQ(rig.scene.water->Speed, c.speed) << c.setting;
    }
}

TEST(SceneSettings, GridShiftOutsideFourToEightBecomesSix) {
    SceneRig rig(16, 16);
    ASSERT_TRUE(rig.gl.ok()) << rig.gl.error();
    const struct {
        int32_t setting;
        int32_t shift;
    } cases[] = {{3, 6}, {9, 6}, {4, 4}, {8, 8}, {-1, 6}};
    for (const auto& c : cases) {
        SETTINGS s = TestSettings(c.setting);
        ASSERT_TRUE(rig.Setup(s));
        EXPECT_EQ(rig.scene.waterShift, c.shift) << c.setting;
        EXPECT_EQ(rig.scene.water->VertexCount, 1u << (2 * c.shift)) << c.setting;
    }
}

TEST(SceneSettings, FlagsAndDripIntervalAreCopied) {
    SceneRig rig(16, 16);
    ASSERT_TRUE(rig.gl.ok()) << rig.gl.error();
    SETTINGS s{false, false, 100, 5, 120, true};
    ASSERT_TRUE(rig.Setup(s, true));
    EXPECT_TRUE(rig.scene.preview);
    EXPECT_TRUE(rig.scene.caustics);
    EXPECT_NE(rig.scene.water->Caustics, nullptr);
    EXPECT_FALSE(rig.scene.lighting);
    EXPECT_FALSE(rig.scene.wantBowl);
    EXPECT_FALSE(rig.scene.water->WantBowl);
    EXPECT_EQ(rig.scene.dripSpeed, 120);
    EXPECT_FALSE(rig.scene.Setup(false, 16, 16, nullptr));
}

TEST(SceneSettings, DripIntervalBelowOneIsRaisedToOne) {
    SceneRig rig(16, 16);
    ASSERT_TRUE(rig.gl.ok()) << rig.gl.error();
    for (int32_t drip : {0, -250}) {
        SETTINGS s = TestSettings();
        s.DRIPSPEED = drip;
        ASSERT_TRUE(rig.Setup(s));
        EXPECT_EQ(rig.scene.dripSpeed, 1);
        rig.scene.dripTimer = 0.25f;
        rig.scene.Update(0.5);
        // One hundredth of a second: dripSpeed + rand() % dripSpeed = 1.
        EXPECT_EQ(rig.scene.dripTimer, 0.01f);
    }
}

TEST(SceneSetup, LeavesSixEmptyRecordsLightAndCulling) {
    SceneRig rig(16, 16);
    ASSERT_TRUE(rig.gl.ok()) << rig.gl.error();
    ASSERT_TRUE(rig.Setup(TestSettings()));
    ASSERT_NE(rig.scene.textures, nullptr);
    EXPECT_EQ(rig.scene.textureCount, 0);
    for (uint32_t i = 0; i < 6; ++i) {
        EXPECT_EQ(rig.scene.textures[i].glName, 0u);
        EXPECT_EQ(rig.scene.textures[i].pixels, nullptr);
        EXPECT_EQ(rig.scene.TextureName(i), 0u);
    }
    EXPECT_TRUE(glIsEnabled(GL_LIGHTING));
    EXPECT_TRUE(glIsEnabled(GL_LIGHT0));
    EXPECT_TRUE(glIsEnabled(GL_CULL_FACE));
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    GLint v = 0;
    glGetIntegerv(GL_CULL_FACE_MODE, &v);
    EXPECT_EQ(v, GL_BACK);
    glGetIntegerv(GL_BLEND_SRC, &v);
    EXPECT_EQ(v, GL_SRC_ALPHA);
    glGetIntegerv(GL_BLEND_DST, &v);
    EXPECT_EQ(v, GL_ONE_MINUS_SRC_ALPHA);
    GLfloat specular[4];
    glGetLightfv(GL_LIGHT0, GL_SPECULAR, specular);
    EXPECT_FLOAT_EQ(specular[0], 0.3f);
    EXPECT_FLOAT_EQ(specular[3], 1.0f);
    ExpectLightStraightAbove();
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST(SceneSetup, SecondSetupReleasesTheLoadedRecordsAndTheOldWater) {
    SceneRig rig(16, 16);
    ASSERT_TRUE(rig.gl.ok()) << rig.gl.error();
    ASSERT_TRUE(rig.Setup(TestSettings()));
    InstallRecords(rig.scene, {0, 0xFF0000FF, 0x00FF00FF, 0x0000FFFF, 0xFFFF00FF, 0xFF00FFFF,
                               0x00FFFFFF, 0x808080FF});
    const GLuint loaded = rig.scene.textures[7].glName;
    ASSERT_TRUE(glIsTexture(loaded));
    EXPECT_EQ(rig.scene.TextureName(7), loaded);
    rig.scene.water->Cells[3].Height = 5.0f;

    ASSERT_TRUE(rig.Setup(TestSettings()));
    EXPECT_FALSE(glIsTexture(loaded));
    // The count of the replaced table no longer reaches into the new one.
    EXPECT_EQ(rig.scene.textureCount, 0);
    EXPECT_EQ(rig.scene.TextureName(5), 0u);
    EXPECT_EQ(rig.scene.water->Cells[3].Height, 0.0f);
}

TEST(SceneSetup, RecordsAreReadOnlyBelowTheLoadedCount) {
    SSMAIN scene;
    EXPECT_EQ(scene.TextureName(1), 0u);  // no table at all
    scene.textures = new Texture[3];
    scene.textureCount = 3;
    scene.textures[1].glName = 41;
    scene.textures[2].glName = 42;
    EXPECT_EQ(scene.TextureName(1), 41u);
    EXPECT_EQ(scene.TextureName(2), 42u);
    EXPECT_EQ(scene.TextureName(3), 0u);
    EXPECT_EQ(scene.TextureName(5), 0u);
    scene.textureCount = -2;
    EXPECT_EQ(scene.TextureName(1), 0u);
    // Not real texture names: forget them before the records delete them.
    scene.textures[1].glName = 0;
    scene.textures[2].glName = 0;
}

TEST(SceneSize, AspectIsFormedInSinglePrecision) {
    SSMAIN scene;
    scene.SetSize(1024, 768);
    EXPECT_EQ(scene.width, 1024);
    EXPECT_EQ(scene.height, 768);
    EXPECT_EQ(scene.aspect, std::nextafter(1.3333332538604736f, 2.0f));
    scene.SetSize(1920, 1080);
    EXPECT_EQ(scene.aspect, 1920.0f / 1080.0f);
}

TEST(SceneSize, HeightZeroKeepsThePreviousAspect) {
    SceneRig rig(32, 32);
    ASSERT_TRUE(rig.gl.ok()) << rig.gl.error();
    ASSERT_TRUE(rig.Setup(TestSettings(), false, 800, 600));
    rig.scene.SetSize(800, 0);
    EXPECT_EQ(rig.scene.width, 800);
    EXPECT_EQ(rig.scene.height, 0);
    EXPECT_EQ(rig.scene.aspect, 800.0f / 600.0f);
    rig.scene.SetSize(640, -5);
    EXPECT_EQ(rig.scene.aspect, 800.0f / 600.0f);
    // A frame on such a size draws without reading outside anything.
    rig.Frame(0.05);
    EXPECT_TRUE(std::isfinite(rig.scene.bannerPos.y));
}

TEST(SceneDrips, FirstDripFallsOnceMoreThanOneSecondHasPassed) {
    SceneRig rig(16, 16);
    ASSERT_TRUE(rig.gl.ok()) << rig.gl.error();
    ASSERT_TRUE(rig.Setup(TestSettings()));
    for (int i = 0; i < 4; ++i) rig.scene.Update(0.25);
    EXPECT_EQ(rig.scene.dripTimer, 0.0f);  // exactly one second: not yet
    EXPECT_EQ(VelocitySum(rig.scene), 0.0);
    rig.scene.Update(0.25);
    int moving = 0;
    const double strength = -VelocitySum(rig.scene, &moving);
    EXPECT_EQ(moving, 9);
    EXPECT_GE(strength, 0.5 - 1e-6);
    EXPECT_LE(strength, 1.99 + 1e-6);
    EXPECT_GE(rig.scene.dripTimer, 2.5f);
    EXPECT_LE(rig.scene.dripTimer, 4.99f);
}

TEST(SceneDrips, StrengthsAndIntervalsFollowTheDripSetting) {
    SceneRig rig(16, 16);
    ASSERT_TRUE(rig.gl.ok()) << rig.gl.error();
    std::srand(2024);
    ASSERT_TRUE(rig.Setup(TestSettings()));
    float lowStrength = 10, highStrength = 0, lowInterval = 10, highInterval = 0;
    for (int i = 0; i < 400; ++i) {
        // A drip into still water: the velocities then sum to -strength.
        StillWater(rig.scene);
        rig.scene.Update(rig.scene.dripTimer + 0.001);
        const float strength = static_cast<float>(-VelocitySum(rig.scene));
        const float interval = rig.scene.dripTimer;
        EXPECT_NEAR(strength * 100.0f, std::round(strength * 100.0f), 1e-3f);
        EXPECT_NEAR(interval * 100.0f, std::round(interval * 100.0f), 1e-3f);
        lowStrength = std::min(lowStrength, strength);
        highStrength = std::max(highStrength, strength);
        lowInterval = std::min(lowInterval, interval);
        highInterval = std::max(highInterval, interval);
    }
    EXPECT_GE(lowStrength, 0.5f - 1e-5f);
    EXPECT_LE(highStrength, 1.99f + 1e-5f);
    EXPECT_LT(lowStrength, 0.6f);
    EXPECT_GT(highStrength, 1.9f);
    EXPECT_GE(lowInterval, 2.5f);
    EXPECT_LE(highInterval, 4.99f);
    EXPECT_LT(lowInterval, 2.6f);
    EXPECT_GT(highInterval, 4.9f);
}

TEST(SceneDrips, ALongStepDripsOnceAndDoesNotShortenTheNextInterval) {
    SceneRig rig(16, 16);
    ASSERT_TRUE(rig.gl.ok()) << rig.gl.error();
    // The drip draws, in order: strength, column, row (in the water), interval.
    std::srand(7);
    std::rand();  // the constructor's message
    const int r1 = std::rand();
    const int column = std::rand() & 15;
    const int row = std::rand() & 15;
    const int r4 = std::rand();
    std::srand(7);
    SSMAIN scene;
    const SETTINGS s = TestSettings();
    ASSERT_TRUE(scene.Setup(false, 16, 16, &s));
    scene.dripTimer = 0.5f;
    scene.Update(2.0);

    const float strength = static_cast<float>((r1 % 150) / 100.0 + 0.5);
    int moving = 0;
    EXPECT_NEAR(VelocitySum(scene, &moving), -strength, 1e-5);
    EXPECT_EQ(moving, 9);
    EXPECT_FLOAT_EQ(scene.water->Cells[column | (row << 4)].Velocity, -0.25f * strength);
    EXPECT_EQ(scene.dripTimer, static_cast<float>((250 + r4 % 250) / 100.0));
    EXPECT_EQ(scene.totalTime, 2.0);
    EXPECT_EQ(scene.frameTime, 2.0);
}

TEST(SceneDrips, WithoutWaterOnlyTheClocksAdvance) {
    SSMAIN scene;
    std::srand(5);
    const int next = std::rand();
    std::srand(5);
    scene.Update(0.75);
    scene.Update(0.5);
    EXPECT_EQ(scene.totalTime, 1.25);
    EXPECT_EQ(scene.frameTime, 0.5);
    EXPECT_EQ(scene.dripTimer, 1.0f);
    EXPECT_EQ(std::rand(), next);
}

TEST(SceneTouch, DropAtDripsAtThePointWithinTheDripRange) {
    SceneRig rig(16, 16);
    ASSERT_TRUE(rig.gl.ok()) << rig.gl.error();
    ASSERT_TRUE(rig.Setup(TestSettings()));
    float low = 10.0f, high = 0.0f;
    for (int i = 0; i < 300; ++i) {
        StillWater(rig.scene);
        ASSERT_TRUE(rig.scene.DropAt(3, 12, false));
        const float strength = static_cast<float>(-VelocitySum(rig.scene));
        EXPECT_EQ(rig.scene.water->Cells[12 * 16 + 3].Velocity, -0.25f * strength);
        low = std::min(low, strength);
        high = std::max(high, strength);
    }
    EXPECT_GE(low, 0.5f - 1e-5f);
    EXPECT_LE(high, 1.99f + 1e-5f);
    EXPECT_GT(high - low, 1.0f);
    // A trail's drips are the weakest of the range, and draw no number.
    StillWater(rig.scene);
    std::srand(17);
    const int next = std::rand();
    std::srand(17);
    ASSERT_TRUE(rig.scene.DropAt(3, 12, true));
    EXPECT_EQ(std::rand(), next);
    EXPECT_NEAR(-VelocitySum(rig.scene), 0.5, 1e-6);
    SSMAIN dry;
    EXPECT_FALSE(dry.DropAt(0, 0, false));
}

TEST(SceneTouch, PixelMapsToTheGridPointDrawnThere) {
    // A wide view, so that the stretch along x matters.
    constexpr int kWidth = 320, kHeight = 180;
    SceneRig rig(kWidth, kHeight);
    ASSERT_TRUE(rig.gl.ok()) << rig.gl.error();
    ASSERT_TRUE(rig.Setup(TestSettings(6)));
    // The matrices Draw works with, as OpenGL makes them.
    HostReshape(kWidth, kHeight);
    gluLookAt(rig.scene.cameraPos.x, rig.scene.cameraPos.y, rig.scene.cameraPos.z,
              rig.scene.cameraTarget.x, rig.scene.cameraTarget.y, rig.scene.cameraTarget.z, 0.0,
              0.0, -1.0);
    glScalef(rig.scene.aspect, 1.0f, 1.0f);
    GLdouble modelView[16], projection[16];
    GLint viewport[4];
    glGetDoublev(GL_MODELVIEW_MATRIX, modelView);
    glGetDoublev(GL_PROJECTION_MATRIX, projection);
    glGetIntegerv(GL_VIEWPORT, viewport);
    const float spacing = 64.0f / 63.0f;
    const int points[][2] = {{0, 0}, {63, 0}, {0, 63}, {63, 63}, {10, 50}, {40, 7}, {31, 32}};
    for (const auto& p : points) {
        GLdouble wx = 0, wy = 0, wz = 0;
        ASSERT_TRUE(gluProject(p[0] * spacing - 32.0f, 0.0, p[1] * spacing - 32.0f, modelView,
                               projection, viewport, &wx, &wy, &wz));
        // From OpenGL's bottom-up rows to the view's top-down pixels, a
        // little towards the middle so that the edges stay on the water.
        const float x = static_cast<float>(wx + (p[0] < 32 ? 0.2 : -0.2));
        const float y = static_cast<float>(kHeight - wy + (p[1] < 32 ? 0.2 : -0.2));
        int column = -1, row = -1;
        ASSERT_TRUE(rig.scene.PixelToGrid(x, y, &column, &row)) << p[0] << "," << p[1];
        EXPECT_EQ(column, p[0]);
        EXPECT_EQ(row, p[1]);
    }
    // The middle of the view is the middle of the grid; each corner pixel is
    // on the water's edge or just off it; outside the view is off it.
    int column = -1, row = -1;
    ASSERT_TRUE(rig.scene.PixelToGrid(kWidth / 2.0f, kHeight / 2.0f, &column, &row));
    EXPECT_LE(std::abs(column * 2 - 63), 1);
    EXPECT_LE(std::abs(row * 2 - 63), 1);
    const float corners[][2] = {{0.5f, 0.5f},
                                {kWidth - 0.5f, 0.5f},
                                {0.5f, kHeight - 0.5f},
                                {kWidth - 0.5f, kHeight - 0.5f}};
    for (const auto& c : corners) {
        column = row = -1;
        if (rig.scene.PixelToGrid(c[0], c[1], &column, &row)) {
            EXPECT_TRUE(column == 0 || column == 63) << column;
            EXPECT_TRUE(row == 0 || row == 63) << row;
        }
    }
    EXPECT_FALSE(rig.scene.PixelToGrid(-20.0f, kHeight / 2.0f, &column, &row));
    EXPECT_FALSE(rig.scene.PixelToGrid(kWidth / 2.0f, kHeight + 20.0f, &column, &row));
    SSMAIN dry;
    dry.SetSize(kWidth, kHeight);
    EXPECT_FALSE(dry.PixelToGrid(kWidth / 2.0f, kHeight / 2.0f, &column, &row));
}

TEST(SceneLight, OrbitsOnceIn72SecondsAndThePositionTrails) {
    SceneRig rig(16, 16);
    ASSERT_TRUE(rig.gl.ok()) << rig.gl.error();
    ASSERT_TRUE(rig.Setup(TestSettings()));
    for (int i = 0; i < 180; ++i) rig.Frame(0.1);
    // A quarter turn about +Y takes +Z to +X.
    EXPECT_NEAR(rig.scene.lightTarget.x, 100.0f, 0.05f);
    EXPECT_NEAR(rig.scene.lightTarget.y, 75.0f, 1e-4f);
    EXPECT_NEAR(rig.scene.lightTarget.z, 0.0f, 0.05f);
    const VECTOR3D trailing = rig.scene.lightPos;
    EXPECT_GT(trailing.y, 75.0f);
    EXPECT_LT(trailing.y, 100.0f);
    // Behind the target: still short of the quarter turn.
    EXPECT_LT(std::atan2(trailing.x, trailing.z), std::atan2(100.0f, 0.0f));
    EXPECT_GT(trailing.x, 0.0f);
    for (int i = 180; i < 720; ++i) rig.Frame(0.1);
    EXPECT_NEAR(rig.scene.lightTarget.x, 0.0f, 0.05f);
    EXPECT_NEAR(rig.scene.lightTarget.y, 75.0f, 1e-4f);
    EXPECT_NEAR(rig.scene.lightTarget.z, 100.0f, 0.05f);
    EXPECT_NEAR(std::hypot(rig.scene.lightTarget.x, rig.scene.lightTarget.z), 100.0f, 0.01f);
}

TEST(SceneLight, StandsStillWithoutLightingWhileLightingStaysOn) {
    SceneRig rig(16, 16);
    ASSERT_TRUE(rig.gl.ok()) << rig.gl.error();
    SETTINGS s = TestSettings();
    s.LIGHTING = false;
    ASSERT_TRUE(rig.Setup(s));
    for (int i = 0; i < 200; ++i) rig.Frame(0.05);
    EXPECT_EQ(rig.scene.lightPos.x, 0.0f);
    EXPECT_EQ(rig.scene.lightPos.y, 100.0f);
    EXPECT_EQ(rig.scene.lightPos.z, 0.0f);
    EXPECT_EQ(rig.scene.lightTarget.x, 0.0f);
    EXPECT_EQ(rig.scene.lightTarget.z, 100.0f);
    EXPECT_TRUE(glIsEnabled(GL_LIGHTING));
    ExpectLightStraightAbove();
}

TEST(SceneCleanup, ReleasesEverythingAndIsSafeToRepeat) {
    SceneRig rig(16, 16);
    ASSERT_TRUE(rig.gl.ok()) << rig.gl.error();
    ASSERT_TRUE(rig.Setup(TestSettings()));
    InstallRecords(rig.scene, {0, 0xFF0000FF, 0x00FF00FF, 0x0000FFFF, 0xFFFF00FF, 0xFF00FFFF});
    const GLuint record = rig.scene.textures[3].glName;
    const GLuint desk = SolidTexture(0x336699FF);
    rig.scene.deskTexture = desk;
    rig.Frame(0.05);

    rig.scene.Cleanup();
    EXPECT_EQ(rig.scene.water, nullptr);
    EXPECT_EQ(rig.scene.textures, nullptr);
    EXPECT_EQ(rig.scene.textureCount, 6);
    EXPECT_EQ(rig.scene.deskTexture, 0u);
    EXPECT_FALSE(glIsTexture(record));
    EXPECT_FALSE(glIsTexture(desk));
    EXPECT_FALSE(glIsEnabled(GL_LIGHTING));
    EXPECT_FALSE(glIsEnabled(GL_LIGHT0));
    EXPECT_FALSE(glIsEnabled(GL_CULL_FACE));

    // A texture made in between (it may reuse a released name) survives the
    // second Cleanup, which finds nothing of its own left.
    const GLuint other = SolidTexture(0xFFFFFFFF);
    glEnable(GL_LIGHTING);
    rig.scene.Cleanup();
    EXPECT_TRUE(glIsTexture(other));
    EXPECT_FALSE(glIsEnabled(GL_LIGHTING));
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    glDeleteTextures(1, &other);

    // Update and Draw after Cleanup draw nothing and touch no freed memory.
    rig.Frame(0.05);
    EXPECT_EQ(rig.scene.water, nullptr);
}

namespace {

struct RunLog {
    std::vector<float> intervals;
    std::vector<uint32_t> messages;
    std::vector<float> sides;
    std::vector<float> heights;
};

// Seeds, sets up and runs a scene for 130 seconds of 0.25-second frames.
RunLog RecordRun(unsigned seed) {
    RunLog log;
    std::srand(seed);
    SceneRig rig(16, 16);  // the scene draws its first number here
    if (!rig.gl.ok()) return log;
    SSMAIN& scene = rig.scene;
    const SETTINGS s = TestSettings(5);
    if (!rig.Setup(s, false, 640, 480)) return log;
    float lastTimer = scene.dripTimer;
    bool shown = false;
    for (int i = 0; i < 520; ++i) {
        rig.Frame(0.25);
        if (scene.dripTimer > lastTimer) log.intervals.push_back(scene.dripTimer);
        lastTimer = scene.dripTimer;
        if (scene.bannerShown && !shown) {
            log.messages.push_back(scene.messageIndex);
            log.sides.push_back(scene.bannerPos.x);
        }
        shown = scene.bannerShown;
    }
    for (uint32_t i = 0; i < scene.water->VertexCount; ++i) {
        log.heights.push_back(scene.water->Cells[i].Height);
    }
    return log;
}

}  // namespace

TEST(SceneRandom, TheSameSeedGivesTheSameRun) {
    const RunLog a = RecordRun(31337);
    const RunLog b = RecordRun(31337);
    const RunLog c = RecordRun(4242);
    ASSERT_GE(a.intervals.size(), 26u);  // 130 s at 2.5 to 4.99 s per drip
    EXPECT_EQ(a.messages.size(), 3u);    // appearances at 15, 65 and 115 s
    EXPECT_EQ(a.intervals, b.intervals);
    EXPECT_EQ(a.messages, b.messages);
    EXPECT_EQ(a.sides, b.sides);
    EXPECT_EQ(a.heights, b.heights);
    for (float side : a.sides) EXPECT_TRUE(side == 0.0f || side == 640.0f - 256.0f) << side;
    EXPECT_NE(a.heights, c.heights);
}
