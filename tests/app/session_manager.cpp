// A test tool that stands in for GNOME's session manager on a private
// session bus, for its idle inhibitions only: it owns
// org.gnome.SessionManager and answers IsInhibited(flags), GetInhibitors()
// and the InhibitedActions property at /org/gnome/SessionManager. SIGUSR1
// adds an inhibitor of idleness (flag 8, as a video player would), SIGUSR2
// takes it away; each change is announced by InhibitorAdded or
// InhibitorRemoved and by PropertiesChanged, and after each signal the
// state is printed ("inhibited" or "not inhibited") once the bus has it. Prints "ready" once it
// owns the name. Exits 1 when it cannot. Relies on GIO.
//
// Usage: mereglass_session_manager
#include <gio/gio.h>
#include <glib-unix.h>
#include <signal.h>

#include <cstdio>

namespace {

const char kName[] = "org.gnome.SessionManager";
const char kPath[] = "/org/gnome/SessionManager";
const char kInhibitorPath[] = "/org/gnome/SessionManager/Inhibitor1";
constexpr guint32 kIdleFlag = 8;

const char kIntrospection[] = R"(<node>
  <interface name="org.gnome.SessionManager">
    <method name="IsInhibited">
      <arg name="flags" type="u" direction="in"/>
      <arg name="is_inhibited" type="b" direction="out"/>
    </method>
    <method name="GetInhibitors">
      <arg name="inhibitors" type="ao" direction="out"/>
    </method>
    <property name="InhibitedActions" type="u" access="read"/>
    <signal name="InhibitorAdded"><arg name="id" type="o"/></signal>
    <signal name="InhibitorRemoved"><arg name="id" type="o"/></signal>
  </interface>
  <interface name="org.gnome.SessionManager.Inhibitor">
    <method name="GetAppId"><arg type="s" direction="out"/></method>
    <method name="GetReason"><arg type="s" direction="out"/></method>
    <method name="GetFlags"><arg type="u" direction="out"/></method>
  </interface>
</node>)";

struct Manager {
    GDBusConnection* bus = nullptr;
    GDBusNodeInfo* info = nullptr;
    guint inhibitorObject = 0;
    bool inhibited = false;
    GMainLoop* loop = nullptr;
};

guint32 Actions(const Manager* m) { return m->inhibited ? kIdleFlag : 0; }

void OnManagerCall(GDBusConnection*, const char*, const char*, const char*, const char* method,
                   GVariant* args, GDBusMethodInvocation* call, void* data) {
    const auto* m = static_cast<Manager*>(data);
    if (g_strcmp0(method, "IsInhibited") == 0) {
        guint32 flags = 0;
        g_variant_get(args, "(u)", &flags);
        g_dbus_method_invocation_return_value(call,
                                              g_variant_new("(b)", (Actions(m) & flags) != 0));
    } else {
        GVariantBuilder list;
        g_variant_builder_init(&list, G_VARIANT_TYPE("ao"));
        if (m->inhibited) g_variant_builder_add(&list, "o", kInhibitorPath);
        g_dbus_method_invocation_return_value(call, g_variant_new("(ao)", &list));
    }
}

GVariant* OnManagerProperty(GDBusConnection*, const char*, const char*, const char*, const char*,
                            GError**, void* data) {
    return g_variant_new_uint32(Actions(static_cast<Manager*>(data)));
}

void OnInhibitorCall(GDBusConnection*, const char*, const char*, const char*, const char* method,
                     GVariant*, GDBusMethodInvocation* call, void*) {
    if (g_strcmp0(method, "GetFlags") == 0) {
        g_dbus_method_invocation_return_value(call, g_variant_new("(u)", kIdleFlag));
    } else {
        g_dbus_method_invocation_return_value(
            call, g_variant_new("(s)", g_strcmp0(method, "GetAppId") == 0 ? "mereglass-tests"
                                                                          : "a video plays"));
    }
}

const GDBusInterfaceVTable kManagerVTable = {OnManagerCall, OnManagerProperty, nullptr, {}};
const GDBusInterfaceVTable kInhibitorVTable = {OnInhibitorCall, nullptr, nullptr, {}};

// Adds or takes away the inhibitor, and says so on the bus.
void Announce(Manager* m, bool inhibited) {
    m->inhibited = inhibited;
    if (inhibited) {
        m->inhibitorObject = g_dbus_connection_register_object(
            m->bus, kInhibitorPath, m->info->interfaces[1], &kInhibitorVTable, m, nullptr, nullptr);
    } else {
        g_dbus_connection_unregister_object(m->bus, m->inhibitorObject);
    }
    g_dbus_connection_emit_signal(m->bus, nullptr, kPath, kName,
                                  inhibited ? "InhibitorAdded" : "InhibitorRemoved",
                                  g_variant_new("(o)", kInhibitorPath), nullptr);
    GVariantBuilder changed;
    g_variant_builder_init(&changed, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&changed, "{sv}", "InhibitedActions", g_variant_new_uint32(Actions(m)));
    g_dbus_connection_emit_signal(m->bus, nullptr, kPath, "org.freedesktop.DBus.Properties",
                                  "PropertiesChanged",
                                  g_variant_new("(sa{sv}as)", kName, &changed, nullptr), nullptr);
    g_dbus_connection_flush_sync(m->bus, nullptr, nullptr);
}

// The inhibitor's state, announced where it changes, then printed.
void Switch(Manager* m, bool inhibited) {
    if (m->inhibited != inhibited) Announce(m, inhibited);
    std::printf("%s\n", inhibited ? "inhibited" : "not inhibited");
    std::fflush(stdout);
}

gboolean OnInhibit(void* data) {
    Switch(static_cast<Manager*>(data), true);
    return G_SOURCE_CONTINUE;
}

gboolean OnUninhibit(void* data) {
    Switch(static_cast<Manager*>(data), false);
    return G_SOURCE_CONTINUE;
}

void OnNameAcquired(GDBusConnection*, const char*, void*) {
    std::printf("ready\n");
    std::fflush(stdout);
}

void OnNameLost(GDBusConnection*, const char*, void* data) {
    std::fprintf(stderr, "session manager: cannot own %s\n", kName);
    g_main_loop_quit(static_cast<Manager*>(data)->loop);
}

}  // namespace

int main() {
    Manager m;
    GError* e = nullptr;
    m.bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &e);
    if (m.bus == nullptr) {
        std::fprintf(stderr, "session manager: no session bus: %s\n", e->message);
        g_error_free(e);
        return 1;
    }
    m.info = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
    m.loop = g_main_loop_new(nullptr, FALSE);
    g_dbus_connection_register_object(m.bus, kPath, m.info->interfaces[0], &kManagerVTable, &m,
                                      nullptr, nullptr);
    g_unix_signal_add(SIGUSR1, OnInhibit, &m);
    g_unix_signal_add(SIGUSR2, OnUninhibit, &m);
    g_bus_own_name_on_connection(m.bus, kName, G_BUS_NAME_OWNER_FLAGS_NONE, OnNameAcquired,
                                 OnNameLost, &m, nullptr);
    g_main_loop_run(m.loop);
    return 1;
}
