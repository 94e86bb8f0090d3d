// The idle session's part on the session bus: GNOME's idle monitor, the
// inhibitors that desktops let a program ask about, the lock, and the
// screen-saver daemons that own a name there. The bus is a connection of
// its own, dispatched in a main context of its own, whose descriptors the
// session waits on. Relies on GIO's GDBus.
//
// Provides: OpenIdleBus, CloseIdleBus, BusHasGnomeIdleMonitor,
// WatchGnomeIdle, BusScreenSaverDaemon, BusInhibited, BusLocked, BusFds,
// DispatchIdleBus.
#include <gio/gio.h>
#include <poll.h>

#include <algorithm>
#include <iterator>

#include "platform/desktop/context_wait_internal.h"
#include "platform/desktop/session_bus_internal.h"
#include "platform/idle_internal.h"
#include "support/translation.h"

namespace platform {

namespace {

constexpr const char* kMonitorName = "org.gnome.Mutter.IdleMonitor";
constexpr const char* kMonitorPath = "/org/gnome/Mutter/IdleMonitor/Core";
// How long a question to a service on the bus may take, milliseconds.
constexpr int kCallMilliseconds = 1000;

// A service that says whether idleness is held off, or whether the
// session is locked: a method that answers (b).
struct Question {
    const char* name;
    const char* path;
    const char* interface;
    const char* method;
    int flags;  // the method's one argument (u), or -1 for none
    const char* what;
};

// GNOME's session manager (flag 8: idle), KDE's policy agent (flag 4:
// the screen's settings, which its screen-saver service holds) and the
// power management service of KDE and Xfce.
const Question kInhibitors[] = {
    {"org.gnome.SessionManager", "/org/gnome/SessionManager", "org.gnome.SessionManager",
     "IsInhibited", 8, "the session manager"},
    {"org.kde.Solid.PowerManagement.PolicyAgent", "/org/kde/Solid/PowerManagement/PolicyAgent",
     "org.kde.Solid.PowerManagement.PolicyAgent", "HasInhibition", 4, "KDE's power management"},
    {"org.freedesktop.PowerManagement", "/org/freedesktop/PowerManagement/Inhibit",
     "org.freedesktop.PowerManagement.Inhibit", "HasInhibit", -1, "the power management"},
};

const Question kLocks[] = {
    {"org.gnome.ScreenSaver", "/org/gnome/ScreenSaver", "org.gnome.ScreenSaver", "GetActive", -1,
     "GNOME's lock screen"},
    {"org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver", "org.freedesktop.ScreenSaver",
     "GetActive", -1, "the lock screen"},
};

// Signals that something above changed: (sender, interface, member).
struct Change {
    const char* sender;
    const char* interface;
    const char* member;
    IdleEventKind kind;
};

const Change kChanges[] = {
    {"org.gnome.SessionManager", "org.gnome.SessionManager", "InhibitorAdded",
     IdleEventKind::InhibitorsChanged},
    {"org.gnome.SessionManager", "org.gnome.SessionManager", "InhibitorRemoved",
     IdleEventKind::InhibitorsChanged},
    {"org.kde.Solid.PowerManagement.PolicyAgent", "org.kde.Solid.PowerManagement.PolicyAgent",
     "InhibitionsChanged", IdleEventKind::InhibitorsChanged},
    {"org.freedesktop.PowerManagement", "org.freedesktop.PowerManagement.Inhibit",
     "HasInhibitChanged", IdleEventKind::InhibitorsChanged},
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

}  // namespace

struct IdleBus;

namespace {

// What a subscription to one of kChanges hands its callback.
struct Listener {
    IdleBus* bus;
    IdleEventKind kind;
};

}  // namespace

struct IdleBus {
    GMainContext* context = nullptr;
    GDBusConnection* connection = nullptr;
    std::vector<guint> subscriptions;
    Listener listeners[std::size(kChanges)];
    std::vector<IdleEvent> events;  // heard, not yet handed out
    // The context's descriptors and priority from its last query.
    std::vector<GPollFD> fds;
    gint priority = 0;
    // GNOME's idle monitor, when it is the source: its watches' ids.
    bool gnome = false;
    guint32 idleWatch = 0;
    guint32 activeWatch = 0;
    bool monitorGone = false;
    bool closed = false;
};

namespace {

GVariant* Call(IdleBus* b, const char* name, const char* path, const char* interface,
               const char* method, GVariant* args, const GVariantType* reply) {
    return g_dbus_connection_call_sync(b->connection, name, path, interface, method, args, reply,
                                       G_DBUS_CALL_FLAGS_NO_AUTO_START, kCallMilliseconds, nullptr,
                                       nullptr);
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

// The answer of a question, or false when nobody answers it.
bool Ask(IdleBus* b, const Question& q) {
    GVariant* args = q.flags >= 0 ? g_variant_new("(u)", static_cast<guint32>(q.flags)) : nullptr;
    GVariant* r = Call(b, q.name, q.path, q.interface, q.method, args, G_VARIANT_TYPE("(b)"));
    if (r == nullptr) return false;
    gboolean yes = FALSE;
    g_variant_get(r, "(b)", &yes);
    g_variant_unref(r);
    return yes;
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

void Push(IdleBus* b, IdleEventKind kind) {
    IdleEvent e;
    e.kind = kind;
    b->events.push_back(e);
}

void OnWatchFired(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                  GVariant* parameters, gpointer data) {
    auto* b = static_cast<IdleBus*>(data);
    if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(u)"))) return;
    guint32 id = 0;
    g_variant_get(parameters, "(u)", &id);
    if (id == 0) return;
    if (id == b->idleWatch) {
        Push(b, IdleEventKind::Idle);
        // A user-active watch fires once, at the next input.
        b->activeWatch = AddWatch(b, "AddUserActiveWatch", nullptr);
    } else if (id == b->activeWatch) {
        b->activeWatch = 0;
        Push(b, IdleEventKind::Active);
    }
}

void OnChange(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*,
              gpointer data) {
    const auto* listener = static_cast<const Listener*>(data);
    Push(listener->bus, listener->kind);
}

void OnMonitorOwner(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                    GVariant* parameters, gpointer data) {
    auto* b = static_cast<IdleBus*>(data);
    if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(sss)"))) return;
    const gchar* name = nullptr;
    const gchar* newOwner = nullptr;
    const gchar* oldOwner = nullptr;
    g_variant_get(parameters, "(&s&s&s)", &name, &oldOwner, &newOwner);
    if (b->gnome && newOwner != nullptr && *newOwner == '\0') b->monitorGone = true;
}

void OnClosed(GDBusConnection*, gboolean, GError*, gpointer data) {
    static_cast<IdleBus*>(data)->closed = true;
}

// Prepares the context for a wait and notes its descriptors, running
// first whatever is ready without one.
void Prepare(IdleBus* b) { PrepareContext(b->context, &b->priority, &b->fds); }

}  // namespace

namespace {

guint Subscribe(IdleBus* b, const char* sender, const char* interface, const char* member,
                const char* path, const char* arg0, GDBusSignalCallback callback, gpointer data) {
    const guint id =
        g_dbus_connection_signal_subscribe(b->connection, sender, interface, member, path, arg0,
                                           G_DBUS_SIGNAL_FLAGS_NONE, callback, data, nullptr);
    b->subscriptions.push_back(id);
    return id;
}

}  // namespace

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
            b->listeners[i] = Listener{b, c.kind};
            Subscribe(b, c.sender, c.interface, c.member, nullptr, nullptr, OnChange,
                      &b->listeners[i]);
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
        for (guint id : b->subscriptions) g_dbus_connection_signal_unsubscribe(b->connection, id);
        g_signal_handlers_disconnect_by_data(b->connection, b);
        CloseSessionBus(b->connection);
    }
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
    b->idleWatch = AddWatch(b, "AddIdleWatch", g_variant_new("(t)", guint64{idleMilliseconds}));
    if (b->idleWatch == 0) {
        *error = _("GNOME's idle monitor does not answer");
        return false;
    }
    Prepare(b);
    return true;
}

std::string BusScreenSaverDaemon(IdleBus* b) {
    for (const auto& [name, what] : kDaemons) {
        if (HasOwner(b, name)) return what;
    }
    return "";
}

bool BusInhibited(IdleBus* b, std::string* who) {
    for (const Question& q : kInhibitors) {
        if (Ask(b, q)) {
            *who = q.what;
            return true;
        }
    }
    return false;
}

bool BusLocked(IdleBus* b) {
    for (const Question& q : kLocks) {
        if (Ask(b, q)) return true;
    }
    return false;
}

void BusFds(IdleBus* b, std::vector<int>* fds) {
    const std::vector<int> own = DescriptorsOf(b->fds);
    fds->insert(fds->end(), own.begin(), own.end());
}

bool DispatchIdleBus(IdleBus* b, std::vector<IdleEvent>* events, std::string* error) {
    DispatchContext(b->context, &b->priority, &b->fds);
    events->insert(events->end(), b->events.begin(), b->events.end());
    b->events.clear();
    if (b->closed) {
        *error = _("the session bus has gone");
        return false;
    }
    if (b->monitorGone) {
        *error = _("GNOME's idle monitor has gone");
        return false;
    }
    return true;
}

}  // namespace platform
