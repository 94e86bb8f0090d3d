// The display-independent platform services: the clock, screen choice,
// headless views, the bundle path, the desktop's own idle delay (KDE's
// files and GNOME's settings through a key-file GSettings backend, in a
// temporary folder), and the built-in picture.
#include "platform/platform.h"

#include <GL/gl.h>
#include <fcntl.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>

#include "fake_power.h"
#include "platform/desktop_idle_delay.h"
#include "platform/pictures/image_decode.h"
#include "platform/power_source.h"
#include "platform/wayland/wayland.h"
#include "platform/x11/x11.h"
#include "view/built_in_picture.h"

namespace {

TEST(PlatformClock, IsMonotonicAndInSeconds) {
    const double a = platform::ClockSeconds();
    usleep(20000);
    const double b = platform::ClockSeconds();
    EXPECT_GT(a, 0.0);
    EXPECT_GE(b - a, 0.019);
    EXPECT_LT(b - a, 1.0);
}

TEST(PlatformScreens, MainScreenIsThePrimaryOrTheFirst) {
    std::vector<platform::ScreenInfo> screens(3);
    for (int i = 0; i < 3; ++i) {
        screens[i].x = i * 100;
        screens[i].width = 100;
        screens[i].height = 100;
        screens[i].number = 10 + i;
    }
    EXPECT_EQ(platform::MainScreen(screens).number, 10);
    screens[2].primary = true;
    EXPECT_EQ(platform::MainScreen(screens).number, 12);
    EXPECT_EQ(platform::MainScreen({}).width, 0);

    // The screen holding the centre; else the one overlapped most.
    EXPECT_EQ(platform::ScreenOfRectangle(screens, 110, 10, 20, 20).number, 11);
    EXPECT_EQ(platform::ScreenOfRectangle(screens, 60, 300, 100, 20).number, 12);  // below all
    EXPECT_EQ(platform::ScreenOfRectangle(screens, 0, 50, 40, 200).number, 10);    // centre below

    const std::vector<platform::ScreenInfo> headless = platform::HeadlessScreens(1920, 1080);
    ASSERT_EQ(headless.size(), 1u);
    EXPECT_TRUE(headless[0].primary);
    EXPECT_EQ(headless[0].width, 1920);
    EXPECT_EQ(platform::MainScreen(headless).height, 1080);
}

// The portal's one picture of the desktop, at twice the logical size, cut
// into the outputs by their logical rectangles: a wide output and a smaller
// one to its right, lower down, the leftmost at the origin or anywhere else
// (a layout may start left of or above 0, or far from it).
TEST(PlatformScreens, DesktopPictureIsCroppedToEachOutput) {
    // 12 × 6 pixels, bottom row first; each pixel holds its column and its
    // row from the top.
    platform::RgbaImage desktop;
    desktop.width = 12;
    desktop.height = 6;
    for (int row = 5; row >= 0; --row) {
        for (int column = 0; column < 12; ++column) {
            desktop.pixels.insert(desktop.pixels.end(), {static_cast<uint8_t>(column),
                                                         static_cast<uint8_t>(row), 0, 255});
        }
    }
    for (const auto& [dx, dy] : {std::pair{0, 0}, std::pair{-4, -1}, std::pair{1920, 300}}) {
        SCOPED_TRACE(std::to_string(dx) + "," + std::to_string(dy));
        std::vector<platform::WaylandOutput> outputs(2);
        outputs[0].x = dx;
        outputs[0].y = dy;
        outputs[0].width = 4;
        outputs[0].height = 3;
        outputs[1].x = dx + 4;
        outputs[1].y = dy + 1;
        outputs[1].width = 2;
        outputs[1].height = 2;
        platform::RgbaImage first, second;
        ASSERT_TRUE(platform::CropDesktopPicture(desktop, outputs, outputs[1], &second));
        EXPECT_EQ(second.width, 4);
        EXPECT_EQ(second.height, 4);
        // Its bottom-left pixel is the desktop's column 8, last row; its
        // top-right one column 11, row 2.
        EXPECT_EQ(second.pixels[0], 8);
        EXPECT_EQ(second.pixels[1], 5);
        EXPECT_EQ(second.pixels[(3 * 4 + 3) * 4], 11);
        EXPECT_EQ(second.pixels[(3 * 4 + 3) * 4 + 1], 2);
        // The first is the desktop's top-left 8 × 6, bottom-left (0, 5).
        ASSERT_TRUE(platform::CropDesktopPicture(desktop, outputs, outputs[0], &first));
        EXPECT_EQ(first.width, 8);
        EXPECT_EQ(first.height, 6);
        EXPECT_EQ(first.pixels[0], 0);
        EXPECT_EQ(first.pixels[1], 5);
        EXPECT_EQ(first.pixels[(5 * 8 + 7) * 4], 7);
        EXPECT_EQ(first.pixels[(5 * 8 + 7) * 4 + 1], 0);

        platform::WaylandOutput outside;
        outside.x = dx + 10;
        outside.y = dy;
        outside.width = 2;
        outside.height = 2;
        EXPECT_FALSE(platform::CropDesktopPicture(desktop, outputs, outside, &second));
    }
}

// A picture of w × h pixels, top row first, each pixel an RGB of its own.
struct Grid {
    int w = 0;
    int h = 0;
    std::vector<uint32_t> rgb;
    uint32_t& At(int x, int y) { return rgb[static_cast<size_t>(y) * w + x]; }
};

Grid FlippedAboutTheVerticalAxis(Grid g) {
    Grid out = g;
    for (int y = 0; y < g.h; ++y) {
        for (int x = 0; x < g.w; ++x) out.At(x, y) = g.At(g.w - 1 - x, y);
    }
    return out;
}

Grid UpsideDown(Grid g) {
    Grid out = g;
    for (int y = 0; y < g.h; ++y) {
        for (int x = 0; x < g.w; ++x) out.At(x, y) = g.At(x, g.h - 1 - y);
    }
    return out;
}

// Turned a quarter counter-clockwise: the top-right corner goes top-left.
Grid TurnedCounterClockwise(Grid g) {
    Grid out{g.h, g.w, std::vector<uint32_t>(g.rgb.size())};
    for (int y = 0; y < g.h; ++y) {
        for (int x = 0; x < g.w; ++x) out.At(y, g.w - 1 - x) = g.At(x, y);
    }
    return out;
}

// Screencopy's buffer of an output with each of the eight transforms (a
// flip about the vertical axis for 4 to 7, then a quarter turn counter-
// clockwise per step), rows top or bottom first (Y_INVERT), in either
// channel order and with padded rows, is turned back into the upright
// picture.
TEST(PlatformScreencopy, CaptureIsTurnedUprightForEveryTransformAndFlag) {
    Grid upright{5, 3, {}};
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 5; ++x)
            upright.rgb.push_back(uint32_t(x * 50 + 10) << 16 | (y * 90 + 20) << 8 | (x + 5 * y));
    }
    constexpr uint32_t kXrgb = 1, kAbgr = 0x34324241;  // wl_shm formats
    for (int transform = 0; transform < 8; ++transform) {
        Grid turned = transform >= 4 ? FlippedAboutTheVerticalAxis(upright) : upright;
        for (int i = 0; i < transform % 4; ++i) turned = TurnedCounterClockwise(turned);
        for (bool yInverted : {false, true}) {
            const Grid stored = yInverted ? UpsideDown(turned) : turned;
            for (uint32_t format : {kXrgb, kAbgr}) {
                SCOPED_TRACE(testing::Message() << "transform " << transform << ", y inverted "
                                                << yInverted << ", format " << format);
                const int stride = stored.w * 4 + 8;
                std::vector<uint8_t> buffer(static_cast<size_t>(stride) * stored.h, 0xee);
                for (int y = 0; y < stored.h; ++y) {
                    for (int x = 0; x < stored.w; ++x) {
                        const uint32_t c = stored.rgb[static_cast<size_t>(y) * stored.w + x];
                        uint8_t* p = &buffer[static_cast<size_t>(y) * stride + x * 4];
                        const uint8_t r = c >> 16, g = c >> 8 & 0xff, b = c & 0xff;
                        p[0] = format == kXrgb ? b : r;  // little-endian words
                        p[1] = g;
                        p[2] = format == kXrgb ? r : b;
                        p[3] = 0x7f;
                    }
                }
                platform::RgbaImage image;
                ASSERT_TRUE(platform::OrientCapture(buffer.data(), stored.w, stored.h, stride,
                                                    format, yInverted, transform, &image));
                ASSERT_EQ(image.width, 5);
                ASSERT_EQ(image.height, 3);
                for (int y = 0; y < 3; ++y) {
                    for (int x = 0; x < 5; ++x) {
                        const uint8_t* p = &image.pixels[(static_cast<size_t>(2 - y) * 5 + x) * 4];
                        EXPECT_EQ(uint32_t{p[0]} << 16 | p[1] << 8 | p[2], upright.At(x, y))
                            << x << "," << y;
                        EXPECT_EQ(p[3], 255);
                    }
                }
            }
        }
    }
    platform::RgbaImage image;
    const uint8_t pixel[4] = {};
    EXPECT_FALSE(platform::OrientCapture(pixel, 1, 1, 4, 0x36314752, false, 0, &image));  // RGB565
}

TEST(PlatformHeadlessView, DrawsResizesAndReadsBack) {
    std::string error;
    platform::View* view = platform::CreateHeadlessView(32, 24, &error);
    ASSERT_NE(view, nullptr) << error;
    EXPECT_EQ(platform::ViewWindow(view), 0u);
    EXPECT_FALSE(platform::ViewLost(view));
    EXPECT_EQ(platform::CreateImagePresenter(view, 32, 24), nullptr);  // no window to put into
    int w = 0, h = 0;
    platform::ViewSize(view, &w, &h);
    EXPECT_EQ(w, 32);
    EXPECT_EQ(h, 24);
    GLint depthBits = 0;
    glGetIntegerv(GL_DEPTH_BITS, &depthBits);
    EXPECT_GE(depthBits, 24);

    glClearColor(0.0f, 1.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    glEnable(GL_SCISSOR_TEST);  // the top right quarter red
    glScissor(16, 12, 16, 12);
    glClearColor(1.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    glDisable(GL_SCISSOR_TEST);
    platform::PresentView(view);
    platform::RgbaImage image;
    ASSERT_TRUE(platform::ReadViewPixels(view, &image));
    ASSERT_EQ(image.width, 32);
    ASSERT_EQ(image.height, 24);
    EXPECT_EQ(image.pixels[0 * 4 + 1], 255);               // bottom left green
    EXPECT_EQ(image.pixels[(23 * 32 + 31) * 4 + 0], 255);  // top right red
    EXPECT_EQ(image.pixels[(23 * 32 + 31) * 4 + 1], 0);

    ASSERT_TRUE(platform::ResizeView(view, 64, 10));
    platform::ViewSize(view, &w, &h);
    EXPECT_EQ(w, 64);
    EXPECT_EQ(h, 10);
    EXPECT_FALSE(platform::ResizeView(view, 0, 10));
    ASSERT_TRUE(platform::ReadViewPixels(view, &image));
    EXPECT_EQ(image.pixels.size(), 64u * 10u * 4u);

    // Two views, each with its own context.
    platform::View* second = platform::CreateHeadlessView(8, 8, &error);
    ASSERT_NE(second, nullptr) << error;
    ASSERT_TRUE(platform::MakeViewCurrent(second));
    platform::ViewSize(second, &w, &h);
    EXPECT_EQ(w, 8);
    ASSERT_TRUE(platform::MakeViewCurrent(view));
    platform::DestroyView(second);
    platform::DestroyView(view);
    EXPECT_EQ(platform::CreateHeadlessView(0, 10, &error), nullptr);
    EXPECT_FALSE(error.empty());
}

TEST(PlatformBundle, FindsTheArchiveBesideTheProgram) {
    char exe[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    ASSERT_GT(n, 0);
    std::string dir(exe, static_cast<size_t>(n));
    dir.erase(dir.find_last_of('/') + 1);
    const std::string path = dir + "platformtest.respak";
    EXPECT_EQ(platform::BundleResourcePath("platformtest", "respak"), "");
    std::ofstream(path) << "MRKF";
    EXPECT_EQ(platform::BundleResourcePath("platformtest", "respak"), path);
    unlink(path.c_str());
    EXPECT_EQ(platform::BundleResourcePath("platformtest", "respak"), "");
}

// A temporary folder, removed with the object.
class TempFolder {
public:
    TempFolder() {
        char pattern[] = "/tmp/mereglass-platform-XXXXXX";
        if (mkdtemp(pattern) != nullptr) path_ = pattern;
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::string& path() const { return path_; }
    void Write(const char* name, const std::string& text) const {
        std::ofstream(path_ + "/" + name) << text;
    }

private:
    std::string path_;
};

using platform::DesktopIdleAction;
using platform::ReadDesktopIdleDelay;

TEST(DesktopIdleDelay, KdeLocksOrTurnsTheScreenOffWhicheverComesFirst) {
    TempFolder config;
    ASSERT_FALSE(config.path().empty());
    // No files: the screen locker's own defaults, on after 5 minutes.
    platform::DesktopIdleDelay delay = ReadDesktopIdleDelay("KDE", config.path());
    EXPECT_EQ(delay.seconds, 300);
    EXPECT_EQ(delay.desktop, "KDE");
    EXPECT_EQ(delay.action, DesktopIdleAction::Lock);
    EXPECT_EQ(ReadDesktopIdleDelay("XFCE", config.path()).seconds, 0);
    EXPECT_EQ(ReadDesktopIdleDelay("KDEX:Other", config.path()).seconds, 0);

    // The energy saving on mains power, in its nested group (not the
    // battery's), before a later lock; KDE's flags after a key are read
    // past, and the last value of a key counts.
    config.Write("kscreenlockerrc", "[Daemon]\nTimeout=7.5\n");
    config.Write("powermanagementprofilesrc",
                 "[AC]\nicon=battery-charging\n\n[AC][DPMSControl]\nidleTime=600\n"
                 "lockBeforeTurnOff=0\nidleTime[$i] = 420\n\n"
                 "[Battery][DPMSControl]\nidleTime=120\n");
    delay = ReadDesktopIdleDelay("X-Custom:KDE", config.path());
    EXPECT_EQ(delay.seconds, 420);
    EXPECT_EQ(delay.action, DesktopIdleAction::ScreenOff);
    config.Write("powermanagementprofilesrc", "[AC][DPMSControl]\nidleTime=900\n");
    delay = ReadDesktopIdleDelay("KDE", config.path());
    EXPECT_EQ(delay.seconds, 450);  // 7.5 minutes
    EXPECT_EQ(delay.action, DesktopIdleAction::Lock);

    // The locker switched off: only the screen's delay is left; without
    // the group, none.
    config.Write("kscreenlockerrc", "[Daemon]\nAutolock=false\nTimeout=1\n");
    EXPECT_EQ(ReadDesktopIdleDelay("KDE", config.path()).seconds, 900);
    config.Write("powermanagementprofilesrc", "[AC][DimDisplay]\nidleTime=300000\n");
    EXPECT_EQ(ReadDesktopIdleDelay("KDE", config.path()).seconds, 0);
}

bool GnomeSessionSchemaInstalled() {
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    GSettingsSchema* schema =
        source ? g_settings_schema_source_lookup(source, "org.gnome.desktop.session", TRUE)
               : nullptr;
    if (schema) g_settings_schema_unref(schema);
    return schema != nullptr;
}

TEST(DesktopIdleDelay, GnomeIdleDelayComesFromItsSettings) {
    // Before GSettings is first used in this process: the key-file backend,
    // in a temporary folder, never the user's own settings.
    TempFolder config;
    setenv("GSETTINGS_BACKEND", "keyfile", 1);
    setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
    if (!GnomeSessionSchemaInstalled()) {
        unsetenv("XDG_CONFIG_HOME");
        GTEST_SKIP() << "gsettings-desktop-schemas is missing";
    }
    GSettings* settings = g_settings_new("org.gnome.desktop.session");
    ASSERT_TRUE(g_settings_set_uint(settings, "idle-delay", 240));
    g_settings_sync();
    ASSERT_TRUE(std::filesystem::exists(config.path() + "/glib-2.0/settings/keyfile"));

    platform::DesktopIdleDelay delay = ReadDesktopIdleDelay("ubuntu:GNOME", config.path());
    EXPECT_EQ(delay.seconds, 240);
    EXPECT_EQ(delay.desktop, "GNOME");
    EXPECT_EQ(delay.action, DesktopIdleAction::Blank);
    EXPECT_EQ(ReadDesktopIdleDelay("KDE", config.path()).action, DesktopIdleAction::Lock);
    // Both named: the earlier of GNOME's 4 minutes and KDE's 5.
    EXPECT_EQ(ReadDesktopIdleDelay("GNOME:KDE", config.path()).desktop, "GNOME");
    // 0 is never.
    ASSERT_TRUE(g_settings_set_uint(settings, "idle-delay", 0));
    g_settings_sync();
    EXPECT_EQ(ReadDesktopIdleDelay("GNOME", config.path()).seconds, 0);
    g_object_unref(settings);
    unsetenv("XDG_CONFIG_HOME");
}

TEST(DesktopIdleDelay, AMissingGnomeSchemaIsNoDelay) {
    // GSettings ends the process on a schema it does not have; the reader
    // looks it up first. Run where no schema can be found, in a fresh
    // process.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            for (const char* name : {"GSETTINGS_SCHEMA_DIR", "XDG_DATA_HOME", "XDG_DATA_DIRS"}) {
                setenv(name, "/nonexistent", 1);
            }
            std::exit(ReadDesktopIdleDelay("GNOME", "/nonexistent").seconds == 0 ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(BuiltInPicture, IsAFixedCalmPictureOfTheRequestedSize) {
    platform::RgbaImage a, b;
    ASSERT_TRUE(DrawBuiltInPicture(640, 360, &a));
    ASSERT_TRUE(DrawBuiltInPicture(640, 360, &b));
    ASSERT_EQ(a.width, 640);
    ASSERT_EQ(a.height, 360);
    ASSERT_EQ(a.pixels.size(), 640u * 360u * 4u);
    EXPECT_EQ(a.pixels, b.pixels);  // the same every time

    // Opaque, neither dark nor glaring on average, with real detail.
    double sum = 0;
    std::set<uint32_t> colours;
    for (size_t i = 0; i < a.pixels.size(); i += 4) {
        EXPECT_EQ(a.pixels[i + 3], 255);
        sum += (a.pixels[i] + a.pixels[i + 1] + a.pixels[i + 2]) / 3.0;
        colours.insert((uint32_t{a.pixels[i]} << 16) | (uint32_t{a.pixels[i + 1]} << 8) |
                       a.pixels[i + 2]);
    }
    const double mean = sum / (a.pixels.size() / 4.0);
    EXPECT_GT(colours.size(), 2000u);
    EXPECT_GT(mean, 90.0);
    EXPECT_LT(mean, 220.0);

    platform::RgbaImage tiny;
    EXPECT_TRUE(DrawBuiltInPicture(1, 1, &tiny));
    EXPECT_EQ(tiny.pixels.size(), 4u);
    EXPECT_FALSE(DrawBuiltInPicture(0, 10, &tiny));
    EXPECT_TRUE(tiny.pixels.empty());
    EXPECT_FALSE(DrawBuiltInPicture(10, 20000, &tiny));
}

// A file of the test's own, removed when the object goes.
class TempFile {
public:
    explicit TempFile(const std::string& suffix) {
        path_ = "/tmp/mereglass-image-XXXXXX" + suffix;
        const int fd = mkstemps(path_.data(), static_cast<int>(suffix.size()));
        if (fd >= 0) close(fd);
    }
    ~TempFile() { unlink(path_.c_str()); }
    const std::string& path() const { return path_; }
    void Write(const std::string& bytes) const {
        std::ofstream(path_, std::ios::binary | std::ios::trunc) << bytes;
    }

private:
    std::string path_;
};

std::string BigEndian(uint32_t v, int bytes) {
    std::string out;
    for (int i = bytes - 1; i >= 0; --i) out += static_cast<char>(v >> (8 * i) & 0xff);
    return out;
}

// A PNG chunk: length, type, data and the CRC of type and data.
std::string PngChunk(const std::string& type, const std::string& data) {
    uint32_t crc = ~0u;
    for (unsigned char b : type + data) {
        crc ^= b;
        for (int k = 0; k < 8; ++k) crc = (crc & 1) != 0 ? 0xedb88320u ^ (crc >> 1) : crc >> 1;
    }
    return BigEndian(static_cast<uint32_t>(data.size()), 4) + type + data + BigEndian(~crc, 4);
}

// A PNG of a few hundred bytes that declares width × height RGB pixels,
// with the start of a compressed stream of them.
std::string PngDeclaring(uint32_t width, uint32_t height) {
    const std::string ihdr =
        BigEndian(width, 4) + BigEndian(height, 4) + std::string("\x08\x02\0\0\0", 5);
    return std::string("\x89PNG\r\n\x1a\n") + PngChunk("IHDR", ihdr) +
           PngChunk("IDAT", std::string("\x78\x9c\xed\xc1\x01\x0d\0\0\0\xc2\xa0", 11)) +
           PngChunk("IEND", "");
}

// The segments of a JPEG up to its first scan: a frame of `marker` (0xc0
// baseline, 0xc2 progressive) with `components` components, and a scan of
// `inScan` of them.
std::string JpegDeclaring(uint32_t width, uint32_t height, int marker, int inScan,
                          char components = 3) {
    std::string frame =
        "\x08" + BigEndian(height, 2) + BigEndian(width, 2) + std::string(1, components);
    for (char id = 1; id <= components; ++id) frame += std::string{id, '\x11', '\0'};
    std::string scan(1, static_cast<char>(inScan));
    for (char id = 1; id <= inScan; ++id) scan += std::string{id, '\0'};
    scan += std::string("\0\x3f\0", 3);
    const auto segment = [](int m, const std::string& body) {
        return std::string{'\xff', static_cast<char>(m)} +
               BigEndian(static_cast<uint32_t>(body.size() + 2), 2) + body;
    };
    return std::string("\xff\xd8") +
           segment(0xe0, std::string("JFIF\0\x01\x01\0\0\x01\0\x01\0\0", 14)) +
           segment(marker, frame) + segment(0xda, scan) + "\xff\xd9";
}

// A picture is refused from what its header declares when the loader would
// make more than 250 million pixels before scaling them down: a PNG always
// decodes whole; a JPEG decodes at 1/8 of its size when the screen needs no
// more, unless its decoder keeps the whole image (progressive, or its
// components in separate scans).
TEST(PlatformImageFile, PictureThatWouldDecodeTooLargeIsRefusedFromItsHeader) {
    TempFile file(".png");
    platform::RgbaImage image;
    std::string error;
    file.Write(PngDeclaring(60000, 60000));
    EXPECT_FALSE(platform::LoadImageFileWithin(file.path().c_str(), 1920, 1080, &image, &error));
    EXPECT_EQ(error, "it would decode to 60000 × 60000 pixels, more than 250 million");
    file.Write(PngDeclaring(20000, 12501));
    EXPECT_FALSE(platform::LoadImageFile(file.path().c_str(), 1920, &image, &error));
    EXPECT_EQ(error, "it would decode to 20000 × 12501 pixels, more than 250 million");

    file.Write(JpegDeclaring(20000, 20000, 0xc0, 3));
    EXPECT_FALSE(platform::LoadImageFileWithin(file.path().c_str(), 1920, 1080, &image, &error));
    EXPECT_EQ(error.find("would decode"), std::string::npos) << error;
    EXPECT_FALSE(platform::LoadImageFile(file.path().c_str(), 16384, &image, &error));
    EXPECT_EQ(error, "it would decode to 20000 × 20000 pixels, more than 250 million");
    for (const auto& [marker, inScan] : {std::pair{0xc2, 3}, std::pair{0xc0, 1}}) {
        file.Write(JpegDeclaring(20000, 20000, marker, inScan));
        EXPECT_FALSE(
            platform::LoadImageFileWithin(file.path().c_str(), 1920, 1080, &image, &error));
        EXPECT_EQ(error, "it would decode to 20000 × 20000 pixels, more than 250 million")
            << marker << " " << inScan;
    }
    // A decoder that keeps every coefficient takes 2 bytes a sample of each
    // component besides the pixels: within 1024 MB in all.
    for (const auto& [side, components] : {std::pair{15000u, '\3'}, std::pair{10000u, '\4'}}) {
        file.Write(JpegDeclaring(side, side, 0xc2, components, components));
        EXPECT_FALSE(platform::LoadImageFile(file.path().c_str(), 1920, &image, &error));
        const uint64_t mb = uint64_t{side} * side * (4 + 2 * components) >> 20;
        EXPECT_EQ(error, "decoding it would take " + std::to_string(mb) +
                             " MB with its coefficients, more than 1024 MB");
    }
    file.Write(JpegDeclaring(8000, 8000, 0xc2, 3));
    EXPECT_FALSE(platform::LoadImageFile(file.path().c_str(), 1920, &image, &error));
    EXPECT_EQ(error.find("would"), std::string::npos) << error;

    // A header cut short or out of order is damage, not a size.
    file.Write(PngDeclaring(60000, 60000).substr(0, 20));
    EXPECT_FALSE(platform::LoadImageFile(file.path().c_str(), 1920, &image, &error));
    EXPECT_EQ(error, "it is a damaged PNG picture");
    file.Write(JpegDeclaring(20000, 20000, 0xc2, 3).substr(0, 30));
    EXPECT_FALSE(platform::LoadImageFile(file.path().c_str(), 1920, &image, &error));
    EXPECT_EQ(error, "it is a damaged JPEG picture");
}

// The decoder's own size must be the header's, or the picture is refused:
// a file rewritten between the two reads gets nothing larger past the check.
TEST(PlatformImageFile, ADecoderSizeOtherThanTheHeadersIsRefused) {
    GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, 300, 200);
    TempFile file(".png");
    ASSERT_TRUE(gdk_pixbuf_save(pixbuf, file.path().c_str(), "png", nullptr, nullptr));
    g_object_unref(pixbuf);
    const int fd = open(file.path().c_str(), O_RDONLY | O_CLOEXEC);
    platform::RgbaImage image;
    std::string error;
    EXPECT_FALSE(platform::DecodeImage(fd, {platform::ImageKind::Png, 30, 20}, {64, 64, true},
                                       &image, &error));
    EXPECT_EQ(error, "its size changed while it was read: 300 × 200 pixels, not 30 × 20");
    close(fd);
}

// A photograph is turned upright by its EXIF orientation before it is
// fitted: turned a quarter, a portrait stays within the bound.
TEST(PlatformImageFile, APhotographIsTurnedUprightBeforeItIsFitted) {
    // Stored 400 × 300 with its top rows red, to be shown turned clockwise.
    GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, 400, 300);
    gdk_pixbuf_fill(pixbuf, 0x0000ffff);
    GdkPixbuf* top = gdk_pixbuf_new_subpixbuf(pixbuf, 0, 0, 400, 60);
    gdk_pixbuf_fill(top, 0xff0000ff);
    gchar* jpeg = nullptr;
    gsize size = 0;
    ASSERT_TRUE(gdk_pixbuf_save_to_buffer(pixbuf, &jpeg, &size, "jpeg", nullptr, nullptr));
    g_object_unref(top);
    g_object_unref(pixbuf);
    // Exif: a big-endian TIFF header whose one IFD entry is orientation 6.
    const std::string exif = std::string(
        "\xff\xe1\0\x22"
        "Exif\0\0MM\0\x2a\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0\x06\0\0\0\0\0\0",
        36);
    TempFile file(".jpg");
    file.Write(std::string(jpeg, 2) + exif + std::string(jpeg + 2, size - 2));
    g_free(jpeg);
    platform::RgbaImage image;
    std::string error;
    ASSERT_TRUE(platform::LoadImageFileWithin(file.path().c_str(), 192, 108, &image, &error))
        << error;
    EXPECT_EQ(image.width, 81);
    EXPECT_EQ(image.height, 108);
    const auto red = [&](int x, int y) { return image.pixels[(y * image.width + x) * 4] > 200; };
    EXPECT_TRUE(red(image.width - 3, 54));
    EXPECT_FALSE(red(2, 54));
}

// Only PNG and JPEG files are decoded, told by their signatures: another
// format is refused whatever its name, and a JPEG named .png is read.
TEST(PlatformImageFile, OnlyPngAndJpegAreDecodedWhateverTheName) {
    GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, 40, 30);
    gdk_pixbuf_fill(pixbuf, 0x2080e0ff);
    platform::RgbaImage image;
    std::string error;
    TempFile jpeg(".png"), other(".png");
    ASSERT_TRUE(gdk_pixbuf_save(pixbuf, jpeg.path().c_str(), "jpeg", nullptr, nullptr));
    ASSERT_TRUE(platform::LoadImageFile(jpeg.path().c_str(), 1920, &image, &error)) << error;
    EXPECT_EQ(image.width, 40);
    EXPECT_EQ(image.height, 30);
    EXPECT_NEAR(image.pixels[(15 * 40 + 20) * 4 + 2], 0xe0, 8);

    for (const char* format : {"bmp", "tiff", "ico"}) {
        ASSERT_TRUE(gdk_pixbuf_save(pixbuf, other.path().c_str(), format, nullptr, nullptr));
        EXPECT_FALSE(platform::LoadImageFile(other.path().c_str(), 1920, &image, &error));
        EXPECT_EQ(error, "it is not a PNG or JPEG picture") << format;
    }
    g_object_unref(pixbuf);
    for (const char* text : {"<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"8\" height=\"8\"/>",
                             "GIF89a\x01\0\x01\0\0\0\0;",
                             "/* XPM */\nstatic char *x[] = {\"1 1 1 1\", \". c #000\", \".\"};\n",
                             "P6\n1 1\n255\n\0\0\0", ""}) {
        other.Write(text);
        EXPECT_FALSE(platform::LoadImageFileWithin(other.path().c_str(), 64, 64, &image, &error));
        EXPECT_EQ(error, "it is not a PNG or JPEG picture") << text;
    }
}

// The power source against the fake UPower on a private bus. Each change is
// waited for on the source's descriptor alone, as the host's loop waits.
class PowerSourceOnPrivateBus : public ::testing::Test {
protected:
    void SetUp() override {
        fake_ = std::make_unique<FakePower>(folder_.path(), true);
        if (!fake_->ok()) GTEST_SKIP() << fake_->error();
        setenv("DBUS_SYSTEM_BUS_ADDRESS", fake_->address().c_str(), 1);
    }
    void TearDown() override {
        platform::ClosePowerSource(source_);
        unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    }

    // True once OnBattery says `want` (at most 30 s).
    bool Becomes(bool want) {
        for (int i = 0; i < 300 && platform::OnBattery(source_) != want; ++i) {
            pollfd fd{platform::PowerSourceFd(source_), POLLIN, 0};
            if (poll(&fd, 1, 100) > 0) platform::DispatchPowerSource(source_);
        }
        return platform::OnBattery(source_) == want;
    }

    TempFolder folder_;
    std::unique_ptr<FakePower> fake_;
    platform::PowerSource* source_ = nullptr;
};

TEST_F(PowerSourceOnPrivateBus, FollowsOnBatteryAndTakesNonsenseForMains) {
    source_ = platform::OpenPowerSource();
    ASSERT_NE(source_, nullptr);
    EXPECT_TRUE(platform::OnBattery(source_));
    fake_->SetOnBattery(false);
    EXPECT_TRUE(Becomes(false));
    fake_->SetOnBattery(true);
    EXPECT_TRUE(Becomes(true));
    fake_->SendNonsense();
    EXPECT_TRUE(Becomes(false));
}

TEST_F(PowerSourceOnPrivateBus, AGoneUPowerIsMainsUntilItComesBack) {
    fake_->Vanish();
    source_ = platform::OpenPowerSource();
    ASSERT_NE(source_, nullptr);
    EXPECT_FALSE(platform::OnBattery(source_));
    ASSERT_TRUE(fake_->Appear(true)) << fake_->error();
    EXPECT_TRUE(Becomes(true));
    fake_->Vanish();
    EXPECT_TRUE(Becomes(false));
}

TEST(PowerSource, NoSystemBusIsMains) {
    setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/mereglass-bus", 1);
    platform::PowerSource* source = platform::OpenPowerSource();
    unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    EXPECT_EQ(source, nullptr);
    EXPECT_FALSE(platform::OnBattery(source));
    EXPECT_EQ(platform::PowerSourceFd(source), -1);
    platform::ClosePowerSource(source);
}

}  // namespace
