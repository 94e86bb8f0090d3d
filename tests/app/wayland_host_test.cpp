// --fullscreen on a real Wayland compositor: Debian's sway, headless (no
// GPU, no display), with two outputs over a desktop of one known colour.
// The program covers both with moving water over the picture screencopy
// took, and ends by SIGTERM, by a key (typed through a virtual keyboard),
// by a pointer's motion (through a virtual pointer, tests/app's tool) and,
// with one line, when the compositor dies. The screen is read back
// with grim.
//
// sway refuses to run as root, so the compositor, its tools and the
// program run as uid 65534 (setpriv) from a copy of the program that user
// can read; the test needs root for that. Skipped when sway, swaybg, grim
// or wtype are missing (scripts/setup installs them).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "child_process.h"

namespace {

namespace fs = std::filesystem;

constexpr unsigned kUser = 65534;
// Generous: sanitized builds on a shared machine start slowly.
constexpr double kDeadline = 30.0;
// The desktop's colour, and the two outputs' sizes.
constexpr int kRed = 0x33, kGreen = 0x66, kBlue = 0x99;
const char kFirstOutput[] = "HEADLESS-1";
const char kSecondOutput[] = "HEADLESS-2";

double Now() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

template <typename F>
bool Soon(F condition, double seconds = kDeadline) {
    const double end = Now() + seconds;
    while (!condition()) {
        if (Now() > end) return false;
        usleep(50 * 1000);
    }
    return true;
}

// An RGB picture read back from the compositor (grim's PPM).
struct Shot {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgb;
};

bool ReadPpm(const std::string& path, Shot* shot) {
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    int maxValue = 0;
    in >> magic >> shot->width >> shot->height >> maxValue;
    in.get();
    if (magic != "P6" || maxValue != 255 || shot->width <= 0 || shot->height <= 0) return false;
    shot->rgb.resize(static_cast<size_t>(shot->width) * shot->height * 3);
    in.read(reinterpret_cast<char*>(shot->rgb.data()),
            static_cast<std::streamsize>(shot->rgb.size()));
    return in.good();
}

// Pixels of the desktop's colour under water: within a tint of it.
int NearDesktop(const Shot& s) {
    int n = 0;
    for (size_t i = 0; i + 2 < s.rgb.size(); i += 3) {
        if (std::abs(s.rgb[i] - kRed) < 48 && std::abs(s.rgb[i + 1] - kGreen) < 48 &&
            std::abs(s.rgb[i + 2] - kBlue) < 48) {
            ++n;
        }
    }
    return n;
}

// The part of a picture at (x, y) of width × height.
Shot Part(const Shot& s, int x, int y, int width, int height) {
    Shot p;
    p.width = width;
    p.height = height;
    for (int row = y; row < y + height; ++row) {
        const auto from = s.rgb.begin() + (static_cast<ptrdiff_t>(row) * s.width + x) * 3;
        p.rgb.insert(p.rgb.end(), from, from + static_cast<ptrdiff_t>(width) * 3);
    }
    return p;
}

int Exactly(const Shot& s) {
    int n = 0;
    for (size_t i = 0; i + 2 < s.rgb.size(); i += 3) {
        n += s.rgb[i] == kRed && s.rgb[i + 1] == kGreen && s.rgb[i + 2] == kBlue;
    }
    return n;
}

class OnSway : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* tool : {"/usr/bin/sway", "/usr/bin/swaybg", "/usr/bin/grim",
                                 "/usr/bin/swaymsg", "/usr/bin/wtype"}) {
            if (access(tool, X_OK) != 0) GTEST_SKIP() << tool << " is not installed";
        }
        if (geteuid() != 0) GTEST_SKIP() << "needs root to run sway as another user";

        char dir[] = "/tmp/mereglass-sway-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        dir_ = dir;
        run_ = dir_ + "/run";
        ASSERT_EQ(chmod(dir, 0755), 0);
        ASSERT_EQ(mkdir((dir_ + "/bin").c_str(), 0755), 0);
        ASSERT_EQ(mkdir(run_.c_str(), 0700), 0);
        ASSERT_EQ(chown(run_.c_str(), kUser, kUser), 0);
        fs::copy_file(MEREGLASS_PROGRAM, program_path());
        fs::copy_file(MEREGLASS_VIRTUAL_POINTER, pointer_path());
        fs::copy_file(MEREGLASS_ARCHIVE, dir_ + "/bin/murkle.respak");
        ASSERT_EQ(chmod((dir_ + "/bin/murkle.respak").c_str(), 0644), 0);
        const std::string config = dir_ + "/sway.conf";
        std::ofstream(config) << "output * bg #336699 solid_color\n"
                              << "output " << kFirstOutput << " resolution 320x240\n";
        ASSERT_EQ(chmod(config.c_str(), 0644), 0);

        env_ = {"HOME=" + run_,
                "PATH=/usr/bin:/bin",
                "XDG_RUNTIME_DIR=" + run_,
                "XDG_CONFIG_HOME=" + run_ + "/.config",
                "DBUS_SESSION_BUS_ADDRESS=disabled:",
                "WAYLAND_DISPLAY=wayland-1",
                "DISPLAY=",
                "WLR_BACKENDS=headless",
                "WLR_RENDERER=pixman",
                "WLR_LIBINPUT_NO_DEVICES=1"};
        if (std::string lsan = LsanOptionsForOtherUser(dir_ + "/bin"); !lsan.empty()) {
            env_.push_back(lsan);
        }
        sway_ = RunAsUser({"/usr/bin/sway", "-c", config});
        ASSERT_TRUE(Soon([&] { return Sway({"-t", "get_version"}); })) << sway_->Output();
        ASSERT_TRUE(Sway({"create_output"}));
        ASSERT_TRUE(Sway({"output", kSecondOutput, "resolution", "256x192"}));
        // The desktop is drawn once both outputs show the colour.
        ASSERT_TRUE(Soon([&] {
            Shot a, b;
            return Grab(kFirstOutput, &a) && Grab(kSecondOutput, &b) && a.width == 320 &&
                   b.width == 256 && Exactly(a) == 320 * 240 && Exactly(b) == 256 * 192;
        }));
    }

    void TearDown() override {
        if (program_ && program_->running()) program_->Signal(SIGKILL);
        program_.reset();
        if (sway_ && sway_->running()) {
            sway_->Signal(SIGTERM);
            if (!sway_->Wait(10.0)) sway_->Signal(SIGKILL);
        }
        sway_.reset();
        if (!dir_.empty()) {
            std::error_code ignored;
            fs::remove_all(dir_, ignored);
        }
    }

    // `args` as the compositor's user, in the test's environment; SIGTERM
    // should the test die.
    std::unique_ptr<ChildProcess> RunAsUser(std::vector<std::string> args) {
        const std::string id = std::to_string(kUser);
        const std::vector<std::string> setpriv = {"/usr/bin/setpriv", "--pdeathsig=TERM",
                                                  "--reuid=" + id, "--regid=" + id,
                                                  "--clear-groups"};
        args.insert(args.begin(), setpriv.begin(), setpriv.end());
        return std::make_unique<ChildProcess>(args.front(), args, env_);
    }

    // Runs a tool to its end; true when it succeeds.
    bool Run(std::vector<std::string> args) {
        std::unique_ptr<ChildProcess> c = RunAsUser(std::move(args));
        return c->Wait(kDeadline) && c->status() == 0;
    }

    bool Sway(std::vector<std::string> args) {
        if (swaySocket_.empty()) {
            for (const auto& e : fs::directory_iterator(run_)) {
                const std::string name = e.path().filename();
                if (name.rfind("sway-ipc.", 0) == 0) swaySocket_ = e.path();
            }
            if (swaySocket_.empty()) return false;
        }
        args.insert(args.begin(), {"/usr/bin/swaymsg", "-s", swaySocket_});
        return Run(args);
    }

    bool Grab(const char* output, Shot* shot) {
        const std::string path = run_ + "/shot-" + output + ".ppm";
        return Run({"/usr/bin/grim", "-t", "ppm", "-o", output, path}) && ReadPpm(path, shot);
    }

    // Starts mereglass --fullscreen and waits until both outputs show
    // water over the desktop's colour.
    void StartCovered() {
        program_ = RunAsUser({program_path(), "--fullscreen"});
        ASSERT_TRUE(Soon([&] { return Output().find("screencopy") != std::string::npos; }))
            << Output();
        for (const char* output : {kFirstOutput, kSecondOutput}) {
            ASSERT_TRUE(Soon([&] {
                Shot s;
                // Water over the colour: most of it near the colour, little
                // of it exactly the flat desktop.
                return Grab(output, &s) && NearDesktop(s) > s.width * s.height * 3 / 4 &&
                       Exactly(s) < s.width * s.height / 4;
            })) << output
                << ": " << Output();
        }
    }

    std::string program_path() const { return dir_ + "/bin/mereglass"; }
    std::string pointer_path() const { return dir_ + "/bin/virtual-pointer"; }
    std::string Output() const { return program_ ? program_->Output() : ""; }

    void ExpectNoReports() {
        const std::string out = Output();
        EXPECT_EQ(out.find("Sanitizer"), std::string::npos) << out;
        EXPECT_EQ(out.find("runtime error"), std::string::npos) << out;
    }

    std::string dir_, run_, swaySocket_;
    std::vector<std::string> env_;
    std::unique_ptr<ChildProcess> sway_;
    std::unique_ptr<ChildProcess> program_;
};

}  // namespace

TEST_F(OnSway, CoversEveryOutputWithMovingWaterAndEndsBySigterm) {
    StartCovered();
    // The water moves on each output.
    for (const char* output : {kFirstOutput, kSecondOutput}) {
        Shot first;
        ASSERT_TRUE(Grab(output, &first));
        EXPECT_TRUE(Soon([&] {
            Shot later;
            return Grab(output, &later) && later.rgb != first.rgb;
        })) << output;
    }
    ASSERT_TRUE(program_->Signal(SIGTERM));
    const double start = Now();
    ASSERT_TRUE(program_->Wait(5.0)) << Output();
    EXPECT_LT(Now() - start, 1.0);
    EXPECT_EQ(program_->endSignal(), SIGTERM) << Output();
    ExpectNoReports();
}

// The seat has no keyboard until the virtual one comes; wtype waits a
// little before it types, so the keyboard has reached the program.
TEST_F(OnSway, AKeyEndsIt) {
    StartCovered();
    ASSERT_TRUE(Run({"/usr/bin/wtype", "-s", "500", "a"}));
    ASSERT_TRUE(program_->Wait(kDeadline)) << Output();
    EXPECT_EQ(program_->status(), 0) << Output();
    ExpectNoReports();
}

// The seat has no pointer until the virtual one comes; the tool waits a
// little before it moves, so the pointer has reached the program. It moves
// 50 pixels in five steps: the first brings the pointer onto the cover, the
// rest take it well beyond a tremor from there.
TEST_F(OnSway, APointerMotionEndsIt) {
    StartCovered();
    ASSERT_TRUE(Run({pointer_path(), "40", "30", "5"}));
    ASSERT_TRUE(program_->Wait(kDeadline)) << Output();
    EXPECT_EQ(program_->status(), 0) << Output();
    ExpectNoReports();
}

// An output that comes while it runs is covered too, at the size the
// output takes after it came. (Its picture may be taken before the
// compositor has drawn its background, so only the cover is checked; sway
// 1.7 cannot take a headless output away.)
// Wayland names no primary output: the first one reported is the main one,
// and with MainMonitorOnly the others stay black.
TEST_F(OnSway, MainMonitorOnlyLeavesTheOtherOutputsBlack) {
    program_ = RunAsUser({program_path(), "--fullscreen", "--main-monitor-only"});
    EXPECT_TRUE(Soon([&] {
        Shot main, other;
        return Grab(kFirstOutput, &main) && Grab(kSecondOutput, &other) &&
               NearDesktop(main) > main.width * main.height * 3 / 4 &&
               Exactly(main) < main.width * main.height / 4 &&
               std::count(other.rgb.begin(), other.rgb.end(), 0) ==
                   static_cast<std::ptrdiff_t>(other.rgb.size());
    })) << Output();
    ExpectNoReports();
}

TEST_F(OnSway, CoversAnOutputThatComes) {
    StartCovered();
    ASSERT_TRUE(Sway({"create_output"}));
    ASSERT_TRUE(Sway({"output", "HEADLESS-3", "resolution", "200x150"}));
    Shot first;
    ASSERT_TRUE(Soon([&] {
        return Grab("HEADLESS-3", &first) && first.width == 200 &&
               Exactly(first) < first.width * first.height / 4;
    })) << Output();
    EXPECT_TRUE(Soon([&] {
        Shot later;
        return Grab("HEADLESS-3", &later) && later.rgb != first.rgb;
    })) << Output();
    EXPECT_TRUE(program_->running()) << Output();
    ExpectNoReports();
}

TEST_F(OnSway, ACompositorThatDiesEndsItWithOneLine) {
    StartCovered();
    const size_t before = Output().size();
    ASSERT_TRUE(sway_->Signal(SIGKILL));
    ASSERT_TRUE(program_->Wait(kDeadline)) << Output();
    EXPECT_EQ(program_->status(), 1) << Output();
    const std::string after = Output().substr(before);
    EXPECT_EQ(std::count(after.begin(), after.end(), '\n'), 1) << after;
    EXPECT_NE(after.find("compositor"), std::string::npos) << after;
    ExpectNoReports();
}

// On the software renderer the water is drawn at half each side and
// stretched over the output (by the compositor where it can): every
// quarter of each output shows water over the desktop's colour that moves
// (an uncovered quarter shows the still desktop), on an output of scale 2
// too.
TEST_F(OnSway, TheReducedFrameCoversEachOutputEdgeToEdge) {
    ASSERT_TRUE(Sway({"output", kSecondOutput, "scale", "2"}));
    StartCovered();
    for (const char* output : {kFirstOutput, kSecondOutput}) {
        Shot first;
        ASSERT_TRUE(Grab(output, &first)) << output;
        const int w = first.width / 2, h = first.height / 2;
        const std::pair<int, int> corners[] = {{0, 0}, {w, 0}, {0, h}, {w, h}};
        for (const auto& [x, y] : corners) {
            EXPECT_GT(NearDesktop(Part(first, x, y, w, h)), w * h * 3 / 4)
                << output << " at " << x << "," << y;
        }
        bool moved[4] = {};
        EXPECT_TRUE(Soon([&] {
            Shot later;
            if (!Grab(output, &later) || later.width != first.width) return false;
            for (int i = 0; i < 4; ++i) {
                const auto [x, y] = corners[i];
                moved[i] = moved[i] || Part(later, x, y, w, h).rgb != Part(first, x, y, w, h).rgb;
            }
            return std::all_of(std::begin(moved), std::end(moved), [](bool m) { return m; });
        })) << output
            << ": the quarters that moved: " << moved[0] << moved[1] << moved[2] << moved[3];
    }
    ExpectNoReports();
}

// Without a compositor: one line and a failed exit, no hang.
TEST(WaylandHost, NoCompositorIsOneLine) {
    char dir[] = "/tmp/mereglass-nowayland-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    ChildProcess program(MEREGLASS_PROGRAM, {MEREGLASS_PROGRAM, "--fullscreen", "--wayland"},
                         {std::string("XDG_RUNTIME_DIR=") + dir, "WAYLAND_DISPLAY=wayland-none",
                          std::string("XDG_CONFIG_HOME=") + dir});
    ASSERT_TRUE(program.Wait(kDeadline));
    rmdir(dir);
    EXPECT_EQ(program.status(), 1);
    EXPECT_EQ(program.Output(),
              "mereglass: cannot connect to the Wayland display \"wayland-none\"\n");
}
