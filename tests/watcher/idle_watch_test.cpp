// Tests of the idle watcher's parts that need no session: the rule that
// starts and stops the saver, the saver's command line, the saver child's
// start and end, and the one-watcher-per-session lock.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "command/command_line.h"
#include "platform/watcher_lock.h"
#include "watcher/desktop_delay_text.h"
#include "watcher/saver_child.h"
#include "watcher/watch_rule.h"

namespace {

WatchRule Rule() {
    WatchRule rule;
    rule.idleSeconds = 60.0;
    return rule;
}

TEST(WatchRule, IdleStartsTheSaverAndInputStopsIt) {
    WatchRule rule = Rule();
    EXPECT_EQ(OnIdle(&rule, false, false), WatchStep::StartSaver);
    EXPECT_EQ(OnIdle(&rule, false, false), WatchStep::Nothing);  // it runs already
    EXPECT_EQ(OnActive(&rule), WatchStep::StopSaver);
    OnSaverEnded(&rule);
    EXPECT_EQ(OnActive(&rule), WatchStep::Nothing);
    EXPECT_EQ(OnIdle(&rule, false, false), WatchStep::StartSaver);
}

// A saver that ended while the session stays idle (it crashed, or could
// not cover) is not started again before the next idle time.
TEST(WatchRule, ASaverThatEndsWaitsForTheNextIdleTime) {
    WatchRule rule = Rule();
    ASSERT_EQ(OnIdle(&rule, false, false), WatchStep::StartSaver);
    OnSaverEnded(&rule);
    EXPECT_EQ(OnHoldChanged(&rule, false, false, 10.0), WatchStep::Nothing);
    EXPECT_EQ(OnRetry(&rule, false, false, 1000.0), WatchStep::Nothing);
    EXPECT_EQ(OnActive(&rule), WatchStep::Nothing);
    EXPECT_EQ(OnIdle(&rule, false, false), WatchStep::StartSaver);
}

// Held off by an inhibitor or the lock, the saver starts the idle time
// after the hold ends, unless input or a new hold comes first.
TEST(WatchRule, AHoldDefersTheSaverByTheIdleTimeAfterItEnds) {
    for (bool byLock : {false, true}) {
        WatchRule rule = Rule();
        EXPECT_EQ(OnIdle(&rule, !byLock, byLock), WatchStep::Nothing);
        EXPECT_EQ(OnHoldChanged(&rule, false, false, 100.0), WatchStep::Nothing);
        EXPECT_EQ(rule.retryAt, 160.0);
        EXPECT_EQ(OnRetry(&rule, false, false, 159.0), WatchStep::Nothing);
        EXPECT_EQ(OnRetry(&rule, false, false, 160.0), WatchStep::StartSaver) << byLock;
    }
    WatchRule rule = Rule();
    OnIdle(&rule, true, false);
    OnHoldChanged(&rule, false, false, 100.0);
    OnHoldChanged(&rule, true, false, 110.0);  // held again
    EXPECT_EQ(OnRetry(&rule, true, false, 160.0), WatchStep::Nothing);
    OnHoldChanged(&rule, false, false, 200.0);
    EXPECT_EQ(OnActive(&rule), WatchStep::Nothing);  // input cancels the retry
    EXPECT_EQ(OnRetry(&rule, false, false, 260.0), WatchStep::Nothing);
}

// A program's SimulateUserActivity counts as input: the saver goes, and
// an idle session waits the idle time from it.
TEST(WatchRule, AProgramsActivityCountsAsInputForAnIdleTime) {
    WatchRule rule = Rule();
    EXPECT_EQ(OnUserActivity(&rule, 100.0), WatchStep::Nothing);
    EXPECT_EQ(OnIdle(&rule, false, false, 130.0), WatchStep::Nothing);
    EXPECT_EQ(OnRetry(&rule, false, false, 159.0), WatchStep::Nothing);
    EXPECT_EQ(OnRetry(&rule, false, false, 160.0), WatchStep::StartSaver);
    EXPECT_EQ(OnUserActivity(&rule, 200.0), WatchStep::StopSaver);
    OnSaverEnded(&rule);
    EXPECT_EQ(OnRetry(&rule, false, false, 259.0), WatchStep::Nothing);
    EXPECT_EQ(OnRetry(&rule, false, false, 260.0), WatchStep::StartSaver);
}

TEST(WatchRule, ALockWhileTheSaverRunsStopsIt) {
    WatchRule rule = Rule();
    ASSERT_EQ(OnIdle(&rule, false, false), WatchStep::StartSaver);
    EXPECT_EQ(OnHoldChanged(&rule, true, false, 5.0), WatchStep::Nothing);
    EXPECT_EQ(OnHoldChanged(&rule, false, true, 6.0), WatchStep::StopSaver);
}

// The saver runs full screen on the watcher's session, with what the
// watcher was told of the picture and the settings, and parses.
TEST(SaverChild, CommandCarriesTheWatchersOptions) {
    const char* const argv[] = {
        "mereglass", "--idle-watch", "--idle-seconds", "5",         "--no-lighting", "--water-res",
        "7",         "-fps",         "--image",        "/srv/a.png"};
    CommandLine cl;
    std::string error;
    ASSERT_TRUE(ParseCommandLine(10, argv, &cl, &error)) << error;
    const std::vector<std::string> command = SaverCommand("/usr/bin/mereglass", cl, true);
    EXPECT_EQ(command, (std::vector<std::string>{"/usr/bin/mereglass", "--fullscreen", "--wayland",
                                                 "-fps", "--image", "/srv/a.png", "--no-lighting",
                                                 "--water-res", "7"}));
    std::vector<const char*> words;
    for (const std::string& w : command) words.push_back(w.c_str());
    CommandLine saver;
    ASSERT_TRUE(ParseCommandLine(static_cast<int>(words.size()), words.data(), &saver, &error))
        << error;
    EXPECT_EQ(saver.mode, HostMode::FullScreen);
    EXPECT_EQ(SaverCommand("m", cl, false)[2], "--x11");
}

TEST(SaverChild, AProgramThatCannotStartIsOneReason) {
    SaverChild child;
    std::string error;
    EXPECT_FALSE(StartSaverChild({"/nonexistent/mereglass", "--fullscreen"}, &child, &error));
    EXPECT_EQ(error, "cannot start the saver /nonexistent/mereglass: No such file or directory");
    EXPECT_EQ(child.pid, -1);
}

// Asked to stop, a child that ignores SIGTERM is killed after the grace.
TEST(SaverChild, AChildThatIgnoresTheStopIsKilled) {
    SaverChild child;
    std::string error;
    ASSERT_TRUE(StartSaverChild({"/bin/sh", "-c", "trap '' TERM; exec sleep 60"}, &child, &error))
        << error;
    const pid_t pid = child.pid;
    // Once sleep runs, SIGTERM is ignored (the kernel shows it in SigIgn).
    auto ignoresTerm = [pid] {
        std::ifstream status("/proc/" + std::to_string(pid) + "/status");
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("SigIgn:", 0) == 0) {
                return (std::stoull(line.substr(7), nullptr, 16) >> (SIGTERM - 1) & 1) != 0;
            }
        }
        return false;
    };
    for (int i = 0; i < 600 && !ignoresTerm(); ++i) usleep(50 * 1000);
    ASSERT_TRUE(ignoresTerm());
    EndSaverChild(&child, 0.5);
    EXPECT_EQ(child.pid, -1);
    EXPECT_NE(kill(pid, 0), 0);  // reaped and gone
    EXPECT_EQ(DescribeEnding(SIGKILL), "ended by signal 9 (Killed)");
    EXPECT_EQ(DescribeEnding(1 << 8), "ended with status 1");
}

TEST(WatcherLock, OneWatcherPerSession) {
    using namespace platform;
    // One name however the display is spelled.
    EXPECT_EQ(WatcherSession("wayland-1", ":0", "/run/user/7"), "wayland-wayland-1");
    EXPECT_EQ(WatcherSession("/run/user/7/wayland-1", nullptr, "/run/user/7"), "wayland-wayland-1");
    EXPECT_EQ(WatcherSession("", ":0", nullptr), "x11-_0");
    EXPECT_EQ(WatcherSession("", ":0.1", nullptr), "x11-_0");
    EXPECT_EQ(WatcherSession("", "unix:0.0", nullptr), "x11-_0");
    EXPECT_EQ(WatcherSession("", "host:0.0", nullptr), "x11-host_0");
    EXPECT_NE(WatcherSession("", ":10", nullptr), "x11-_0");
    EXPECT_EQ(WatcherSession(nullptr, nullptr, nullptr), "");
    char dir[] = "/tmp/mereglass-lock-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string path = std::string(dir) + "/watch.lock";
    WatcherLock first, second;
    std::string error;
    ASSERT_TRUE(TakeWatcherLock(path, &first, &error)) << error;
    EXPECT_FALSE(TakeWatcherLock(path, &second, &error));
    EXPECT_EQ(error, "an idle watcher already runs in this session (process " +
                         std::to_string(getpid()) + ")");
    EXPECT_EQ(RunningWatcher(path), getpid());
    ReleaseWatcherLock(&first);
    EXPECT_EQ(RunningWatcher(path), 0);
    EXPECT_TRUE(TakeWatcherLock(path, &second, &error)) << error;
    ReleaseWatcherLock(&second);
    std::filesystem::remove_all(dir);
}

}  // namespace

TEST(DesktopDelayText, WarnsOnlyWhenTheDesktopActsBeforeTheSaver) {
    using platform::DesktopIdleAction;
    const platform::DesktopIdleDelay none;
    EXPECT_EQ(DesktopDelayNote(none), "");
    EXPECT_EQ(DesktopDelayWarning(none, 60), "");

    const platform::DesktopIdleDelay gnome{300, "GNOME", DesktopIdleAction::Blank};
    EXPECT_EQ(DesktopDelayWarning(gnome, 600),
              "GNOME blanks the screen after 5 minutes idle, before the saver starts at "
              "10 minutes: shorten the saver's idle time or lengthen GNOME's");
    EXPECT_EQ(DesktopDelayWarning(gnome, 299), "");  // the saver first
    // At the same time the saver would start behind it all the same.
    const platform::DesktopIdleDelay kde{90, "KDE", DesktopIdleAction::Lock};
    EXPECT_EQ(DesktopDelayWarning(kde, 90),
              "KDE locks the screen after 1 minute 30 seconds idle, just as the saver starts: "
              "shorten the saver's idle time or lengthen KDE's");
    const platform::DesktopIdleDelay off{60, "KDE", DesktopIdleAction::ScreenOff};
    EXPECT_EQ(DesktopDelayNote(off), "KDE turns the screen off after 1 minute idle");
    EXPECT_EQ(DesktopDelayWarning(off, 59), "");
    EXPECT_EQ(DurationText(1), "1 second");
    EXPECT_EQ(DurationText(45), "45 seconds");
}
