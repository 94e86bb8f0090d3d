// The desktop texture: its power-of-two size, the upload read back from the
// texture in a headless context, name reuse, rescale failures, and the image
// sources that need no X server (image file, a folder's pictures and their
// letterbox, built-in picture).
#include "view/desktop_capture.h"

#include <GL/gl.h>
#include <GL/glu.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "headless_gl.h"
#include "view/built_in_picture.h"
#include "view/letterbox.h"
#include "view/picture_folder.h"

namespace fs = std::filesystem;

namespace {

struct Case {
    uint32_t display, texture;
};

TEST(DesktopTextureSide, CommonDisplaySizes) {
    const struct {
        uint32_t w, h, tw, th;
    } table[] = {{800, 600, 1024, 512},    {1024, 768, 1024, 1024},  {1280, 1024, 1024, 1024},
                 {1440, 900, 1024, 1024},  {1680, 1050, 2048, 1024}, {1920, 1200, 2048, 1024},
                 {1920, 1080, 2048, 1024}, {3840, 2160, 4096, 2048}};
    for (const auto& t : table) {
        EXPECT_EQ(DesktopTextureSide(t.w, 16384), t.tw) << t.w;
        EXPECT_EQ(DesktopTextureSide(t.h, 16384), t.th) << t.h;
    }
}

TEST(DesktopTextureSide, RoundsTheExponentInTheLogDomain) {
    const Case cases[] = {{724, 512},   {725, 1024},  {1448, 1024}, {1449, 2048},
                          {2896, 2048}, {2897, 4096}, {1, 1},       {2, 2},
                          {3, 4},       {5, 4},       {6, 8}};
    for (const Case& c : cases)
        EXPECT_EQ(DesktopTextureSide(c.display, 1u << 20), c.texture) << c.display;
}

TEST(DesktopTextureSide, ClampsToTheLargestTextureAndMapsZeroToZero) {
    EXPECT_EQ(DesktopTextureSide(2897, 2048), 2048u);
    EXPECT_EQ(DesktopTextureSide(1920, 1000), 1000u);  // the maximum itself, not a power of two
    EXPECT_EQ(DesktopTextureSide(1449, 2048), 2048u);
    EXPECT_EQ(DesktopTextureSide(0xffffffffu, 16384), 16384u);
    EXPECT_EQ(DesktopTextureSide(0, 16384), 0u);
}

// An image whose four quadrants have four colours, bottom row first: red
// bottom left, green bottom right, blue top left, white top right.
std::vector<uint8_t> Quadrants(int w, int h) {
    std::vector<uint8_t> p(static_cast<size_t>(w) * h * 4);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            uint8_t* q = &p[(static_cast<size_t>(y) * w + x) * 4];
            const bool right = x >= w / 2, top = y >= h / 2;
            q[0] = (!top && !right) || (top && right) ? 255 : 0;
            q[1] = (!top && right) || (top && right) ? 255 : 0;
            q[2] = top ? 255 : 0;
            q[3] = 255;
        }
    }
    return p;
}

struct TextureImage {
    GLint width = 0, height = 0, format = 0;
    std::vector<uint8_t> pixels;
    uint32_t At(int x, int y) const {
        const uint8_t* q = &pixels[(static_cast<size_t>(y) * width + x) * 4];
        return (uint32_t{q[0]} << 24) | (uint32_t{q[1]} << 16) | (uint32_t{q[2]} << 8) | q[3];
    }
};

TextureImage ReadTexture(GLuint name) {
    TextureImage t;
    glBindTexture(GL_TEXTURE_2D, name);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &t.width);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &t.height);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_INTERNAL_FORMAT, &t.format);
    t.pixels.resize(static_cast<size_t>(t.width) * t.height * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, t.pixels.data());
    return t;
}

class DesktopUpload : public ::testing::Test {
protected:
    HeadlessGL gl{16, 16};
    void SetUp() override { ASSERT_TRUE(gl.ok()) << gl.error(); }
};

TEST_F(DesktopUpload, RescalesToThePowerOfTwoSizeAndKeepsTheImageUpright) {
    const std::vector<uint8_t> image = Quadrants(800, 600);
    uint32_t name = 0;
    EXPECT_EQ(UploadDesktopTexture(&name, image.data(), 800, 600), 0);
    ASSERT_NE(name, 0u);
    EXPECT_TRUE(glIsTexture(name));
    GLint bound = 0, alignment = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
    EXPECT_EQ(static_cast<uint32_t>(bound), name);
    EXPECT_EQ(alignment, 1);

    GLint wrapS = 0, wrapT = 0, minF = 0, magF = 0;
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, &wrapS);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, &wrapT);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &minF);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &magF);
    EXPECT_EQ(wrapS, GL_REPEAT);
    EXPECT_EQ(wrapT, GL_REPEAT);
    EXPECT_EQ(minF, GL_LINEAR);
    EXPECT_EQ(magF, GL_LINEAR);

    const TextureImage t = ReadTexture(name);
    EXPECT_EQ(t.width, 1024);
    EXPECT_EQ(t.height, 512);
    EXPECT_EQ(t.format, GL_RGBA8);
    EXPECT_EQ(t.At(10, 10), 0xff0000ffu);     // bottom left: red
    EXPECT_EQ(t.At(1013, 10), 0x00ff00ffu);   // bottom right: green
    EXPECT_EQ(t.At(10, 501), 0x0000ffffu);    // top left: blue
    EXPECT_EQ(t.At(1013, 501), 0xffffffffu);  // top right: white
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    glDeleteTextures(1, &name);
}

TEST_F(DesktopUpload, ReusesAGivenNameAndReplacesItsImage) {
    const std::vector<uint8_t> small = Quadrants(64, 64);
    const std::vector<uint8_t> large = Quadrants(1024, 768);
    uint32_t name = 0;
    glGenTextures(1, &name);
    const uint32_t given = name;
    ASSERT_EQ(UploadDesktopTexture(&name, small.data(), 64, 64), 0);
    EXPECT_EQ(name, given);
    EXPECT_EQ(ReadTexture(name).width, 64);
    ASSERT_EQ(UploadDesktopTexture(&name, large.data(), 1024, 768), 0);
    EXPECT_EQ(name, given);
    const TextureImage t = ReadTexture(name);
    EXPECT_EQ(t.width, 1024);
    EXPECT_EQ(t.height, 1024);
    EXPECT_EQ(t.At(1000, 1000), 0xffffffffu);
    glDeleteTextures(1, &name);
}

TEST_F(DesktopUpload, ClampsToTheLargestTextureTheContextTakes) {
    GLint maxSize = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
    ASSERT_GT(maxSize, 0);
    // A strip twice as long as the largest texture, rounded up once more.
    const uint32_t w = static_cast<uint32_t>(maxSize) * 2 - 1;
    const std::vector<uint8_t> strip = Quadrants(static_cast<int>(w), 2);
    uint32_t name = 0;
    ASSERT_EQ(UploadDesktopTexture(&name, strip.data(), w, 2), 0);
    const TextureImage t = ReadTexture(name);
    EXPECT_EQ(t.width, maxSize);
    EXPECT_EQ(t.height, 2);
    glDeleteTextures(1, &name);
}

TEST_F(DesktopUpload, RescaleErrorHandsBackNameZeroAndDeletesTheTexture) {
    // A width that GLU sees as negative: it refuses before reading a pixel.
    const std::vector<uint8_t> pixel(4, 255);
    uint32_t name = 0;
    EXPECT_EQ(UploadDesktopTexture(&name, pixel.data(), 0x80000000u, 1), GLU_INVALID_VALUE);
    EXPECT_EQ(name, 0u);

    uint32_t reused = 0;
    glGenTextures(1, &reused);
    glBindTexture(GL_TEXTURE_2D, reused);
    const uint32_t given = reused;
    EXPECT_NE(UploadDesktopTexture(&reused, pixel.data(), 0x80000000u, 1), 0);
    EXPECT_EQ(reused, 0u);
    EXPECT_FALSE(glIsTexture(given));
}

TEST_F(DesktopUpload, EmptyImageCountsAsAFailedRescale) {
    // GLU itself reports success for an empty image and writes nothing...
    uint8_t out[4] = {1, 2, 3, 4};
    EXPECT_EQ(gluScaleImage(GL_RGBA, 0, 0, GL_UNSIGNED_BYTE, out, 1, 1, GL_UNSIGNED_BYTE, out), 0);
    EXPECT_EQ(out[0], 1);
    // ...which would leave an empty texture under a valid name.
    uint32_t name = 0;
    EXPECT_NE(UploadDesktopTexture(&name, out, 0, 0), 0);
    EXPECT_EQ(name, 0u);
    EXPECT_NE(UploadDesktopTexture(&name, out, 600, 0), 0);
    EXPECT_EQ(name, 0u);
}

TEST(DesktopSources, WithoutADisplayTheImageFileComesFirst) {
    char path[] = "/tmp/mereglass-desktop-XXXXXX.png";
    const int fd = mkstemps(path, 4);
    ASSERT_GE(fd, 0);
    close(fd);
    // 3 × 2 pixels, top row first as image files store them.
    const guchar rgb[] = {255, 0, 0, 0, 255, 0, 0, 0, 255, 10, 20, 30, 40, 50, 60, 70, 80, 90};
    GdkPixbuf* pixbuf =
        gdk_pixbuf_new_from_data(rgb, GDK_COLORSPACE_RGB, FALSE, 8, 3, 2, 9, nullptr, nullptr);
    ASSERT_TRUE(gdk_pixbuf_save(pixbuf, path, "png", nullptr, nullptr));
    g_object_unref(pixbuf);

    DesktopSources sources;
    sources.imageFile = path;
    sources.privacy = DesktopPrivacy::Blurred;  // the user's own picture is shown as it is
    platform::RgbaImage image;
    testing::internal::CaptureStderr();
    EXPECT_EQ(AcquireDesktopImage(sources, &image), DesktopSource::ImageFile);
    EXPECT_NE(testing::internal::GetCapturedStderr().find(path), std::string::npos);
    ASSERT_EQ(image.width, 3);
    ASSERT_EQ(image.height, 2);
    const std::vector<uint8_t> bottomFirst = {10,  20, 30, 255, 40, 50,  60, 255, 70, 80, 90,  255,
                                              255, 0,  0,  255, 0,  255, 0,  255, 0,  0,  255, 255};
    EXPECT_EQ(image.pixels, bottomFirst);
    unlink(path);
}

TEST(DesktopSources, LargeImageFileIsScaledToTheScreenWhileItLoads) {
    char path[] = "/tmp/mereglass-desktop-XXXXXX.png";
    const int fd = mkstemps(path, 4);
    ASSERT_GE(fd, 0);
    close(fd);
    GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, 3000, 100);
    gdk_pixbuf_fill(pixbuf, 0x20d030ff);
    ASSERT_TRUE(gdk_pixbuf_save(pixbuf, path, "png", nullptr, nullptr));
    g_object_unref(pixbuf);

    DesktopSources sources;
    sources.imageFile = path;
    sources.mainScreen.width = 640;
    sources.mainScreen.height = 480;
    platform::RgbaImage image;
    testing::internal::CaptureStderr();
    EXPECT_EQ(AcquireDesktopImage(sources, &image), DesktopSource::ImageFile);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(image.width, 640);  // each side at most the screen's larger side
    EXPECT_EQ(image.height, 100);
    ASSERT_EQ(image.pixels.size(), 640u * 100u * 4u);
    EXPECT_EQ(image.pixels[1], 0xd0);
    unlink(path);
}

TEST(DesktopSources, UnreadableFileFallsBackToTheBuiltInPictureAndSaysWhy) {
    DesktopSources sources;
    sources.imageFile = "/nonexistent/desktop.png";
    sources.mainScreen.width = 320;
    sources.mainScreen.height = 200;
    sources.privacy = DesktopPrivacy::Pixelated;  // not for the built-in picture
    platform::RgbaImage image;
    testing::internal::CaptureStderr();
    EXPECT_EQ(AcquireDesktopImage(sources, &image), DesktopSource::BuiltIn);
    const std::string message = testing::internal::GetCapturedStderr();
    EXPECT_NE(message.find("/nonexistent/desktop.png"), std::string::npos) << message;
    EXPECT_NE(message.find("built-in picture"), std::string::npos) << message;
    EXPECT_EQ(image.width, 320);
    EXPECT_EQ(image.height, 200);
    platform::RgbaImage builtIn;
    ASSERT_TRUE(DrawBuiltInPicture(320, 200, &builtIn));
    EXPECT_EQ(image.pixels, builtIn.pixels);
}

TEST(DesktopSources, WithoutADisplayTheSessionsOwnReasonIsTheOneLine) {
    DesktopSources sources;  // a Wayland session's, say
    sources.noDesktop = "the compositor offers no screencopy; there is no screenshot portal";
    sources.mainScreen.width = 32;
    sources.mainScreen.height = 24;
    platform::RgbaImage image;
    testing::internal::CaptureStderr();
    EXPECT_EQ(AcquireDesktopImage(sources, &image), DesktopSource::BuiltIn);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "mereglass: showing the built-in picture (the compositor offers no screencopy; "
              "there is no screenshot portal)\n");
}

TEST(DesktopSources, HeadlessViewGetsTheBuiltInPictureAsATexture) {
    std::string error;
    platform::View* view = platform::CreateHeadlessView(64, 48, &error);
    ASSERT_NE(view, nullptr) << error;
    DesktopSources sources;  // no display, no file: a 1280 × 720 picture
    uint32_t name = 0;
    testing::internal::CaptureStderr();
    EXPECT_EQ(GetDesktopTexture(&name, sources, view), DesktopSource::BuiltIn);
    testing::internal::GetCapturedStderr();
    ASSERT_NE(name, 0u);
    const TextureImage t = ReadTexture(name);
    EXPECT_EQ(t.width, 1024);
    EXPECT_EQ(t.height, 512);
    glDeleteTextures(1, &name);
    platform::DestroyView(view);
}

TEST(DesktopSources, PictureTheRendererRefusesGivesTheBuiltInOne) {
    std::string error;
    platform::View* view = platform::CreateHeadlessView(16, 16, &error);
    ASSERT_NE(view, nullptr) << error;
    platform::RgbaImage image;  // a size no rescale accepts
    image.width = -1;
    image.height = 1;
    image.pixels.assign(4, 255);
    uint32_t name = 0;
    testing::internal::CaptureStderr();
    ASSERT_TRUE(GetDesktopTexture(&name, image, view));
    const std::string message = testing::internal::GetCapturedStderr();
    EXPECT_NE(message.find("showing the built-in picture"), std::string::npos) << message;
    ASSERT_NE(name, 0u);
    EXPECT_EQ(ReadTexture(name).width, 1024);
    glDeleteTextures(1, &name);
    platform::DestroyView(view);
}

TEST(DesktopSources, OneImageIsUploadedIntoEveryViewOfAProcess) {
    std::string error;
    platform::View* first = platform::CreateHeadlessView(16, 16, &error);
    ASSERT_NE(first, nullptr) << error;
    platform::View* second = platform::CreateHeadlessView(16, 16, &error);
    ASSERT_NE(second, nullptr) << error;
    platform::RgbaImage image;
    image.width = 1024;
    image.height = 768;
    image.pixels = Quadrants(1024, 768);
    uint32_t names[2] = {0, 0};
    ASSERT_TRUE(GetDesktopTexture(&names[0], image, first));
    ASSERT_TRUE(GetDesktopTexture(&names[1], image, second));
    // The second view's context is current, with its own texture.
    const TextureImage t = ReadTexture(names[1]);
    EXPECT_EQ(t.width, 1024);
    EXPECT_EQ(t.At(1000, 1000), 0xffffffffu);
    ASSERT_TRUE(platform::MakeViewCurrent(first));
    EXPECT_EQ(ReadTexture(names[0]).At(10, 10), 0xff0000ffu);
    platform::DestroyView(second);
    platform::DestroyView(first);
}

// A picture of pseudo-random bytes, the same for the same seed.
platform::RgbaImage Noise(int w, int h, uint32_t seed) {
    platform::RgbaImage image{w, h, std::vector<uint8_t>(static_cast<size_t>(w) * h * 4)};
    for (uint8_t& b : image.pixels) {
        seed = seed * 1664525u + 1013904223u;
        b = static_cast<uint8_t>(seed >> 24);
    }
    return image;
}

// One box pass along x (or y) summed directly, the edge pixels repeated.
std::vector<uint8_t> DirectBox(const std::vector<uint8_t>& in, int w, int h, int r, bool alongX) {
    std::vector<uint8_t> out(in.size());
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            for (int c = 0; c < 4; ++c) {
                uint32_t sum = 0;
                for (int k = -r; k <= r; ++k) {
                    const int xs = alongX ? std::clamp(x + k, 0, w - 1) : x;
                    const int ys = alongX ? y : std::clamp(y + k, 0, h - 1);
                    sum += in[(static_cast<size_t>(ys) * w + xs) * 4 + c];
                }
                const uint32_t d = 2 * static_cast<uint32_t>(r) + 1;
                out[(static_cast<size_t>(y) * w + x) * 4 + c] =
                    static_cast<uint8_t>((sum + d / 2) / d);
            }
        }
    }
    return out;
}

TEST(DesktopPrivacy, BlurAndBlocksMatchDirectSumsAtAnyRadius) {
    // Three passes along the rows, then three along the columns; radii and
    // blocks larger than the picture included.
    for (auto [w, h] : {std::pair{7, 5}, {33, 20}, {1, 9}}) {
        for (int r : {1, 3, 40}) {
            platform::RgbaImage image = Noise(w, h, static_cast<uint32_t>(w * 100 + r));
            std::vector<uint8_t> expected = image.pixels;
            for (bool alongX : {true, false}) {
                for (int pass = 0; pass < 3; ++pass)
                    expected = DirectBox(expected, w, h, r, alongX);
            }
            ASSERT_TRUE(BlurRgba(image.pixels.data(), w, h, r));
            EXPECT_EQ(image.pixels, expected) << w << "x" << h << " radius " << r;
        }
        for (int block : {1, 4, 100}) {
            platform::RgbaImage image = Noise(w, h, static_cast<uint32_t>(w * 7 + block));
            std::vector<uint8_t> expected(image.pixels.size());
            for (int y = 0; y < h; ++y) {
                for (int x = 0; x < w; ++x) {
                    const int x0 = x / block * block, y0 = y / block * block;
                    const int x1 = std::min(x0 + block, w), y1 = std::min(y0 + block, h);
                    const uint32_t n = static_cast<uint32_t>((x1 - x0) * (y1 - y0));
                    for (int c = 0; c < 4; ++c) {
                        uint32_t sum = 0;
                        for (int yy = y0; yy < y1; ++yy) {
                            for (int xx = x0; xx < x1; ++xx) {
                                sum += image.pixels[(static_cast<size_t>(yy) * w + xx) * 4 + c];
                            }
                        }
                        expected[(static_cast<size_t>(y) * w + x) * 4 + c] =
                            static_cast<uint8_t>((sum + n / 2) / n);
                    }
                }
            }
            ASSERT_TRUE(PixelateRgba(image.pixels.data(), w, h, block));
            EXPECT_EQ(image.pixels, expected) << w << "x" << h << " block " << block;
        }
    }
}

// Black-on-white lines of 12-pixel pseudo-glyphs of 1- and 2-pixel strokes
// in 8-pixel cells, as small text on a screen.
platform::RgbaImage FineText(int w, int h) {
    platform::RgbaImage image{w, h, std::vector<uint8_t>(static_cast<size_t>(w) * h * 4, 255)};
    uint32_t seed = 12345;
    for (int line = 0; line + 16 <= h; line += 16) {
        for (int cell = 0; cell + 8 <= w; cell += 8) {
            seed = seed * 1664525u + 1013904223u;
            for (int y = 0; y < 12; ++y) {
                for (int x = 0; x < 7; ++x) {
                    const bool stem = (x == 0 && (seed & 1)) || (x >= 4 && x <= 5 && (seed & 2));
                    const bool bar =
                        (y == static_cast<int>(seed >> 8) % 12 || (y >= 10 && (seed & 4))) && x < 6;
                    const bool dot = ((x + y) % 3 == 0) && (seed & 8) && y > 3;
                    if (!stem && !bar && !dot) continue;
                    uint8_t* p =
                        &image.pixels[(static_cast<size_t>(line + 2 + y) * w + cell + x) * 4];
                    p[0] = p[1] = p[2] = 0;
                }
            }
        }
    }
    return image;
}

// The sum of squared differences of neighbouring pixels' R, G and B, across
// and down: the picture's fine detail.
double Detail(const platform::RgbaImage& image) {
    double sum = 0.0;
    const auto at = [&](int x, int y, int c) {
        return static_cast<double>(
            image.pixels[(static_cast<size_t>(y) * image.width + x) * 4 + c]);
    };
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            for (int c = 0; c < 3; ++c) {
                if (x + 1 < image.width) sum += std::pow(at(x + 1, y, c) - at(x, y, c), 2);
                if (y + 1 < image.height) sum += std::pow(at(x, y + 1, c) - at(x, y, c), 2);
            }
        }
    }
    return sum;
}

TEST(DesktopPrivacy, FineTextLosesAlmostAllItsDetailAndAsItIsChangesNothing) {
    // 1 % and 2 % of a 1920 × 1080 screen's larger side; small screens get
    // at least what hides 12-pixel text.
    EXPECT_EQ(DesktopBlurRadius(1920, 1080), 19);
    EXPECT_EQ(DesktopBlockSide(1080, 1920), 38);
    EXPECT_EQ(DesktopBlurRadius(320, 200), 6);
    EXPECT_EQ(DesktopBlockSide(320, 200), 12);

    const platform::RgbaImage text = FineText(640, 360);
    const double before = Detail(text);
    ASSERT_GT(before, 0.0);
    platform::RgbaImage shown = text;
    ProtectDesktopPicture(DesktopPrivacy::AsItIs, &shown);
    EXPECT_EQ(shown.pixels, text.pixels);
    for (DesktopPrivacy privacy : {DesktopPrivacy::Blurred, DesktopPrivacy::Pixelated}) {
        shown = text;
        ProtectDesktopPicture(privacy, &shown);
        EXPECT_LT(Detail(shown), 0.01 * before) << static_cast<int>(privacy);
        // The text's grey survives: the page is still a page of text.
        EXPECT_NEAR(std::accumulate(shown.pixels.begin(), shown.pixels.end(), 0.0),
                    std::accumulate(text.pixels.begin(), text.pixels.end(), 0.0),
                    1.0 * static_cast<double>(text.pixels.size()));
    }
}

TEST(DesktopPrivacy, AnySizeIsFilteredWithinItsPixels) {
    // Run under the sanitizers too: no read beyond a line or a block. A
    // picture of one colour stays that colour at any radius.
    for (auto [w, h] : {std::pair{1, 1}, {2, 1}, {16384, 16}, {16, 16384}, {3, 5}}) {
        for (DesktopPrivacy privacy : {DesktopPrivacy::Blurred, DesktopPrivacy::Pixelated}) {
            platform::RgbaImage image{w, h, {}};
            for (int i = 0; i < w * h; ++i)
                image.pixels.insert(image.pixels.end(), {9, 80, 201, 255});
            const std::vector<uint8_t> flat = image.pixels;
            ProtectDesktopPicture(privacy, &image);
            EXPECT_EQ(image.pixels, flat) << w << "x" << h;
            ASSERT_TRUE(BlurRgba(image.pixels.data(), w, h, 1 << 30));
            ASSERT_TRUE(PixelateRgba(image.pixels.data(), w, h, 1 << 30));
            EXPECT_EQ(image.pixels, flat) << w << "x" << h;
        }
    }
    // An empty picture, or one whose pixels do not match its size, is left.
    platform::RgbaImage empty;
    ProtectDesktopPicture(DesktopPrivacy::Blurred, &empty);
    EXPECT_TRUE(empty.pixels.empty());
    platform::RgbaImage wrong{4, 4, std::vector<uint8_t>(12, 7)};
    ProtectDesktopPicture(DesktopPrivacy::Pixelated, &wrong);
    EXPECT_EQ(wrong.pixels, std::vector<uint8_t>(12, 7));
}

// A folder of the test's own, removed with everything in it.
class TestFolder {
public:
    TestFolder() {
        char pattern[] = "/tmp/mereglass-pictures-XXXXXX";
        if (mkdtemp(pattern) != nullptr) path_ = pattern;
    }
    ~TestFolder() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Writes a width × height PNG of one colour (0xRRGGBBAA).
void WritePng(const std::string& path, int width, int height, uint32_t rgba) {
    GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, width, height);
    gdk_pixbuf_fill(pixbuf, rgba);
    ASSERT_TRUE(gdk_pixbuf_save(pixbuf, path.c_str(), "png", nullptr, nullptr)) << path;
    g_object_unref(pixbuf);
}

// The RGB of the pixel (x, y) counted from the top-left.
uint32_t RgbAt(const platform::RgbaImage& image, int x, int y) {
    const uint8_t* p =
        &image.pixels[(static_cast<size_t>(image.height - 1 - y) * image.width + x) * 4];
    return uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2];
}

TEST(Letterbox, FitsThePictureToTheScreensShapeAndCentresIt) {
    // Wider than the screen: bars above and below, the odd row at the bottom.
    LetterboxFit f = FitPictureToScreen(40, 10, 160, 90);
    EXPECT_EQ(f.canvasWidth, 40);
    EXPECT_EQ(f.canvasHeight, 23);  // 22.5 rounded
    EXPECT_EQ(f.x, 0);
    EXPECT_EQ(f.y, 6);
    // Taller: bars left and right.
    f = FitPictureToScreen(10, 40, 160, 90);
    EXPECT_EQ(f.canvasWidth, 71);
    EXPECT_EQ(f.canvasHeight, 40);
    EXPECT_EQ(f.x, 30);
    EXPECT_EQ(f.y, 0);
    // The screen's own shape needs no bars; nothing fits nothing.
    f = FitPictureToScreen(1920, 1080, 1280, 720);
    EXPECT_EQ(f.canvasWidth, 1920);
    EXPECT_EQ(f.canvasHeight, 1080);
    EXPECT_EQ(f.x + f.y, 0);
    f = FitPictureToScreen(0, 10, 160, 90);
    EXPECT_EQ(f.canvasWidth, 0);
    platform::RgbaImage canvas;
    EXPECT_FALSE(LetterboxPicture(platform::RgbaImage{}, 160, 90, &canvas));
}

TEST(PictureFolder, ListsPicturesOfSubFoldersOnceAndSkipsWhatIsNoPicture) {
    TestFolder dir;
    ASSERT_FALSE(dir.path().empty());
    fs::create_directories(dir / "trip/day two");
    fs::create_directories(dir / ".thumbnails");
    WritePng(dir / "a.png", 2, 2, 0xff0000ff);
    WritePng(dir / "trip/day two/b.JPEG", 2, 2, 0xff0000ff);  // the name decides
    WritePng(dir / ".thumbnails/c.png", 2, 2, 0xff0000ff);
    std::ofstream(dir / "notes.txt") << "not a picture";
    ASSERT_EQ(mkfifo((dir / "pipe.png").c_str(), 0600), 0);
    fs::create_directory_symlink("..", dir / "trip/up");  // a loop
    fs::create_directory_symlink(".", dir / "here");      // another
    fs::create_symlink("gone.png", dir / "dangling.png");

    std::vector<std::string> paths;
    std::string error;
    ASSERT_TRUE(ListFolderPictures(dir.path() + "/", 100, &paths, &error)) << error;
    std::sort(paths.begin(), paths.end());
    EXPECT_EQ(paths, (std::vector<std::string>{dir / "a.png", dir / "trip/day two/b.JPEG"}));

    // At most so many entries are looked at, and a search that leaves any
    // unseen says so.
    bool stopped = false;
    ASSERT_TRUE(ListFolderPictures(dir.path(), 1, &paths, &error, &stopped));
    EXPECT_LE(paths.size(), 1u);
    EXPECT_TRUE(stopped);
    TestFolder flat;
    for (int i = 0; i < 6; ++i) WritePng(flat / ("p" + std::to_string(i) + ".png"), 1, 1, 0xff);
    fs::create_directories(flat / "sub");
    WritePng(flat / "sub/deeper.png", 1, 1, 0xff);
    // Seven entries to look at: the six pictures, the sub-folder (looked
    // at after the folder's own files) and the picture in it.
    for (const auto& [limit, found, unseen] :
         {std::tuple{0, 0, true}, std::tuple{3, 3, true}, std::tuple{6, 6, true},
          std::tuple{7, 6, true}, std::tuple{8, 7, false}, std::tuple{100, 7, false}}) {
        ASSERT_TRUE(ListFolderPictures(flat.path(), limit, &paths, &error, &stopped));
        EXPECT_EQ(paths.size(), static_cast<size_t>(found)) << limit;
        EXPECT_EQ(stopped, unseen) << limit;
    }
    EXPECT_FALSE(ListFolderPictures(dir / "a.png", 100, &paths, &error));
    EXPECT_EQ(error, "not a folder");
    EXPECT_FALSE(ListFolderPictures(dir / "absent", 100, &paths, &error));
}

TEST(DesktopSources, FolderGivesARandomPictureLetterboxedToTheScreen) {
    TestFolder dir;
    WritePng(dir / "wide.png", 40, 10, 0xff0000ff);
    WritePng(dir / "tall.png", 10, 40, 0x0000ffff);
    DesktopSources sources;  // no display
    sources.imageFolder = dir.path();
    sources.folderFirst = true;
    sources.mainScreen.width = 160;
    sources.mainScreen.height = 90;
    std::set<uint32_t> seen;
    for (uint32_t seed = 0; seed < 16; ++seed) {
        sources.folderSeed = seed;
        platform::RgbaImage image;
        testing::internal::CaptureStderr();
        ASSERT_EQ(AcquireDesktopImage(sources, &image), DesktopSource::Folder);
        const std::string message = testing::internal::GetCapturedStderr();
        EXPECT_NE(message.find("(instead of the desktop)"), std::string::npos) << message;
        const uint32_t centre = RgbAt(image, image.width / 2, image.height / 2);
        seen.insert(centre);
        if (centre == 0xff0000) {
            ASSERT_EQ(image.width, 40);
            ASSERT_EQ(image.height, 23);
            EXPECT_EQ(RgbAt(image, 0, 5), 0u);  // the bars are black
            EXPECT_EQ(RgbAt(image, 0, 6), 0xff0000u);
            EXPECT_EQ(RgbAt(image, 39, 15), 0xff0000u);
            EXPECT_EQ(RgbAt(image, 39, 16), 0u);
        } else {
            ASSERT_EQ(image.width, 71);
            ASSERT_EQ(image.height, 40);
            EXPECT_EQ(RgbAt(image, 29, 0), 0u);
            EXPECT_EQ(RgbAt(image, 30, 39), 0x0000ffu);
            EXPECT_EQ(RgbAt(image, 40, 0), 0u);
        }
        EXPECT_EQ(image.pixels[3], 255);  // opaque
    }
    EXPECT_EQ(seen, (std::set<uint32_t>{0xff0000, 0x0000ff}));

    // A large picture is scaled down while it loads, keeping its shape.
    TestFolder big;
    WritePng(big / "panorama.png", 3000, 100, 0x20d030ff);
    sources.imageFolder = big.path();
    sources.mainScreen.width = 640;
    sources.mainScreen.height = 480;
    platform::RgbaImage image;
    testing::internal::CaptureStderr();
    EXPECT_EQ(AcquireDesktopImage(sources, &image), DesktopSource::Folder);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(image.width, 640);
    EXPECT_EQ(image.height, 480);
    EXPECT_EQ(RgbAt(image, 320, 240), 0x20d030u);
    EXPECT_EQ(RgbAt(image, 320, 200), 0u);  // 640 × 21 in the middle

    // A named image file wins over the folder.
    sources.imageFile = big / "panorama.png";
    sources.imageFolder = dir.path();
    testing::internal::CaptureStderr();
    EXPECT_EQ(AcquireDesktopImage(sources, &image), DesktopSource::ImageFile);
    testing::internal::GetCapturedStderr();
}

// A picture folder whose first entries hold none is said to have been
// searched no further, not to hold none.
TEST(DesktopSources, FolderSearchedOnlyToItsLimitSaysSo) {
    TestFolder dir;
    for (int i = 0; i <= kPictureFolderEntryLimit; ++i) {
        std::ofstream(dir / ("note" + std::to_string(i) + ".txt"));
    }
    fs::create_directories(dir / "photos");
    WritePng(dir / "photos/a.png", 2, 2, 0xff0000ff);
    platform::RgbaImage image;
    std::string path, error;
    EXPECT_FALSE(PickFolderPicture(dir.path(), 32, 24, 1, &image, &path, &error));
    EXPECT_EQ(error, "no PNG or JPEG picture among the first " +
                         std::to_string(kPictureFolderEntryLimit) +
                         " entries, where the search stops");
    TestFolder empty;
    EXPECT_FALSE(PickFolderPicture(empty.path(), 32, 24, 1, &image, &path, &error));
    EXPECT_EQ(error, "it holds no PNG or JPEG pictures");
}

// A name with control characters or bytes that are no UTF-8 reaches the
// terminal escaped, in the line of an image file, of a folder and of a
// picture in it.
TEST(DesktopSources, NamesInTheLinesShowControlBytesEscaped) {
    TestFolder dir;
    const std::string hostile = "x\x1b]0;owned\x07\x1b[2J\n\xff";
    const std::string shown = "x\\x1b]0;owned\\x07\\x1b[2J\\x0a\\xff";
    fs::create_directories(dir / hostile);
    std::ofstream(dir / (hostile + "/" + hostile + ".png")) << "not a picture";
    DesktopSources sources;
    sources.imageFile = dir / (hostile + "/absent.png");
    sources.imageFolder = dir / hostile;
    sources.folderFirst = true;
    sources.mainScreen.width = 32;
    sources.mainScreen.height = 24;
    platform::RgbaImage image;
    testing::internal::CaptureStderr();
    EXPECT_EQ(AcquireDesktopImage(sources, &image), DesktopSource::BuiltIn);
    const std::string message = testing::internal::GetCapturedStderr();
    EXPECT_EQ(message.find_first_of("\x1b\x07\xff"), std::string::npos) << message;
    EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 3) << message;
    EXPECT_NE(message.find("cannot use the image " + dir.path() + "/" + shown + "/absent.png: "),
              std::string::npos)
        << message;
    EXPECT_NE(message.find("cannot use the picture folder " + dir.path() + "/" + shown + ": "),
              std::string::npos)
        << message;
    EXPECT_NE(message.find("(" + dir.path() + "/" + shown + "/" + shown + ".png: "),
              std::string::npos)
        << message;
}

TEST(DesktopSources, EmptyOrUnusableFolderFallsBackInOneLine) {
    TestFolder empty, junk;
    std::ofstream(junk / "notes.png") << "not a picture";
    ASSERT_EQ(mkfifo((junk / "pipe.jpg").c_str(), 0600), 0);
    for (const std::string& folder : {empty.path(), junk.path(), empty / "absent", std::string()}) {
        SCOPED_TRACE(folder);
        DesktopSources sources;  // no display: the desktop cannot be read
        sources.imageFolder = folder;
        sources.folderFirst = true;
        sources.mainScreen.width = 32;
        sources.mainScreen.height = 24;
        platform::RgbaImage image;
        testing::internal::CaptureStderr();
        EXPECT_EQ(AcquireDesktopImage(sources, &image), DesktopSource::BuiltIn);
        const std::string message = testing::internal::GetCapturedStderr();
        // The folder's line, then the built-in picture's.
        EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 2) << message;
        EXPECT_NE(message.find(folder + ": "), std::string::npos) << message;
        EXPECT_NE(message.find("; showing the desktop\n"), std::string::npos) << message;
        EXPECT_EQ(image.width, 32);

        // Not preferred, it only stands in for the desktop, and is named
        // when it cannot.
        sources.folderFirst = false;
        testing::internal::CaptureStderr();
        EXPECT_EQ(AcquireDesktopImage(sources, &image), DesktopSource::BuiltIn);
        const std::string second = testing::internal::GetCapturedStderr();
        EXPECT_EQ(std::count(second.begin(), second.end(), '\n'), folder.empty() ? 1 : 2) << second;
    }
}

}  // namespace
