// The idle watcher: the session's events, the saver child and the stop
// signals, waited on together with poll; the rule decides. Relies on the
// platform's idle session, settings store and watcher's lock, the saver
// child and the stop signals' descriptor.
#include "app/idle_watch.h"

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "app/saver_child.h"
#include "app/stop_signal.h"
#include "app/watch_rule.h"
#include "platform/desktop_idle_delay.h"
#include "platform/idle_session.h"
#include "platform/platform.h"
#include "platform/watcher_lock.h"
#include "support/diagnostics.h"
#include "support/translation.h"
#include "view/desktop_delay_text.h"
#include "view/settings_table.h"

namespace {

// How long a saver asked to stop may take before it is killed.
constexpr double kStopGraceSeconds = 5.0;

struct Watcher {
    const CommandLine* cl = nullptr;
    platform::WatcherLock lock;
    platform::IdleSession* session = nullptr;
    WatchRule rule;
    SaverChild saver;
    std::vector<std::string> command;
    int signalFd = -1;

    ~Watcher() {
        EndSaverChild(&saver, kStopGraceSeconds);
        if (session != nullptr) platform::CloseIdleSession(session);
        if (signalFd >= 0) close(signalFd);
        platform::ReleaseWatcherLock(&lock);
    }
};

enum class Outcome { Watching, Ended, Stopped };

// The idle time of this run: --idle-seconds, else the setting (with the
// run's setting options applied).
double IdleSeconds(const CommandLine& cl) {
    if (cl.idleSeconds > 0) return cl.idleSeconds;
    platform::SettingsStore* store = platform::OpenSettingsStore(kSettingsModule);
    UserSettings settings = ReadSettings(store);
    platform::CloseSettingsStore(store);
    ApplySettingOverrides(cl, &settings);
    return FitSetting(*FindSetting("IdleMinutes"), settings.IdleMinutes) * 60.0;
}

// "10 minutes", "1 minute", "90 seconds".
std::string Duration(double seconds) {
    const long whole = std::lround(seconds);
    if (whole % 60 == 0) return Format(P_("%ld minute", "%ld minutes", whole / 60), whole / 60);
    return Format(P_("%ld second", "%ld seconds", whole), whole);
}

// The path of this program, to run it again as the saver.
std::string ThisProgram() {
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return "";
    return std::string(path, static_cast<size_t>(n));
}

bool Open(Watcher* w, std::string* error) {
    const std::string session = platform::CurrentWatcherSession();
    if (!session.empty() &&
        !platform::TakeWatcherLock(platform::WatcherLockPath(session), &w->lock, error)) {
        return false;
    }
    w->rule.idleSeconds = IdleSeconds(*w->cl);
    const auto ms = static_cast<uint32_t>(w->rule.idleSeconds * 1000.0);
    w->session = platform::OpenIdleSession(ms, error);
    if (w->session == nullptr) return false;
    w->command = SaverCommand(ThisProgram(), *w->cl, platform::IdleSessionOnWayland(w->session));
    return true;
}

Outcome Apply(Watcher* w, WatchStep step) {
    if (step == WatchStep::StopSaver) {
        StopSaverChild(&w->saver, platform::ClockSeconds(), kStopGraceSeconds);
    } else if (step == WatchStep::StartSaver) {
        std::string error;
        if (!StartSaverChild(w->command, &w->saver, &error)) {
            Tell(error);
            OnSaverEnded(&w->rule);
            return Outcome::Ended;
        }
    }
    return Outcome::Watching;
}

WatchStep Decide(Watcher* w, platform::IdleEventKind kind) {
    std::string who;
    switch (kind) {
        case platform::IdleEventKind::Idle: {
            const bool inhibited = platform::IdleInhibited(w->session, &who);
            return OnIdle(&w->rule, inhibited, platform::SessionLocked(w->session));
        }
        case platform::IdleEventKind::Active:
            return OnActive(&w->rule);
        case platform::IdleEventKind::InhibitorsChanged:
        case platform::IdleEventKind::LockChanged: {
            const bool inhibited = platform::IdleInhibited(w->session, &who);
            return OnHoldChanged(&w->rule, inhibited, platform::SessionLocked(w->session),
                                 platform::ClockSeconds());
        }
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
        if (Apply(w, Decide(w, e.kind)) != Outcome::Watching) return Outcome::Ended;
    }
    return Outcome::Watching;
}

// The saver's end: said in one line unless it ended as asked or by the
// user (status 0).
void HandleSaverEnd(Watcher* w) {
    const bool asked = w->saver.stopping;
    int status = 0;
    if (!ReapSaverChild(&w->saver, &status)) return;
    OnSaverEnded(&w->rule);
    const bool byOurSignal = asked && WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM;
    const bool clean = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!byOurSignal && !clean)
        Tell(Format(_("the saver %s; watching goes on"), DescribeEnding(status).c_str()));
}

Outcome HandleRetry(Watcher* w) {
    if (w->rule.retryAt == 0.0) return Outcome::Watching;
    std::string who;
    const bool inhibited = platform::IdleInhibited(w->session, &who);
    return Apply(w, OnRetry(&w->rule, inhibited, platform::SessionLocked(w->session),
                            platform::ClockSeconds()));
}

// Milliseconds until the next deadline (a retry, a late saver), -1: none.
// A kernel without pidfd tells nothing of the saver's end: it is looked
// for every second then.
int Timeout(const Watcher& w) {
    if (w.saver.pid > 0 && w.saver.pidFd < 0) return 1000;
    double next = 0.0;
    if (w.rule.retryAt > 0.0) next = w.rule.retryAt;
    if (w.saver.stopping && (next == 0.0 || w.saver.killAt < next)) next = w.saver.killAt;
    if (next == 0.0) return -1;
    const double left = next - platform::ClockSeconds();
    return left <= 0.0 ? 0 : static_cast<int>(std::min(std::ceil(left * 1000.0), 3.6e6));
}

Outcome Watch(Watcher* w, int* stopSignal) {
    std::vector<platform::IdleEvent> events;
    events.reserve(16);
    for (;;) {
        pollfd fds[3] = {{platform::IdleSessionFd(w->session), POLLIN, 0},
                         {w->signalFd, POLLIN, 0},
                         {w->saver.pidFd, POLLIN, 0}};
        if (poll(fds, 3, Timeout(*w)) < 0 && errno != EINTR) return Outcome::Ended;
        *stopSignal = ReadStopSignal(w->signalFd);
        if (*stopSignal != 0) return Outcome::Stopped;
        if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0 &&
            HandleSession(w, &events) != Outcome::Watching) {
            return Outcome::Ended;
        }
        if (fds[2].revents != 0 || (w->saver.pid > 0 && w->saver.pidFd < 0)) HandleSaverEnd(w);
        if (HandleRetry(w) != Outcome::Watching) return Outcome::Ended;
        KillLateSaverChild(&w->saver, platform::ClockSeconds());
    }
}

}  // namespace

int RunIdleWatch(const CommandLine& cl, int* stopSignal) {
    *stopSignal = 0;
    Watcher w;
    w.cl = &cl;
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
    // From here on the stop signals wait for the loop, which ends the saver
    // before the process ends by the signal.
    w.signalFd = OpenStopSignalFd();
    const Outcome outcome = Watch(&w, stopSignal);
    return outcome == Outcome::Stopped ? 0 : 1;  // Watcher's destructor ends the saver
}
