// The scene's frames, drawn headless and read back: the desktop under the
// water, the bowl, the darkening card, the banner, the intro and the preview.
#define GL_GLEXT_PROTOTYPES 1
#include <GL/gl.h>
#include <GL/glext.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "scene_rig.h"

namespace {

constexpr uint32_t kGreen = 0x00FF00FF;
constexpr uint32_t kRed = 0xFF0000FF;
constexpr uint32_t kYellow = 0xFFFF00FF;
constexpr uint32_t kCyan = 0x00FFFFFF;
constexpr uint32_t kMagenta = 0xFF00FFFF;

// Records 1 to 5 in colours that the desktop texture never has.
const std::vector<uint32_t> kRecords = {0, kGreen, kYellow, kCyan, kRed, kRed};

uint32_t Rgb(uint32_t rgba) { return rgba >> 8; }
int Red(uint32_t rgba) { return static_cast<int>(rgba >> 24); }
int Green(uint32_t rgba) { return static_cast<int>((rgba >> 16) & 0xFF); }
int Blue(uint32_t rgba) { return static_cast<int>((rgba >> 8) & 0xFF); }

// A 256 x 256 desktop whose texel (x, y) is (x, y, 128): a pixel's red and
// green tell which texture coordinate the water showed there.
GLuint GradientDesktop() {
    return MakeTexture(256, 256, [](int x, int y) {
        return (static_cast<uint32_t>(x) << 24) | (static_cast<uint32_t>(y) << 16) | 0x80FFu;
    });
}

// A 256 x 256 checker board of 16-texel cells, light grey and blue.
GLuint CheckerDesktop() {
    return MakeTexture(
        256, 256, [](int x, int y) { return ((x / 16 + y / 16) % 2) ? 0xE0E0E0FFu : 0x3060A0FFu; });
}

// Counts the pixels of `pixels` whose colour (alpha ignored) is `rgba`.
int CountColour(const HeadlessGL& gl, const std::vector<uint8_t>& pixels, uint32_t rgba) {
    int n = 0;
    for (int y = 0; y < gl.height(); ++y) {
        for (int x = 0; x < gl.width(); ++x) n += Rgb(gl.PixelAt(pixels, x, y)) == Rgb(rgba);
    }
    return n;
}

// The primitives that one more frame of the intro sends to the renderer,
// on the canvas state that the last frame's overlay left.
GLuint IntroPrimitives(SceneRig& rig) {
    GLuint query = 0;
    glGenQueries(1, &query);
    glBeginQuery(GL_PRIMITIVES_GENERATED, query);
    rig.scene.DoIntro();
    glEndQuery(GL_PRIMITIVES_GENERATED);
    GLuint primitives = 0;
    glGetQueryObjectuiv(query, GL_QUERY_RESULT, &primitives);
    glDeleteQueries(1, &query);
    return primitives;
}

}  // namespace

TEST(SceneRender, AnOpaqueCardBlackensTheWaterAndCoversItsRows) {
    SceneRig rig(1024, 768);
    ASSERT_TRUE(rig.gl.ok()) << rig.gl.error();
    ASSERT_TRUE(rig.Setup(TestSettings(6)));
    InstallRecords(rig.scene, kRecords);
    rig.scene.deskTexture = GradientDesktop();
    rig.scene.introDone = true;
    rig.scene.cardTimer = 10.0f;
    rig.scene.cardAlpha = 1.0f;
    rig.Frame(0.02);
    const auto pixels = rig.gl.ReadPixels();
    int stray = 0;
    for (int y = 0; y < 768; ++y) {
        for (int x = 0; x < 1024; ++x) {
            const uint32_t rgb = Rgb(rig.gl.PixelAt(pixels, x, y));
            if (y >= 352 && y < 416) {
                stray += rgb != Rgb(kRed);
            } else {
                stray += rgb != 0;
            }
        }
    }
    EXPECT_EQ(stray, 0);
    EXPECT_EQ(Rgb(rig.gl.PixelAt(pixels, 0, 352)), Rgb(kRed));
    EXPECT_EQ(Rgb(rig.gl.PixelAt(pixels, 1023, 415)), Rgb(kRed));
    EXPECT_EQ(Rgb(rig.gl.PixelAt(pixels, 512, 351)), 0u);
    EXPECT_EQ(Rgb(rig.gl.PixelAt(pixels, 512, 416)), 0u);
}

TEST(SceneRender, AFadingCardDimsTheWater) {
    SceneRig rig(128, 96);
    ASSERT_TRUE(rig.gl.ok()) << rig.gl.error();
    ASSERT_TRUE(rig.Setup(TestSettings()));
    rig.scene.deskTexture = SolidTexture(0xC0C0C0FF);
    rig.scene.introDone = true;
    rig.Frame(0.02);
    const int bright = Green(rig.gl.PixelAt(rig.gl.ReadPixels(), 64, 20));
    rig.scene.cardTimer = 10.0f;
    rig.scene.cardAlpha = 0.5f;
    rig.Frame(0.02);
    const int dimmed = Green(rig.gl.PixelAt(rig.gl.ReadPixels(), 64, 20));
    // The lit colour saturates at full brightness (ambient 0.2 plus diffuse
    // near 1), so half the material colour gives about 0.6 of the texel.
    EXPECT_EQ(bright, 0xC0);
    EXPECT_NEAR(dimmed, 0xC0 * 0.6, 4);
}

TEST(SceneRender, TheDesktopShowsUndisplacedBelowTheEyeOfStillWater) {
    SceneRig rig(256, 256);
    ASSERT_TRUE(rig.gl.ok()) << rig.gl.error();
    SETTINGS s = TestSettings(6);
    s.WANTBOWL = false;
    s.LIGHTING = false;
    ASSERT_TRUE(rig.Setup(s));
    rig.scene.deskTexture = GradientDesktop();
    rig.scene.introDone = true;
    rig.scene.dripTimer = 1e9f;
    for (int i = 0; i < 3; ++i) rig.Frame(0.05);
    const auto pixels = rig.gl.ReadPixels();
    // Below the eye the refracted ray is vertical: texel (128, 128).
    for (int dx : {-1, 0}) {
        for (int dy : {-1, 0}) {
            const uint32_t p = rig.gl.PixelAt(pixels, 128 + dx, 128 + dy);
            EXPECT_NEAR(Red(p), 128 + dx, 2) << dx << "," << dy;
            EXPECT_NEAR(Green(p), 128 + dy, 2) << dx << "," << dy;
            EXPECT_NEAR(Blue(p), 128, 1);
        }
    }
    // Upright: s grows to the right, t upwards, symmetric about the centre.
    int lastRed = -1, lastGreen = -1;
    for (int i = 8; i < 248; i += 8) {
        const int red = Red(rig.gl.PixelAt(pixels, i, 128));
        const int green = Green(rig.gl.PixelAt(pixels, 128, i));
        EXPECT_GT(red, lastRed) << i;
        EXPECT_GT(green, lastGreen) << i;
        lastRed = red;
        lastGreen = green;
        EXPECT_NEAR(red + Red(rig.gl.PixelAt(pixels, 255 - i, 128)), 255, 3) << i;
    }
    EXPECT_LT(Red(rig.gl.PixelAt(pixels, 8, 128)), 16);
    EXPECT_GT(Red(rig.gl.PixelAt(pixels, 247, 128)), 239);
}

TEST(SceneRender, RipplesDisplaceTheDesktop) {
    std::vector<uint8_t> frames[2];
    for (int rippled = 0; rippled < 2; ++rippled) {
        std::srand(77);
        SceneRig rig(256, 256);
        ASSERT_TRUE(rig.gl.ok()) << rig.gl.error();
        SETTINGS s = TestSettings(6);
        s.WANTBOWL = false;
        s.LIGHTING = false;
        ASSERT_TRUE(rig.Setup(s));
        rig.scene.deskTexture = GradientDesktop();
        rig.scene.introDone = true;
        if (!rippled) rig.scene.dripTimer = 1e9f;
        for (int i = 0; i < 60; ++i) rig.Frame(0.05);
        frames[rippled] = rig.gl.ReadPixels();
    }
    // The ripples move texture coordinates: red and green change where the
    // blue of the texture (the same everywhere) shows the same brightness.
    int displaced = 0;
    for (size_t i = 0; i < frames[0].size(); i += 4) {
        const int dr = std::abs(frames[0][i] - frames[1][i]);
        const int dg = std::abs(frames[0][i + 1] - frames[1][i + 1]);
        const int db = std::abs(frames[0][i + 2] - frames[1][i + 2]);
        displaced += (dr > 4 || dg > 4) && db <= 1;
    }
    EXPECT_GT(displaced, 256 * 256 / 100);
}

TEST(SceneRender, TheBowlChangesThePicture) {
    std::vector<uint8_t> frames[2];
    for (int bowl = 0; bowl < 2; ++bowl) {
        std::srand(5);
        SceneRig rig(128, 128);
        ASSERT_TRUE(rig.gl.ok()) << rig.gl.error();
        SETTINGS s = TestSettings(6);
        s.WANTBOWL = bowl != 0;
        ASSERT_TRUE(rig.Setup(s));
        rig.scene.deskTexture = CheckerDesktop();
        rig.scene.introDone = true;
        for (int i = 0; i < 40; ++i) rig.Frame(0.1);
        frames[bowl] = rig.gl.ReadPixels();
    }
    // The bowl magnifies the middle: many checker cells change colour.
    int differing = 0;
    for (size_t i = 0; i < frames[0].size(); i += 4) {
        differing += std::abs(frames[0][i] - frames[1][i]) > 64;
    }
    EXPECT_GT(differing, 128 * 128 / 10);
}

namespace {

// A 256 x 256 frame of the water with or without the light on the floor,
// after `frames` steps and no timed drips: with a drip at grid point
// (20, 24), steps of 0.05 s over a desktop of grey 0x80, the light standing
// still above a flat-floored pool; without, still water over the gradient
// desktop at the factory settings, in steps of 0.5 s that move the light.
struct CausticFrame {
    std::vector<uint8_t> pixels;  // RGBA, bottom row first
    std::vector<float> heights;   // the grid's, row by row
    std::vector<int> shown;       // per pixel: row * 64 + column of its grid point, or -1
};

CausticFrame DrawCaustics(bool caustics, bool drip, int frames) {
    CausticFrame out;
    SceneRig rig(256, 256);
    if (!rig.gl.ok()) return out;
    SETTINGS s = TestSettings(6);
    s.WANTBOWL = !drip;
    s.LIGHTING = !drip;
    s.CAUSTICS = caustics;
    if (!rig.Setup(s)) return out;
    rig.scene.deskTexture = drip ? SolidTexture(0x808080FF) : GradientDesktop();
    rig.scene.introDone = true;
    rig.scene.dripTimer = 1e9f;
    if (drip) rig.scene.water->DropAt(20, 24, 2.0f);
    for (int i = 0; i < frames; ++i) rig.Frame(drip ? 0.05 : 0.5);
    out.pixels = rig.gl.ReadPixels();
    for (uint32_t i = 0; i < rig.scene.water->VertexCount; ++i) {
        out.heights.push_back(rig.scene.water->Cells[i].Height);
    }
    for (int y = 0; y < 256; ++y) {
        for (int x = 0; x < 256; ++x) {
            int column = 0, row = 0;
            const bool hit = rig.scene.PixelToGrid(x + 0.5f, 255.5f - y, &column, &row);
            out.shown.push_back(hit ? row * 64 + column : -1);
        }
    }
    return out;
}

}  // namespace

TEST(SceneRender, CausticsBrightenTheFloorUnderCrestsAndDarkenItUnderTroughs) {
    const CausticFrame off = DrawCaustics(false, true, 12);
    const CausticFrame on = DrawCaustics(true, true, 12);
    ASSERT_FALSE(off.pixels.empty());
    ASSERT_FALSE(on.pixels.empty());
    ASSERT_EQ(off.heights, on.heights);  // the light changes the picture only
    // The crest and the trough that curve most: the height less the mean of
    // the four neighbours, largest and smallest.
    const int n = 64;
    auto h = [&](int x, int y) { return off.heights[((y + n) % n) * n + (x + n) % n]; };
    int crest = 0, trough = 0;
    float most = 0.0f, least = 0.0f;
    for (int i = 0; i < n * n; ++i) {
        const int x = i % n, y = i / n;
        const float rise = h(x, y) - (h(x - 1, y) + h(x + 1, y) + h(x, y - 1) + h(x, y + 1)) / 4;
        if (rise > most) most = rise, crest = i;
        if (rise < least) least = rise, trough = i;
    }
    ASSERT_GT(most, 0.01f);
    ASSERT_LT(least, -0.01f);
    // The pixels that show each of them: their green summed, off and on.
    long sum[2][2] = {{0, 0}, {0, 0}};
    int count[2] = {0, 0};
    for (size_t p = 0; p < off.shown.size(); ++p) {
        if (off.shown[p] != crest && off.shown[p] != trough) continue;
        const int which = off.shown[p] == crest ? 0 : 1;
        sum[which][0] += off.pixels[4 * p + 1];
        sum[which][1] += on.pixels[4 * p + 1];
        ++count[which];
    }
    ASSERT_GT(count[0], 0);
    ASSERT_GT(count[1], 0);
    EXPECT_GT(sum[0][1], sum[0][0] * 11 / 10) << "crest " << most << " " << crest;
    EXPECT_LT(sum[1][1], sum[1][0] * 9 / 10) << "trough " << least << " " << trough;
}

TEST(SceneRender, CausticsOnStillWaterShowNoPattern) {
    const CausticFrame off = DrawCaustics(false, false, 20);
    const CausticFrame on = DrawCaustics(true, false, 20);
    ASSERT_FALSE(off.pixels.empty());
    ASSERT_EQ(on.pixels.size(), off.pixels.size());
    // Over the gradient every channel takes many values; the light may move
    // each by one step of rounding at most, nowhere by more.
    int lowest = 255, highest = -255;
    for (size_t i = 0; i < off.pixels.size(); ++i) {
        if (i % 4 == 3) continue;
        const int d = on.pixels[i] - off.pixels[i];
        lowest = std::min(lowest, d);
        highest = std::max(highest, d);
    }
    EXPECT_GE(lowest, -1);
    EXPECT_LE(highest, 1);
    EXPECT_LE(highest - lowest, 1);
}

TEST(SceneRender, TheBannerRestsAtTheTopEdge) {
    SceneRig rig(640, 480);
    ASSERT_TRUE(rig.gl.ok()) << rig.gl.error();
    ASSERT_TRUE(rig.Setup(TestSettings()));
    InstallRecords(rig.scene, kRecords);
    rig.scene.deskTexture = SolidTexture(0x204060FF);
    for (int i = 0; i < 100; ++i) rig.Frame(0.25);  // 25 s: the first appearance
    ASSERT_TRUE(rig.scene.bannerShown);
    ASSERT_TRUE(rig.scene.bannerAtTop);
    const auto pixels = rig.gl.ReadPixels();
    const bool left = rig.scene.bannerPos.x == 0.0f;
    const int edgeX = left ? 30 : 610;
    for (int y : {440, 455, 471}) {
        EXPECT_EQ(Rgb(rig.gl.PixelAt(pixels, edgeX, y)), Rgb(kGreen)) << y;
        EXPECT_EQ(Rgb(rig.gl.PixelAt(pixels, 64, y)), Rgb(kRed)) << y;
        EXPECT_EQ(Rgb(rig.gl.PixelAt(pixels, 575, y)), Rgb(kRed)) << y;
    }
    // The edge image covers 256 pixels; the message is drawn over it.
    EXPECT_EQ(Rgb(rig.gl.PixelAt(pixels, left ? 255 : 384, 455)), Rgb(kRed));
    EXPECT_EQ(CountColour(rig.gl, pixels, kGreen), 64 * 32);
    EXPECT_EQ(CountColour(rig.gl, pixels, kRed), 512 * 32);
    for (int x : {edgeX, 320}) {
        EXPECT_NE(Rgb(rig.gl.PixelAt(pixels, x, 439)), Rgb(kRed));
        EXPECT_NE(Rgb(rig.gl.PixelAt(pixels, x, 472)), Rgb(kRed));
    }
}

TEST(SceneRender, AtScaleTwoTheBannerIsTwiceAsLargeAndAsFarFromTheEdge) {
    SceneRig rig(1280, 960);
    ASSERT_TRUE(rig.gl.ok()) << rig.gl.error();
    ASSERT_TRUE(rig.Setup(TestSettings()));
    InstallRecords(rig.scene, kRecords);
    rig.scene.deskTexture = SolidTexture(0x204060FF);
    rig.scene.overlayScale = 2.0f;
    for (int i = 0; i < 100; ++i) rig.Frame(0.25);
    ASSERT_TRUE(rig.scene.bannerShown);
    ASSERT_TRUE(rig.scene.bannerAtTop);
    const auto pixels = rig.gl.ReadPixels();
    // 40 units below the top: rows 880 to 943. The message, 1024 pixels
    // wide, is centred; the edge image shows 128 pixels beside it.
    for (int y : {880, 911, 943}) EXPECT_EQ(Rgb(rig.gl.PixelAt(pixels, 128, y)), Rgb(kRed)) << y;
    EXPECT_NE(Rgb(rig.gl.PixelAt(pixels, 640, 879)), Rgb(kRed));
    EXPECT_NE(Rgb(rig.gl.PixelAt(pixels, 640, 944)), Rgb(kRed));
    EXPECT_EQ(CountColour(rig.gl, pixels, kGreen), 128 * 64);
    EXPECT_EQ(CountColour(rig.gl, pixels, kRed), 1024 * 64);
}

TEST(SceneRender, TheIntroImagesShowAtTheirCanvasPlaces) {
    SceneRig rig(512, 384);  // half the canvas in both directions
    ASSERT_TRUE(rig.gl.ok()) << rig.gl.error();
    ASSERT_TRUE(rig.Setup(TestSettings()));
    InstallRecords(rig.scene, kRecords);
    rig.scene.deskTexture = SolidTexture(0x204060FF);
    for (int i = 0; i < 12; ++i) rig.Frame(0.25);  // 3 s: both invisible
    auto pixels = rig.gl.ReadPixels();
    EXPECT_EQ(CountColour(rig.gl, pixels, kYellow), 0);
    EXPECT_EQ(CountColour(rig.gl, pixels, kCyan), 0);
    // Images that cannot show are not drawn either (the renderer would shade
    // them in every frame of the wait).
    EXPECT_EQ(IntroPrimitives(rig), 0u);
    for (int i = 12; i < 36; ++i) rig.Frame(0.25);  // 9 s: both opaque
    pixels = rig.gl.ReadPixels();
    EXPECT_GT(IntroPrimitives(rig), 0u);
    // First: canvas x 256 to 768, y 550.4 to 678.4; second: y 64 to 320.
    EXPECT_EQ(CountColour(rig.gl, pixels, kYellow), 256 * 64);
    EXPECT_EQ(CountColour(rig.gl, pixels, kCyan), 256 * 128);
    EXPECT_EQ(Rgb(rig.gl.PixelAt(pixels, 128, 276)), Rgb(kYellow));
    EXPECT_EQ(Rgb(rig.gl.PixelAt(pixels, 383, 338)), Rgb(kYellow));
    EXPECT_EQ(Rgb(rig.gl.PixelAt(pixels, 128, 32)), Rgb(kCyan));
    EXPECT_EQ(Rgb(rig.gl.PixelAt(pixels, 383, 159)), Rgb(kCyan));
    EXPECT_NE(Rgb(rig.gl.PixelAt(pixels, 127, 96)), Rgb(kCyan));
    EXPECT_NE(Rgb(rig.gl.PixelAt(pixels, 256, 160)), Rgb(kCyan));
}

TEST(SceneRender, EmptyAndMissingRecordsDrawWhite) {
    SceneRig rig(512, 384);
    ASSERT_TRUE(rig.gl.ok()) << rig.gl.error();
    ASSERT_TRUE(rig.Setup(TestSettings()));
    // A short table: record 1 only; the message records 4 and 5 are missing.
    InstallRecords(rig.scene, {0, kGreen});
    rig.scene.deskTexture = SolidTexture(0x204060FF);
    rig.scene.introDone = true;
    rig.scene.cardTimer = 10.0f;
    rig.scene.cardAlpha = 1.0f;
    rig.Frame(0.02);
    auto pixels = rig.gl.ReadPixels();
    // The card: canvas rows 352 to 416 are rows 176 to 208 here.
    EXPECT_EQ(CountColour(rig.gl, pixels, 0xFFFFFFFF), 512 * 32);
    EXPECT_EQ(Rgb(rig.gl.PixelAt(pixels, 0, 176)), 0xFFFFFFu);
    EXPECT_EQ(Rgb(rig.gl.PixelAt(pixels, 511, 207)), 0xFFFFFFu);

    // The six empty records of a set-up without an archive: the intro at
    // 9 s draws two white rectangles.
    ASSERT_TRUE(rig.Setup(TestSettings()));
    rig.scene.cardAlpha = 0.0f;
    rig.scene.cardTimer = 0.0f;
    rig.scene.introDone = false;
    rig.scene.introAlpha1 = 1.0f;
    rig.scene.introAlpha2 = 1.0f;
    rig.scene.totalTime = 9.0;
    rig.Frame(0.02);
    pixels = rig.gl.ReadPixels();
    EXPECT_EQ(CountColour(rig.gl, pixels, 0xFFFFFFFF), 256 * 64 + 256 * 128);
}

TEST(SceneRender, ThePreviewDrawsOnlyTheWater) {
    int cardPixels[2] = {0, 0};
    for (int preview = 0; preview < 2; ++preview) {
        SceneRig rig(256, 192);
        ASSERT_TRUE(rig.gl.ok()) << rig.gl.error();
        SETTINGS s = TestSettings();
        s.LIGHTING = false;  // the light stays above: the water shows its texel
        ASSERT_TRUE(rig.Setup(s, preview != 0));
        InstallRecords(rig.scene, {0, kGreen, kYellow, kCyan, kMagenta, kMagenta});
        rig.scene.deskTexture = SolidTexture(0x204060FF);
        for (int i = 0; i < 170; ++i) rig.Frame(0.25);  // 42.5 s: a card is fading in
        const auto pixels = rig.gl.ReadPixels();
        for (int x = 0; x < 256; ++x) {
            const uint32_t p = rig.gl.PixelAt(pixels, x, 96);
            cardPixels[preview] += Red(p) > 0x80 && Blue(p) > 0x80 && Green(p) < 0x40;
        }
        if (preview) {
            EXPECT_EQ(rig.scene.cardAlpha, 0.0f);
            EXPECT_FALSE(rig.scene.introDone);
            EXPECT_EQ(rig.scene.bannerPos.y, -35.0f);
            EXPECT_EQ(CountColour(rig.gl, pixels, kGreen), 0);
            // Undarkened water at the centre.
            EXPECT_GE(Blue(rig.gl.PixelAt(pixels, 128, 96)), 0x50);
            // The projection is still the host's perspective.
            GLfloat m[16];
            glGetFloatv(GL_PROJECTION_MATRIX, m);
            EXPECT_EQ(m[11], -1.0f);
        } else {
            EXPECT_GT(rig.scene.cardAlpha, 0.5f);
            EXPECT_TRUE(rig.scene.introDone);
        }
    }
    EXPECT_EQ(cardPixels[0], 256);
    EXPECT_EQ(cardPixels[1], 0);
}

#ifdef MEREGLASS_TEST_ARCHIVE
#include "resources/textures.h"

TEST(SceneRender, TheShippedArchiveDrawsItsMessageOnTheCard) {
    SceneRig rig(1024, 768);
    ASSERT_TRUE(rig.gl.ok()) << rig.gl.error();
    ASSERT_TRUE(rig.Setup(TestSettings()));
    ASSERT_EQ(LoadTexturesFromDataFile(MEREGLASS_TEST_ARCHIVE, &rig.scene.textures,
                                       &rig.scene.textureCount),
              1);
    ASSERT_GE(rig.scene.textureCount, 6);
    for (uint32_t i = 1; i <= 5; ++i) EXPECT_NE(rig.scene.TextureName(i), 0u) << i;
    rig.scene.deskTexture = SolidTexture(0x808080FF);
    rig.scene.introDone = true;
    rig.scene.cardTimer = 10.0f;
    rig.scene.cardAlpha = 1.0f;
    rig.Frame(0.02);
    const auto pixels = rig.gl.ReadPixels();
    // Light text on clear black: lit pixels only in the card's rows.
    int lit = 0, stray = 0;
    for (int y = 0; y < 768; ++y) {
        for (int x = 0; x < 1024; ++x) {
            const bool on = Rgb(rig.gl.PixelAt(pixels, x, y)) != 0;
            if (y >= 352 && y < 416) {
                lit += on;
            } else {
                stray += on;
            }
        }
    }
    EXPECT_GT(lit, 1024 * 64 / 50);
    EXPECT_LT(lit, 1024 * 64 / 2);
    EXPECT_EQ(stray, 0);
}
#endif

// The water drawn on the processor looks as the renderer draws it (PSNR over
// the frame, lit and with the light on the floor, on rippled water over a
// busy repeating picture), and the frame is handed over once per Draw.
TEST(SceneRender, TheProcessorsWaterMatchesTheRenderers) {
#if !defined(__SSE2__)
    GTEST_SKIP() << "the water is drawn on the processor only with SSE2";
#endif
    const auto busy = [](int x, int y) {
        const uint32_t r = static_cast<uint32_t>((x * 7) ^ (y * 13)) & 0xFF;
        const uint32_t b = ((x / 6 + y / 9) & 1) ? 0xE0u : 0x20u;
        return (r << 24) | ((static_cast<uint32_t>(y * 3) & 0xFF) << 16) | (b << 8) | 0xFFu;
    };
    std::vector<uint32_t> picture(513 * 256);  // as the frame keeps pixels
    for (int y = 0; y < 256; ++y) {
        for (int x = 0; x < 512; ++x) {
            const uint32_t c = busy(x, y);
            picture[y * 513 + x] =
                (c >> 8 & 0xFFu) | (c >> 8 & 0xFF00u) | (c >> 24) << 16 | 0xFF000000u;
        }
    }
    RepeatFirstTexels(picture.data(), 512, 256);
    for (const bool caustics : {false, true}) {
        SceneRig rig(320, 180);
        ASSERT_TRUE(rig.gl.ok()) << rig.gl.error();
        SETTINGS settings = TestSettings(6);
        settings.CAUSTICS = caustics;
        ASSERT_TRUE(rig.Setup(settings, true));
        rig.scene.deskTexture = MakeTexture(512, 256, busy);
        glBindTexture(GL_TEXTURE_2D, rig.scene.deskTexture);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
        for (int i = 0; i < 150; ++i) rig.Frame(1.0 / 30.0);

        const VECTOR3D light = rig.scene.lightPos, target = rig.scene.lightTarget;
        HostReshape(320, 180);
        rig.scene.Draw();
        const std::vector<uint8_t> drawn = rig.gl.ReadPixels();
        std::vector<uint32_t> frame(320 * 180, 0x12345678u);
        WaterFrame water;
        water.pixels = frame.data();
        water.width = 320;
        water.height = 180;
        water.topFirst = caustics;  // and once with the rows the other way round
        int handedOver = 0;
        water.handOver = [&] { ++handedOver; };
        // The same water drawn on the processor over `p`, lit as it was.
        const auto drawOnProcessor = [&](WaterPicture p) {
            water.picture = p;
            rig.scene.lightPos = light;
            rig.scene.lightTarget = target;
            rig.scene.waterFrame = &water;
            HostReshape(320, 180);
            rig.scene.Draw();
            rig.scene.waterFrame = nullptr;
        };
        drawOnProcessor({picture.data(), 512, 256});
        EXPECT_EQ(handedOver, 1);
        double squares = 0.0;
        for (int y = 0; y < 180; ++y) {
            for (int x = 0; x < 320; ++x) {
                const uint32_t g = rig.gl.PixelAt(drawn, x, y);
                const uint32_t p = frame[(caustics ? 179 - y : y) * 320 + x];
                for (int ch = 0; ch < 3; ++ch) {
                    const double d = static_cast<double>((g >> (24 - 8 * ch)) & 0xFF) -
                                     static_cast<double>((p >> (16 - 8 * ch)) & 0xFF);
                    squares += d * d;
                }
            }
        }
        const double psnr =
            10.0 * std::log10(255.0 * 255.0 * 3 * 320 * 180 / std::max(squares, 1.0));
        EXPECT_GT(psnr, 40.0) << (caustics ? "with caustics" : "lit");
        if (caustics) continue;

        // Coordinates far past 2^14 texels wrap as the picture does: a ramp
        // across a picture 65536 wide draws as the same ramp across one 512
        // wide, but at the seams where it starts again (a texel blends the
        // top into the bottom: 128 times wider in the narrow one). Clamped,
        // the wide ramp stops at a quarter: 9 dB.
        const auto ramp = [&](uint32_t width) {
            std::vector<uint32_t> texels(width + 1);
            for (uint32_t x = 0; x < width; ++x) {
                const uint32_t level = x * 256 / width;
                texels[x] = 0xFF000000u | level << 16 | level;
            }
            RepeatFirstTexels(texels.data(), width, 1);
            drawOnProcessor({texels.data(), width, 1});
            return frame;
        };
        const std::vector<uint32_t> narrow = ramp(512), wide = ramp(65536);
        double apart = 0.0;
        for (size_t i = 0; i < frame.size(); ++i) {
            for (const int shift : {0, 16}) {
                const double d = static_cast<double>((narrow[i] >> shift) & 0xFF) -
                                 static_cast<double>((wide[i] >> shift) & 0xFF);
                apart += d * d;
            }
        }
        EXPECT_GT(10.0 * std::log10(255.0 * 255.0 * 2 * 320 * 180 / std::max(apart, 1.0)), 30.0)
            << "a picture 65536 wide";
    }
}
