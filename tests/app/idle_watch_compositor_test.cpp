// The idle watcher (--idle-watch) on real Wayland compositors, headless,
// started by the tests (compositor.h): sway (whose idleness the watcher
// learns through org_kde_kwin_idle), KWin (ext_idle_notifier_v1) and Mutter
// (GNOME's idle monitor on the session bus). After the idle time the saver
// covers every output with moving water; input ends it and it comes back
// after the next idle time; an inhibition of idleness (a visible window's
// Wayland idle inhibitor: a playing mpv on sway; or GNOME's session
// manager) keeps it away until it ends; SIGTERM ends the watcher and its saver. Each suite is
// skipped when its compositor or a tool for it is missing.
#include <gtest/gtest.h>
#include <signal.h>

#include <string>

#include "compositor_fixture.h"

namespace {

// Short, so the tests are; yet long enough to see each output's desktop
// between the input that ends the saver and its return (more than ten
// times what that takes on a quiet machine).
constexpr int kIdleSeconds = 3;

template <CompositorKind kKind>
class Watching : public OnCompositor<kKind> {
protected:
    using Base = OnCompositor<kKind>;
    using Base::compositor_;
    using Base::program_;

    void StartWatcher() {
        Base::StartProgram({"--idle-watch", "--idle-seconds", std::to_string(kIdleSeconds)});
        ASSERT_TRUE(Soon([&] {
            return Base::Output().find("the saver starts after") != std::string::npos ||
                   !program_->running();
        }));
        ASSERT_TRUE(program_->running()) << Base::Output();
    }

    // The saver comes after the idle time; a motion ends it, and it comes
    // back after the next idle time; a key ends it too. The watcher stays.
    void ComesAfterTheIdleTimeGoesOnInputAndComesBack() {
        ASSERT_NO_FATAL_FAILURE(StartWatcher());
        ASSERT_TRUE(Base::CoveredWithMovingWater());
        ASSERT_TRUE(compositor_->MovePointer(40, 30, 5));
        EXPECT_TRUE(Base::ShowsTheDesktop()) << Base::Output();
        ASSERT_TRUE(Base::CoveredWithMovingWater());
        ASSERT_TRUE(compositor_->TypeKey());
        EXPECT_TRUE(Base::ShowsTheDesktop()) << Base::Output();
        EXPECT_TRUE(program_->running()) << Base::Output();
        Base::ExpectNoReports();
    }

    // While idleness is inhibited, nothing comes for two idle times;
    // once the inhibition ends, the saver comes. Then SIGTERM ends the
    // watcher by the signal, and its saver with it.
    void AnInhibitionKeepsItAwayAndSigtermEndsBoth() {
        ASSERT_TRUE(compositor_->InhibitIdle(true)) << compositor_->Log();
        ASSERT_NO_FATAL_FAILURE(StartWatcher());
        EXPECT_TRUE(Base::StaysStill(2 * kIdleSeconds));
        ASSERT_TRUE(compositor_->InhibitIdle(false));
        ASSERT_TRUE(Base::CoveredWithMovingWater());
        ASSERT_TRUE(program_->Signal(SIGTERM));
        ASSERT_TRUE(program_->Wait(kCompositorDeadline)) << Base::Output();
        EXPECT_EQ(program_->endSignal(), SIGTERM) << Base::Output();
        EXPECT_TRUE(Base::ShowsTheDesktop()) << Base::Output();
        Base::ExpectNoReports();
    }

    // A compositor that goes (and with it, on GNOME, its idle monitor on
    // the bus) ends the watcher with one line of its own that starts with
    // `line`, and its saver with it: the watcher waits for the saver
    // before it ends.
    void ACompositorThatGoesEndsItWithOneLine(const std::string& line) {
        StartWatcher();
        ASSERT_TRUE(Base::CoveredWithMovingWater());
        Base::Spoil();
        compositor_->Kill();
        ASSERT_TRUE(program_->Wait(kCompositorDeadline)) << Base::Output();
        EXPECT_EQ(program_->status(), 1) << Base::Output();
        const std::string out = Base::Output();
        const size_t at = out.find("mereglass: " + line);
        EXPECT_NE(at, std::string::npos) << out;
        EXPECT_EQ(out.find("mereglass: " + line, at + 1), std::string::npos) << out;
        Base::ExpectNoReports();
    }

    void TearDown() override {
        if (compositor_ != nullptr) compositor_->InhibitIdle(false);
        Base::TearDown();
    }
};

class OnSway : public Watching<CompositorKind::Sway> {};
class OnKwin : public Watching<CompositorKind::Kwin> {};
class OnMutter : public Watching<CompositorKind::Mutter> {};

}  // namespace

TEST_F(OnSway, ComesAfterTheIdleTimeGoesOnInputAndComesBack) {
    ComesAfterTheIdleTimeGoesOnInputAndComesBack();
}
TEST_F(OnSway, AnInhibitionKeepsItAwayAndSigtermEndsBoth) {
    AnInhibitionKeepsItAwayAndSigtermEndsBoth();
}
TEST_F(OnSway, ACompositorThatGoesEndsItWithOneLine) {
    // The reason in brackets is the socket's.
    ACompositorThatGoesEndsItWithOneLine("the Wayland compositor has gone (");
}

TEST_F(OnKwin, ComesAfterTheIdleTimeGoesOnInputAndComesBack) {
    ComesAfterTheIdleTimeGoesOnInputAndComesBack();
}
TEST_F(OnKwin, AnInhibitionKeepsItAwayAndSigtermEndsBoth) {
    AnInhibitionKeepsItAwayAndSigtermEndsBoth();
}

TEST_F(OnMutter, ComesAfterTheIdleTimeGoesOnInputAndComesBack) {
    ComesAfterTheIdleTimeGoesOnInputAndComesBack();
}
TEST_F(OnMutter, AnInhibitionKeepsItAwayAndSigtermEndsBoth) {
    AnInhibitionKeepsItAwayAndSigtermEndsBoth();
}
TEST_F(OnMutter, ACompositorThatGoesEndsItWithOneLine) {
    ACompositorThatGoesEndsItWithOneLine("GNOME's idle monitor has gone\n");
}
