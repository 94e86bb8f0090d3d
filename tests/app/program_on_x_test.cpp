// Tests of the mereglass program against a private Xvfb: its own window, a
// daemon's window named in the environment, a foreign window, resizing,
// signals, a window destroyed under it, full screen on two monitors,
// clicks and drags on the water (synthesized through XTest), and the frame
// rate on battery (a fake UPower on a private bus).
#include <gtest/gtest.h>
#include <png.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "child_process.h"
#include "fake_power.h"
#include "platform/platform.h"
#include "private_bus.h"
#include "settings/settings_table.h"
#include "xvfb.h"

// Xlib's macros (Bool, None, Status) last, after every C++ header.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xdamage.h>
#include <X11/extensions/Xrandr.h>
#include <X11/keysym.h>

#include "x_screen.h"

namespace {

// Writes a width × height PNG of one colour.
bool WriteOneColourPng(const std::string& path, int width, int height, uint8_t r, uint8_t g,
                       uint8_t b) {
    std::vector<uint8_t> rgb;
    for (int i = 0; i < width * height; ++i) rgb.insert(rgb.end(), {r, g, b});
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    png.width = static_cast<png_uint_32>(width);
    png.height = static_cast<png_uint_32>(height);
    png.format = PNG_FORMAT_RGB;
    return png_image_write_to_file(&png, path.c_str(), 0, rgb.data(), 0, nullptr) != 0;
}

constexpr int kScreenWidth = 640;
constexpr int kScreenHeight = 400;

class ProgramOnX : public ::testing::Test {
protected:
    void SetUp() override {
        xvfb_ = std::make_unique<Xvfb>(kScreenWidth, kScreenHeight, 24, serverArguments_);
        if (!xvfb_->ok()) GTEST_SKIP() << xvfb_->error();
        display_ = XOpenDisplay(xvfb_->display().c_str());
        ASSERT_NE(display_, nullptr);
        root_ = DefaultRootWindow(display_);
        char dir[] = "/tmp/mereglass-x-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        config_ = dir;
        PaintRoot();
    }

    void TearDown() override {
        program_.reset();
        if (display_ != nullptr) XCloseDisplay(display_);
        xvfb_.reset();
        if (!config_.empty()) {
            const std::string rm = "rm -rf '" + config_ + "'";
            EXPECT_EQ(std::system(rm.c_str()), 0);
        }
    }

    // The desktop: the left half red, the right half blue, each a
    // checkerboard of a bright and a darker shade (so moving water shows).
    void PaintRoot() { PaintDesktop(display_, kScreenWidth, kScreenHeight); }

    // A plain window of one colour, as another program would make it.
    Window MakeWindow(int x, int y, int w, int h, unsigned long colour) {
        Window win = XCreateSimpleWindow(display_, root_, x, y, static_cast<unsigned>(w),
                                         static_cast<unsigned>(h), 0, 0, colour);
        XMapWindow(display_, win);
        XSync(display_, False);
        return win;
    }

    void Start(std::vector<std::string> args, std::vector<std::string> env = {}) {
        args.insert(args.begin(), MEREGLASS_PROGRAM);
        env.push_back("DISPLAY=" + xvfb_->display());
        env.push_back("XDG_CONFIG_HOME=" + config_);
        program_ = std::make_unique<ChildProcess>(MEREGLASS_PROGRAM, args, env);
        ASSERT_TRUE(program_->started());
    }

    // The program's mapped top-level windows. A window may go between the
    // listing and the questions about it (a saver that ends): the errors
    // that brings are no fault of the test's.
    std::vector<Window> ProgramWindows() {
        XSync(display_, False);
        const XErrorHandler previous = XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
        std::vector<Window> out = MappedProgramWindows();
        XSync(display_, False);
        XSetErrorHandler(previous);
        return out;
    }
    std::vector<Window> MappedProgramWindows() {
        std::vector<Window> out;
        Window rootReturn = 0, parent = 0;
        Window* children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(display_, root_, &rootReturn, &parent, &children, &count)) return out;
        for (unsigned i = 0; i < count; ++i) {
            XClassHint hint{};
            if (XGetClassHint(display_, children[i], &hint) == 0) continue;
            const bool ours = hint.res_name != nullptr && std::string(hint.res_name) == "mereglass";
            if (hint.res_name) XFree(hint.res_name);
            if (hint.res_class) XFree(hint.res_class);
            XWindowAttributes a{};
            if (ours && XGetWindowAttributes(display_, children[i], &a) &&
                a.map_state == IsViewable) {
                out.push_back(children[i]);
            }
        }
        if (children) XFree(children);
        return out;
    }

    // Waits until the program maps `count` windows (at most 30 s).
    std::vector<Window> WaitForWindows(size_t count) {
        const double end = Now() + 30.0;
        std::vector<Window> windows;
        while (Now() < end) {
            windows = ProgramWindows();
            if (windows.size() >= count) break;
            usleep(20000);
        }
        return windows;
    }

    Shot Screenshot(Window window, int x, int y, int w, int h) {
        return ::Screenshot(display_, window, x, y, w, h);
    }

    // Ends the program with SIGTERM; expects it to tidy up and end by that
    // signal, as screen-saver daemons expect of a hack. How long it took
    // goes to the test's log (a fraction of a second on a quiet machine).
    void Stop() {
        ASSERT_TRUE(program_->Signal(SIGTERM));
        EndsBySigterm("");
        ExpectNoReports();
    }

    // Waits for the program that was sent SIGTERM to end by it.
    void EndsBySigterm(const std::string& what) {
        const double start = Now();
        ASSERT_TRUE(program_->Wait(30.0)) << what << program_->Output();
        std::printf("%sended %.2f s after SIGTERM\n", what.c_str(), Now() - start);
        EXPECT_EQ(program_->endSignal(), SIGTERM) << what << program_->Output();
    }

    void ExpectNoReports() {
        const std::string out = program_->Output();
        EXPECT_EQ(out.find("Sanitizer"), std::string::npos) << out;
        EXPECT_EQ(out.find("runtime error"), std::string::npos) << out;
        EXPECT_EQ(out.find("X Error"), std::string::npos) << out;
        EXPECT_EQ(out.find("BadWindow"), std::string::npos) << out;
    }

    std::vector<std::string> serverArguments_;  // more arguments for Xvfb
    std::unique_ptr<Xvfb> xvfb_;
    Display* display_ = nullptr;
    Window root_ = 0;
    std::string config_;
    std::unique_ptr<ChildProcess> program_;
};

}  // namespace

TEST_F(ProgramOnX, WindowShowsTheDesktopUnderMovingWater) {
    Start({"-window", "-geometry", "320x200"});
    const std::vector<Window> windows = WaitForWindows(1);
    ASSERT_EQ(windows.size(), 1u) << program_->Output();
    // The desktop was red on the left and blue on the right: so is the
    // picture under the water (bent and lit, but not mixed up).
    const int area = 80 * 160;
    Shot a;
    EXPECT_TRUE(Eventually([&] {
        a = Screenshot(windows[0], 0, 0, 320, 200);
        return a.Count(10, 20, 90, 180, Reddish) > area * 8 / 10 &&
               a.Count(230, 20, 310, 180, Bluish) > area * 8 / 10;
    })) << a.Count(10, 20, 90, 180, Reddish)
        << " " << a.Count(230, 20, 310, 180, Bluish);
    // And it moves.
    int differing = 0;
    EXPECT_TRUE(Eventually([&] {
        differing = Differing(a, Screenshot(windows[0], 0, 0, 320, 200));
        return differing > 320 * 200 / 50;
    })) << differing;
    Stop();
}

TEST_F(ProgramOnX, RootDrawsIntoTheDaemonsWindowOnly) {
    const Window saver = MakeWindow(20, 20, 240, 160, 0x00ff00);
    const Window other = MakeWindow(300, 20, 200, 160, 0xff00ff);
    char id[32];
    std::snprintf(id, sizeof id, "0x%lx", saver);
    Start({"--root"}, {std::string("XSCREENSAVER_WINDOW=") + id});
    int green = 0;
    EXPECT_TRUE(Eventually([&] {
        const Shot s = Screenshot(saver, 0, 0, 240, 160);
        green =
            s.Count(0, 0, 240, 160, [](const Rgb& p) { return p.r < 10 && p.g > 245 && p.b < 10; });
        return green < 240 * 160 / 100;  // drawn over
    })) << green
        << program_->Output();
    ASSERT_TRUE(program_->running()) << program_->Output();
    const Shot o = Screenshot(other, 0, 0, 200, 160);
    const int magenta =
        o.Count(0, 0, 200, 160, [](const Rgb& p) { return p.r > 245 && p.g < 10 && p.b > 245; });
    EXPECT_EQ(magenta, 200 * 160);  // untouched
    // The root outside both windows still shows the desktop.
    const Shot r = Screenshot(root_, 0, 200, 640, 200);
    EXPECT_EQ(
        r.Count(0, 0, 320, 200, [](const Rgb& p) { return p.r >= 0x90 && p.g == 0 && p.b == 0; }),
        320 * 200);
    Stop();
}

TEST_F(ProgramOnX, ForeignWindowFollowsResizes) {
    const Window target = MakeWindow(0, 0, 200, 150, 0x00ff00);
    Start({"-window-id", std::to_string(target)});
    auto greenIn = [](const Shot& s) {
        return s.Count(0, 0, s.width, s.height,
                       [](const Rgb& p) { return p.r < 10 && p.g > 245 && p.b < 10; });
    };
    EXPECT_TRUE(Eventually([&] {
        return greenIn(Screenshot(target, 0, 0, 200, 150)) < 200 * 150 / 100;
    })) << program_->Output();
    ASSERT_TRUE(program_->running()) << program_->Output();

    // Grown to 420 × 300: the new area is drawn, and the scene fills the
    // new size (no black margin of an old viewport, no window background).
    XResizeWindow(display_, target, 420, 300);
    XSync(display_, False);
    int green = 0, black = 0;
    EXPECT_TRUE(Eventually([&] {
        const Shot grown = Screenshot(target, 0, 0, 420, 300);
        green = greenIn(grown);
        black = grown.Count(0, 0, 420, 300, Black);
        return green < 420 * 300 / 100 && black < 420 * 300 / 10;
    })) << green
        << " " << black;

    // Then in one dimension only, as tiling window managers do.
    XResizeWindow(display_, target, 600, 300);
    XSync(display_, False);
    EXPECT_TRUE(Eventually([&] {
        const Shot wider = Screenshot(target, 0, 0, 600, 300);
        green = greenIn(wider);
        black = wider.Count(0, 0, 600, 300, Black);
        return green < 600 * 300 / 100 && black < 600 * 300 / 10;
    })) << green
        << " " << black;
    Stop();
}

TEST_F(ProgramOnX, DestroyedWindowEndsTheProgramCleanly) {
    const Window target = MakeWindow(0, 0, 200, 150, 0x00ff00);
    char id[32];
    std::snprintf(id, sizeof id, "0x%lx", target);
    Start({"--window-id", id});
    EXPECT_TRUE(Eventually([&] {
        const Shot s = Screenshot(target, 0, 0, 200, 150);
        return s.Count(0, 0, 200, 150, [](const Rgb& p) { return p.g > 245 && p.r < 10; }) < 300;
    }));
    ASSERT_TRUE(program_->running()) << program_->Output();
    XDestroyWindow(display_, target);
    XSync(display_, False);
    ASSERT_TRUE(program_->Wait(30.0)) << program_->Output();
    EXPECT_EQ(program_->status(), 0) << program_->Output();
    ExpectNoReports();
}

TEST_F(ProgramOnX, MissingWindowIsAnError) {
    Start({"-window-id", "0x7fffff0"});
    ASSERT_TRUE(program_->Wait(30.0));
    EXPECT_EQ(program_->status(), 1);
    ExpectNoReports();
}

// An input-only window has no pixels to draw: refused at start in one
// line, not one X error a frame.
TEST_F(ProgramOnX, InputOnlyWindowIsRefusedInOneLine) {
    XSetWindowAttributes a{};
    const Window target =
        XCreateWindow(display_, root_, 0, 0, 200, 150, 0, 0, InputOnly, CopyFromParent, 0, &a);
    XMapWindow(display_, target);
    XSync(display_, False);
    Start({"-window-id", std::to_string(target)});
    ASSERT_TRUE(program_->Wait(30.0)) << program_->Output();
    EXPECT_EQ(program_->status(), 1);
    char line[128];
    std::snprintf(line, sizeof line,
                  "mereglass: the window 0x%lx is input-only: nothing can be drawn in it\n",
                  target);
    EXPECT_EQ(program_->Output(), line);
}

TEST_F(ProgramOnX, InterruptAlsoEndsCleanly) {
    Start({"-window", "-geometry", "200x120", "-fps"});
    const std::vector<Window> windows = WaitForWindows(1);
    ASSERT_EQ(windows.size(), 1u);
    // The frame rate shows in the lower-left corner, yellow on black.
    EXPECT_TRUE(Eventually([&] {
        const Shot corner = Screenshot(windows[0], 0, 100, 80, 20);
        return corner.Count(0, 0, 80, 20,
                            [](const Rgb& p) { return p.r > 200 && p.g > 200 && p.b < 50; }) > 20;
    }));
    ASSERT_TRUE(program_->Signal(SIGINT));
    ASSERT_TRUE(program_->Wait(30.0));
    EXPECT_EQ(program_->endSignal(), SIGINT) << program_->Output();
    ExpectNoReports();
}

// A desktop that draws text for 192 dots per inch says so in the Xft.dpi
// resource: the -fps plate (two points of margin and seven of glyph, at two
// points a cell on so low a window) is twice as high as at 96.
TEST_F(ProgramOnX, XftDpiInTheResourceDatabaseDoublesTheFrameRateText) {
    const char resources[] = "Xft.dpi:\t192\n";
    XChangeProperty(display_, root_, XA_RESOURCE_MANAGER, XA_STRING, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(resources), sizeof resources - 1);
    XSync(display_, False);
    Start({"-window", "-geometry", "200x120", "-fps"}, {"GDK_SCALE="});
    const std::vector<Window> windows = WaitForWindows(1);
    ASSERT_EQ(windows.size(), 1u);
    // Column 1 from the bottom: 44 black rows, then the water.
    EXPECT_TRUE(Eventually([&] {
        const Shot corner = Screenshot(windows[0], 0, 60, 8, 60);
        return corner.height == 60 && Black(corner.At(1, 59 - 43)) && !Black(corner.At(1, 59 - 44));
    })) << program_->Output();
    ASSERT_TRUE(program_->Signal(SIGTERM));
    ASSERT_TRUE(program_->Wait(30.0));
    ExpectNoReports();
}

// A daemon may stop a hack before it has drawn anything: while it still
// reads the desktop, its archive or makes its context. It ends by the
// signal at once (its log says how soon), not after its start-up.
TEST_F(ProgramOnX, TerminateDuringStartUpEndsAtOnceByTheSignal) {
    for (const char* mode : {"-window", "-root", "--fullscreen"}) {
        Start({mode});
        // Once the program image runs, it is in its start-up.
        char* program = realpath(MEREGLASS_PROGRAM, nullptr);
        ASSERT_NE(program, nullptr);
        const std::string exe = "/proc/" + std::to_string(program_->pid()) + "/exe";
        EXPECT_TRUE(Eventually([&] {
            char target[4096];
            const ssize_t n = readlink(exe.c_str(), target, sizeof target - 1);
            return n > 0 && std::string(target, static_cast<size_t>(n)) == program;
        }));
        std::free(program);
        ASSERT_TRUE(program_->Signal(SIGTERM));
        EndsBySigterm(std::string(mode) + ": ");
    }
}

// Two monitors side by side, the right one primary.
class TwoMonitors : public ProgramOnX {
protected:
    void SetUp() override {
        ProgramOnX::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        // The right monitor takes over the server's one output, so that its
        // automatic monitor gives way.
        XRRScreenResources* resources = XRRGetScreenResources(display_, root_);
        ASSERT_NE(resources, nullptr);
        ASSERT_GE(resources->noutput, 1);
        XRRMonitorInfo* left = XRRAllocateMonitor(display_, 0);
        XRRMonitorInfo* right = XRRAllocateMonitor(display_, 1);
        right->outputs[0] = resources->outputs[0];
        XRRFreeScreenResources(resources);
        left->name = XInternAtom(display_, "LEFT", False);
        left->width = 320;
        left->height = kScreenHeight;
        right->name = XInternAtom(display_, "RIGHT", False);
        right->x = 320;
        right->width = 320;
        right->height = kScreenHeight;
        right->primary = True;
        XRRSetMonitor(display_, root_, left);
        XRRSetMonitor(display_, root_, right);
        XSync(display_, False);
        XFree(left);
        XFree(right);
    }

    void SetMainMonitorOnly() {
        setenv("XDG_CONFIG_HOME", config_.c_str(), 1);
        platform::SettingsStore* store = platform::OpenSettingsStore(kSettingsModule);
        ResetSettingsStore(store);
        platform::StoreSetBool(store, "MainMonitorOnly", true);
        ASSERT_TRUE(platform::StoreSynchronize(store));
        platform::CloseSettingsStore(store);
    }
};

TEST_F(TwoMonitors, FullScreenShowsTheMainMonitorOnBoth) {
    Start({"--fullscreen"});
    ASSERT_EQ(WaitForWindows(2).size(), 2u) << program_->Output();
    // The main monitor showed the blue half of the desktop: both views show
    // it under their water; the red half is nowhere.
    const int area = 280 * 360;
    Shot s;
    EXPECT_TRUE(Eventually([&] {
        s = Screenshot(root_, 0, 0, kScreenWidth, kScreenHeight);
        return s.Count(20, 20, 300, 380, Bluish) > area * 8 / 10 &&
               s.Count(340, 20, 620, 380, Bluish) > area * 8 / 10;
    }));
    EXPECT_LT(s.Count(0, 0, kScreenWidth, kScreenHeight, Reddish), 100);

    // A key press ends it.
    XEvent key{};
    key.xkey.type = KeyPress;
    key.xkey.display = display_;
    key.xkey.window = ProgramWindows().front();
    key.xkey.root = root_;
    key.xkey.keycode = XKeysymToKeycode(display_, XK_space);
    key.xkey.same_screen = True;
    XSendEvent(display_, key.xkey.window, True, KeyPressMask, &key);
    XSync(display_, False);
    ASSERT_TRUE(program_->Wait(30.0)) << program_->Output();
    EXPECT_EQ(program_->status(), 0);
    ExpectNoReports();
}

TEST_F(TwoMonitors, MainMonitorOnlyLeavesTheOtherBlack) {
    SetMainMonitorOnly();
    Start({"--fullscreen"});
    ASSERT_EQ(WaitForWindows(2).size(), 2u) << program_->Output();
    Shot s;
    EXPECT_TRUE(Eventually([&] {
        s = Screenshot(root_, 0, 0, kScreenWidth, kScreenHeight);
        return s.Count(340, 20, 620, 380, Bluish) > 280 * 360 * 8 / 10;
    }));
    EXPECT_EQ(s.Count(0, 0, 320, kScreenHeight, Black), 320 * kScreenHeight);
    // And stays so while the main monitor's view draws on.
    usleep(500000);
    s = Screenshot(root_, 0, 0, kScreenWidth, kScreenHeight);
    EXPECT_EQ(s.Count(0, 0, 320, kScreenHeight, Black), 320 * kScreenHeight);
    EXPECT_GT(s.Count(340, 20, 620, 380, Bluish), 280 * 360 * 8 / 10);
    Stop();
}

// Every view reads the settings; the user hears of a stored value out of
// range once, not once per monitor.
TEST_F(TwoMonitors, AStoredValueOutOfRangeIsNamedOnce) {
    setenv("XDG_CONFIG_HOME", config_.c_str(), 1);
    platform::SettingsStore* store = platform::OpenSettingsStore(kSettingsModule);
    ResetSettingsStore(store);
    platform::StoreSetInteger(store, "WaterRes", 12);
    ASSERT_TRUE(platform::StoreSynchronize(store));
    platform::CloseSettingsStore(store);
    Start({"--fullscreen"});
    ASSERT_EQ(WaitForWindows(2).size(), 2u) << program_->Output();
    EXPECT_TRUE(
        Eventually([&] { return program_->Output().find("WaterRes=12") != std::string::npos; }));
    usleep(500000);
    Stop();
    const std::string out = program_->Output();
    EXPECT_EQ(out.find("WaterRes=12"), out.rfind("WaterRes=12")) << out;
}

TEST_F(ProgramOnX, GeometryPlacesTheWindow) {
    Start({"-window", "-geometry", "200x120+100+50"});
    const std::vector<Window> windows = WaitForWindows(1);
    ASSERT_EQ(windows.size(), 1u) << program_->Output();
    int x = 0, y = 0;
    Window child = 0;
    XTranslateCoordinates(display_, windows[0], root_, 0, 0, &x, &y, &child);
    EXPECT_EQ(x, 100);
    EXPECT_EQ(y, 50);
    XWindowAttributes a{};
    ASSERT_TRUE(XGetWindowAttributes(display_, windows[0], &a));
    EXPECT_EQ(a.width, 200);
    EXPECT_EQ(a.height, 120);
    Stop();
}

TEST_F(ProgramOnX, SurvivesStopAndContinue) {
    Start({"-window", "-geometry", "240x160"});
    const std::vector<Window> windows = WaitForWindows(1);
    ASSERT_EQ(windows.size(), 1u);
    Shot before;
    EXPECT_TRUE(Eventually([&] {
        before = Screenshot(windows[0], 0, 0, 240, 160);
        return before.Count(10, 10, 100, 150, Reddish) > 90 * 140 * 8 / 10;
    }));
    ASSERT_TRUE(program_->Signal(SIGSTOP));
    usleep(2500000);  // longer than the longest step the scene takes
    const Shot stopped = Screenshot(windows[0], 0, 0, 240, 160);
    ASSERT_TRUE(program_->Signal(SIGCONT));
    ASSERT_TRUE(program_->running()) << program_->Output();
    // It draws again: the picture changes from the one left at the stop.
    int differing = 0;
    EXPECT_TRUE(Eventually([&] {
        differing = Differing(stopped, Screenshot(windows[0], 0, 0, 240, 160));
        return differing > 240 * 160 / 50;
    })) << differing;
    Stop();
}

TEST_F(ProgramOnX, RootWithoutDaemonDrawsOnTheRootWindow) {
    Start({"-root"});
    // The desktop no longer shows as it was: the bowl and the waves move
    // its checkerboard about, but its two halves show through the water.
    auto moved = [](const Shot& s) {
        int n = 0;
        for (int y = 0; y < kScreenHeight; ++y) {
            for (int x = 0; x < kScreenWidth; ++x) {
                const Rgb& p = s.At(x, y);
                const int level = ((x / 10 + y / 10) % 2 == 0) ? 0xff : 0x90;
                const Rgb want = x < kScreenWidth / 2 ? Rgb{level, 0, 0} : Rgb{0, 0, level};
                if (std::abs(p.r - want.r) + std::abs(p.b - want.b) > 40) ++n;
            }
        }
        return n;
    };
    EXPECT_TRUE(Eventually([&] {
        const Shot s = Screenshot(root_, 0, 0, kScreenWidth, kScreenHeight);
        return moved(s) > kScreenWidth * kScreenHeight / 5 &&
               s.Count(20, 20, 300, 380, Reddish) > 280 * 360 * 8 / 10 &&
               s.Count(340, 20, 620, 380, Bluish) > 280 * 360 * 8 / 10;
    })) << program_->Output();
    ASSERT_TRUE(program_->running()) << program_->Output();
    Stop();
}

TEST_F(ProgramOnX, ImageFileReplacesTheDesktop) {
    // A green picture: the desktop (red and blue) must not show.
    const std::string image = config_ + "/green.png";
    ASSERT_TRUE(WriteOneColourPng(image, 32, 24, 0x20, 0xd0, 0x30));

    Start({"-window", "-geometry", "240x160", "--image", image});
    const std::vector<Window> windows = WaitForWindows(1);
    ASSERT_EQ(windows.size(), 1u);
    auto greenish = [](const Rgb& p) { return p.g > 2 * p.r && p.g > 2 * p.b; };
    Shot s;
    EXPECT_TRUE(Eventually([&] {
        s = Screenshot(windows[0], 0, 0, 240, 160);
        return s.Count(20, 20, 220, 140, greenish) > 200 * 120 * 9 / 10;
    }));
    EXPECT_EQ(s.Count(0, 0, 240, 160, Reddish), 0);
    Stop();
}

namespace {

// Vertical stripes 8 pixels wide, red and blue in turn: detail that shows
// through the water but not through the private desktop's blur.
bool Striped(int x) { return (x / 8) % 2 == 0; }

// Pixels of the shot's middle whose red and blue, 3 pixels to the right,
// differ by more than 200 together: the stripes' edges.
int StripeEdges(const Shot& s) {
    int n = 0;
    for (int y = 100; y < 300; ++y) {
        for (int x = 120; x < 520; ++x) {
            const Rgb& a = s.At(x, y);
            const Rgb& b = s.At(x + 3, y);
            n += std::abs(a.r - b.r) + std::abs(a.b - b.b) > 200 ? 1 : 0;
        }
    }
    return n;
}

}  // namespace

TEST_F(ProgramOnX, PrivateDesktopIsBlurredButTheUsersImageIsNot) {
    Pixmap pixmap = XCreatePixmap(display_, root_, kScreenWidth, kScreenHeight,
                                  static_cast<unsigned>(DefaultDepth(display_, 0)));
    GC gc = XCreateGC(display_, pixmap, 0, nullptr);
    for (int x = 0; x < kScreenWidth; x += 8) {
        XSetForeground(display_, gc, Striped(x) ? 0xff0000 : 0x0000ff);
        XFillRectangle(display_, pixmap, gc, x, 0, 8, kScreenHeight);
    }
    XSetWindowBackgroundPixmap(display_, root_, pixmap);
    XClearWindow(display_, root_);
    XFreeGC(display_, gc);
    XFreePixmap(display_, pixmap);
    XSync(display_, False);
    const int middle = 400 * 200;
    ASSERT_GT(StripeEdges(Screenshot(root_, 0, 0, kScreenWidth, kScreenHeight)), middle / 4);

    // The root's stripes run together into one purple under the water.
    Start({"-root", "--desktop-privacy", "1"});
    auto purple = [](const Rgb& p) { return p.r > 50 && p.b > 50 && std::abs(p.r - p.b) < 60; };
    int edges = -1, purples = -1;
    EXPECT_TRUE(Eventually([&] {
        const Shot s = Screenshot(root_, 0, 0, kScreenWidth, kScreenHeight);
        edges = StripeEdges(s);
        purples = s.Count(120, 100, 520, 300, purple);
        return edges < middle / 100 && purples > middle * 8 / 10;
    })) << edges
        << " " << purples << program_->Output();
    Stop();

    // The same stripes as the user's picture are shown as they are.
    std::vector<uint8_t> rgb;
    for (int y = 0; y < kScreenHeight; ++y) {
        for (int x = 0; x < kScreenWidth; ++x) {
            rgb.insert(rgb.end(),
                       {uint8_t(Striped(x) ? 255 : 0), 0, uint8_t(Striped(x) ? 0 : 255)});
        }
    }
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    png.width = kScreenWidth;
    png.height = kScreenHeight;
    png.format = PNG_FORMAT_RGB;
    const std::string image = config_ + "/stripes.png";
    ASSERT_TRUE(png_image_write_to_file(&png, image.c_str(), 0, rgb.data(), 0, nullptr));
    PaintRoot();  // whose checkerboard has hardly any such edges
    Start({"-root", "--desktop-privacy", "1", "--image", image});
    EXPECT_TRUE(Eventually([&] {
        const Shot s = Screenshot(root_, 0, 0, kScreenWidth, kScreenHeight);
        edges = StripeEdges(s);
        return edges > middle / 5;
    })) << edges
        << program_->Output();
    Stop();
}

namespace {

// Where the differences between two shots lie: how many differing pixels
// are within `radius` of (x, y), and how many are farther away.
struct Spread {
    int near = 0;
    int far = 0;
};
Spread DifferenceAround(const Shot& a, const Shot& b, int x, int y, int radius) {
    Spread out;
    for (int yy = 0; yy < a.height && yy < b.height; ++yy) {
        for (int xx = 0; xx < a.width && xx < b.width; ++xx) {
            const Rgb& p = a.At(xx, yy);
            const Rgb& q = b.At(xx, yy);
            if (std::abs(p.r - q.r) + std::abs(p.g - q.g) + std::abs(p.b - q.b) <= 24) continue;
            const int dx = xx - x, dy = yy - y;
            (dx * dx + dy * dy <= radius * radius ? out.near : out.far) += 1;
        }
    }
    return out;
}

// Touching the water of a window of its own. The picture is one grey, so
// that only the surface's slopes show (through the light, which stands
// still) and the picture holds still while the water is flat; the overlay
// is off. One timed drip falls a second into the run (of the scene's time,
// which a loaded machine stretches), anywhere, and settles within half a
// second; the next comes an hour later.
class TouchedWater : public ProgramOnX {
protected:
    static constexpr int kWidth = 320;
    static constexpr int kHeight = 200;

    // Starts the program; true once its window shows the grey picture.
    bool StartGrey() {
        const std::string image = config_ + "/grey.png";
        if (!WriteOneColourPng(image, 32, 20, 0xb0, 0xb0, 0xb0)) {
            ADD_FAILURE() << "cannot write " << image;
            return false;
        }
        Start({"-window", "-geometry", "320x200+0+0", "--image", image, "--preview", "--drip-speed",
               "360000", "--no-lighting"});
        const std::vector<Window> windows = WaitForWindows(1);
        EXPECT_EQ(windows.size(), 1u) << program_->Output();
        if (windows.empty()) return false;
        window_ = windows[0];
        const bool grey = Eventually([&] { return Grey(Current()); });
        EXPECT_TRUE(grey) << program_->Output();
        return grey;
    }

    // Waits until the water is flat and still (the same grey picture half
    // a second apart) and returns that picture; empty at the deadline.
    Shot StillWater() {
        Shot before = Current(), still;
        EXPECT_TRUE(Eventually([&] {
            usleep(500000);
            const Shot now = Current();
            const bool same = Grey(now) && Differing(before, now) == 0;
            before = now;
            if (same) still = now;
            return same;
        })) << program_->Output();
        return still;
    }

    static bool Grey(const Shot& s) {
        auto grey = [](const Rgb& p) { return p.r > 40 && p.r == p.g && p.g == p.b; };
        return s.width == kWidth &&
               s.Count(0, 0, kWidth, kHeight, grey) > kWidth * kHeight * 9 / 10;
    }

    Shot Current() { return Screenshot(window_, 0, 0, kWidth, kHeight); }

    // Rows y0 ... y1 - 1 of a shot.
    static Shot Band(const Shot& s, int y0, int y1) {
        Shot out;
        out.width = s.width;
        out.height = y1 - y0;
        out.pixels.assign(s.pixels.begin() + static_cast<ptrdiff_t>(y0) * s.width,
                          s.pixels.begin() + static_cast<ptrdiff_t>(y1) * s.width);
        return out;
    }

    void MovePointer(int x, int y) {
        XTestFakeMotionEvent(display_, DefaultScreen(display_), x, y, CurrentTime);
        XSync(display_, False);
    }
    void Button(bool down) {
        XTestFakeButtonEvent(display_, 1, down ? True : False, CurrentTime);
        XSync(display_, False);
    }

    // The timed drip disturbs at most one touch: a touch whose ripples
    // reached too far is made again, once, on still water.
    static constexpr int kTries = 2;

    Window window_ = 0;
};

}  // namespace

TEST_F(TouchedWater, ClickDropsADripWhereThePointerIs) {
    ASSERT_TRUE(StartGrey());
    // Off the middle on both axes, so that a mirrored mapping shows. A
    // drip's strength is random and a weak one barely shows in a still
    // light: four clicks at one point add up to at least twice the weakest.
    const int x = 230, y = 60;
    Spread spread;
    for (int attempt = 0; attempt < kTries; ++attempt) {
        const Shot flat = StillWater();
        ASSERT_GT(flat.width, 0);
        MovePointer(x, y);
        for (int i = 0; i < 4; ++i) {
            Button(true);
            Button(false);
        }
        ASSERT_TRUE(Eventually([&] {
            spread = DifferenceAround(flat, Current(), x, y, 40);
            return spread.near > 100;
        })) << spread.near;
        if (spread.far < spread.near / 10) break;
        std::printf("ripples reached %d pixels far off: touching again\n", spread.far);
    }
    EXPECT_LT(spread.far, spread.near / 10) << spread.near;
    // A click does not end a windowed run.
    Stop();
}

TEST_F(TouchedWater, DragLeavesATrail) {
    ASSERT_TRUE(StartGrey());
    // Along the row y = 150 from x = 40 to 280, in steps of 4 pixels.
    // Every stretch of the trail rings, while the water 90 pixels and more
    // above it (the band y < 60) is still.
    int ringing = 0, along = 0, above = 0;
    for (int attempt = 0; attempt < kTries; ++attempt) {
        const Shot flat = StillWater();
        ASSERT_GT(flat.width, 0);
        MovePointer(40, 150);
        Button(true);
        for (int x = 44; x <= 280; x += 4) MovePointer(x, 150);
        Button(false);
        Shot s;
        ASSERT_TRUE(Eventually([&] {
            s = Current();
            ringing = along = 0;
            for (int x0 = 60; x0 <= 260; x0 += 40) {
                const int n = DifferenceAround(flat, s, x0, 150, 20).near;
                along += n;
                ringing += n > 10 ? 1 : 0;
            }
            return ringing == 6;
        })) << ringing;
        above = Differing(Band(flat, 0, 60), Band(s, 0, 60));
        if (above < along / 10) break;
        std::printf("ripples reached %d pixels above the trail: dragging again\n", above);
    }
    EXPECT_LT(above, along / 10) << along;
    Stop();
}

TEST_F(ProgramOnX, FullScreenEndsOnAClick) {
    Start({"--fullscreen"});
    ASSERT_EQ(WaitForWindows(1).size(), 1u) << program_->Output();
    XTestFakeMotionEvent(display_, DefaultScreen(display_), 100, 100, CurrentTime);
    XTestFakeButtonEvent(display_, 1, True, CurrentTime);
    XTestFakeButtonEvent(display_, 1, False, CurrentTime);
    XSync(display_, False);
    ASSERT_TRUE(program_->Wait(30.0)) << program_->Output();
    EXPECT_EQ(program_->status(), 0) << program_->Output();
    ExpectNoReports();
}

namespace {

// The processes `pid` started that still run (or wait to be reaped).
std::vector<pid_t> ChildrenOf(pid_t pid) {
    std::vector<pid_t> out;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    for (const auto& task : std::filesystem::directory_iterator(tasks)) {
        std::ifstream in(task.path() / "children");
        for (pid_t child = 0; in >> child;) out.push_back(child);
    }
    return out;
}

// How many threads of `pid` are the software renderer's (llvmpipe-N).
int RendererThreads(pid_t pid) {
    int count = 0;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    for (const auto& task : std::filesystem::directory_iterator(tasks)) {
        std::ifstream in(task.path() / "comm");
        std::string name;
        count += std::getline(in, name) && name.rfind("llvmpipe-", 0) == 0;
    }
    return count;
}

// True once `pid` has ended: gone, or a zombie that nobody of ours reaps
// (an orphan waits for the system's reaper).
bool Ended(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    if (!std::getline(in, stat)) return true;
    const size_t close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == 'Z';
}

// The idle watcher on an X server without a screen-saver daemon: the X
// server's idle time starts the saver, input ends it, the next idle time
// brings it back.
class IdleWatchOnX : public ProgramOnX {
protected:
    std::vector<std::string> Session() {
        return {
            "DBUS_SESSION_BUS_ADDRESS=disabled:", "WAYLAND_DISPLAY=", "XDG_RUNTIME_DIR=" + config_};
    }
    // Waits until the saver covers the screen with its window, or until
    // it has gone.
    bool Covered() {
        return Eventually([&] { return !ProgramWindows().empty(); }, 30.0);
    }
    bool Uncovered() {
        return Eventually([&] { return ProgramWindows().empty(); }, 30.0);
    }
    void Touch() {
        XTestFakeRelativeMotionEvent(display_, 40, 30, CurrentTime);
        XSync(display_, False);
    }
    // The session with a private bus standing in for both the session and
    // the system bus.
    std::vector<std::string> BusSession(const PrivateBus& bus) {
        return {"DBUS_SESSION_BUS_ADDRESS=" + bus.address(),
                "DBUS_SYSTEM_BUS_ADDRESS=" + bus.address(),
                "WAYLAND_DISPLAY=", "XDG_RUNTIME_DIR=" + config_};
    }
    // What --idle-status prints in `env`, once it holds `text` (or after
    // 30 s).
    std::string IdleStatus(const std::vector<std::string>& env, const std::string& text) {
        std::string out;
        Eventually([&] {
            std::vector<std::string> all = env;
            all.insert(all.end(), {"DISPLAY=" + xvfb_->display(), "XDG_CONFIG_HOME=" + config_});
            ChildProcess status(MEREGLASS_PROGRAM, {MEREGLASS_PROGRAM, "--idle-status"}, all);
            status.Wait(30.0);
            out = status.Output();
            return out.find(text) != std::string::npos;
        });
        return out;
    }
    // True when the saver stays away, or stays up, for `seconds`.
    bool StaysAway(double seconds) {
        return !Eventually([&] { return !ProgramWindows().empty(); }, seconds);
    }
    bool StaysCovered(double seconds) {
        return !Eventually([&] { return ProgramWindows().empty(); }, seconds);
    }
    void WaitForWatching() {
        ASSERT_TRUE(Eventually([&] {
            return program_->Output().find("without input") != std::string::npos;
        })) << program_->Output();
    }
};

}  // namespace

TEST_F(IdleWatchOnX, CoversWhenIdleYieldsToInputAndComesBack) {
    Start({"--idle-watch", "--idle-seconds", "2", "--lock-seconds", "600"}, Session());
    ASSERT_TRUE(Covered()) << program_->Output();
    // Without a bus there is nobody to lock the session: said once.
    EXPECT_NE(program_->Output().find("mereglass: the screen will not be locked after the saver: "
                                      "no lock screen to ask: there is no session bus\n"),
              std::string::npos)
        << program_->Output();
    const std::vector<Window> windows = ProgramWindows();
    XWindowAttributes a{};
    ASSERT_TRUE(XGetWindowAttributes(display_, windows[0], &a));
    EXPECT_EQ(a.width, kScreenWidth);
    EXPECT_EQ(a.height, kScreenHeight);
    Touch();
    ASSERT_TRUE(Uncovered()) << program_->Output();
    ASSERT_TRUE(Covered()) << program_->Output();

    // One watcher per session, however its display is spelled.
    ChildProcess second(MEREGLASS_PROGRAM, {MEREGLASS_PROGRAM, "--idle-watch"}, [&] {
        std::vector<std::string> env = Session();
        env.push_back("DISPLAY=unix" + xvfb_->display() + ".0");
        env.push_back("XDG_CONFIG_HOME=" + config_);
        return env;
    }());
    ASSERT_TRUE(second.Wait(30.0));
    EXPECT_EQ(second.status(), 1);
    EXPECT_NE(second.Output().find("an idle watcher already runs in this session (process " +
                                   std::to_string(program_->pid()) + ")\n"),
              std::string::npos)
        << second.Output();

    // A saver that dies is named in one line, and the watching goes on.
    std::vector<pid_t> savers = ChildrenOf(program_->pid());
    ASSERT_EQ(savers.size(), 1u);
    ASSERT_EQ(kill(savers[0], SIGKILL), 0);
    ASSERT_TRUE(Uncovered()) << program_->Output();
    EXPECT_TRUE(Eventually([&] {
        return program_->Output().find(
                   "the saver ended by signal 9 (Killed); watching goes on\n") != std::string::npos;
    })) << program_->Output();
    Touch();
    ASSERT_TRUE(Covered()) << program_->Output();

    // The stop signal ends the watcher by it, and its saver with it.
    savers = ChildrenOf(program_->pid());
    ASSERT_EQ(savers.size(), 1u);
    ASSERT_TRUE(program_->Signal(SIGTERM));
    ASSERT_TRUE(program_->Wait(30.0)) << program_->Output();
    EXPECT_EQ(program_->endSignal(), SIGTERM) << program_->Output();
    EXPECT_TRUE(Ended(savers[0]));
    EXPECT_TRUE(ProgramWindows().empty());
    ExpectNoReports();
}

// However the watcher ends, its saver ends with it.
TEST_F(IdleWatchOnX, AKilledWatcherTakesItsSaverAlong) {
    Start({"--idle-watch", "--idle-seconds", "1"}, Session());
    ASSERT_TRUE(Covered()) << program_->Output();
    const std::vector<pid_t> savers = ChildrenOf(program_->pid());
    ASSERT_EQ(savers.size(), 1u);
    ASSERT_TRUE(program_->Signal(SIGKILL));
    ASSERT_TRUE(program_->Wait(30.0));
    EXPECT_TRUE(Uncovered());
    EXPECT_TRUE(Eventually([&] { return Ended(savers[0]); }, 30.0));
}

// A saver program that went away (uninstalled under a running watcher)
// ends the watcher with one line. The program file goes once the watcher
// has taken its path (its first line says it watches), well within the
// idle time that input has just begun.
TEST_F(IdleWatchOnX, AMissingSaverEndsTheWatcherWithOneLine) {
    // Beside the settings' folder, not in its place.
    std::filesystem::create_directory(config_ + "/bin");
    const std::string copy = config_ + "/bin/mereglass";
    std::filesystem::copy_file(MEREGLASS_PROGRAM, copy);
    std::vector<std::string> env = Session();
    env.push_back("DISPLAY=" + xvfb_->display());
    env.push_back("XDG_CONFIG_HOME=" + config_);
    Touch();
    program_ = std::make_unique<ChildProcess>(
        copy, std::vector<std::string>{copy, "--idle-watch", "--idle-seconds", "5"}, env);
    ASSERT_TRUE(Eventually([&] {
        return program_->Output().find("without input") != std::string::npos;
    })) << program_->Output();
    std::filesystem::remove(copy);
    ASSERT_TRUE(program_->Wait(30.0)) << program_->Output();
    EXPECT_EQ(program_->status(), 1);
    EXPECT_EQ(program_->Output(),
              "mereglass: the saver starts after 5 seconds without input (the X server's idle "
              "time)\nmereglass: cannot start the saver " +
                  copy + ": No such file or directory\n");
}

// Every way a program holds the saver off keeps it away, each listed by
// --idle-status: the X screen saver suspended (a real mpv playing),
// logind's idle block (a stand-in logind) and our own
// org.freedesktop.ScreenSaver, which bounds what a flooding caller gets.
// The saver comes once the last hold ends: the D-Bus caller's with its
// connection, though it never let go.
TEST_F(IdleWatchOnX, EveryHoldKeepsItAwayUntilTheLastEnds) {
    PrivateBus bus(config_);
    if (!bus.ok()) GTEST_SKIP() << bus.error();
    if (access("/usr/bin/mpv", X_OK) != 0) GTEST_SKIP() << "no mpv (Debian's mpv package)";
    const std::vector<std::string> env = BusSession(bus);
    std::unique_ptr<ChildProcess> logind = bus.StartStandIn({"logind"}, "DBUS_SYSTEM_BUS_ADDRESS");
    ASSERT_NE(logind, nullptr) << bus.error();
    ASSERT_TRUE(logind->Signal(SIGUSR1));
    ASSERT_TRUE(WaitForOutput(*logind, "blocked"));
    ChildProcess mpv("/usr/bin/mpv",
                     {"mpv", "--no-config", "--vo=x11", "--ao=null", "--loop",
                      "av://lavfi:testsrc=size=160x120:rate=10"},
                     {"DISPLAY=" + xvfb_->display(), "HOME=" + config_});
    // Found without a watcher, as a watcher would find them.
    std::string status = IdleStatus(env, "mpv (process");
    EXPECT_NE(status.find("film player (process 4242), through logind, since "), std::string::npos)
        << status;
    EXPECT_NE(status.find("No idle watcher runs"), std::string::npos) << status;

    Start({"--idle-watch", "--idle-seconds", "1"}, env);
    ASSERT_NO_FATAL_FAILURE(WaitForWatching());
    std::unique_ptr<ChildProcess> client =
        bus.StartStandIn({"inhibit", "40", "100000"}, "DBUS_SESSION_BUS_ADDRESS");
    ASSERT_NE(client, nullptr) << bus.error();
    EXPECT_TRUE(WaitForOutput(*client, "held 16\n")) << client->Output();
    status = IdleStatus(env, "org.freedesktop.ScreenSaver");
    EXPECT_NE(status.find("The idle watcher runs"), std::string::npos) << status;
    EXPECT_LT(status.size(), 16 * 600u) << "the names and reasons are cut short";
    const std::string out = program_->Output();
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 2) << "one line for the refusal: " << out;

    EXPECT_TRUE(StaysAway(2.5));
    ASSERT_TRUE(mpv.Signal(SIGTERM));
    ASSERT_TRUE(mpv.Wait(30.0));
    EXPECT_TRUE(StaysAway(2.0));
    ASSERT_TRUE(logind->Signal(SIGUSR2));
    EXPECT_TRUE(StaysAway(2.0));
    // A logind that hangs costs a bounded wait and one line.
    ASSERT_TRUE(logind->Signal(SIGSTOP));
    ASSERT_TRUE(client->Signal(SIGKILL));
    EXPECT_TRUE(Covered()) << program_->Output();
    const std::string line =
        "mereglass: logind does not answer: its idle inhibitors are not seen\n";
    const size_t at = program_->Output().find(line);
    EXPECT_NE(at, std::string::npos) << program_->Output();
    EXPECT_EQ(program_->Output().find(line, at + 1), std::string::npos) << program_->Output();
    logind.reset();
    // A program that takes the name over is asked from then on; once it
    // leaves, the watcher offers the name again.
    std::unique_ptr<ChildProcess> owner =
        bus.StartStandIn({"own", "org.freedesktop.ScreenSaver"}, "DBUS_SESSION_BUS_ADDRESS");
    ASSERT_NE(owner, nullptr) << bus.error();
    EXPECT_TRUE(Eventually([&] {
        return program_->Output().find("took over org.freedesktop.ScreenSaver") !=
               std::string::npos;
    })) << program_->Output();
    owner.reset();
    EXPECT_TRUE(Eventually([&] {
        const auto c = bus.StartStandIn({"inhibit", "1", "10"}, "DBUS_SESSION_BUS_ADDRESS");
        return c != nullptr && c->Output().find("held 1\n") != std::string::npos;
    })) << program_->Output();
    ExpectNoReports();
}

// A new idle time, saved through the settings store as the dialog saves
// it or written into the file by hand, reaches the running watcher at once.
TEST_F(IdleWatchOnX, ANewIdleTimeInTheSettingsFileCountsAtOnce) {
    Start({"--idle-watch"}, Session());
    ASSERT_NO_FATAL_FAILURE(WaitForWatching());
    EXPECT_NE(IdleStatus(Session(), "after 10 minutes").find("after 10 minutes"),
              std::string::npos);
    setenv("XDG_CONFIG_HOME", config_.c_str(), 1);
    platform::SettingsStore* store = platform::OpenSettingsStore(kSettingsModule);
    ResetSettingsStore(store);
    platform::StoreSetInteger(store, "IdleMinutes", 1);
    ASSERT_TRUE(platform::StoreSynchronize(store));
    const std::string path = platform::SettingsStorePath(store);
    platform::CloseSettingsStore(store);
    unsetenv("XDG_CONFIG_HOME");
    EXPECT_NE(IdleStatus(Session(), "after 1 minute ").find("after 1 minute "), std::string::npos);
    std::string text;
    {
        std::ifstream in(path);
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    const size_t at = text.find("IdleMinutes=1");
    ASSERT_NE(at, std::string::npos) << text;
    text.replace(at, 13, "IdleMinutes=2");
    std::ofstream(path, std::ios::in | std::ios::out) << text;  // in place
    EXPECT_NE(IdleStatus(Session(), "after 2 minutes").find("after 2 minutes"), std::string::npos);
    EXPECT_NE(program_->Output().find("mereglass: the saver now starts after 1 minute without "
                                      "input\nmereglass: the saver now starts after 2 minutes"),
              std::string::npos)
        << program_->Output();
}

// GNOME's idle monitor (a stand-in) handed straight to a replacement: the
// watcher asks the new one, and the saver still comes.
TEST_F(IdleWatchOnX, AnIdleMonitorHandedToAnotherOwnerIsFollowed) {
    PrivateBus bus(config_);
    if (!bus.ok()) GTEST_SKIP() << bus.error();
    std::unique_ptr<ChildProcess> first =
        bus.StartStandIn({"idle-monitor"}, "DBUS_SESSION_BUS_ADDRESS");
    ASSERT_NE(first, nullptr) << bus.error();
    Start({"--idle-watch", "--idle-seconds", "1"}, BusSession(bus));
    ASSERT_TRUE(Covered()) << program_->Output();
    EXPECT_NE(program_->Output().find("(GNOME's idle monitor)"), std::string::npos);
    ASSERT_TRUE(first->Signal(SIGUSR1));  // input
    ASSERT_TRUE(Uncovered()) << program_->Output();
    std::unique_ptr<ChildProcess> second =
        bus.StartStandIn({"idle-monitor", "replace"}, "DBUS_SESSION_BUS_ADDRESS");
    ASSERT_NE(second, nullptr) << bus.error();
    EXPECT_TRUE(first->Wait(30.0)) << "the first gave the name up";
    EXPECT_TRUE(Covered()) << program_->Output();
    EXPECT_TRUE(program_->running()) << program_->Output();
    ExpectNoReports();
}

// Once the saver has run the lock time, the session's locker is asked
// once, through logind (a stand-in) for this process's session; input then
// leaves the saver up for the locker, and it ends only once the locker
// says it locked. Unlocked and used again, the watching goes on; a locker
// that never says so leaves the saver up with one line, and input ends it.
TEST_F(IdleWatchOnX, LocksThroughLogindWithoutAGlimpseOfTheDesktop) {
    PrivateBus bus(config_);
    if (!bus.ok()) GTEST_SKIP() << bus.error();
    std::unique_ptr<ChildProcess> logind =
        bus.StartStandIn({"logind", "c7"}, "DBUS_SYSTEM_BUS_ADDRESS");
    ASSERT_NE(logind, nullptr) << bus.error();
    std::vector<std::string> env = BusSession(bus);
    env.push_back("XDG_SESSION_ID=c7");
    Start({"--idle-watch", "--idle-seconds", "1", "--lock-seconds", "1"}, env);
    ASSERT_TRUE(Covered()) << program_->Output();
    ASSERT_TRUE(WaitForOutput(*logind, "lock c7\n")) << logind->Output();
    Touch();
    EXPECT_TRUE(StaysCovered(2.0)) << program_->Output();
    ASSERT_TRUE(logind->Signal(SIGHUP));  // the lock screen shows
    ASSERT_TRUE(Uncovered()) << program_->Output();
    EXPECT_EQ(logind->Output().find("lock c7\n"), logind->Output().rfind("lock c7\n"));

    ASSERT_TRUE(logind->Signal(SIGHUP));  // unlocked
    ASSERT_TRUE(WaitForOutput(*logind, "unlocked"));
    Touch();
    ASSERT_TRUE(Covered()) << program_->Output();
    const std::string failed =
        "mereglass: the session could not be locked: the session's locker (through logind) did "
        "not lock it within 10 seconds\n";
    ASSERT_TRUE(Eventually([&] { return program_->Output().find(failed) != std::string::npos; }))
        << program_->Output();
    EXPECT_FALSE(ProgramWindows().empty());
    Touch();
    EXPECT_TRUE(Uncovered()) << program_->Output();
    ExpectNoReports();
}

// The autostart options start the session's watcher and end it again;
// "it runs now" is said once it answers for its status.
TEST_F(IdleWatchOnX, TheAutostartOptionsStartAndEndTheSessionsWatcher) {
    std::vector<std::string> env = Session();
    env.insert(env.end(), {"DISPLAY=" + xvfb_->display(), "XDG_CONFIG_HOME=" + config_});
    ChildProcess add(MEREGLASS_PROGRAM, {MEREGLASS_PROGRAM, "--add-to-autostart"}, env);
    ASSERT_TRUE(add.Wait(30.0));
    EXPECT_NE(add.Output().find("; it runs now\n"), std::string::npos) << add.Output();
    ChildProcess status(MEREGLASS_PROGRAM, {MEREGLASS_PROGRAM, "--idle-status"}, env);
    ASSERT_TRUE(status.Wait(30.0));
    EXPECT_EQ(status.status(), 0) << status.Output();
    ChildProcess remove(MEREGLASS_PROGRAM, {MEREGLASS_PROGRAM, "--remove-from-autostart"}, env);
    ASSERT_TRUE(remove.Wait(30.0));
    EXPECT_NE(remove.Output().find("; the running idle watch ends\n"), std::string::npos)
        << remove.Output();
}

TEST(IdleWatch, NoSessionIsOneLine) {
    char dir[] = "/tmp/mereglass-nosession-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    ChildProcess program(MEREGLASS_PROGRAM, {MEREGLASS_PROGRAM, "--idle-watch"},
                         {"DBUS_SESSION_BUS_ADDRESS=disabled:", "WAYLAND_DISPLAY=", "DISPLAY=",
                          std::string("XDG_CONFIG_HOME=") + dir});
    ASSERT_TRUE(program.Wait(30.0));
    std::filesystem::remove_all(dir);
    EXPECT_EQ(program.status(), 1);
    EXPECT_EQ(program.Output(),
              "mereglass: no session to watch: no GNOME idle monitor on the session bus, no "
              "Wayland compositor ($WAYLAND_DISPLAY) and no X display ($DISPLAY)\n");
}

namespace {

// An X server without GLX, as some remote-desktop servers are.
class ProgramWithoutGlx : public ProgramOnX {
protected:
    ProgramWithoutGlx() { serverArguments_ = {"-extension", "GLX"}; }
};

}  // namespace

TEST_F(ProgramWithoutGlx, EveryWindowModeSaysSoInOneLineAndExits) {
    const Window target = MakeWindow(0, 0, 200, 150, 0x00ff00);
    const std::vector<std::vector<std::string>> modes = {
        {"-window"}, {"-root"}, {"-window-id", std::to_string(target)}, {"--fullscreen"}};
    for (const std::vector<std::string>& mode : modes) {
        SCOPED_TRACE(mode[0]);
        Start(mode, {"XSCREENSAVER_WINDOW="});
        ASSERT_TRUE(program_->Wait(30.0)) << program_->Output();
        EXPECT_EQ(program_->status(), 1) << program_->Output();
        const std::string out = program_->Output();
        EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
        EXPECT_NE(out.find("GLX"), std::string::npos) << out;
        ExpectNoReports();
    }
}

namespace {

// The program on a machine whose UPower (a fake, on a private bus standing
// in for the system bus) says it runs on battery, then on mains.
class ProgramOnBattery : public ProgramOnX {
protected:
    void SetUp() override {
        ProgramOnX::SetUp();
        if (IsSkipped()) return;
        power_ = std::make_unique<FakePower>(config_, true);
        if (!power_->ok()) GTEST_SKIP() << power_->error();
    }
    void TearDown() override {
        program_.reset();
        power_.reset();
        ProgramOnX::TearDown();
    }

    // The program's frames a second in `window` over at least `seconds` of
    // the X server's clock (0 when it draws none for 30 s). Each present
    // ends with one drawing request that reaches the window's bottom (a
    // buffer swap, or the last band of an image put a band at a time), so
    // one damage report of its own that reaches it.
    double FrameRate(Window window, double seconds) {
        int event = 0, error = 0;
        if (!XDamageQueryExtension(display_, &event, &error)) return -1.0;
        const Damage damage = XDamageCreate(display_, window, XDamageReportRawRectangles);
        XSync(display_, False);
        Time first = 0, last = 0;
        int frames = 0;
        const double end = Now() + 30.0;
        while (Now() < end && (frames == 0 || last - first < seconds * 1000.0)) {
            while (XPending(display_) > 0) {
                XEvent e;
                XNextEvent(display_, &e);
                if (e.type != event + XDamageNotify) continue;
                const auto* d = reinterpret_cast<const XDamageNotifyEvent*>(&e);
                if (d->damage != damage || d->more) continue;
                if (d->area.y + d->area.height < d->geometry.height) continue;
                if (frames++ == 0) first = d->timestamp;
                last = d->timestamp;
            }
            usleep(5000);
        }
        XDamageDestroy(display_, damage);
        XSync(display_, False);
        const double rate =
            last > first ? (frames - 1) * 1000.0 / static_cast<double>(last - first) : 0.0;
        std::printf("%.1f frames a second\n", rate);
        return rate;
    }

    // Measures 2 s windows until one passes `test` (at most 30 s); the
    // last rate.
    double RateUntil(Window window, const std::function<bool(double)>& test) {
        double rate = 0.0;
        const double end = Now() + 30.0;
        do {
            rate = FrameRate(window, kWindowSeconds);
        } while (!test(rate) && Now() < end);
        return rate;
    }

    static constexpr double kWindowSeconds = 2.0;
    // 30 frames a second, and what a window of 2 s may count above it.
    static constexpr double kMostOnBattery = 30.0 * 1.15;
    // Well above 30: full detail in a small window runs at up to 60.
    static constexpr double kMainsAbove = 36.0;
    std::unique_ptr<FakePower> power_;
};

}  // namespace

TEST_F(ProgramOnBattery, DrawsAtMost30FramesASecondOnBatteryAndMoreOnMains) {
    // Full detail in a small window: a software renderer keeps up with the
    // saver's own rate on mains, loaded or not.
    Start({"-window", "-geometry", "160x100", "--full-detail"}, {power_->Environment()});
    const std::vector<Window> windows = WaitForWindows(1);
    ASSERT_EQ(windows.size(), 1u) << program_->Output();
    const auto onBattery = [](double rate) { return rate > 0.0 && rate <= kMostOnBattery; };
    const auto onMains = [](double rate) { return rate > kMainsAbove; };
    // On battery from the start.
    EXPECT_TRUE(onBattery(FrameRate(windows[0], kWindowSeconds)));
    power_->SetOnBattery(false);
    EXPECT_TRUE(onMains(RateUntil(windows[0], onMains)));
    // Back on battery: the rate falls, and stays down.
    power_->SetOnBattery(true);
    EXPECT_TRUE(onBattery(RateUntil(windows[0], onBattery)));
    double rate = FrameRate(windows[0], kWindowSeconds);
    EXPECT_TRUE(onBattery(rate)) << rate;
    // A UPower that goes leaves the machine on mains, without a word.
    power_->Vanish();
    rate = RateUntil(windows[0], onMains);
    EXPECT_TRUE(onMains(rate)) << rate;
    Stop();
    EXPECT_EQ(program_->Output(), "");
}

TEST_F(ProgramOnBattery, WithoutSaveBatteryTheRateStaysUp) {
    Start({"-window", "-geometry", "160x100", "--full-detail", "--no-save-battery"},
          {power_->Environment()});
    const std::vector<Window> windows = WaitForWindows(1);
    ASSERT_EQ(windows.size(), 1u) << program_->Output();
    const double rate = RateUntil(windows[0], [](double r) { return r > kMainsAbove; });
    EXPECT_GT(rate, kMainsAbove);
    Stop();
}

// A saver that only ever draws the reduced frame keeps the software
// renderer on its own thread (the driver's threads cost more than they
// give at a steady 30 frames a second); full detail keeps the threads.
TEST_F(ProgramOnX, DrawsTheReducedFrameWithoutTheRenderersThreads) {
    for (const bool full : {false, true}) {
        std::vector<std::string> args = {"-window", "-geometry", "320x200"};
        if (full) args.push_back("--full-detail");
        Start(args);
        // The renderer starts its threads with the context, before the
        // window is mapped.
        ASSERT_EQ(WaitForWindows(1).size(), 1u) << program_->Output();
        EXPECT_EQ(RendererThreads(program_->pid()) > 0, full) << (full ? "full detail" : "reduced");
        Stop();
    }
}
