// A stand-in for UPower on whatever bus $DBUS_SYSTEM_BUS_ADDRESS names:
// it owns org.freedesktop.UPower and offers its OnBattery property,
// changed by signals so that a test or a benchmark can drive it:
//   SIGUSR1  on battery        SIGUSR2  on mains
//   SIGHUP   OnBattery turns into the string "yes" (nonsense)
//   SIGTERM  leaves the bus and ends
// Usage: mereglass_fake_upower [battery|mains]; prints "ready" once the
// name is taken. Relies on GIO's GDBus.
#include <gio/gio.h>
#include <glib-unix.h>
#include <signal.h>

#include <cstdio>
#include <cstring>

namespace {

const char kInterface[] =
    "<node><interface name='org.freedesktop.UPower'>"
    "<property name='OnBattery' type='b' access='read'/>"
    "</interface></node>";

enum class State { Mains, Battery, Nonsense };

struct Fake {
    GDBusConnection* bus = nullptr;
    GMainLoop* loop = nullptr;
    State state = State::Mains;
};

GVariant* Value(State state) {
    if (state == State::Nonsense) return g_variant_new_string("yes");
    return g_variant_new_boolean(state == State::Battery);
}

// A nonsensical value makes GDBus answer Get with an error, which is
// nonsense enough.
GVariant* GetProperty(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                      GError**, gpointer data) {
    return Value(static_cast<Fake*>(data)->state);
}

void Become(Fake* fake, State state) {
    fake->state = state;
    GVariantBuilder changed;
    g_variant_builder_init(&changed, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&changed, "{sv}", "OnBattery", Value(state));
    g_dbus_connection_emit_signal(
        fake->bus, nullptr, "/org/freedesktop/UPower", "org.freedesktop.DBus.Properties",
        "PropertiesChanged",
        g_variant_new("(sa{sv}as)", "org.freedesktop.UPower", &changed, nullptr), nullptr);
    g_dbus_connection_flush_sync(fake->bus, nullptr, nullptr);
}

gboolean OnSignal(gpointer data, State state) {
    Become(static_cast<Fake*>(data), state);
    return G_SOURCE_CONTINUE;
}

}  // namespace

int main(int argc, char** argv) {
    Fake fake;
    if (argc > 1 && std::strcmp(argv[1], "battery") == 0) fake.state = State::Battery;
    GError* error = nullptr;
    fake.bus = g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, &error);
    if (fake.bus == nullptr) {
        std::fprintf(stderr, "fake UPower: no bus: %s\n", error->message);
        return 1;
    }
    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kInterface, nullptr);
    static const GDBusInterfaceVTable vtable = {nullptr, GetProperty, nullptr, {}};
    g_dbus_connection_register_object(fake.bus, "/org/freedesktop/UPower", node->interfaces[0],
                                      &vtable, &fake, nullptr, nullptr);
    GVariant* reply = g_dbus_connection_call_sync(
        fake.bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "RequestName", g_variant_new("(su)", "org.freedesktop.UPower", 4u), G_VARIANT_TYPE("(u)"),
        G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &error);
    guint32 answer = 0;
    if (reply != nullptr) g_variant_get(reply, "(u)", &answer);
    if (answer != 1) {
        std::fprintf(stderr, "fake UPower: the name is not ours\n");
        return 1;
    }
    g_variant_unref(reply);
    fake.loop = g_main_loop_new(nullptr, FALSE);
    g_unix_signal_add(
        SIGUSR1, [](gpointer d) { return OnSignal(d, State::Battery); }, &fake);
    g_unix_signal_add(
        SIGUSR2, [](gpointer d) { return OnSignal(d, State::Mains); }, &fake);
    g_unix_signal_add(
        SIGHUP, [](gpointer d) { return OnSignal(d, State::Nonsense); }, &fake);
    g_unix_signal_add(
        SIGTERM,
        [](gpointer d) {
            g_main_loop_quit(static_cast<Fake*>(d)->loop);
            return G_SOURCE_REMOVE;
        },
        &fake);
    std::printf("ready\n");
    std::fflush(stdout);
    g_main_loop_run(fake.loop);
    g_main_loop_unref(fake.loop);
    g_dbus_node_info_unref(node);
    g_dbus_connection_close_sync(fake.bus, nullptr, nullptr);
    g_object_unref(fake.bus);
    return 0;
}
