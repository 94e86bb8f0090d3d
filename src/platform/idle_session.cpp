// The idle session: the choice of the best source of idleness, one epoll
// descriptor over the descriptors of its parts, the holds of all parts
// with when each was first seen, and the wait for a source that went (a
// compositor or shell that restarts) to come back. Relies on Linux's
// epoll and timerfd and the parts' files.
//
// Provides: OpenIdleSession, CloseIdleSession, SetIdleSessionTime,
// IdleSessionSource, IdleSourceName, IdleSessionOnWayland, IdleSessionFd,
// DispatchIdleSession, IdleHolds, IdleHoldWayName, SessionLocked,
// SetIdleSessionSaverActive, SetIdleSessionIdleSince,
// ResetIdleSessionTime, IdleSessionLocker, LockerName, LockIdleSession,
// EndIdleSessionLockRequest.
#include <sys/epoll.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <fstream>

#include "platform/epoll_set_internal.h"
#include "platform/idle_internal.h"
#include "platform/platform.h"
#include "support/translation.h"

namespace platform {

namespace {

// How long a source that went is waited for, and how often it is looked
// for meanwhile, seconds.
constexpr double kReturnSeconds = 10.0;
constexpr double kReturnStepSeconds = 0.5;

}  // namespace

struct IdleSession {
    IdleSourceKind kind = IdleSourceKind::GnomeIdleMonitor;
    IdlePurpose purpose = IdlePurpose::Watch;
    bool onWayland = false;
    uint32_t milliseconds = 0;
    IdleBus* bus = nullptr;  // null without a session bus
    IdleWayland* wayland = nullptr;
    IdleX11* x11 = nullptr;
    // The Wayland compositor went: since when (monotonic seconds), and why.
    double waylandGoneSince = 0.0;
    std::string waylandError;
    int epollFd = -1;
    int timerFd = -1;            // ticks while a source is waited for
    bool ticking = false;        // the timer is set
    std::vector<int> watched;    // the descriptors in the epoll set
    std::vector<IdleHold> seen;  // the holds of the last asking, with their times
    bool lockAsked = false;      // logind was asked to lock, and no input came since
};

namespace {

bool Set(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

bool Waiting(const IdleSession* s) {
    return s->waylandGoneSince > 0.0 ||
           (s->bus != nullptr && GnomeIdleMonitorGoneSince(s->bus) > 0.0);
}

// The epoll set made to hold exactly the parts' descriptors of now: the
// bus's change as its main context adds and drops sources. The timer runs
// while a source is waited for.
void SyncFds(IdleSession* s) {
    std::vector<int> fds;
    if (s->bus != nullptr) BusFds(s->bus, &fds);
    if (s->wayland != nullptr) fds.push_back(IdleWaylandFd(s->wayland));
    if (s->x11 != nullptr) fds.push_back(IdleX11Fd(s->x11));
    if (s->timerFd >= 0) fds.push_back(s->timerFd);
    SyncEpollSet(s->epollFd, &s->watched, std::move(fds));
    if (s->timerFd < 0 || Waiting(s) == s->ticking) return;
    s->ticking = !s->ticking;
    itimerspec tick{};
    if (s->ticking) {
        tick.it_interval.tv_nsec = static_cast<long>(kReturnStepSeconds * 1e9);
        tick.it_value = tick.it_interval;
    }
    timerfd_settime(s->timerFd, 0, &tick, nullptr);
}

// The source for a session without GNOME's idle monitor: the Wayland
// compositor's, else the X server's where no screen-saver daemon runs.
bool OpenOtherSource(IdleSession* s, uint32_t ms, std::string* error) {
    if (Set("WAYLAND_DISPLAY")) {
        s->wayland = OpenIdleWayland(ms, error);
        if (s->wayland == nullptr) return false;
        s->kind = IdleWaylandKind(s->wayland);
        s->onWayland = true;
        return true;
    }
    if (!Set("DISPLAY")) {
        *error =
            "no session to watch: no GNOME idle monitor on the session bus, no Wayland "
            "compositor ($WAYLAND_DISPLAY) and no X display ($DISPLAY)";
        return false;
    }
    std::string daemon = s->bus != nullptr ? BusScreenSaverDaemon(s->bus) : "";
    if (daemon.empty()) {
        s->x11 = OpenIdleX11(ms, s->purpose == IdlePurpose::Watch, &daemon, error);
        if (s->x11 != nullptr) {
            s->kind = IdleSourceKind::XSyncIdleTime;
            return true;
        }
    }
    if (!daemon.empty()) {
        *error = daemon == "XScreenSaver"
                     ? Format(_("%s is in charge of the screen saver here: list Mereglass there "
                                "instead (mereglass --add-to-xscreensaver)"),
                              daemon.c_str())
                     : Format(_("%s is in charge of the screen saver here: choose Mereglass in "
                                "its settings instead"),
                              daemon.c_str());
    }
    return false;
}

// While the compositor is away: looks for it again, and gives up once it
// has been away too long.
bool FollowWayland(IdleSession* s, std::vector<IdleEvent>* events, std::string* error) {
    if (s->waylandGoneSince == 0.0) return true;
    if (!WaylandDisplayListens()) {
        *error = s->waylandError;
        return false;
    }
    std::string ignored;
    s->wayland = OpenIdleWayland(s->milliseconds, &ignored);
    if (s->wayland != nullptr) {
        s->waylandGoneSince = 0.0;
        // Whatever the old connection told, the new one counts from a
        // session in use.
        events->push_back(IdleEvent{IdleEventKind::Active, {}});
        return true;
    }
    if (ClockSeconds() - s->waylandGoneSince < kReturnSeconds) return true;
    *error = s->waylandError;
    return false;
}

// The name of process `pid` as the kernel keeps it, or empty.
std::string ProcessName(long pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(in, name);
    return name;
}

bool SameHold(const IdleHold& a, const IdleHold& b) {
    return a.way == b.way && a.who == b.who && a.pid == b.pid && a.reason == b.reason;
}

}  // namespace

IdleSession* OpenIdleSession(uint32_t idleMilliseconds, IdlePurpose purpose, std::string* error) {
    auto* s = new IdleSession;
    s->purpose = purpose;
    s->milliseconds = idleMilliseconds;
    std::string busError;
    s->bus = OpenIdleBus(&busError);
    bool ok = false;
    if (s->bus != nullptr && BusHasGnomeIdleMonitor(s->bus)) {
        s->kind = IdleSourceKind::GnomeIdleMonitor;
        s->onWayland = Set("WAYLAND_DISPLAY");
        ok = purpose == IdlePurpose::Ask || WatchGnomeIdle(s->bus, idleMilliseconds, error);
        // On X11 the server still knows who suspends its screen saver.
        if (ok && !s->onWayland && Set("DISPLAY")) {
            std::string daemon, ignored;
            s->x11 = OpenIdleX11(idleMilliseconds, false, &daemon, &ignored);
        }
    } else {
        ok = OpenOtherSource(s, idleMilliseconds, error);
        // GNOME offers its own service; elsewhere the programs that play
        // find ours, while nobody else offers one.
        if (ok && purpose == IdlePurpose::Watch && s->bus != nullptr) ServeScreenSaver(s->bus);
    }
    if (ok) {
        s->epollFd = epoll_create1(EPOLL_CLOEXEC);
        s->timerFd = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
    }
    if (!ok || s->epollFd < 0) {
        if (ok) *error = _("cannot wait for the session's events (epoll)");
        CloseIdleSession(s);
        return nullptr;
    }
    SyncFds(s);
    return s;
}

void CloseIdleSession(IdleSession* s) {
    if (s == nullptr) return;
    if (s->wayland != nullptr) CloseIdleWayland(s->wayland);
    if (s->x11 != nullptr) CloseIdleX11(s->x11);
    if (s->bus != nullptr) CloseIdleBus(s->bus);
    if (s->epollFd >= 0) close(s->epollFd);
    if (s->timerFd >= 0) close(s->timerFd);
    delete s;
}

void SetIdleSessionTime(IdleSession* s, uint32_t idleMilliseconds) {
    s->milliseconds = idleMilliseconds;
    switch (s->kind) {
        case IdleSourceKind::GnomeIdleMonitor:
            SetGnomeIdleTime(s->bus, idleMilliseconds);
            break;
        case IdleSourceKind::ExtIdleNotifier:
        case IdleSourceKind::KdeIdle:
            if (s->wayland != nullptr) SetIdleWaylandTime(s->wayland, idleMilliseconds);
            break;
        case IdleSourceKind::XSyncIdleTime:
            SetIdleX11Time(s->x11, idleMilliseconds);
            break;
    }
    SyncFds(s);
}

IdleSourceKind IdleSessionSource(const IdleSession* s) { return s->kind; }

const char* IdleSourceName(IdleSourceKind kind) {
    switch (kind) {
        case IdleSourceKind::GnomeIdleMonitor:
            return N_("GNOME's idle monitor");
        case IdleSourceKind::ExtIdleNotifier:
            return N_("the compositor's idle notifications (ext_idle_notifier_v1)");
        case IdleSourceKind::KdeIdle:
            return N_("the compositor's idle notifications (org_kde_kwin_idle)");
        case IdleSourceKind::XSyncIdleTime:
            return N_("the X server's idle time");
    }
    return "";
}

bool IdleSessionOnWayland(const IdleSession* s) { return s->onWayland; }

int IdleSessionFd(const IdleSession* s) { return s->epollFd; }

bool DispatchIdleSession(IdleSession* s, std::vector<IdleEvent>* events, std::string* error) {
    if (s->timerFd >= 0) {
        uint64_t ticks = 0;
        if (read(s->timerFd, &ticks, sizeof ticks) < 0) {
            // Not due yet: nothing to read.
        }
    }
    // Each part reads what waits on its own descriptors, which leaves the
    // epoll descriptor readable only while something still waits.
    bool ok = true;
    if (s->wayland != nullptr && !DispatchIdleWayland(s->wayland, events, &s->waylandError)) {
        CloseIdleWayland(s->wayland);
        s->wayland = nullptr;
        s->waylandGoneSince = ClockSeconds();
    }
    ok = FollowWayland(s, events, error);
    if (ok && s->x11 != nullptr) {
        std::string x11Error;
        if (!DispatchIdleX11(s->x11, events, &x11Error)) {
            // An X server does not come back; it carries the session only
            // when its idle time is the source.
            if (s->kind == IdleSourceKind::XSyncIdleTime) {
                *error = x11Error;
                ok = false;
            } else {
                CloseIdleX11(s->x11);
                s->x11 = nullptr;
            }
        }
    }
    // The bus carries the source only for GNOME; otherwise its loss costs
    // the inhibitors and the lock, and the session goes on without them.
    if (ok && s->bus != nullptr) {
        std::string busError;
        if (!DispatchIdleBus(s->bus, events, &busError)) {
            if (s->kind == IdleSourceKind::GnomeIdleMonitor) {
                *error = busError;
                ok = false;
            } else {
                CloseIdleBus(s->bus);
                s->bus = nullptr;
            }
        } else if (s->kind == IdleSourceKind::GnomeIdleMonitor) {
            // GNOME on Wayland ends with its shell; on X11 the shell may
            // restart in place.
            const double gone = GnomeIdleMonitorGoneSince(s->bus);
            if (gone > 0.0 && (ClockSeconds() - gone >= kReturnSeconds ||
                               (s->onWayland && !WaylandDisplayListens()))) {
                *error = _("GNOME's idle monitor has gone");
                ok = false;
            }
        }
    }
    if (ok) SyncFds(s);
    return ok;
}

bool IdleHolds(IdleSession* s, std::vector<IdleHold>* holds) {
    holds->clear();
    if (s->bus != nullptr) BusHolds(s->bus, holds);
    if (s->x11 != nullptr) X11SuspendHolds(s->x11, holds);
    // A hold seen before keeps the time it was first seen at.
    const double now = static_cast<double>(std::time(nullptr));
    for (IdleHold& h : *holds) {
        // A program that does not name itself goes by its process's name.
        if (h.who.empty() && h.pid > 0) h.who = ProcessName(h.pid);
        if (h.since > 0.0) continue;
        const auto before = std::find_if(s->seen.begin(), s->seen.end(),
                                         [&](const IdleHold& o) { return SameHold(o, h); });
        h.since = before != s->seen.end() ? before->since : now;
    }
    s->seen = *holds;
    return !holds->empty();
}

std::string IdleHoldWayName(const std::string& way) {
    if (way == "logind") return _("logind");
    if (way == "GNOME's session manager") return _("GNOME's session manager");
    if (way == "KDE's power management") return _("KDE's power management");
    if (way == "X screen-saver suspension") return _("the X screen saver's suspension");
    return way;
}

bool SessionLocked(IdleSession* s) {
    if (s->bus != nullptr && BusLocked(s->bus)) return true;
    if (!s->lockAsked) return false;
    // A locker that tells logind nothing shows by taking the input.
    if (s->x11 != nullptr && X11KeyboardGrabbed(s->x11)) return true;
    return s->onWayland && WaylandInputInhibited();
}

LockerKind IdleSessionLocker(IdleSession* s, std::string* why) {
    if (s->bus == nullptr) {
        *why = _("no lock screen to ask: there is no session bus");
        return LockerKind::Nobody;
    }
    return BusLocker(s->bus, why);
}

const char* LockerName(LockerKind kind) {
    switch (kind) {
        case LockerKind::Nobody:
            break;
        case LockerKind::GnomeScreenSaver:
            return N_("GNOME's lock screen");
        case LockerKind::DesktopScreenSaver:
            return N_("the desktop's lock screen (org.freedesktop.ScreenSaver)");
        case LockerKind::Logind:
            return N_("the session's locker (through logind)");
    }
    return "";
}

bool LockIdleSession(IdleSession* s, std::string* error) {
    const LockerKind kind = IdleSessionLocker(s, error);
    if (kind == LockerKind::Nobody) return false;
    if (!BusLock(s->bus, kind, error)) return false;
    s->lockAsked = kind == LockerKind::Logind;
    return true;
}

void EndIdleSessionLockRequest(IdleSession* s) { s->lockAsked = false; }

void SetIdleSessionSaverActive(IdleSession* s, bool active) {
    if (s->bus != nullptr) SetServiceSaverActive(s->bus, active);
}

void SetIdleSessionIdleSince(IdleSession* s, double since) {
    if (s->bus != nullptr) SetServiceIdleSince(s->bus, since);
}

void ResetIdleSessionTime(IdleSession* s) {
    if (s->x11 != nullptr) ResetIdleX11(s->x11);
}

}  // namespace platform
