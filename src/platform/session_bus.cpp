// A connection of our own to the session bus. Relies on GIO's GDBus.
//
// Provides: OpenSessionBus, CloseSessionBus.
#include "platform/session_bus_internal.h"
#include "support/translation.h"

namespace platform {

GDBusConnection* OpenSessionBus(const char* purpose, std::string* error) {
    GError* gerror = nullptr;
    gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &gerror);
    GDBusConnection* bus =
        address == nullptr
            ? nullptr
            : g_dbus_connection_new_for_address_sync(
                  address,
                  static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                    G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
                  nullptr, nullptr, &gerror);
    g_free(address);
    if (bus == nullptr) {
        *error = Format(_("no session bus for %s: %s"), _(purpose),
                        gerror != nullptr ? gerror->message : "");
    }
    if (gerror != nullptr) g_error_free(gerror);
    return bus;
}

void CloseSessionBus(GDBusConnection* bus) {
    g_dbus_connection_close_sync(bus, nullptr, nullptr);
    g_object_unref(bus);
}

}  // namespace platform
