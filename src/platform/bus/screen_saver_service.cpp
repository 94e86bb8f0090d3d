// Our own org.freedesktop.ScreenSaver, for sessions where nobody on the
// bus offers one (sway and other wlroots compositors, X11 sessions without
// a desktop): browsers, players and call programs ask it to hold the saver
// off while they play, and lock the session through logind's session lock. A hold ends with
// UnInhibit or with its caller's connection, so a program that exits or crashes never keeps the
// saver away for good. The name is owned only while nobody else owns it, and given up to a desktop
// that takes it (which is then asked as before); when that desktop leaves, it is taken again. What
// one caller may hold is bounded, in number and in the length of what it says. Relies on GIO's
// GDBus.
//
// Provides: ServeScreenSaver, StopScreenSaverService, ServiceHolds,
// ServiceOwnsName, SetServiceSaverActive, SetServiceIdleSince.
#include <gio/gio.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <string>

#include "platform/bus/idle_bus_internal.h"
#include "platform/platform.h"
#include "support/diagnostics.h"
#include "support/translation.h"

namespace platform {

namespace {

constexpr const char* kName = "org.freedesktop.ScreenSaver";
// Callers differ in the path they ask at: both are served.
constexpr const char* kPaths[] = {"/org/freedesktop/ScreenSaver", "/ScreenSaver"};
// Bounds: holds of one caller, callers with holds, and the characters kept
// of a program's name or reason.
constexpr size_t kHoldsPerCaller = 16;
constexpr size_t kCallers = 64;
constexpr size_t kTextBytes = 200;

const char kInterface[] =
    "<node><interface name='org.freedesktop.ScreenSaver'>"
    "<method name='Inhibit'><arg name='application_name' type='s' direction='in'/>"
    "<arg name='reason_for_inhibit' type='s' direction='in'/>"
    "<arg name='cookie' type='u' direction='out'/></method>"
    "<method name='UnInhibit'><arg name='cookie' type='u' direction='in'/></method>"
    "<method name='GetActive'><arg type='b' direction='out'/></method>"
    "<method name='GetActiveTime'><arg name='seconds' type='u' direction='out'/></method>"
    "<method name='GetSessionIdleTime'><arg name='seconds' type='u' direction='out'/></method>"
    "<method name='SimulateUserActivity'/>"
    "<method name='Lock'/>"
    "<signal name='ActiveChanged'><arg type='b'/></signal>"
    "</interface></node>";

struct Hold {
    guint32 cookie = 0;
    std::string sender;  // the caller's unique name
    std::string who;
    long pid = 0;
    std::string reason;
    double since = 0.0;  // seconds since the epoch
};

// A caller with holds: the watch that tells when it leaves the bus.
struct Caller {
    guint watch = 0;
    bool told = false;  // its refusal was said
};

}  // namespace

struct ScreenSaverService {
    IdleBus* bus = nullptr;
    GDBusNodeInfo* node = nullptr;
    guint objects[2] = {0, 0};
    guint owning = 0;    // the request for the name, while one is made
    guint watching = 0;  // while another owns it: the watch for its leaving
    bool owned = false;
    std::vector<Hold> holds;
    std::map<std::string, Caller> callers;
    guint32 nextCookie = 1;
    bool active = false;
    double activeSince = 0.0;  // monotonic seconds
    double idleSince = 0.0;    // monotonic seconds; 0: in use
    bool floodTold = false;
};

namespace {

void Own(ScreenSaverService* s);

// At most kTextBytes of `text`, cut at a character's start, each control
// character a blank: it ends up on one line of a status.
std::string Clean(const gchar* text) {
    std::string out;
    const gchar* end = text;
    while (*end != '\0' && static_cast<size_t>(end - text) < kTextBytes) {
        end = g_utf8_next_char(end);
    }
    if (static_cast<size_t>(end - text) > kTextBytes) end = g_utf8_prev_char(end);
    for (const gchar* c = text; c < end; ++c) {
        out += static_cast<unsigned char>(*c) < 0x20 || *c == 0x7f ? ' ' : *c;
    }
    return out;
}

long CallerProcess(ScreenSaverService* s, const gchar* sender) {
    GVariant* r = g_dbus_connection_call_sync(
        s->bus->connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "GetConnectionUnixProcessID", g_variant_new("(s)", sender), G_VARIANT_TYPE("(u)"),
        G_DBUS_CALL_FLAGS_NONE, 1000, nullptr, nullptr);
    if (r == nullptr) return 0;
    guint32 pid = 0;
    g_variant_get(r, "(u)", &pid);
    g_variant_unref(r);
    return pid;
}

void Forget(ScreenSaverService* s, const std::string& sender) {
    const auto it = s->callers.find(sender);
    if (it == s->callers.end()) return;
    if (it->second.watch != 0) g_bus_unwatch_name(it->second.watch);
    s->callers.erase(it);
}

// The caller left the bus: its holds end with it.
void OnCallerVanished(GDBusConnection*, const gchar* name, gpointer data) {
    auto* s = static_cast<ScreenSaverService*>(data);
    const std::string sender = name;
    const auto before = s->holds.size();
    s->holds.erase(std::remove_if(s->holds.begin(), s->holds.end(),
                                  [&](const Hold& h) { return h.sender == sender; }),
                   s->holds.end());
    Forget(s, sender);
    if (s->holds.size() != before) PushIdleEvent(s->bus, IdleEventKind::InhibitorsChanged);
}

void Refuse(ScreenSaverService* s, GDBusMethodInvocation* invocation, Caller* caller,
            const std::string& who) {
    if (caller != nullptr && !caller->told) {
        caller->told = true;
        PushIdleEvent(s->bus, IdleEventKind::Notice,
                      Format(_("%s asked to hold the saver off more than %zu times at once: "
                               "the rest is refused"),
                             who.c_str(), kHoldsPerCaller));
    } else if (caller == nullptr && !s->floodTold) {
        s->floodTold = true;
        PushIdleEvent(
            s->bus, IdleEventKind::Notice,
            Format(_("more than %zu programs hold the saver off: the rest is refused"), kCallers));
    }
    g_dbus_method_invocation_return_dbus_error(
        invocation, "org.freedesktop.DBus.Error.LimitsExceeded", "too many holds");
}

void Inhibit(ScreenSaverService* s, GDBusMethodInvocation* invocation, GVariant* parameters) {
    const gchar* sender = g_dbus_method_invocation_get_sender(invocation);
    const gchar* name = nullptr;
    const gchar* reason = nullptr;
    g_variant_get(parameters, "(&s&s)", &name, &reason);
    Hold hold;
    hold.sender = sender != nullptr ? sender : "";
    hold.pid = CallerProcess(s, hold.sender.c_str());
    hold.who = Clean(name);
    hold.reason = Clean(reason);
    const auto known = s->callers.find(hold.sender);
    if (known == s->callers.end() && s->callers.size() >= kCallers) {
        Refuse(s, invocation, nullptr, hold.who);
        return;
    }
    Caller& caller = s->callers[hold.sender];
    const size_t held = static_cast<size_t>(std::count_if(
        s->holds.begin(), s->holds.end(), [&](const Hold& h) { return h.sender == hold.sender; }));
    if (held >= kHoldsPerCaller) {
        Refuse(s, invocation, &caller, hold.who);
        return;
    }
    if (caller.watch == 0) {
        // A caller already gone is told of at once, by the watch's first
        // answer.
        caller.watch = g_bus_watch_name_on_connection(s->bus->connection, hold.sender.c_str(),
                                                      G_BUS_NAME_WATCHER_FLAGS_NONE, nullptr,
                                                      OnCallerVanished, s, nullptr);
    }
    do {
        hold.cookie = s->nextCookie++;
    } while (hold.cookie == 0 || std::any_of(s->holds.begin(), s->holds.end(), [&](const Hold& h) {
                 return h.cookie == hold.cookie;
             }));
    hold.since = static_cast<double>(g_get_real_time()) / 1e6;
    const guint32 cookie = hold.cookie;
    s->holds.push_back(std::move(hold));
    PushIdleEvent(s->bus, IdleEventKind::InhibitorsChanged);
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(u)", cookie));
}

void UnInhibit(ScreenSaverService* s, GDBusMethodInvocation* invocation, GVariant* parameters) {
    guint32 cookie = 0;
    g_variant_get(parameters, "(u)", &cookie);
    const auto it = std::find_if(s->holds.begin(), s->holds.end(),
                                 [&](const Hold& h) { return h.cookie == cookie; });
    if (it != s->holds.end()) {
        const std::string sender = it->sender;
        s->holds.erase(it);
        if (std::none_of(s->holds.begin(), s->holds.end(),
                         [&](const Hold& h) { return h.sender == sender; })) {
            Forget(s, sender);
        }
        PushIdleEvent(s->bus, IdleEventKind::InhibitorsChanged);
    }
    g_dbus_method_invocation_return_value(invocation, nullptr);
}

guint32 SecondsSince(double since) {
    if (since <= 0.0) return 0;
    return static_cast<guint32>(std::max(0.0, std::floor(ClockSeconds() - since)));
}

void OnMethod(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
              GVariant* parameters, GDBusMethodInvocation* invocation, gpointer data) {
    auto* s = static_cast<ScreenSaverService*>(data);
    const std::string m = method;
    if (m == "Inhibit") {
        Inhibit(s, invocation, parameters);
    } else if (m == "UnInhibit") {
        UnInhibit(s, invocation, parameters);
    } else if (m == "GetActive") {
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(b)", s->active));
    } else if (m == "GetActiveTime") {
        const guint32 seconds = s->active ? SecondsSince(s->activeSince) : 0;
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(u)", seconds));
    } else if (m == "GetSessionIdleTime") {
        g_dbus_method_invocation_return_value(invocation,
                                              g_variant_new("(u)", SecondsSince(s->idleSince)));
    } else if (m == "SimulateUserActivity") {
        PushIdleEvent(s->bus, IdleEventKind::UserActivity);
        g_dbus_method_invocation_return_value(invocation, nullptr);
    } else if (m == "Lock") {
        // The session's own locker, through logind: never a lock of ours.
        std::string error;
        if (BusLock(s->bus, LockerKind::Logind, &error)) {
            g_dbus_method_invocation_return_value(invocation, nullptr);
        } else {
            g_dbus_method_invocation_return_dbus_error(
                invocation, "org.freedesktop.DBus.Error.NotSupported",
                error.empty() ? "no logind session to lock" : error.c_str());
        }
    } else {
        g_dbus_method_invocation_return_dbus_error(
            invocation, "org.freedesktop.DBus.Error.UnknownMethod", "no such method");
    }
}

const GDBusInterfaceVTable kVtable = {OnMethod, nullptr, nullptr, {}};

void DropHolds(ScreenSaverService* s) {
    if (s->holds.empty()) return;
    s->holds.clear();
    for (auto& [sender, caller] : s->callers) {
        if (caller.watch != 0) g_bus_unwatch_name(caller.watch);
    }
    s->callers.clear();
    PushIdleEvent(s->bus, IdleEventKind::InhibitorsChanged);
}

// Another owner left the name: it is ours to take again.
void OnOtherVanished(GDBusConnection*, const gchar*, gpointer data) {
    auto* s = static_cast<ScreenSaverService*>(data);
    if (s->watching != 0) g_bus_unwatch_name(s->watching);
    s->watching = 0;
    Own(s);
}

void OnAcquired(GDBusConnection*, const gchar*, gpointer data) {
    static_cast<ScreenSaverService*>(data)->owned = true;
}

// Someone else owns the name, or took it from us: it is theirs, asked as
// a desktop's; the holds made of us go with it (their programs ask the new
// owner from now on).
void OnLost(GDBusConnection*, const gchar*, gpointer data) {
    auto* s = static_cast<ScreenSaverService*>(data);
    if (s->owned) {
        PushIdleEvent(s->bus, IdleEventKind::Notice,
                      _("another program took over org.freedesktop.ScreenSaver: it is asked "
                        "from now on"));
    }
    s->owned = false;
    DropHolds(s);
    if (s->owning != 0) g_bus_unown_name(s->owning);
    s->owning = 0;
    if (s->watching == 0) {
        s->watching =
            g_bus_watch_name_on_connection(s->bus->connection, kName, G_BUS_NAME_WATCHER_FLAGS_NONE,
                                           nullptr, OnOtherVanished, s, nullptr);
    }
}

void Own(ScreenSaverService* s) {
    s->owning = g_bus_own_name_on_connection(
        s->bus->connection, kName,
        static_cast<GBusNameOwnerFlags>(G_BUS_NAME_OWNER_FLAGS_ALLOW_REPLACEMENT |
                                        G_BUS_NAME_OWNER_FLAGS_DO_NOT_QUEUE),
        OnAcquired, OnLost, s, nullptr);
}

}  // namespace

void ServeScreenSaver(IdleBus* b) {
    if (b->service != nullptr) return;
    auto* s = new ScreenSaverService;
    s->bus = b;
    b->service = s;
    g_main_context_push_thread_default(b->context);
    s->node = g_dbus_node_info_new_for_xml(kInterface, nullptr);
    for (size_t i = 0; i < 2; ++i) {
        s->objects[i] = g_dbus_connection_register_object(
            b->connection, kPaths[i], s->node->interfaces[0], &kVtable, s, nullptr, nullptr);
    }
    Own(s);
    g_main_context_pop_thread_default(b->context);
}

void StopScreenSaverService(IdleBus* b) {
    ScreenSaverService* s = b->service;
    if (s == nullptr) return;
    for (guint id : s->objects) {
        if (id != 0) g_dbus_connection_unregister_object(b->connection, id);
    }
    for (auto& [sender, caller] : s->callers) {
        if (caller.watch != 0) g_bus_unwatch_name(caller.watch);
    }
    if (s->owning != 0) g_bus_unown_name(s->owning);
    if (s->watching != 0) g_bus_unwatch_name(s->watching);
    g_dbus_node_info_unref(s->node);
    b->service = nullptr;
    delete s;
}

void ServiceHolds(const ScreenSaverService* s, std::vector<IdleHold>* holds) {
    for (const Hold& h : s->holds) {
        holds->push_back(
            IdleHold{"org.freedesktop.ScreenSaver", h.who, h.pid, h.reason, h.since, true});
    }
}

bool ServiceOwnsName(const ScreenSaverService* s) { return s != nullptr && s->owned; }

void SetServiceSaverActive(IdleBus* b, bool active) {
    ScreenSaverService* s = b->service;
    if (s == nullptr || s->active == active) return;
    s->active = active;
    s->activeSince = active ? ClockSeconds() : 0.0;
    if (!s->owned) return;
    for (const char* path : kPaths) {
        g_dbus_connection_emit_signal(b->connection, nullptr, path, kName, "ActiveChanged",
                                      g_variant_new("(b)", active), nullptr);
    }
}

void SetServiceIdleSince(IdleBus* b, double since) {
    if (b->service != nullptr) b->service->idleSince = since;
}

}  // namespace platform
