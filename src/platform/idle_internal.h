// The parts behind the idle session's handle, one per file: the session
// and system buses, the Wayland compositor's notifications and the X
// server's idle time. Private to src/platform/; includes no library's
// headers, so each part's file keeps its own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/idle_session.h"

namespace platform {

// ---------------------------------------------------------------- the bus

// The session bus, and the system bus for logind, dispatched in a main
// context of their own (idle_bus.cpp).
struct IdleBus;

// Null, with a reason, when there is no session bus.
IdleBus* OpenIdleBus(std::string* error);
void CloseIdleBus(IdleBus* bus);
// True when GNOME's idle monitor is on the bus.
bool BusHasGnomeIdleMonitor(IdleBus* bus);
// Asks GNOME's idle monitor to tell of `idleMilliseconds` without input,
// and from then on of each return and each next idle time; a monitor that
// goes is waited for, and one that comes back (or is handed to another
// owner) is asked again. False, with a reason, when it does not answer.
bool WatchGnomeIdle(IdleBus* bus, uint32_t idleMilliseconds, std::string* error);
// The idle watch set again for a new idle time.
void SetGnomeIdleTime(IdleBus* bus, uint32_t idleMilliseconds);
// Seconds of the monotonic clock since GNOME's idle monitor, as the
// source, has been gone; 0 while it is there.
double GnomeIdleMonitorGoneSince(const IdleBus* bus);
// Offers org.freedesktop.ScreenSaver while nobody else on the bus does,
// and follows a desktop that takes it (screen_saver_service.cpp).
void ServeScreenSaver(IdleBus* bus);
// For the service: whether the saver shows, and since when the session is
// idle (monotonic seconds, 0: in use).
void SetServiceSaverActive(IdleBus* bus, bool active);
void SetServiceIdleSince(IdleBus* bus, double since);
// The screen-saver daemon that owns a name on the bus ("MATE's screen
// saver"), or empty.
std::string BusScreenSaverDaemon(IdleBus* bus);
// Appends the holds the desktop's services, logind and our own service
// know of (`since` 0 but for our own).
void BusHolds(IdleBus* bus, std::vector<IdleHold>* holds);
bool BusLocked(IdleBus* bus);
// The locker on the buses, and the request to it (idle_bus.cpp).
LockerKind BusLocker(IdleBus* bus, std::string* why);
bool BusLock(IdleBus* bus, LockerKind kind, std::string* error);
// The descriptors to wait on: each readable one may bring events.
void BusFds(IdleBus* bus, std::vector<int>* fds);
// Runs what waits in the bus's context. False, with a reason, once the
// session bus has gone.
bool DispatchIdleBus(IdleBus* bus, std::vector<IdleEvent>* events, std::string* error);

// ---------------------------------------------------------------- Wayland

// A connection of its own to the compositor, for its idle notifications
// (idle_wayland.cpp).
struct IdleWayland;

// Connects to $WAYLAND_DISPLAY and asks for a notification after
// `idleMilliseconds`: ext_idle_notifier_v1, else org_kde_kwin_idle. Null,
// with a reason, when there is no compositor or it offers neither.
IdleWayland* OpenIdleWayland(uint32_t idleMilliseconds, std::string* error);
void CloseIdleWayland(IdleWayland* wayland);
IdleSourceKind IdleWaylandKind(const IdleWayland* wayland);
int IdleWaylandFd(const IdleWayland* wayland);
void SetIdleWaylandTime(IdleWayland* wayland, uint32_t idleMilliseconds);
// True when a compositor listens at $WAYLAND_DISPLAY: one that restarts
// keeps its socket (KWin's wrapper does), one that has gone for good
// leaves none, or one nobody listens on.
bool WaylandDisplayListens();
// True when another client of the compositor holds its input inhibited (a
// locker such as swaylock on wlroots 0.15), found by asking for an
// inhibitor on a connection of its own, which the compositor refuses
// then; one granted is let go at once.
bool WaylandInputInhibited();
bool DispatchIdleWayland(IdleWayland* wayland, std::vector<IdleEvent>* events, std::string* error);

// ---------------------------------------------------------------- X11

// A connection of its own to the X server, for alarms on its IDLETIME
// counter and for the clients that suspend its screen saver (idle_x11.cpp).
struct IdleX11;

// Opens $DISPLAY and, when `alarms`, sets an alarm at `idleMilliseconds`
// of its idle time. Null, with a reason, when there is no X server or it
// keeps no idle time; with *daemon set too when XScreenSaver's daemon runs
// there.
IdleX11* OpenIdleX11(uint32_t idleMilliseconds, bool alarms, std::string* daemon,
                     std::string* error);
void CloseIdleX11(IdleX11* x11);
int IdleX11Fd(const IdleX11* x11);
void SetIdleX11Time(IdleX11* x11, uint32_t idleMilliseconds);
// Appends the clients that hold the server's screen saver suspended
// (XScreenSaverSuspend), as its resource accounting shows them.
void X11SuspendHolds(IdleX11* x11, std::vector<IdleHold>* holds);
// Resets the server's idle time and screen saver, as input does.
void ResetIdleX11(IdleX11* x11);
// True when another client holds the keyboard grabbed (a locker such as
// i3lock does), found by trying to grab it; a grab taken is let go at once.
bool X11KeyboardGrabbed(IdleX11* x11);
bool DispatchIdleX11(IdleX11* x11, std::vector<IdleEvent>* events, std::string* error);

}  // namespace platform
