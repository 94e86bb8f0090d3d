// The idle session's part on the buses: GNOME's idle monitor (followed
// when it goes and comes back, or is handed to another owner), the
// inhibitors that desktops and logind let a program ask about, the lock,
// and the screen-saver daemons that own a name there. The buses are
// connections of their own, dispatched in a main context of their own,
// whose descriptors the session waits on. Relies on GIO's GDBus.
//
// Provides: OpenIdleBus, CloseIdleBus, BusHasGnomeIdleMonitor,
// WatchGnomeIdle, SetGnomeIdleTime, GnomeIdleMonitorGoneSince,
// BusScreenSaverDaemon, BusHolds, BusLocked, BusLocker, BusLock, BusFds,
// DispatchIdleBus, PushIdleEvent.
#include <gio/gio.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>

#include "platform/bus/context_wait_internal.h"
#include "platform/bus/idle_bus_internal.h"
#include "platform/bus/session_bus_internal.h"
#include "platform/platform.h"
#include "support/translation.h"

namespace platform {

namespace {

constexpr const char* kMonitorName = "org.gnome.Mutter.IdleMonitor";
constexpr const char* kMonitorPath = "/org/gnome/Mutter/IdleMonitor/Core";
constexpr const char* kSessionManager = "org.gnome.SessionManager";
constexpr const char* kLogin = "org.freedesktop.login1";
// How long a question to a service on the bus may take, milliseconds.
constexpr int kCallMilliseconds = 1000;
// GNOME's session manager's flag for an inhibitor of idleness.
constexpr guint32 kGnomeIdleFlag = 8;

constexpr const char* kGnomeLock = "org.gnome.ScreenSaver";
constexpr const char* kDesktopLock = "org.freedesktop.ScreenSaver";
const char* const kLockNames[][2] = {
    {kGnomeLock, "/org/gnome/ScreenSaver"},
    {kDesktopLock, "/org/freedesktop/ScreenSaver"},
};
// A locker's Lock may show its lock screen before it answers.
constexpr int kLockCallMilliseconds = 5000;

// Signals that something above changed: (sender, interface, member).
struct Change {
    const char* sender;
    const char* interface;
    const char* member;
    IdleEventKind kind;
};

const Change kChanges[kBusChangeCount] = {
    {kSessionManager, kSessionManager, "InhibitorAdded", IdleEventKind::InhibitorsChanged},
    {kSessionManager, kSessionManager, "InhibitorRemoved", IdleEventKind::InhibitorsChanged},
    {"org.kde.Solid.PowerManagement.PolicyAgent", "org.kde.Solid.PowerManagement.PolicyAgent",
     "InhibitionsChanged", IdleEventKind::InhibitorsChanged},
    {"org.gnome.ScreenSaver", "org.gnome.ScreenSaver", "ActiveChanged", IdleEventKind::LockChanged},
    {"org.freedesktop.ScreenSaver", "org.freedesktop.ScreenSaver", "ActiveChanged",
     IdleEventKind::LockChanged},
};

// Screen-saver daemons of X11 desktops that own a name on the bus.
const std::pair<const char*, const char*> kDaemons[] = {
    {"org.mate.ScreenSaver", "MATE's screen saver"},
    {"org.xfce.ScreenSaver", "Xfce's screen saver"},
    {"org.cinnamon.ScreenSaver", "Cinnamon's screen saver"},
};

GVariant* CallOn(GDBusConnection* connection, const char* name, const char* path,
                 const char* interface, const char* method, GVariant* args,
                 const GVariantType* reply, GError** error = nullptr) {
    return g_dbus_connection_call_sync(connection, name, path, interface, method, args, reply,
                                       G_DBUS_CALL_FLAGS_NO_AUTO_START, kCallMilliseconds, nullptr,
                                       error);
}

GVariant* Call(IdleBus* b, const char* name, const char* path, const char* interface,
               const char* method, GVariant* args, const GVariantType* reply) {
    return CallOn(b->connection, name, path, interface, method, args, reply);
}

bool HasOwner(IdleBus* b, const char* name) {
    GVariant* r = Call(b, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                       "NameHasOwner", g_variant_new("(s)", name), G_VARIANT_TYPE("(b)"));
    if (r == nullptr) return false;
    gboolean owned = FALSE;
    g_variant_get(r, "(b)", &owned);
    g_variant_unref(r);
    return owned;
}

// The (b) answer of `method`, or false when nobody answers it.
bool AskBool(IdleBus* b, const char* name, const char* path, const char* interface,
             const char* method, GVariant* args) {
    GVariant* r = Call(b, name, path, interface, method, args, G_VARIANT_TYPE("(b)"));
    if (r == nullptr) return false;
    gboolean yes = FALSE;
    g_variant_get(r, "(b)", &yes);
    g_variant_unref(r);
    return yes;
}

// A string or number property-like answer of one of GNOME's inhibitor
// objects: (s) or (u).
std::string AskInhibitorText(IdleBus* b, const char* path, const char* method) {
    GVariant* r = Call(b, kSessionManager, path, "org.gnome.SessionManager.Inhibitor", method,
                       nullptr, G_VARIANT_TYPE("(s)"));
    if (r == nullptr) return "";
    const gchar* text = nullptr;
    g_variant_get(r, "(&s)", &text);
    std::string out = text;
    g_variant_unref(r);
    return out;
}

// GNOME's session manager's inhibitors of idleness, each with its program
// and reason where the manager lists them.
void GnomeHolds(IdleBus* b, std::vector<IdleHold>* holds) {
    if (!AskBool(b, kSessionManager, "/org/gnome/SessionManager", kSessionManager, "IsInhibited",
                 g_variant_new("(u)", kGnomeIdleFlag))) {
        return;
    }
    IdleHold hold;
    hold.way = "GNOME's session manager";
    GVariant* r = Call(b, kSessionManager, "/org/gnome/SessionManager", kSessionManager,
                       "GetInhibitors", nullptr, G_VARIANT_TYPE("(ao)"));
    size_t found = 0;
    if (r != nullptr) {
        GVariantIter* paths = nullptr;
        const gchar* path = nullptr;
        g_variant_get(r, "(ao)", &paths);
        while (g_variant_iter_loop(paths, "&o", &path)) {
            GVariant* flags = Call(b, kSessionManager, path, "org.gnome.SessionManager.Inhibitor",
                                   "GetFlags", nullptr, G_VARIANT_TYPE("(u)"));
            guint32 value = 0;
            if (flags != nullptr) {
                g_variant_get(flags, "(u)", &value);
                g_variant_unref(flags);
            }
            if ((value & kGnomeIdleFlag) == 0) continue;
            hold.who = AskInhibitorText(b, path, "GetAppId");
            hold.reason = AskInhibitorText(b, path, "GetReason");
            holds->push_back(hold);
            ++found;
        }
        g_variant_iter_free(paths);
        g_variant_unref(r);
    }
    // Inhibited, though the list says nothing of whom.
    if (found == 0) holds->push_back(IdleHold{hold.way, "", 0, "", 0.0, true});
}

// logind's blocks of idleness ("systemd-inhibit --what=idle"); logind
// tells nothing when one ends, so each is marked to be asked again.
void LogindHolds(IdleBus* b, std::vector<IdleHold>* holds) {
    if (b->system == nullptr) return;
    GError* error = nullptr;
    GVariant* r =
        CallOn(b->system, kLogin, "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
               "ListInhibitors", nullptr, G_VARIANT_TYPE("(a(ssssuu))"), &error);
    if (r == nullptr) {
        if (error != nullptr && g_error_matches(error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT) &&
            !b->logindSlow) {
            b->logindSlow = true;
            PushIdleEvent(b, IdleEventKind::Notice,
                          _("logind does not answer: its idle inhibitors are not seen"));
        }
        if (error != nullptr) g_error_free(error);
        return;
    }
    b->logindSlow = false;
    GVariantIter* list = nullptr;
    const gchar *what = nullptr, *who = nullptr, *why = nullptr, *mode = nullptr;
    guint32 uid = 0, pid = 0;
    g_variant_get(r, "(a(ssssuu))", &list);
    while (g_variant_iter_loop(list, "(&s&s&s&suu)", &what, &who, &why, &mode, &uid, &pid)) {
        gchar** kinds = g_strsplit(what, ":", -1);
        const bool idle = g_strv_contains(kinds, "idle") && g_strcmp0(mode, "block") == 0;
        g_strfreev(kinds);
        if (idle)
            holds->push_back(IdleHold{"logind", who, static_cast<long>(pid), why, 0.0, false});
    }
    g_variant_iter_free(list);
    g_variant_unref(r);
}

// logind's object of this process's session: $XDG_SESSION_ID's, else the
// one the process runs in. Empty when logind knows neither.
std::string FindSession(IdleBus* b) {
    if (b->system == nullptr) return "";
    const char* id = std::getenv("XDG_SESSION_ID");
    GVariant* r =
        id != nullptr && *id != '\0'
            ? CallOn(b->system, kLogin, "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                     "GetSession", g_variant_new("(s)", id), G_VARIANT_TYPE("(o)"))
            : CallOn(b->system, kLogin, "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                     "GetSessionByPID", g_variant_new("(u)", static_cast<guint32>(getpid())),
                     G_VARIANT_TYPE("(o)"));
    if (r == nullptr) return "";
    const gchar* path = nullptr;
    g_variant_get(r, "(&o)", &path);
    std::string out = path;
    g_variant_unref(r);
    return out;
}

// logind's LockedHint of the session, which the lockers that know of it
// set while the lock screen shows.
bool LockedHint(IdleBus* b) {
    if (b->sessionPath.empty()) return false;
    GVariant* r =
        CallOn(b->system, kLogin, b->sessionPath.c_str(), "org.freedesktop.DBus.Properties", "Get",
               g_variant_new("(ss)", "org.freedesktop.login1.Session", "LockedHint"),
               G_VARIANT_TYPE("(v)"));
    if (r == nullptr) return false;
    GVariant* value = nullptr;
    g_variant_get(r, "(v)", &value);
    const bool locked =
        g_variant_is_of_type(value, G_VARIANT_TYPE_BOOLEAN) && g_variant_get_boolean(value);
    g_variant_unref(value);
    g_variant_unref(r);
    return locked;
}

void OnSessionChanged(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                      GVariant*, gpointer data) {
    PushIdleEvent(static_cast<IdleBus*>(data), IdleEventKind::LockChanged);
}

guint32 AddWatch(IdleBus* b, const char* method, GVariant* args) {
    GVariant* r = Call(b, kMonitorName, kMonitorPath, "org.gnome.Mutter.IdleMonitor", method, args,
                       G_VARIANT_TYPE("(u)"));
    if (r == nullptr) return 0;
    guint32 id = 0;
    g_variant_get(r, "(u)", &id);
    g_variant_unref(r);
    return id;
}

void RemoveWatch(IdleBus* b, guint32 id) {
    if (id == 0) return;
    GVariant* r = Call(b, kMonitorName, kMonitorPath, "org.gnome.Mutter.IdleMonitor", "RemoveWatch",
                       g_variant_new("(u)", id), nullptr);
    if (r != nullptr) g_variant_unref(r);
}

guint32 AddIdleWatch(IdleBus* b) {
    return AddWatch(b, "AddIdleWatch", g_variant_new("(t)", guint64{b->milliseconds}));
}

void OnWatchFired(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                  GVariant* parameters, gpointer data) {
    auto* b = static_cast<IdleBus*>(data);
    if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(u)"))) return;
    guint32 id = 0;
    g_variant_get(parameters, "(u)", &id);
    if (id == 0) return;
    if (id == b->idleWatch) {
        PushIdleEvent(b, IdleEventKind::Idle);
        // A user-active watch fires once, at the next input.
        b->activeWatch = AddWatch(b, "AddUserActiveWatch", nullptr);
    } else if (id == b->activeWatch) {
        b->activeWatch = 0;
        PushIdleEvent(b, IdleEventKind::Active);
    }
}

void OnChange(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*,
              gpointer data) {
    const auto* listener = static_cast<const BusListener*>(data);
    PushIdleEvent(listener->bus, listener->kind);
}

// The monitor went, came back or was handed to another owner: its
// watches are gone with the owner that held them. It is asked again by
// RetryGnomeIdle once it has an owner.
void OnMonitorOwner(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                    GVariant* parameters, gpointer data) {
    auto* b = static_cast<IdleBus*>(data);
    if (!b->gnome || !g_variant_is_of_type(parameters, G_VARIANT_TYPE("(sss)"))) return;
    b->idleWatch = 0;
    b->activeWatch = 0;
    if (b->monitorGoneSince == 0.0) b->monitorGoneSince = ClockSeconds();
}

void OnClosed(GDBusConnection*, gboolean, GError*, gpointer data) {
    static_cast<IdleBus*>(data)->closed = true;
}

// Prepares the context for a wait and notes its descriptors, running
// first whatever is ready without one.
void Prepare(IdleBus* b) { PrepareContext(b->context, &b->priority, &b->fds); }

guint Subscribe(IdleBus* b, const char* sender, const char* interface, const char* member,
                const char* path, const char* arg0, GDBusSignalCallback callback, gpointer data) {
    const guint id =
        g_dbus_connection_signal_subscribe(b->connection, sender, interface, member, path, arg0,
                                           G_DBUS_SIGNAL_FLAGS_NONE, callback, data, nullptr);
    b->subscriptions.push_back(id);
    return id;
}

// Asks the monitor again after it came back or changed owner. The
// session's state is not known to the new owner: what it says from now
// on counts, from a session in use.
void RetryGnomeIdle(IdleBus* b) {
    if (!b->gnome || b->monitorGoneSince == 0.0 || !HasOwner(b, kMonitorName)) return;
    b->idleWatch = AddIdleWatch(b);
    if (b->idleWatch == 0) return;
    b->monitorGoneSince = 0.0;
    PushIdleEvent(b, IdleEventKind::Active);
}

}  // namespace

void PushIdleEvent(IdleBus* b, IdleEventKind kind, std::string text) {
    IdleEvent e;
    e.kind = kind;
    e.text = std::move(text);
    b->events.push_back(std::move(e));
}

IdleBus* OpenIdleBus(std::string* error) {
    auto* b = new IdleBus;
    b->context = g_main_context_new();
    g_main_context_acquire(b->context);
    g_main_context_push_thread_default(b->context);
    b->connection = OpenSessionBus(N_("the idle watch"), error);
    if (b->connection != nullptr) {
        g_signal_connect(b->connection, "closed", G_CALLBACK(OnClosed), b);
        for (size_t i = 0; i < std::size(kChanges); ++i) {
            const Change& c = kChanges[i];
            b->listeners[i] = BusListener{b, c.kind};
            Subscribe(b, c.sender, c.interface, c.member, nullptr, nullptr, OnChange,
                      &b->listeners[i]);
        }
        // Without a system bus, logind's inhibitors and lock are not seen.
        std::string systemError;
        b->system = OpenSystemBus("logind", &systemError);
        b->sessionPath = FindSession(b);
        if (!b->sessionPath.empty()) {
            b->subscriptions.push_back(g_dbus_connection_signal_subscribe(
                b->system, kLogin, "org.freedesktop.DBus.Properties", "PropertiesChanged",
                b->sessionPath.c_str(), "org.freedesktop.login1.Session", G_DBUS_SIGNAL_FLAGS_NONE,
                OnSessionChanged, b, nullptr));
            b->systemSubscription = b->subscriptions.back();
        }
    }
    g_main_context_pop_thread_default(b->context);
    if (b->connection == nullptr) {
        CloseIdleBus(b);
        return nullptr;
    }
    Prepare(b);
    return b;
}

void CloseIdleBus(IdleBus* b) {
    if (b == nullptr) return;
    if (b->connection != nullptr) {
        StopScreenSaverService(b);
        if (b->gnome && b->idleWatch != 0 && !b->closed) {
            RemoveWatch(b, b->idleWatch);
            RemoveWatch(b, b->activeWatch);
        }
        for (guint id : b->subscriptions) {
            g_dbus_connection_signal_unsubscribe(
                id == b->systemSubscription ? b->system : b->connection, id);
        }
        g_signal_handlers_disconnect_by_data(b->connection, b);
        CloseSessionBus(b->connection);
    }
    if (b->system != nullptr) CloseSessionBus(b->system);
    // The unsubscriptions' clean-up runs in the context.
    while (g_main_context_iteration(b->context, FALSE)) {
    }
    g_main_context_release(b->context);
    g_main_context_unref(b->context);
    delete b;
}

bool BusHasGnomeIdleMonitor(IdleBus* b) { return HasOwner(b, kMonitorName); }

bool WatchGnomeIdle(IdleBus* b, uint32_t idleMilliseconds, std::string* error) {
    g_main_context_push_thread_default(b->context);
    Subscribe(b, kMonitorName, "org.gnome.Mutter.IdleMonitor", "WatchFired", kMonitorPath, nullptr,
              OnWatchFired, b);
    Subscribe(b, "org.freedesktop.DBus", "org.freedesktop.DBus", "NameOwnerChanged",
              "/org/freedesktop/DBus", kMonitorName, OnMonitorOwner, b);
    g_main_context_pop_thread_default(b->context);
    b->gnome = true;
    b->milliseconds = idleMilliseconds;
    b->idleWatch = AddIdleWatch(b);
    if (b->idleWatch == 0) {
        *error = _("GNOME's idle monitor does not answer");
        return false;
    }
    Prepare(b);
    return true;
}

void SetGnomeIdleTime(IdleBus* b, uint32_t idleMilliseconds) {
    b->milliseconds = idleMilliseconds;
    if (b->idleWatch == 0) return;  // asked with the new time once it is back
    RemoveWatch(b, b->idleWatch);
    b->idleWatch = AddIdleWatch(b);
    if (b->idleWatch == 0 && b->monitorGoneSince == 0.0) b->monitorGoneSince = ClockSeconds();
}

double GnomeIdleMonitorGoneSince(const IdleBus* b) { return b->monitorGoneSince; }

std::string BusScreenSaverDaemon(IdleBus* b) {
    for (const auto& [name, what] : kDaemons) {
        if (HasOwner(b, name)) return what;
    }
    return "";
}

void BusHolds(IdleBus* b, std::vector<IdleHold>* holds) {
    GnomeHolds(b, holds);
    // KDE's policy agent: the screen's kind (4) only, which its own
    // screen-saver service takes for the programs that ask it. Its sleep
    // kinds (a file copy, an update) do not keep the screen on.
    if (AskBool(b, "org.kde.Solid.PowerManagement.PolicyAgent",
                "/org/kde/Solid/PowerManagement/PolicyAgent",
                "org.kde.Solid.PowerManagement.PolicyAgent", "HasInhibition",
                g_variant_new("(u)", 4u))) {
        holds->push_back(IdleHold{"KDE's power management", "", 0, "", 0.0, true});
    }
    LogindHolds(b, holds);
    if (b->service != nullptr) ServiceHolds(b->service, holds);
}

bool BusLocked(IdleBus* b) {
    for (const auto& [name, path] : kLockNames) {
        // Our own service is no lock screen.
        if (ServiceOwnsName(b->service) && std::string(name) == kDesktopLock) continue;
        if (AskBool(b, name, path, name, "GetActive", nullptr)) return true;
    }
    return LockedHint(b);
}

LockerKind BusLocker(IdleBus* b, std::string* why) {
    if (HasOwner(b, kGnomeLock)) return LockerKind::GnomeScreenSaver;
    if (!ServiceOwnsName(b->service) && HasOwner(b, kDesktopLock)) {
        return LockerKind::DesktopScreenSaver;
    }
    if (!b->sessionPath.empty()) return LockerKind::Logind;
    *why = b->system == nullptr
               ? _("no lock screen to ask: no GNOME or KDE lock screen on the session bus, and no "
                   "system bus for logind")
               : _("no lock screen to ask: no GNOME or KDE lock screen on the session bus, and "
                   "logind knows no session of this process ($XDG_SESSION_ID)");
    return LockerKind::Nobody;
}

bool BusLock(IdleBus* b, LockerKind kind, std::string* error) {
    GDBusConnection* connection = b->connection;
    const char* name = kGnomeLock;
    const char* path = "/org/gnome/ScreenSaver";
    const char* interface = kGnomeLock;
    if (kind == LockerKind::DesktopScreenSaver) {
        name = interface = kDesktopLock;
        path = "/org/freedesktop/ScreenSaver";
    } else if (kind == LockerKind::Logind) {
        connection = b->system;
        name = kLogin;
        path = b->sessionPath.c_str();
        interface = "org.freedesktop.login1.Session";
    } else if (kind == LockerKind::Nobody) {
        return false;
    }
    GError* failure = nullptr;
    GVariant* r = g_dbus_connection_call_sync(connection, name, path, interface, "Lock", nullptr,
                                              nullptr, G_DBUS_CALL_FLAGS_NO_AUTO_START,
                                              kLockCallMilliseconds, nullptr, &failure);
    if (r != nullptr) {
        g_variant_unref(r);
        return true;
    }
    *error = failure != nullptr ? failure->message : "";
    if (failure != nullptr) g_error_free(failure);
    return false;
}

void BusFds(IdleBus* b, std::vector<int>* fds) {
    const std::vector<int> own = DescriptorsOf(b->fds);
    fds->insert(fds->end(), own.begin(), own.end());
}

bool DispatchIdleBus(IdleBus* b, std::vector<IdleEvent>* events, std::string* error) {
    g_main_context_push_thread_default(b->context);
    // DispatchContext leaves the context prepared for the next wait.
    DispatchContext(b->context, &b->priority, &b->fds);
    RetryGnomeIdle(b);
    g_main_context_pop_thread_default(b->context);
    events->insert(events->end(), b->events.begin(), b->events.end());
    b->events.clear();
    if (b->closed) {
        *error = _("the session bus has gone");
        return false;
    }
    return true;
}

}  // namespace platform
