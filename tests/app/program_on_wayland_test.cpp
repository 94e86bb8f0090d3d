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
// --fullscreen on real Wayland compositors, headless (no GPU, no display),
// each with two outputs, started by the tests (compositor.h). On sway, over
// a desktop of one known colour, the program covers both outputs with
// moving water over the picture screencopy took, and ends by SIGTERM, by a
// key, by a pointer's motion and, with one line, when the compositor dies.
// On KWin and Mutter, which offer no screencopy, it covers both with moving
// water over the built-in picture, and a key or a motion ends it; on Mutter
// it sleeps while the monitors are powered down. Each suite is skipped
// when its compositor or a tool for it is missing (scripts/setup installs
// them).
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "child_process.h"
#include "compositor_fixture.h"

namespace {

// sway's desktop colour, and its outputs.
constexpr int kRed = kSwayDesktop[0], kGreen = kSwayDesktop[1], kBlue = kSwayDesktop[2];
const char kFirstOutput[] = "HEADLESS-1";
const char kSecondOutput[] = "HEADLESS-2";

// Pixels of the desktop's colour (or another) under water: within a tint
// of it.
int NearDesktop(const Shot& s, int red = kRed, int green = kGreen, int blue = kBlue) {
    int n = 0;
    for (size_t i = 0; i + 2 < s.rgb.size(); i += 3) {
        if (std::abs(s.rgb[i] - red) < 48 && std::abs(s.rgb[i + 1] - green) < 48 &&
            std::abs(s.rgb[i + 2] - blue) < 48) {
            ++n;
        }
    }
    return n;
}

int Exactly(const Shot& s, int red = kRed, int green = kGreen, int blue = kBlue) {
    int n = 0;
    for (size_t i = 0; i + 2 < s.rgb.size(); i += 3) {
        n += s.rgb[i] == red && s.rgb[i + 1] == green && s.rgb[i + 2] == blue;
    }
    return n;
}

class OnSway : public OnCompositor<CompositorKind::Sway> {
protected:
    bool Grab(const char* output, Shot* shot) { return compositor_->Grab(output, shot); }

    // Starts mereglass --fullscreen and waits until both outputs show
    // water over the desktop's colour.
    void StartCovered() {
        StartProgram({"--fullscreen"});
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
};

}  // namespace

TEST_F(OnSway, CoversEveryOutputWithMovingWaterAndEndsBySigterm) {
    ASSERT_NO_FATAL_FAILURE(StartCovered());
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
    const double start = MonotonicSeconds();
    ASSERT_TRUE(program_->Wait(5.0)) << Output();
    EXPECT_LT(MonotonicSeconds() - start, 1.0);
    EXPECT_EQ(program_->endSignal(), SIGTERM) << Output();
    ExpectNoReports();
}

// The seat has no keyboard until the virtual one comes; wtype waits a
// little before it types, so the keyboard has reached the program.
TEST_F(OnSway, AKeyEndsIt) {
    ASSERT_NO_FATAL_FAILURE(StartCovered());
    ASSERT_TRUE(compositor_->TypeKey());
    ASSERT_TRUE(program_->Wait(kCompositorDeadline)) << Output();
    EXPECT_EQ(program_->status(), 0) << Output();
    ExpectNoReports();
}

// The seat has no pointer until the virtual one comes; the tool waits a
// little before it moves, so the pointer has reached the program. It moves
// 50 pixels in five steps: the first brings the pointer onto the cover, the
// rest take it well beyond a tremor from there.
TEST_F(OnSway, APointerMotionEndsIt) {
    ASSERT_NO_FATAL_FAILURE(StartCovered());
    ASSERT_TRUE(compositor_->MovePointer(40, 30, 5));
    ASSERT_TRUE(program_->Wait(kCompositorDeadline)) << Output();
    EXPECT_EQ(program_->status(), 0) << Output();
    ExpectNoReports();
}

// Wayland names no primary output: the first one reported is the main one,
// and with MainMonitorOnly the others stay black.
TEST_F(OnSway, MainMonitorOnlyLeavesTheOtherOutputsBlack) {
    StartProgram({"--fullscreen", "--main-monitor-only"});
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

// A folder preferred to the desktop that cannot be used is followed by
// each output's own picture, as when none is preferred: the second output,
// painted another colour, shows that colour under the water.
TEST_F(OnSway, AFolderThatFailsIsFollowedByEachOutputsOwnPicture) {
    const auto paint = [&](const char* colour) {
        return compositor_->SwayCommand({"output", kSecondOutput, "bg", colour, "solid_color"});
    };
    // The colour, flat (bare) or mostly within a tint of it (under water).
    const auto shows = [&](bool bare) {
        return Soon([&] {
            Shot s;
            if (!Grab(kSecondOutput, &s)) return false;
            const int all = s.width * s.height, exact = Exactly(s, 0xcc, 0x33, 0x11);
            return (bare ? exact == all : exact < all / 4) &&
                   NearDesktop(s, 0xcc, 0x33, 0x11) > all * 3 / 4;
        });
    };
    ASSERT_TRUE(paint("#cc3311"));
    ASSERT_TRUE(shows(true));
    StartProgram({"--fullscreen", "--picture", "1", "--image-dir", "/nonexistent"});
    EXPECT_TRUE(shows(false)) << Output();
    EXPECT_NE(Output().find("cannot use the picture folder /nonexistent"), std::string::npos)
        << Output();
    EXPECT_NE(Output().find("(screencopy)"), std::string::npos) << Output();
    EXPECT_TRUE(paint("#336699"));
    ExpectNoReports();
}

// An output that comes while it runs is covered too, at the size the
// output takes after it came. (Its picture may be taken before the
// compositor has drawn its background, so only the cover is checked; sway
// 1.7 cannot take a headless output away.)
TEST_F(OnSway, CoversAnOutputThatComes) {
    ASSERT_NO_FATAL_FAILURE(StartCovered());
    Spoil();
    ASSERT_TRUE(compositor_->SwayCommand({"create_output"}));
    ASSERT_TRUE(compositor_->SwayCommand({"output", "HEADLESS-3", "resolution", "200x150"}));
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
    ASSERT_NO_FATAL_FAILURE(StartCovered());
    const size_t before = Output().size();
    Spoil();
    compositor_->Kill();
    ASSERT_TRUE(program_->Wait(kCompositorDeadline)) << Output();
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
    Spoil();
    ASSERT_TRUE(compositor_->SwayCommand({"output", kSecondOutput, "scale", "2"}));
    ASSERT_NO_FATAL_FAILURE(StartCovered());
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

using OnKwin = OnCompositor<CompositorKind::Kwin>;
using OnMutter = OnCompositor<CompositorKind::Mutter>;

// KWin: an overlay layer surface on each output.
TEST_F(OnKwin, CoversEveryOutputWithMovingWaterAndAKeyEndsIt) {
    StartProgram({"--fullscreen"});
    ASSERT_TRUE(CoveredWithMovingWater());
    ASSERT_TRUE(compositor_->TypeKey());
    ASSERT_TRUE(program_->Wait(kCompositorDeadline)) << Output();
    EXPECT_EQ(program_->status(), 0) << Output();
    ExpectNoReports();
}

TEST_F(OnKwin, APointerMotionEndsIt) {
    StartProgram({"--fullscreen"});
    ASSERT_TRUE(CoveredWithMovingWater());
    ASSERT_TRUE(compositor_->MovePointer(40, 30, 5));
    ASSERT_TRUE(program_->Wait(kCompositorDeadline)) << Output();
    EXPECT_EQ(program_->status(), 0) << Output();
    ExpectNoReports();
}

// Mutter: a full-screen toplevel on each output.
TEST_F(OnMutter, CoversEveryOutputWithMovingWaterAndAKeyEndsIt) {
    StartProgram({"--fullscreen"});
    ASSERT_TRUE(CoveredWithMovingWater());
    ASSERT_TRUE(compositor_->TypeKey());
    ASSERT_TRUE(program_->Wait(kCompositorDeadline)) << Output();
    EXPECT_EQ(program_->status(), 0) << Output();
    ExpectNoReports();
}

TEST_F(OnMutter, APointerMotionEndsIt) {
    StartProgram({"--fullscreen"});
    ASSERT_TRUE(CoveredWithMovingWater());
    ASSERT_TRUE(compositor_->MovePointer(40, 30, 5));
    ASSERT_TRUE(program_->Wait(kCompositorDeadline)) << Output();
    EXPECT_EQ(program_->status(), 0) << Output();
    ExpectNoReports();
}

// Powered down (headless sway cannot power its outputs down, Mutter can),
// the monitors show nothing: the program draws nothing and sleeps; powered
// up again, the water moves on.
TEST_F(OnMutter, SleepsWhileTheMonitorsArePoweredDown) {
    StartProgram({"--fullscreen"});
    ASSERT_TRUE(CoveredWithMovingWater());
    ASSERT_TRUE(compositor_->PowerSave(true));
    EXPECT_TRUE(Soon([&] { return Asleep(2.0); })) << Output();
    ASSERT_TRUE(compositor_->PowerSave(false));
    EXPECT_TRUE(CoveredWithMovingWater());
    ExpectNoReports();
}

// Without a compositor: one line and a failed exit, no hang.
TEST(ProgramWithoutCompositor, IsOneLine) {
    char dir[] = "/tmp/mereglass-nowayland-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    ChildProcess program(MEREGLASS_PROGRAM, {MEREGLASS_PROGRAM, "--fullscreen", "--wayland"},
                         {std::string("XDG_RUNTIME_DIR=") + dir, "WAYLAND_DISPLAY=wayland-none",
                          std::string("XDG_CONFIG_HOME=") + dir});
    ASSERT_TRUE(program.Wait(kCompositorDeadline));
    rmdir(dir);
    EXPECT_EQ(program.status(), 1);
    EXPECT_EQ(program.Output(),
              "mereglass: cannot connect to the Wayland display \"wayland-none\"\n");
}
