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
#include <unistd.h>

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

    // Once the saver has run the lock time, GNOME's lock screen (a stand-in
    // on the compositor's bus) is asked once; input leaves the saver up,
    // and it ends once the lock screen says it shows.
    void LocksThroughTheDesktopsLockScreen() {
        std::unique_ptr<ChildProcess> lock = compositor_->StandIn({"gnome-lock"});
        ASSERT_NE(lock, nullptr) << compositor_->Log();
        Base::StartProgram({"--idle-watch", "--idle-seconds", std::to_string(kIdleSeconds),
                            "--lock-seconds", "1"});
        ASSERT_TRUE(Base::CoveredWithMovingWater());
        ASSERT_TRUE(Soon([&] { return lock->Output().find("lock\n") != std::string::npos; }));
        ASSERT_TRUE(compositor_->MovePointer(40, 30, 5));
        ASSERT_TRUE(compositor_->TypeKey());
        EXPECT_TRUE(Base::CoveredWithMovingWater()) << Base::Output();
        ASSERT_TRUE(lock->Signal(SIGHUP));  // the lock screen shows
        EXPECT_TRUE(Base::ShowsTheDesktop()) << Base::Output();
        EXPECT_EQ(lock->Output().find("lock\n"), lock->Output().rfind("lock\n"));
        Base::ExpectNoReports();
    }

    // On sway a real swaylock locks, started by swayidle when a stand-in
    // logind (on the compositor's bus) asks the session to lock: it says
    // nothing to logind, and the watcher sees it take the input. The saver
    // ends under it.
    void LocksThroughSwaylock() {
        if (access("/usr/bin/swayidle", X_OK) != 0 || access("/usr/bin/swaylock", X_OK) != 0) {
            GTEST_SKIP() << "no swayidle or swaylock (Debian's packages)";
        }
        const std::vector<std::string> env = {
            "DBUS_SYSTEM_BUS_ADDRESS=" + compositor_->BusAddress(), "XDG_SESSION_ID=c7"};
        std::unique_ptr<ChildProcess> logind = compositor_->StandIn({"logind", "c7"}, env);
        ASSERT_NE(logind, nullptr) << compositor_->Log();
        std::unique_ptr<ChildProcess> idle =
            compositor_->Spawn({"/usr/bin/swayidle", "-w", "lock", "swaylock -c 00ff00"}, env);
        Base::StartProgram(
            {"--idle-watch", "--idle-seconds", std::to_string(kIdleSeconds), "--lock-seconds", "1"},
            env);
        ASSERT_TRUE(Base::CoveredWithMovingWater());
        ASSERT_TRUE(Soon([&] { return logind->Output().find("lock c7\n") != std::string::npos; }))
            << logind->Output() << idle->Output();
        // The lock screen's green covers every output, and the saver goes.
        EXPECT_TRUE(Soon([&] {
            std::vector<Shot> shots;
            if (!compositor_->GrabEach(&shots)) return false;
            for (const Shot& shot : shots) {
                const Shot middle = Part(shot, shot.width / 2, shot.height / 2, 1, 1);
                if (middle.rgb != std::vector<unsigned char>{0, 255, 0}) return false;
            }
            return true;
        })) << idle->Output();
        EXPECT_TRUE(Soon([&] {
            std::unique_ptr<ChildProcess> status =
                compositor_->Spawn({compositor_->Program(), "--idle-status"}, env);
            return status->Wait(kCompositorDeadline) && status->status() == 0 &&
                   status->Output().find("The saver shows now.") == std::string::npos;
        })) << Base::Output();
        EXPECT_EQ(Base::Output().find("could not be locked"), std::string::npos) << Base::Output();
        idle.reset();
        Base::Spoil();  // swaylock holds the input until it ends with sway
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
TEST_F(OnSway, LocksThroughSwaylock) { LocksThroughSwaylock(); }
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
TEST_F(OnMutter, LocksThroughTheDesktopsLockScreen) { LocksThroughTheDesktopsLockScreen(); }
TEST_F(OnMutter, ACompositorThatGoesEndsItWithOneLine) {
    ACompositorThatGoesEndsItWithOneLine("GNOME's idle monitor has gone\n");
}
