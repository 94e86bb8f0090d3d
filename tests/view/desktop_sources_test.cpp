// The platform layer against a real X server (a private Xvfb): monitors from
// XRandR, desktop reads from the root and from a screenshot pixmap, the
// fallbacks, GLX views on own, root and foreign windows, events, and a
// foreign window destroyed under the program.

// GoogleTest first: Xlib defines None, Bool and Status as macros.
// clang-format off
#include <gtest/gtest.h>
#include <png.h>
// clang-format on

#include <GL/gl.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xrandr.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/session.h"
#include "platform/x11/x11.h"
#include "view/desktop_capture.h"
#include "xvfb.h"

namespace {

// How long a test waits for an event the server owes it: ample on a loaded
// machine, where the server may run seconds behind.
std::chrono::steady_clock::time_point AWhileFromNow() {
    return std::chrono::steady_clock::now() + std::chrono::seconds(30);
}

const int kWidth = 640;
const int kHeight = 400;

// One Xvfb for the whole suite: starting one costs a few hundred ms.
class XServer : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server_ = new Xvfb(kWidth, kHeight); }
    static void TearDownTestSuite() {
        delete server_;
        server_ = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(server_->ok()) << server_->error();
        std::string error;
        connection_ = platform::OpenConnection(server_->display().c_str(), &error);
        ASSERT_NE(connection_, nullptr) << error;
        // A second client stands for other programs (the daemon, a locker).
        other_ = XOpenDisplay(server_->display().c_str());
        ASSERT_NE(other_, nullptr);
    }
    void TearDown() override {
        if (other_) XCloseDisplay(other_);
        platform::CloseConnection(connection_);
    }

    // Fills a rectangle of a drawable of `other_` with a colour per pixel.
    template <typename F>
    void Paint(Drawable d, int x0, int y0, int w, int h, F colour) {
        XImage* image = XCreateImage(other_, DefaultVisual(other_, 0), 24, ZPixmap, 0, nullptr,
                                     static_cast<unsigned>(w), static_cast<unsigned>(h), 32, 0);
        image->data = static_cast<char*>(malloc(static_cast<size_t>(image->bytes_per_line) * h));
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) XPutPixel(image, x, y, colour(x, y));
        }
        GC gc = XCreateGC(other_, d, 0, nullptr);
        XPutImage(other_, d, gc, image, 0, 0, x0, y0, static_cast<unsigned>(w),
                  static_cast<unsigned>(h));
        XFreeGC(other_, gc);
        XDestroyImage(image);
        XSync(other_, False);
    }

    // The sources of a view where `where` says, on a session of its own.
    DesktopSources SourcesAt(platform::ViewKind kind, platform::WindowId foreign = 0) {
        std::string error;
        session_.reset(platform::OpenX11Session(server_->display().c_str(), &error));
        EXPECT_NE(session_, nullptr) << error;
        DesktopSources sources;
        sources.session = session_.get();
        sources.where.kind = kind;
        sources.where.foreign = foreign;
        sources.mainScreen = platform::MainScreen(platform::ListScreens(connection_));
        sources.where.screen = sources.mainScreen;
        return sources;
    }

    static Xvfb* server_;
    std::unique_ptr<platform::Session> session_;
    platform::Connection* connection_ = nullptr;
    Display* other_ = nullptr;
};
Xvfb* XServer::server_ = nullptr;

// A pattern that tells rows and columns apart: 0xRRGGBB.
unsigned long Pattern(int x, int y) {
    return (static_cast<unsigned long>(x & 0xff) << 16) |
           (static_cast<unsigned long>(y & 0xff) << 8) | 0x40;
}

// The RGBA of pixel (x from the left, y from the TOP) of a bottom-first image.
uint32_t TopDownAt(const platform::RgbaImage& image, int x, int y) {
    const uint8_t* q =
        &image.pixels[(static_cast<size_t>(image.height - 1 - y) * image.width + x) * 4];
    return (uint32_t{q[0]} << 24) | (uint32_t{q[1]} << 16) | (uint32_t{q[2]} << 8) | q[3];
}

uint32_t Rgba(unsigned long rgb) { return static_cast<uint32_t>(rgb << 8) | 0xff; }

TEST_F(XServer, ListsTheMonitorsAndPicksThePrimary) {
    std::vector<platform::ScreenInfo> screens = platform::ListScreens(connection_);
    ASSERT_EQ(screens.size(), 1u);
    EXPECT_EQ(screens[0].x, 0);
    EXPECT_EQ(screens[0].width, kWidth);
    EXPECT_EQ(screens[0].height, kHeight);
    EXPECT_NE(screens[0].number, 0);
    EXPECT_EQ(platform::MainScreen(screens).number, screens[0].number);

    // Two monitors side by side, the right one primary.
    Window root = DefaultRootWindow(other_);
    XRRMonitorInfo* left = XRRAllocateMonitor(other_, 0);
    XRRMonitorInfo* right = XRRAllocateMonitor(other_, 0);
    left->name = XInternAtom(other_, "LEFT", False);
    left->x = 0;
    left->y = 0;
    left->width = 320;
    left->height = 400;
    right->name = XInternAtom(other_, "RIGHT", False);
    right->x = 320;
    right->y = 0;
    right->width = 320;
    right->height = 400;
    right->primary = True;
    XRRSetMonitor(other_, root, left);
    XRRSetMonitor(other_, root, right);
    XSync(other_, False);
    screens = platform::ListScreens(connection_);
    XRRDeleteMonitor(other_, root, left->name);
    XRRDeleteMonitor(other_, root, right->name);
    XSync(other_, False);
    XFree(left);
    XFree(right);

    ASSERT_GE(screens.size(), 2u);
    const platform::ScreenInfo main = platform::MainScreen(screens);
    EXPECT_EQ(main.x, 320);
    EXPECT_EQ(main.width, 320);
    EXPECT_TRUE(main.primary);
    // A window in the left half lies on a screen other than the main one.
    const platform::ScreenInfo leftScreen = platform::ScreenOfRectangle(screens, 10, 10, 100, 100);
    EXPECT_EQ(leftScreen.x, 0);
    EXPECT_NE(leftScreen.number, main.number);
    EXPECT_EQ(platform::ScreenOfRectangle(screens, 600, 10, 100, 100).number, main.number);
}

TEST_F(XServer, ReadsTheMainMonitorFromTheRoot) {
    Paint(DefaultRootWindow(other_), 0, 0, kWidth, kHeight, Pattern);
    DesktopSources sources = SourcesAt(platform::ViewKind::TopLevel);
    platform::RgbaImage image;
    ASSERT_EQ(AcquireDesktopImage(sources, &image), DesktopSource::Root);
    ASSERT_EQ(image.width, kWidth);
    ASSERT_EQ(image.height, kHeight);
    for (auto [x, y] : {std::pair{0, 0}, {639, 0}, {0, 399}, {300, 200}, {17, 123}}) {
        EXPECT_EQ(TopDownAt(image, x, y), Rgba(Pattern(x, y))) << x << "," << y;
    }

    // A monitor's rectangle is read, clipped to the root.
    platform::ScreenInfo part;
    part.x = 600;
    part.y = 100;
    part.width = 100;
    part.height = 50;
    ASSERT_TRUE(platform::ReadRootRectangle(connection_, part, &image));
    EXPECT_EQ(image.width, 40);
    EXPECT_EQ(image.height, 50);
    EXPECT_EQ(TopDownAt(image, 0, 0), Rgba(Pattern(600, 100)));
}

TEST_F(XServer, ImageFilePutFirstReplacesTheDesktopQuietly) {
    Paint(DefaultRootWindow(other_), 0, 0, kWidth, kHeight, Pattern);
    char dir[] = "/tmp/mereglass-first-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string file = std::string(dir) + "/green.png";
    std::vector<uint8_t> rgb;
    for (int i = 0; i < 8; ++i) rgb.insert(rgb.end(), {0x20, 0xd0, 0x30});
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    png.width = 4;
    png.height = 2;
    png.format = PNG_FORMAT_RGB;
    ASSERT_TRUE(png_image_write_to_file(&png, file.c_str(), 0, rgb.data(), 0, nullptr));

    DesktopSources sources = SourcesAt(platform::ViewKind::TopLevel);
    sources.imageFile = file;
    sources.imageFileFirst = true;
    platform::RgbaImage image;
    testing::internal::CaptureStderr();
    EXPECT_EQ(AcquireDesktopImage(sources, &image), DesktopSource::ImageFile);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(image.width, 4);
    EXPECT_EQ(TopDownAt(image, 0, 0), Rgba(0x20d030));

    // A file that cannot be used is named once, and the desktop follows.
    std::remove(file.c_str());
    testing::internal::CaptureStderr();
    EXPECT_EQ(AcquireDesktopImage(sources, &image), DesktopSource::Root);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(said.rfind("mereglass: cannot use the image " + file + ": ", 0), 0u) << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    rmdir(dir);
}

TEST_F(XServer, BlackRootCountsAsUnreadable) {
    Paint(DefaultRootWindow(other_), 0, 0, kWidth, kHeight, [](int, int) { return 0ul; });
    DesktopSources sources = SourcesAt(platform::ViewKind::TopLevel);
    platform::RgbaImage image;
    testing::internal::CaptureStderr();
    EXPECT_EQ(AcquireDesktopImage(sources, &image), DesktopSource::BuiltIn);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("black"), std::string::npos);
    EXPECT_EQ(image.width, kWidth);
}

TEST_F(XServer, ScreenshotPropertyIsPreferredOverTheRoot) {
    Paint(DefaultRootWindow(other_), 0, 0, kWidth, kHeight, Pattern);
    // A daemon that has the saver draw on the root leaves its screenshot
    // there.
    const Window window = DefaultRootWindow(other_);
    const Pixmap shot = XCreatePixmap(other_, window, 200, 100, 24);
    auto shotColour = [](int x, int y) {
        return 0x102030ul + static_cast<unsigned long>(x + y * 256);
    };
    Paint(shot, 0, 0, 200, 100, shotColour);
    const Atom property = XInternAtom(other_, "_SCREENSAVER_SCREENSHOT", False);
    XChangeProperty(other_, window, property, XA_PIXMAP, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&shot), 1);
    XSync(other_, False);

    DesktopSources sources = SourcesAt(platform::ViewKind::Root);
    platform::RgbaImage image;
    ASSERT_EQ(AcquireDesktopImage(sources, &image), DesktopSource::Screenshot);
    ASSERT_EQ(image.width, 200);
    ASSERT_EQ(image.height, 100);
    EXPECT_EQ(TopDownAt(image, 0, 0), Rgba(shotColour(0, 0)));
    EXPECT_EQ(TopDownAt(image, 199, 99), Rgba(shotColour(199, 99)));

    // A property that names a pixmap that is gone is passed over quietly.
    XFreePixmap(other_, shot);
    XSync(other_, False);
    testing::internal::CaptureStderr();
    EXPECT_EQ(AcquireDesktopImage(sources, &image), DesktopSource::Root);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    XDeleteProperty(other_, window, property);
    XSync(other_, False);
}

TEST_F(XServer, ChildWindowWithoutScreenshotGetsTheBuiltInPicture) {
    Paint(DefaultRootWindow(other_), 0, 0, kWidth, kHeight, Pattern);
    const Window parent =
        XCreateSimpleWindow(other_, DefaultRootWindow(other_), 0, 0, 300, 200, 0, 0, 0);
    const Window child = XCreateSimpleWindow(other_, parent, 10, 10, 100, 80, 0, 0, 0);
    XSync(other_, False);
    // Inside another program's window: the root is not the user's.
    DesktopSources sources = SourcesAt(platform::ViewKind::Foreign, child);
    platform::RgbaImage image;
    testing::internal::CaptureStderr();
    EXPECT_EQ(AcquireDesktopImage(sources, &image), DesktopSource::BuiltIn);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("built-in"), std::string::npos);
    EXPECT_EQ(image.width, kWidth);
    EXPECT_EQ(image.height, kHeight);
    XDestroyWindow(other_, parent);
}

TEST(XDisplay, MissingDisplayIsAnErrorNotACrash) {
    const char* old = getenv("DISPLAY");
    const std::string saved = old ? old : "";
    setenv("DISPLAY", ":32761", 1);
    std::string error;
    EXPECT_EQ(platform::OpenConnection(nullptr, &error), nullptr);
    EXPECT_NE(error.find(":32761"), std::string::npos) << error;
    EXPECT_EQ(platform::OpenConnection("nowhere:0", &error), nullptr);
    if (old)
        setenv("DISPLAY", saved.c_str(), 1);
    else
        unsetenv("DISPLAY");

    DesktopSources sources;  // what the program passes without a display
    platform::RgbaImage image;
    testing::internal::CaptureStderr();
    EXPECT_EQ(AcquireDesktopImage(sources, &image), DesktopSource::BuiltIn);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("no X display"), std::string::npos);
}

bool IsMapped(Display* d, Window w) {
    XWindowAttributes a{};
    return XGetWindowAttributes(d, w, &a) && a.map_state != IsUnmapped;
}

TEST_F(XServer, TopLevelViewDrawsAndStaysUnmappedUntilShown) {
    platform::ViewRequest request;
    request.width = 160;
    request.height = 120;
    std::string error;
    platform::View* view = platform::CreateWindowView(connection_, request, &error);
    ASSERT_NE(view, nullptr) << error;
    const Window window = platform::ViewWindow(view);
    ASSERT_NE(window, 0u);
    EXPECT_FALSE(IsMapped(other_, window));
    int w = 0, h = 0;
    platform::ViewSize(view, &w, &h);
    EXPECT_EQ(w, 160);
    EXPECT_EQ(h, 120);

    ASSERT_TRUE(platform::MakeViewCurrent(view));
    glClearColor(1.0f, 0.5f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    platform::RgbaImage pixels;
    ASSERT_TRUE(platform::ReadViewPixels(view, &pixels));
    ASSERT_EQ(pixels.width, 160);
    EXPECT_EQ(TopDownAt(pixels, 80, 60) & 0xffff0000u, 0xff800000u);
    platform::PresentView(view);

    platform::ShowView(view);
    XSync(other_, False);
    EXPECT_TRUE(IsMapped(other_, window));

    // A resize arrives as an event with the new size.
    ASSERT_TRUE(platform::ResizeView(view, 200, 150));
    XSync(other_, False);
    std::vector<platform::Event> events;
    bool resized = false;
    for (const auto end = AWhileFromNow(); !resized && std::chrono::steady_clock::now() < end;) {
        XSync(other_, False);
        platform::DrainEvents(connection_, &events);
        for (const platform::Event& e : events) {
            resized |= e.kind == platform::EventKind::Resized && e.width == 200;
        }
        if (!resized) usleep(10 * 1000);
    }
    const platform::Event* last = nullptr;
    for (const platform::Event& e : events) {
        EXPECT_EQ(e.window, window);
        if (e.kind == platform::EventKind::Resized) last = &e;
    }
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->width, 200);
    EXPECT_EQ(last->height, 150);
    platform::ViewSize(view, &w, &h);
    EXPECT_EQ(w, 200);
    platform::DestroyView(view);
    XSync(other_, False);
    // The window went with the view (the process's X error handler turns
    // the BadWindow into a failed call).
    XWindowAttributes a{};
    EXPECT_FALSE(XGetWindowAttributes(other_, window, &a));
}

TEST_F(XServer, FullScreenViewCoversItsMonitor) {
    platform::ViewRequest request;
    request.kind = platform::ViewKind::FullScreen;
    request.screen.x = 0;
    request.screen.y = 0;
    request.screen.width = kWidth;
    request.screen.height = kHeight;
    std::string error;
    platform::View* view = platform::CreateWindowView(connection_, request, &error);
    ASSERT_NE(view, nullptr) << error;
    platform::ShowView(view);
    int x = -1, y = -1, w = 0, h = 0;
    ASSERT_TRUE(platform::WindowRectangle(connection_, platform::ViewWindow(view), &x, &y, &w, &h));
    EXPECT_EQ(x, 0);
    EXPECT_EQ(y, 0);
    EXPECT_EQ(w, kWidth);
    EXPECT_EQ(h, kHeight);
    platform::DestroyView(view);
}

TEST_F(XServer, RootViewDrawsOnTheRoot) {
    platform::ViewRequest request;
    request.kind = platform::ViewKind::Root;
    std::string error;
    platform::View* view = platform::CreateWindowView(connection_, request, &error);
    ASSERT_NE(view, nullptr) << error;
    EXPECT_EQ(platform::ViewWindow(view), platform::RootWindowId(connection_));
    int w = 0, h = 0;
    platform::ViewSize(view, &w, &h);
    EXPECT_EQ(w, kWidth);
    EXPECT_EQ(h, kHeight);
    ASSERT_TRUE(platform::MakeViewCurrent(view));
    glClearColor(0.0f, 0.0f, 1.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    platform::PresentView(view);
    glFinish();
    // The root shows it to every client.
    XImage* shown =
        XGetImage(other_, DefaultRootWindow(other_), 320, 200, 1, 1, AllPlanes, ZPixmap);
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(XGetPixel(shown, 0, 0) & 0xffffff, 0x0000fful);
    XDestroyImage(shown);
    platform::DestroyView(view);
}

TEST_F(XServer, ForeignWindowDestroyedUnderTheViewEndsItCleanly) {
    const Window foreign =
        XCreateSimpleWindow(other_, DefaultRootWindow(other_), 0, 0, 120, 90, 0, 0, 0);
    XMapWindow(other_, foreign);
    XSync(other_, False);

    platform::ViewRequest request;
    request.kind = platform::ViewKind::Foreign;
    request.foreign = foreign;
    std::string error;
    platform::View* view = platform::CreateWindowView(connection_, request, &error);
    ASSERT_NE(view, nullptr) << error;
    int w = 0, h = 0;
    platform::ViewSize(view, &w, &h);
    EXPECT_EQ(w, 120);
    EXPECT_EQ(h, 90);
    ASSERT_TRUE(platform::MakeViewCurrent(view));
    glClear(GL_COLOR_BUFFER_BIT);
    platform::PresentView(view);
    EXPECT_FALSE(platform::ViewLost(view));

    XDestroyWindow(other_, foreign);
    XSync(other_, False);
    // Drawing on after the window went records the loss instead of ending
    // the program.
    testing::internal::CaptureStderr();
    platform::PresentView(view);
    glFinish();
    std::vector<platform::Event> events;
    bool destroyed = false;
    for (const auto end = AWhileFromNow(); !destroyed && std::chrono::steady_clock::now() < end;) {
        XSync(other_, False);
        platform::DrainEvents(connection_, &events);
        for (const platform::Event& e : events) {
            destroyed |= e.kind == platform::EventKind::Destroyed && e.window == foreign;
        }
        if (!destroyed) usleep(10 * 1000);
    }
    EXPECT_TRUE(destroyed);
    EXPECT_TRUE(platform::ViewLost(view));
    EXPECT_TRUE(platform::WindowLost(connection_, foreign));
    EXPECT_FALSE(platform::MakeViewCurrent(view));
    // The capture leaves the name alone when there is no context to use.
    platform::RgbaImage image;
    image.width = image.height = 1;
    image.pixels = {1, 2, 3, 255};
    uint32_t name = 7;
    EXPECT_FALSE(GetDesktopTexture(&name, image, view));
    EXPECT_EQ(name, 7u);
    platform::DestroyView(view);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(XServer, ForeignWindowThatDoesNotExistGivesNoView) {
    platform::ViewRequest request;
    request.kind = platform::ViewKind::Foreign;
    request.foreign = 0x7fff0001;
    std::string error;
    testing::internal::CaptureStderr();
    EXPECT_EQ(platform::CreateWindowView(connection_, request, &error), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_FALSE(error.empty());
}

}  // namespace
