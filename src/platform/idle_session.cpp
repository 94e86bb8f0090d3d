// The idle session: the choice of the best source of idleness, and one
// epoll descriptor over the descriptors of its parts. Relies on Linux's
// epoll and the parts' files.
//
// Provides: OpenIdleSession, CloseIdleSession, IdleSessionSource,
// IdleSourceName, IdleSessionOnWayland, IdleSessionFd, DispatchIdleSession,
// IdleInhibited, SessionLocked.
#include <sys/epoll.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "platform/epoll_set_internal.h"
#include "platform/idle_internal.h"
#include "support/translation.h"

namespace platform {

struct IdleSession {
    IdleSourceKind kind = IdleSourceKind::GnomeIdleMonitor;
    bool onWayland = false;
    IdleBus* bus = nullptr;  // null without a session bus
    IdleWayland* wayland = nullptr;
    IdleX11* x11 = nullptr;
    int epollFd = -1;
    std::vector<int> watched;  // the descriptors in the epoll set
};

namespace {

bool Set(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

// The epoll set made to hold exactly the parts' descriptors of now: the
// bus's change as its main context adds and drops sources.
void SyncFds(IdleSession* s) {
    std::vector<int> fds;
    if (s->bus != nullptr) BusFds(s->bus, &fds);
    if (s->wayland != nullptr) fds.push_back(IdleWaylandFd(s->wayland));
    if (s->x11 != nullptr) fds.push_back(IdleX11Fd(s->x11));
    SyncEpollSet(s->epollFd, &s->watched, std::move(fds));
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
        s->x11 = OpenIdleX11(ms, &daemon, error);
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

}  // namespace

IdleSession* OpenIdleSession(uint32_t idleMilliseconds, std::string* error) {
    auto* s = new IdleSession;
    std::string busError;
    s->bus = OpenIdleBus(&busError);
    bool ok = false;
    if (s->bus != nullptr && BusHasGnomeIdleMonitor(s->bus)) {
        s->kind = IdleSourceKind::GnomeIdleMonitor;
        s->onWayland = Set("WAYLAND_DISPLAY");
        ok = WatchGnomeIdle(s->bus, idleMilliseconds, error);
    } else {
        ok = OpenOtherSource(s, idleMilliseconds, error);
    }
    if (ok) s->epollFd = epoll_create1(EPOLL_CLOEXEC);
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
    delete s;
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
    // Each part reads what waits on its own descriptors, which leaves the
    // epoll descriptor readable only while something still waits.
    bool ok = true;
    if (s->wayland != nullptr) ok = DispatchIdleWayland(s->wayland, events, error);
    if (ok && s->x11 != nullptr) ok = DispatchIdleX11(s->x11, events, error);
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
        }
    }
    if (ok) SyncFds(s);
    return ok;
}

bool IdleInhibited(IdleSession* s, std::string* who) {
    return s->bus != nullptr && BusInhibited(s->bus, who);
}

bool SessionLocked(IdleSession* s) { return s->bus != nullptr && BusLocked(s->bus); }

}  // namespace platform
