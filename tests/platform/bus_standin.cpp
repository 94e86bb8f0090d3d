// Stand-ins on a private bus for the idle watcher's tests and benchmarks,
// one role per run; each prints "ready" once it is in place and ends with
// SIGTERM (or when it loses its name).
//   logind [SESSION]  org.freedesktop.login1 on $DBUS_SYSTEM_BUS_ADDRESS:
//                     ListInhibitors; SIGUSR1 adds an idle block (as
//                     "systemd-inhibit --what=idle" would), SIGUSR2 ends it;
//                     with SESSION, that session (GetSession, GetSessionByPID)
//                     with Lock (the manager's LockSession too), which
//                     prints "lock SESSION" and sends the session's Lock
//                     signal, and LockedHint, which SIGHUP turns over
//   gnome-lock        org.gnome.ScreenSaver on the session bus: Lock prints
//                     "lock"; GetActive and ActiveChanged, which SIGHUP turns
//                     over
//   idle-monitor [replace]
//                     org.gnome.Mutter.IdleMonitor on the session bus, given
//                     up to a replacement (or, with "replace", taken from
//                     the one there): an idle watch fires its interval after
//                     it was added; SIGUSR1 is input, firing the user-active
//                     watches
//   own NAME          takes NAME on the session bus from whoever owns it
//   inhibit N BYTES   a program that asks org.freedesktop.ScreenSaver at
//                     /ScreenSaver to hold the saver off N times, naming
//                     itself and its reason in BYTES characters each, and
//                     prints "held K" (the holds granted); it keeps its
//                     connection until it is killed
// Relies on GIO.
#include <gio/gio.h>
#include <glib-unix.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

GMainLoop* loop = nullptr;

void Say(const char* line) {
    std::printf("%s\n", line);
    std::fflush(stdout);
}

gboolean OnTerm(void*) {
    g_main_loop_quit(loop);
    return G_SOURCE_REMOVE;
}

void OnAcquired(GDBusConnection*, const char*, void*) { Say("ready"); }
void OnLost(GDBusConnection*, const char* name, void*) {
    std::fprintf(stderr, "stand-in: %s lost\n", name);
    g_main_loop_quit(loop);
}

GDBusConnection* Bus(GBusType type) {
    GError* e = nullptr;
    GDBusConnection* bus = g_bus_get_sync(type, nullptr, &e);
    if (bus == nullptr) {
        std::fprintf(stderr, "stand-in: no bus: %s\n", e->message);
        std::exit(1);
    }
    return bus;
}

void Serve(GDBusConnection* bus, const char* xml, const char* path,
           const GDBusInterfaceVTable* vtable, void* data) {
    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(xml, nullptr);
    g_dbus_connection_register_object(bus, path, node->interfaces[0], vtable, data, nullptr,
                                      nullptr);
}

// ---------------------------------------------------------------- locks

bool locked = false;
GDBusConnection* lockBus = nullptr;
std::string sessionId;
std::string sessionPath;

void OnSession(GDBusConnection* bus, const char*, const char*, const char*, const char* method,
               GVariant*, GDBusMethodInvocation* call, void*) {
    if (std::strcmp(method, "Lock") == 0) {
        std::printf("lock %s\n", sessionId.c_str());
        std::fflush(stdout);
        g_dbus_connection_emit_signal(bus, nullptr, sessionPath.c_str(),
                                      "org.freedesktop.login1.Session", "Lock", nullptr, nullptr);
    }
    g_dbus_method_invocation_return_value(call, nullptr);
}

GVariant* OnSessionProperty(GDBusConnection*, const char*, const char*, const char*,
                            const char* name, GError**, void*) {
    if (std::strcmp(name, "LockedHint") == 0) return g_variant_new_boolean(locked);
    return g_variant_new_string(sessionId.c_str());
}

gboolean OnTurnLock(void* gnome) {
    locked = !locked;
    if (gnome != nullptr) {
        g_dbus_connection_emit_signal(lockBus, nullptr, "/org/gnome/ScreenSaver",
                                      "org.gnome.ScreenSaver", "ActiveChanged",
                                      g_variant_new("(b)", locked), nullptr);
    } else {
        GVariantBuilder changed;
        g_variant_builder_init(&changed, G_VARIANT_TYPE("a{sv}"));
        g_variant_builder_add(&changed, "{sv}", "LockedHint", g_variant_new_boolean(locked));
        g_dbus_connection_emit_signal(
            lockBus, nullptr, sessionPath.c_str(), "org.freedesktop.DBus.Properties",
            "PropertiesChanged",
            g_variant_new("(sa{sv}as)", "org.freedesktop.login1.Session", &changed, nullptr),
            nullptr);
    }
    Say(locked ? "locked" : "unlocked");
    return G_SOURCE_CONTINUE;
}

void OnGnomeLock(GDBusConnection*, const char*, const char*, const char*, const char* method,
                 GVariant*, GDBusMethodInvocation* call, void*) {
    if (std::strcmp(method, "GetActive") == 0) {
        g_dbus_method_invocation_return_value(call, g_variant_new("(b)", locked));
        return;
    }
    Say("lock");
    g_dbus_method_invocation_return_value(call, nullptr);
}

void RunGnomeLock() {
    static const GDBusInterfaceVTable vtable = {OnGnomeLock, nullptr, nullptr, {}};
    lockBus = Bus(G_BUS_TYPE_SESSION);
    Serve(lockBus,
          "<node><interface name='org.gnome.ScreenSaver'>"
          "<method name='Lock'/><method name='GetActive'><arg type='b' direction='out'/></method>"
          "<signal name='ActiveChanged'><arg type='b'/></signal>"
          "</interface></node>",
          "/org/gnome/ScreenSaver", &vtable, nullptr);
    g_unix_signal_add(SIGHUP, OnTurnLock, lockBus);
    g_bus_own_name_on_connection(lockBus, "org.gnome.ScreenSaver", G_BUS_NAME_OWNER_FLAGS_NONE,
                                 OnAcquired, OnLost, nullptr, nullptr);
}

// ---------------------------------------------------------------- logind

bool blocked = false;

void OnLogind(GDBusConnection* bus, const char*, const char*, const char*, const char* method,
              GVariant* args, GDBusMethodInvocation* call, void*) {
    if (std::strncmp(method, "GetSession", 10) == 0 || std::strcmp(method, "LockSession") == 0) {
        const char* id = "";
        if (g_variant_is_of_type(args, G_VARIANT_TYPE("(s)"))) g_variant_get(args, "(&s)", &id);
        const bool ours = std::strcmp(method, "GetSessionByPID") == 0 || sessionId == id;
        if (sessionId.empty() || !ours) {
            g_dbus_method_invocation_return_dbus_error(call, "org.freedesktop.login1.NoSuchSession",
                                                       "no such session");
        } else if (std::strcmp(method, "LockSession") == 0) {
            OnSession(bus, nullptr, nullptr, nullptr, "Lock", nullptr, call, nullptr);
        } else {
            g_dbus_method_invocation_return_value(call, g_variant_new("(o)", sessionPath.c_str()));
        }
        return;
    }
    GVariantBuilder list;
    g_variant_builder_init(&list, G_VARIANT_TYPE("a(ssssuu)"));
    g_variant_builder_add(&list, "(ssssuu)", "sleep", "updater", "installs", "delay", 0u, 1u);
    if (blocked) {
        g_variant_builder_add(&list, "(ssssuu)", "idle:sleep", "film player", "a film plays",
                              "block", 0u, 4242u);
    }
    g_dbus_method_invocation_return_value(call, g_variant_new("(a(ssssuu))", &list));
}

gboolean OnBlock(void* data) {
    blocked = data != nullptr;
    Say(blocked ? "blocked" : "not blocked");
    return G_SOURCE_CONTINUE;
}

void RunLogind(const char* session) {
    static const GDBusInterfaceVTable vtable = {OnLogind, nullptr, nullptr, {}};
    static const GDBusInterfaceVTable sessionVtable = {OnSession, OnSessionProperty, nullptr, {}};
    GDBusConnection* bus = Bus(G_BUS_TYPE_SYSTEM);
    lockBus = bus;
    Serve(bus,
          "<node><interface name='org.freedesktop.login1.Manager'>"
          "<method name='ListInhibitors'><arg type='a(ssssuu)' direction='out'/></method>"
          "<method name='GetSession'><arg type='s' direction='in'/>"
          "<arg type='o' direction='out'/></method>"
          "<method name='GetSessionByPID'><arg type='u' direction='in'/>"
          "<arg type='o' direction='out'/></method>"
          "<method name='LockSession'><arg type='s' direction='in'/></method>"
          "</interface></node>",
          "/org/freedesktop/login1", &vtable, nullptr);
    if (session != nullptr) {
        sessionId = session;
        sessionPath = std::string("/org/freedesktop/login1/session/") + session;
        Serve(bus,
              "<node><interface name='org.freedesktop.login1.Session'>"
              "<method name='Lock'/><signal name='Lock'/>"
              "<property name='Id' type='s' access='read'/>"
              "<property name='LockedHint' type='b' access='read'/>"
              "</interface></node>",
              sessionPath.c_str(), &sessionVtable, nullptr);
        g_unix_signal_add(SIGHUP, OnTurnLock, nullptr);
    }
    g_unix_signal_add(SIGUSR1, OnBlock, GINT_TO_POINTER(1));
    g_unix_signal_add(SIGUSR2, OnBlock, nullptr);
    g_bus_own_name_on_connection(bus, "org.freedesktop.login1", G_BUS_NAME_OWNER_FLAGS_NONE,
                                 OnAcquired, OnLost, nullptr, nullptr);
}

// ---------------------------------------------------------------- idle monitor

struct Watch {
    guint32 id;
    bool idle;
};

GDBusConnection* monitorBus = nullptr;
std::vector<Watch> watches;
guint32 nextWatch = 1;

void Fire(guint32 id) {
    g_dbus_connection_emit_signal(monitorBus, nullptr, "/org/gnome/Mutter/IdleMonitor/Core",
                                  "org.gnome.Mutter.IdleMonitor", "WatchFired",
                                  g_variant_new("(u)", id), nullptr);
}

gboolean OnIdleDue(void* data) {
    const auto id = static_cast<guint32>(GPOINTER_TO_UINT(data));
    for (const Watch& w : watches) {
        if (w.id == id) Fire(id);
    }
    return G_SOURCE_REMOVE;
}

void OnMonitor(GDBusConnection*, const char*, const char*, const char*, const char* method,
               GVariant* args, GDBusMethodInvocation* call, void*) {
    if (std::strcmp(method, "RemoveWatch") == 0) {
        guint32 id = 0;
        g_variant_get(args, "(u)", &id);
        for (size_t i = 0; i < watches.size(); ++i) {
            if (watches[i].id == id) watches.erase(watches.begin() + static_cast<long>(i));
        }
        g_dbus_method_invocation_return_value(call, nullptr);
        return;
    }
    const guint32 id = nextWatch++;
    const bool idle = std::strcmp(method, "AddIdleWatch") == 0;
    watches.push_back(Watch{id, idle});
    if (idle) {
        guint64 interval = 0;
        g_variant_get(args, "(t)", &interval);
        g_timeout_add(static_cast<guint>(interval), OnIdleDue, GUINT_TO_POINTER(id));
    }
    g_dbus_method_invocation_return_value(call, g_variant_new("(u)", id));
}

// Input: each user-active watch fires once, and each idle watch counts
// its interval from now.
gboolean OnInput(void*) {
    std::vector<Watch> kept;
    for (const Watch& w : watches) {
        if (w.idle) kept.push_back(w);
        if (!w.idle) Fire(w.id);
    }
    watches = kept;
    Say("input");
    return G_SOURCE_CONTINUE;
}

void RunIdleMonitor(bool replace) {
    static const GDBusInterfaceVTable vtable = {OnMonitor, nullptr, nullptr, {}};
    monitorBus = Bus(G_BUS_TYPE_SESSION);
    Serve(monitorBus,
          "<node><interface name='org.gnome.Mutter.IdleMonitor'>"
          "<method name='AddIdleWatch'><arg type='t' direction='in'/>"
          "<arg type='u' direction='out'/></method>"
          "<method name='AddUserActiveWatch'><arg type='u' direction='out'/></method>"
          "<method name='RemoveWatch'><arg type='u' direction='in'/></method>"
          "<signal name='WatchFired'><arg type='u'/></signal>"
          "</interface></node>",
          "/org/gnome/Mutter/IdleMonitor/Core", &vtable, nullptr);
    g_unix_signal_add(SIGUSR1, OnInput, nullptr);
    const auto flags = static_cast<GBusNameOwnerFlags>(
        G_BUS_NAME_OWNER_FLAGS_ALLOW_REPLACEMENT |
        (replace ? G_BUS_NAME_OWNER_FLAGS_REPLACE : G_BUS_NAME_OWNER_FLAGS_NONE));
    g_bus_own_name_on_connection(monitorBus, "org.gnome.Mutter.IdleMonitor", flags, OnAcquired,
                                 OnLost, nullptr, nullptr);
}

// ---------------------------------------------------------------- inhibit

void RunInhibit(int count, size_t bytes) {
    GDBusConnection* bus = Bus(G_BUS_TYPE_SESSION);
    const std::string name = "player" + std::string(bytes > 6 ? bytes - 6 : 0, 'p');
    const std::string reason = "a film" + std::string(bytes > 6 ? bytes - 6 : 0, 'f');
    int held = 0;
    for (int i = 0; i < count; ++i) {
        GVariant* r = g_dbus_connection_call_sync(
            bus, "org.freedesktop.ScreenSaver", "/ScreenSaver", "org.freedesktop.ScreenSaver",
            "Inhibit", g_variant_new("(ss)", name.c_str(), reason.c_str()), G_VARIANT_TYPE("(u)"),
            G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
        if (r != nullptr) {
            ++held;
            g_variant_unref(r);
        }
    }
    std::printf("held %d\n", held);
    Say("ready");
}

}  // namespace

int main(int argc, char** argv) {
    loop = g_main_loop_new(nullptr, FALSE);
    g_unix_signal_add(SIGTERM, OnTerm, nullptr);
    const std::string role = argc > 1 ? argv[1] : "";
    if (role == "logind") {
        RunLogind(argc > 2 ? argv[2] : nullptr);
    } else if (role == "gnome-lock") {
        RunGnomeLock();
    } else if (role == "idle-monitor") {
        RunIdleMonitor(argc > 2 && std::strcmp(argv[2], "replace") == 0);
    } else if (role == "own" && argc > 2) {
        g_bus_own_name_on_connection(Bus(G_BUS_TYPE_SESSION), argv[2],
                                     G_BUS_NAME_OWNER_FLAGS_REPLACE, OnAcquired, OnLost, nullptr,
                                     nullptr);
    } else if (role == "inhibit" && argc > 3) {
        RunInhibit(std::atoi(argv[2]), static_cast<size_t>(std::atol(argv[3])));
    } else {
        std::fprintf(
            stderr,
            "usage: %s logind [SESSION] | gnome-lock | idle-monitor [replace] | own NAME | "
            "inhibit N BYTES\n",
            argv[0]);
        return 2;
    }
    g_main_loop_run(loop);
    return 0;
}
