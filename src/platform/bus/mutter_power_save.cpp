// Mutter's power-save mode through a GDBusProxy of
// org.gnome.Mutter.DisplayConfig, which keeps the property as Mutter
// announces it (and drops it when Mutter leaves the bus), on a session-bus
// connection of our own dispatched in a main context of our own whose
// descriptors sit in one epoll set for the caller to wait on. Relies on
// GIO's GDBus and Linux's epoll.
//
// Provides: OpenMutterPowerSave, CloseMutterPowerSave, MutterScreensOff,
// MutterPowerSaveFd, DispatchMutterPowerSave.
#include "platform/mutter_power_save.h"

#include <gio/gio.h>

#include <string>

#include "platform/bus/context_wait_internal.h"
#include "platform/bus/session_bus_internal.h"

namespace platform {

namespace {

constexpr const char* kName = "org.gnome.Mutter.DisplayConfig";
constexpr const char* kPath = "/org/gnome/Mutter/DisplayConfig";
constexpr const char* kProperty = "PowerSaveMode";

}  // namespace

struct MutterPowerSave {
    OwnContext own;
    GDBusConnection* connection = nullptr;
    GDBusProxy* proxy = nullptr;
    bool off = false;
    bool changed = false;  // since the last dispatch
};

namespace {

// The mode as the proxy holds it: 0 on, 1 standby, 2 suspend, 3 off, -1
// unknown; nothing once Mutter has left.
void TakeMode(MutterPowerSave* m) {
    GVariant* mode = g_dbus_proxy_get_cached_property(m->proxy, kProperty);
    const bool off = mode != nullptr && g_variant_is_of_type(mode, G_VARIANT_TYPE_INT32) &&
                     g_variant_get_int32(mode) > 0;
    if (mode != nullptr) g_variant_unref(mode);
    if (off == m->off) return;
    m->off = off;
    m->changed = true;
}

void OnPropertiesChanged(GDBusProxy*, GVariant*, GStrv, gpointer data) {
    TakeMode(static_cast<MutterPowerSave*>(data));
}

void OnOwnerChanged(GObject*, GParamSpec*, gpointer data) {
    TakeMode(static_cast<MutterPowerSave*>(data));
}

}  // namespace

MutterPowerSave* OpenMutterPowerSave() {
    auto* m = new MutterPowerSave;
    const bool ready = OpenOwnContext(&m->own);
    // The proxy's signals come to the context it was made in.
    g_main_context_push_thread_default(m->own.context);
    std::string error;  // not shown: without Mutter there is nothing to say
    m->connection = ready ? OpenSessionBus("Mutter's power-save mode", &error) : nullptr;
    if (m->connection != nullptr) {
        m->proxy = g_dbus_proxy_new_sync(
            m->connection,
            static_cast<GDBusProxyFlags>(G_DBUS_PROXY_FLAGS_DO_NOT_AUTO_START |
                                         G_DBUS_PROXY_FLAGS_GET_INVALIDATED_PROPERTIES),
            nullptr, kName, kPath, kName, nullptr, nullptr);
    }
    gchar* owner = m->proxy != nullptr ? g_dbus_proxy_get_name_owner(m->proxy) : nullptr;
    if (owner != nullptr) {
        g_signal_connect(m->proxy, "g-properties-changed", G_CALLBACK(OnPropertiesChanged), m);
        g_signal_connect(m->proxy, "notify::g-name-owner", G_CALLBACK(OnOwnerChanged), m);
        TakeMode(m);
        m->changed = false;
        PrepareOwnContext(&m->own);
    }
    g_main_context_pop_thread_default(m->own.context);
    if (owner == nullptr) {
        CloseMutterPowerSave(m);
        return nullptr;
    }
    g_free(owner);
    return m;
}

void CloseMutterPowerSave(MutterPowerSave* m) {
    if (m == nullptr) return;
    if (m->proxy != nullptr) {
        g_signal_handlers_disconnect_by_data(m->proxy, m);
        g_object_unref(m->proxy);
    }
    if (m->connection != nullptr) CloseSessionBus(m->connection);
    // What the proxy and the connection leave in the context runs there.
    CloseOwnContext(&m->own);
    delete m;
}

bool MutterScreensOff(const MutterPowerSave* m) { return m != nullptr && m->off; }

int MutterPowerSaveFd(const MutterPowerSave* m) { return m != nullptr ? m->own.epollFd : -1; }

bool DispatchMutterPowerSave(MutterPowerSave* m) {
    DispatchOwnContext(&m->own);
    const bool changed = m->changed;
    m->changed = false;
    return changed;
}

}  // namespace platform
