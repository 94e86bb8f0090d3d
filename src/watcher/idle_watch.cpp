// The idle watcher: the session's events, the saver child, the stop
// signals, the settings file and the status socket, waited on together
// with poll; the rule decides. Relies on the platform's idle session,
// settings store and watch, watcher's lock and status, the saver child and
// the stop signals' descriptor.
#include "watcher/idle_watch.h"

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iterator>
#include <vector>

#include "command/stop_signal.h"
#include "platform/desktop_idle_delay.h"
#include "platform/idle_session.h"
#include "platform/platform.h"
#include "platform/settings_watch.h"
#include "platform/watcher_lock.h"
#include "platform/watcher_status.h"
#include "settings/settings_table.h"
#include "support/diagnostics.h"
#include "support/translation.h"
#include "watcher/desktop_delay_text.h"
#include "watcher/idle_status_text.h"
#include "watcher/saver_child.h"
#include "watcher/watch_rule.h"

namespace {

// How long a saver asked to stop may take before it is killed.
constexpr double kStopGraceSeconds = 5.0;
// How often holds whose end nobody tells of (logind's) are asked about
// again while they hold the saver off, seconds.
constexpr double kAskAgainSeconds = 5.0;
// How often a lock asked for is looked for, seconds.
constexpr double kLockLookSeconds = 0.5;

struct Watcher {
    const CommandLine* cl = nullptr;
    platform::SettingsStore* store = nullptr;  // the process's, not owned
    platform::WatcherLock lock;
    platform::IdleSession* session = nullptr;
    platform::SettingsWatch* settings = nullptr;
    int statusFd = -1;
    std::string statusPath;
    WatchRule rule;
    SaverChild saver;
    std::vector<std::string> command;
    int signalFd = -1;
    std::vector<platform::IdleHold> holds;  // as last asked
    double askAgainAt = 0.0;                // 0: nothing to ask again
    platform::LockerKind lockerAsked = platform::LockerKind::Nobody;

    ~Watcher() {
        EndSaverChild(&saver, kStopGraceSeconds);
        platform::CloseWatcherStatusSocket(statusFd, statusPath);
        platform::CloseSettingsWatch(settings);
        if (session != nullptr) platform::CloseIdleSession(session);
        if (signalFd >= 0) close(signalFd);
        platform::ReleaseWatcherLock(&lock);
    }
};

enum class Outcome { Watching, Ended, Stopped };

// The idle time and the lock time (0: never) of this run.
struct Times {
    double idleSeconds = 0.0;
    double lockSeconds = 0.0;
};

// The times of this run: --idle-seconds and --lock-seconds, else the
// settings of `store` (with the run's setting options applied).
// `settingsPath` gets the store's file when the settings count.
Times ReadTimes(const CommandLine& cl, platform::SettingsStore* store,
                std::string* settingsPath = nullptr) {
    Times t{static_cast<double>(cl.idleSeconds), static_cast<double>(cl.lockSeconds)};
    if (t.idleSeconds > 0.0 && t.lockSeconds > 0.0) return t;
    if (settingsPath != nullptr) *settingsPath = platform::SettingsStorePath(store);
    UserSettings settings = ReadSettings(store);
    ApplySettingOverrides(cl, &settings);
    if (t.idleSeconds <= 0.0) {
        t.idleSeconds = FitSetting(*FindSetting("IdleMinutes"), settings.IdleMinutes) * 60.0;
    }
    if (t.lockSeconds <= 0.0) {
        t.lockSeconds = FitSetting(*FindSetting("LockMinutes"), settings.LockMinutes) * 60.0;
    }
    return t;
}

uint32_t Milliseconds(double seconds) { return static_cast<uint32_t>(seconds * 1000.0); }

// The path of this program, to run it again as the saver.
std::string ThisProgram() {
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return "";
    return std::string(path, static_cast<size_t>(n));
}

bool Open(Watcher* w, std::string* error) {
    const std::string session = platform::CurrentWatcherSession();
    const std::string lock = session.empty() ? "" : platform::WatcherLockPath(session);
    if (!session.empty() && !platform::TakeWatcherLock(lock, &w->lock, error)) return false;
    std::string settingsPath;
    const Times times = ReadTimes(*w->cl, w->store, &settingsPath);
    w->rule.idleSeconds = times.idleSeconds;
    w->rule.lockSeconds = times.lockSeconds;
    w->session = platform::OpenIdleSession(Milliseconds(w->rule.idleSeconds),
                                           platform::IdlePurpose::Watch, error);
    if (w->session == nullptr) return false;
    w->command = SaverCommand(ThisProgram(), *w->cl, platform::IdleSessionOnWayland(w->session));
    // The times of --idle-seconds and --lock-seconds stand whatever the
    // file says.
    if (!settingsPath.empty()) w->settings = platform::OpenSettingsWatch(settingsPath);
    if (!lock.empty()) {
        std::string why;
        w->statusPath = platform::WatcherStatusPath(lock);
        w->statusFd = platform::OpenWatcherStatusSocket(w->statusPath, &why);
        if (w->statusFd < 0) Tell(why);
    }
    return true;
}

// Asks the session what holds the saver off now; holds whose end nobody
// tells of are asked about again while they matter.
bool Held(Watcher* w) {
    const bool held = platform::IdleHolds(w->session, &w->holds);
    const bool unsignalled = std::any_of(w->holds.begin(), w->holds.end(),
                                         [](const platform::IdleHold& h) { return !h.signalled; });
    w->askAgainAt = unsignalled ? platform::ClockSeconds() + kAskAgainSeconds : 0.0;
    return held;
}

// Asks the locker to lock, the saver held up meanwhile: the lock screen
// comes before the desktop shows.
void AskLock(Watcher* w) {
    HoldSaverChild(&w->saver, true);
    std::string error;
    w->lockerAsked = platform::IdleSessionLocker(w->session, &error);
    if (platform::LockIdleSession(w->session, &error)) return;
    Tell(Format(_("the session could not be locked: %s"), error.c_str()));
    w->rule.locking = false;
    HoldSaverChild(&w->saver, false);
}

Outcome Apply(Watcher* w, WatchStep step) {
    switch (step) {
        case WatchStep::Nothing:
            break;
        case WatchStep::StopSaver:
            StopSaverChild(&w->saver, platform::ClockSeconds(), kStopGraceSeconds);
            break;
        case WatchStep::StartSaver: {
            std::string error;
            if (!StartSaverChild(w->command, &w->saver, &error)) {
                Tell(error);
                OnSaverEnded(&w->rule);
                return Outcome::Ended;
            }
            OnSaverStarted(&w->rule, platform::ClockSeconds());
            platform::SetIdleSessionSaverActive(w->session, true);
            break;
        }
        case WatchStep::AskLock:
            AskLock(w);
            break;
        case WatchStep::LockFailed:
            Tell(Format(_("the session could not be locked: %s did not lock it within %d seconds"),
                        _(platform::LockerName(w->lockerAsked)),
                        static_cast<int>(kLockWaitSeconds)));
            platform::EndIdleSessionLockRequest(w->session);
            HoldSaverChild(&w->saver, false);
            break;
    }
    return Outcome::Watching;
}

WatchStep Decide(Watcher* w, const platform::IdleEvent& e) {
    const double now = platform::ClockSeconds();
    switch (e.kind) {
        case platform::IdleEventKind::Idle:
            platform::SetIdleSessionIdleSince(w->session, now - w->rule.idleSeconds);
            return OnIdle(&w->rule, Held(w), platform::SessionLocked(w->session), now);
        case platform::IdleEventKind::Active:
            platform::SetIdleSessionIdleSince(w->session, 0.0);
            w->askAgainAt = 0.0;
            // Once the lock was asked for, input goes to the locker.
            if (!w->rule.locking) platform::EndIdleSessionLockRequest(w->session);
            return OnActive(&w->rule);
        case platform::IdleEventKind::InhibitorsChanged:
        case platform::IdleEventKind::LockChanged:
            // Holds matter only to an idle session, the lock to a saver too.
            if (!w->rule.idle && !w->rule.running) return WatchStep::Nothing;
            return OnHoldChanged(&w->rule, Held(w), platform::SessionLocked(w->session), now);
        case platform::IdleEventKind::UserActivity:
            platform::ResetIdleSessionTime(w->session);
            return OnUserActivity(&w->rule, now);
        case platform::IdleEventKind::Notice:
            Tell(e.text);
            return WatchStep::Nothing;
    }
    return WatchStep::Nothing;
}

Outcome HandleSession(Watcher* w, std::vector<platform::IdleEvent>* events) {
    events->clear();
    std::string error;
    if (!platform::DispatchIdleSession(w->session, events, &error)) {
        Tell(error);
        return Outcome::Ended;
    }
    for (const platform::IdleEvent& e : *events) {
        if (Apply(w, Decide(w, e)) != Outcome::Watching) return Outcome::Ended;
    }
    return Outcome::Watching;
}

// "10 minutes", "1 minute", "1 minute 30 seconds".
std::string Duration(double seconds) {
    return DurationText(static_cast<int>(std::lround(seconds)));
}

// The settings file changed: a new idle time counts from now on, a new
// lock time from the next saver.
Outcome HandleSettings(Watcher* w, std::vector<platform::IdleEvent>* events) {
    if (!platform::SettingsWatchChanged(w->settings)) return Outcome::Watching;
    platform::ReloadSettingsStore(w->store);
    const Times times = ReadTimes(*w->cl, w->store);
    w->rule.lockSeconds = times.lockSeconds;
    const double seconds = times.idleSeconds;
    if (seconds == w->rule.idleSeconds) return Outcome::Watching;
    w->rule.idleSeconds = seconds;
    platform::SetIdleSessionTime(w->session, Milliseconds(seconds));
    Tell(Format(_("the saver now starts after %s without input"), Duration(seconds).c_str()));
    // The source may have found the session idle for longer already.
    return HandleSession(w, events);
}

void HandleStatus(Watcher* w) {
    platform::WatcherStatus status;
    status.pid = getpid();
    status.idleSeconds = w->rule.idleSeconds;
    status.source = platform::IdleSourceName(platform::IdleSessionSource(w->session));
    status.saverShows = w->saver.pid > 0 && !w->saver.stopping;
    Held(w);
    status.holds = w->holds;
    platform::AnswerWatcherStatus(w->statusFd, status);
}

// The saver's end: said in one line unless it ended as asked or by the
// user (status 0).
void HandleSaverEnd(Watcher* w) {
    const bool asked = w->saver.stopping;
    int status = 0;
    if (!ReapSaverChild(&w->saver, &status)) return;
    OnSaverEnded(&w->rule);
    platform::SetIdleSessionSaverActive(w->session, false);
    const bool byOurSignal = asked && WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM;
    const bool clean = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!byOurSignal && !clean)
        Tell(Format(_("the saver %s; watching goes on"), DescribeEnding(status).c_str()));
}

Outcome HandleTimers(Watcher* w) {
    const double now = platform::ClockSeconds();
    if (Apply(w, OnLockDue(&w->rule, now)) != Outcome::Watching) return Outcome::Ended;
    if (w->rule.locking && platform::SessionLocked(w->session)) {
        const WatchStep step = OnHoldChanged(&w->rule, false, true, now);
        if (Apply(w, step) != Outcome::Watching) return Outcome::Ended;
    }
    if (Apply(w, OnLockWaitOver(&w->rule, now)) != Outcome::Watching) return Outcome::Ended;
    if (w->askAgainAt > 0.0 && now >= w->askAgainAt) {
        w->askAgainAt = 0.0;
        if (w->rule.idle && w->rule.heldOff) {
            const bool held = Held(w);
            const WatchStep step =
                OnHoldChanged(&w->rule, held, platform::SessionLocked(w->session), now);
            if (Apply(w, step) != Outcome::Watching) return Outcome::Ended;
        }
    }
    if (w->rule.retryAt == 0.0) return Outcome::Watching;
    const bool held = now >= w->rule.retryAt && Held(w);
    return Apply(w, OnRetry(&w->rule, held, platform::SessionLocked(w->session), now));
}

// Milliseconds until the next deadline (a retry, a hold to ask about
// again, a late saver), -1: none. A kernel without pidfd tells nothing of
// the saver's end: it is looked for every second then.
int Timeout(const Watcher& w) {
    if (w.saver.pid > 0 && w.saver.pidFd < 0) return 1000;
    double next = 0.0;
    auto sooner = [&next](double at) {
        if (at > 0.0 && (next == 0.0 || at < next)) next = at;
    };
    sooner(w.rule.retryAt);
    if (w.rule.idle && w.rule.heldOff) sooner(w.askAgainAt);
    if (w.rule.running && !w.rule.locking) sooner(w.rule.lockAt);
    // While the lock is waited for, whether it came is asked twice a
    // second: not every locker says so.
    if (w.rule.locking) {
        sooner(std::min(w.rule.lockGiveUpAt, platform::ClockSeconds() + kLockLookSeconds));
    }
    if (w.saver.stopping) sooner(w.saver.killAt);
    if (next == 0.0) return -1;
    const double left = next - platform::ClockSeconds();
    return left <= 0.0 ? 0 : static_cast<int>(std::min(std::ceil(left * 1000.0), 3.6e6));
}

Outcome Watch(Watcher* w, int* stopSignal) {
    std::vector<platform::IdleEvent> events;
    events.reserve(16);
    for (;;) {
        pollfd fds[5] = {
            {platform::IdleSessionFd(w->session), POLLIN, 0},
            {w->signalFd, POLLIN, 0},
            {w->saver.pidFd, POLLIN, 0},
            {w->statusFd, POLLIN, 0},
            {w->settings != nullptr ? platform::SettingsWatchFd(w->settings) : -1, POLLIN, 0}};
        if (poll(fds, std::size(fds), Timeout(*w)) < 0 && errno != EINTR) return Outcome::Ended;
        *stopSignal = ReadStopSignal(w->signalFd);
        if (*stopSignal != 0) return Outcome::Stopped;
        if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0 &&
            HandleSession(w, &events) != Outcome::Watching) {
            return Outcome::Ended;
        }
        if (fds[2].revents != 0 || (w->saver.pid > 0 && w->saver.pidFd < 0)) HandleSaverEnd(w);
        if (fds[4].revents != 0 && HandleSettings(w, &events) != Outcome::Watching) {
            return Outcome::Ended;
        }
        if (HandleTimers(w) != Outcome::Watching) return Outcome::Ended;
        if (fds[3].revents != 0) HandleStatus(w);
        KillLateSaverChild(&w->saver, platform::ClockSeconds());
    }
}

}  // namespace

int RunIdleWatch(const CommandLine& cl, platform::SettingsStore* store, int* stopSignal) {
    *stopSignal = 0;
    Watcher w;
    w.cl = &cl;
    w.store = store;
    std::string error;
    if (!Open(&w, &error)) {
        Tell(error);
        return 1;
    }
    Tell(Format(_("the saver starts after %s without input (%s)"),
                Duration(w.rule.idleSeconds).c_str(),
                _(platform::IdleSourceName(platform::IdleSessionSource(w.session)))));
    // A desktop that blanks or locks the screen first hides the saver.
    const std::string warning =
        DesktopDelayWarning(platform::ReadDesktopIdleDelay(), static_cast<int>(w.rule.idleSeconds));
    if (!warning.empty()) Tell(warning);
    std::string why;
    if (w.rule.lockSeconds > 0.0 &&
        platform::IdleSessionLocker(w.session, &why) == platform::LockerKind::Nobody) {
        Tell(Format(_("the screen will not be locked after the saver: %s"), why.c_str()));
    }
    // From here on the stop signals wait for the loop, which ends the saver
    // before the process ends by the signal.
    w.signalFd = OpenStopSignalFd();
    const Outcome outcome = Watch(&w, stopSignal);
    return outcome == Outcome::Stopped ? 0 : 1;  // Watcher's destructor ends the saver
}

int RunIdleStatus(const CommandLine& cl, platform::SettingsStore* store) {
    const double now = static_cast<double>(std::time(nullptr));
    const std::string session = platform::CurrentWatcherSession();
    const std::string lock = session.empty() ? "" : platform::WatcherLockPath(session);
    platform::WatcherStatus status;
    if (!lock.empty() && platform::AskWatcherStatus(platform::WatcherStatusPath(lock), &status)) {
        for (const std::string& line : IdleStatusLines(status, true, now))
            std::printf("%s\n", line.c_str());
        return 0;
    }
    const long holder = lock.empty() ? 0 : platform::RunningWatcher(lock);
    if (holder > 0) {
        Tell(Format(_("the idle watcher (process %ld) does not answer"), holder));
        return 1;
    }
    // No watcher: the session is asked directly, as one would watch it.
    status.idleSeconds = ReadTimes(cl, store).idleSeconds;
    std::string error;
    platform::IdleSession* asked = platform::OpenIdleSession(Milliseconds(status.idleSeconds),
                                                             platform::IdlePurpose::Ask, &error);
    if (asked == nullptr) {
        Tell(error);
        return 1;
    }
    status.source = platform::IdleSourceName(platform::IdleSessionSource(asked));
    platform::IdleHolds(asked, &status.holds);
    platform::CloseIdleSession(asked);
    for (const std::string& line : IdleStatusLines(status, false, now))
        std::printf("%s\n", line.c_str());
    return 1;
}
