// The session's idleness, for the idle watcher: when the user has been
// away for the idle time and when they are back, whether a program holds
// idleness off, whether the session is locked. One descriptor to wait on;
// nothing polls. Plain structs and free functions like platform.h's;
// nothing here includes X11, Wayland or GLib. The files:
//   idle_session.cpp  the choice of a source, the one descriptor
//   idle_bus.cpp      GDBus: GNOME's idle monitor, idle inhibitors, the
//                     lock, screen-saver daemons on the bus
//   idle_wayland.cpp  Wayland: ext_idle_notifier_v1, org_kde_kwin_idle
//   idle_x11.cpp      Xlib, XSync: the IDLETIME counter; XScreenSaver
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// Where a session learns of idleness, in the order of preference.
enum class IdleSourceKind {
    GnomeIdleMonitor,  // org.gnome.Mutter.IdleMonitor on the session bus
    ExtIdleNotifier,   // the Wayland compositor's ext_idle_notifier_v1
    KdeIdle,           // the Wayland compositor's org_kde_kwin_idle
    XSyncIdleTime,     // the X server's IDLETIME counter
};

enum class IdleEventKind {
    Idle,               // no input for the idle time
    Active,             // input again after Idle
    InhibitorsChanged,  // a program took or let go of an idle inhibition
    LockChanged,        // the session was locked or unlocked
};

struct IdleEvent {
    IdleEventKind kind = IdleEventKind::Idle;
};

struct IdleSession;

// Opens the session's best source of idleness for an idle time of
// `idleMilliseconds`: GNOME's idle monitor when the session bus offers it,
// else the Wayland compositor's notifications ($WAYLAND_DISPLAY), else
// the X server's idle time ($DISPLAY) where no screen-saver daemon runs.
// The session bus, where there is one, also tells of inhibitors and the
// lock, whatever the source. Null, with a one-line reason in `error`, when
// there is none, or a screen-saver daemon is in charge (it names the
// daemon).
IdleSession* OpenIdleSession(uint32_t idleMilliseconds, std::string* error);
void CloseIdleSession(IdleSession* session);

IdleSourceKind IdleSessionSource(const IdleSession* session);
// "GNOME's idle monitor", "the compositor's idle notifications
// (ext_idle_notifier_v1)", ...: for a line to the user.
const char* IdleSourceName(IdleSourceKind kind);
// True when the session's saver should cover a Wayland compositor's
// outputs natively rather than through an X server.
bool IdleSessionOnWayland(const IdleSession* session);

// Readable when events wait; the caller polls it, then calls
// DispatchIdleSession.
int IdleSessionFd(const IdleSession* session);
// Appends what happened to `events` without blocking. False, with a
// one-line reason, once the source has gone (the compositor, the X server
// or the bus that carried it).
bool DispatchIdleSession(IdleSession* session, std::vector<IdleEvent>* events, std::string* error);

// True while a program holds idleness off where the desktop lets others
// ask (GNOME's session manager, KDE's and the freedesktop power
// management); `who` then names the service. Inhibitors that the
// compositor applies itself (Wayland's) never reach the watcher as Idle.
// False without a session bus.
bool IdleInhibited(IdleSession* session, std::string* who);
// True while the desktop says the session is locked (its screen-saver
// service on the bus). False when nothing says so.
bool SessionLocked(IdleSession* session);

}  // namespace platform
