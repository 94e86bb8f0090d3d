// The session's idleness, for the idle watcher: when the user has been
// away for the idle time and when they are back, what holds idleness off
// (and who), whether the session is locked. One descriptor to wait on;
// nothing polls. Plain structs and free functions like platform.h's;
// nothing here includes X11, Wayland or GLib. The files:
//   idle_session.cpp          the choice of a source, the one descriptor,
//                             the holds of all parts with when each was
//                             first seen, and the wait for a source that
//                             went to come back
//   bus/idle_bus.cpp          GDBus: GNOME's idle monitor, the desktops'
//                             and logind's idle inhibitors, the lock,
//                             screen-saver daemons on the bus
//   bus/screen_saver_service.cpp  GDBus: our own
//                             org.freedesktop.ScreenSaver where nobody on
//                             the bus offers one
//   wayland/idle_wayland.cpp  Wayland: ext_idle_notifier_v1,
//                             org_kde_kwin_idle
//   x11/idle_x11.cpp          Xlib, XSync: the IDLETIME counter;
//                             XScreenSaver; X-Resource: clients that
//                             suspend the screen saver
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
    UserActivity,       // a program asked that the session count as in use
                        // now (SimulateUserActivity)
    Notice,             // something to tell the user once: `text`
};

struct IdleEvent {
    IdleEventKind kind = IdleEventKind::Idle;
    std::string text;  // Notice: one line, translated
};

// One program that holds idleness off.
struct IdleHold {
    // How it asks: "org.freedesktop.ScreenSaver", "logind",
    // "GNOME's session manager", "KDE's power management",
    // "X screen-saver suspension" (untranslated; IdleHoldWayName).
    std::string way;
    // The program as it names itself, else its process's name; empty when
    // the service does not say.
    std::string who;
    long pid = 0;  // its process, 0 when unknown
    std::string reason;
    // Seconds since the epoch when the session first saw it (exact for
    // our own service's holds).
    double since = 0.0;
    // True when its end is told by an event (InhibitorsChanged, or input
    // as the X server counts it); false when only asking again finds it.
    bool signalled = true;
};

// What a session is opened for.
enum class IdlePurpose {
    // Alarms at the idle time, and our own screen-saver service where
    // nobody offers one: the watcher.
    Watch,
    // Only the holds and the source, for a status: nothing is set up on
    // the servers, no name is taken.
    Ask,
};

struct IdleSession;

// Opens the session's best source of idleness for an idle time of
// `idleMilliseconds`: GNOME's idle monitor when the session bus offers it,
// else the Wayland compositor's notifications ($WAYLAND_DISPLAY), else
// the X server's idle time ($DISPLAY) where no screen-saver daemon runs.
// The session bus, where there is one, also tells of inhibitors and the
// lock, whatever the source; the system bus of logind's idle blocks; the
// X server of the clients that suspend its screen saver. Null, with a
// one-line reason in `error`, when there is none, or a screen-saver
// daemon is in charge (it names the daemon).
IdleSession* OpenIdleSession(uint32_t idleMilliseconds, IdlePurpose purpose, std::string* error);
void CloseIdleSession(IdleSession* session);

// Sets the source's alarms again for a new idle time. An Idle already
// told stands until the next Active.
void SetIdleSessionTime(IdleSession* session, uint32_t idleMilliseconds);

IdleSourceKind IdleSessionSource(const IdleSession* session);
// "GNOME's idle monitor", "the compositor's idle notifications
// (ext_idle_notifier_v1)", ...: for a line to the user (N_: translate).
const char* IdleSourceName(IdleSourceKind kind);
// True when the session's saver should cover a Wayland compositor's
// outputs natively rather than through an X server.
bool IdleSessionOnWayland(const IdleSession* session);

// Readable when events wait; the caller polls it, then calls
// DispatchIdleSession.
int IdleSessionFd(const IdleSession* session);
// Appends what happened to `events` without blocking. A source that goes
// (a compositor or shell that restarts, a bus name handed to a
// replacement) is waited for and followed for a few seconds. False, with
// a one-line reason, once it has gone for good (the compositor, the X
// server or the bus that carried it).
bool DispatchIdleSession(IdleSession* session, std::vector<IdleEvent>* events, std::string* error);

// Every program that holds idleness off now, where the desktop, logind,
// the X server or our own service lets others ask (inhibitors that the
// compositor applies itself, Wayland's, never reach the watcher as Idle).
// True when there is one.
bool IdleHolds(IdleSession* session, std::vector<IdleHold>* holds);
// The translated name of a hold's way of asking.
std::string IdleHoldWayName(const std::string& way);
// True while the desktop says the session is locked: its screen-saver
// service on the bus, or logind's LockedHint of this process's session;
// and, for a while after LockIdleSession asked logind (whose lockers do not
// all say so), a locker that has taken the input (an X client's keyboard
// grab, a Wayland compositor's input inhibitor). False when nothing says
// so.
bool SessionLocked(IdleSession* session);

// Who locks the session when asked: the desktop's own lock screen, never
// ours. In the order asked.
enum class LockerKind {
    Nobody,
    GnomeScreenSaver,    // org.gnome.ScreenSaver.Lock (GNOME Shell)
    DesktopScreenSaver,  // org.freedesktop.ScreenSaver.Lock of another program (KDE)
    Logind,              // logind's Lock of this process's session, which
                         // swayidle, xss-lock and light-locker act on
};
// The locker there is now; Nobody, with a one-line reason in `why`, when
// there is none.
LockerKind IdleSessionLocker(IdleSession* session, std::string* why);
// "GNOME's lock screen", ...: for a line to the user (N_: translate).
const char* LockerName(LockerKind kind);
// Asks the locker to lock the session now. False, with a one-line reason,
// when there is none or it refused at once; that it locked is told later
// by SessionLocked (and LockChanged where the locker says so).
bool LockIdleSession(IdleSession* session, std::string* error);
// The request is over: the session was used again, or the wait gave up.
void EndIdleSessionLockRequest(IdleSession* session);

// What our own screen-saver service (where it runs) answers: whether the
// saver shows (GetActive, ActiveChanged) and since when the session is
// idle, seconds of the monotonic clock (GetSessionIdleTime; 0: in use).
void SetIdleSessionSaverActive(IdleSession* session, bool active);
void SetIdleSessionIdleSince(IdleSession* session, double since);
// The X server's idle time and screen saver reset, as input would; nothing
// elsewhere (the compositors keep their idle time to themselves).
void ResetIdleSessionTime(IdleSession* session);

}  // namespace platform
