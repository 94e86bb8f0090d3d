// Connections of our own to the session and system buses. Relies on GIO's
// GDBus.
//
// Provides: OpenSessionBus, OpenSystemBus, CloseSessionBus.
#include "platform/bus/session_bus_internal.h"
#include "support/translation.h"

namespace platform {

namespace {

GDBusConnection* OpenBus(GBusType type, const char* purpose, std::string* error) {
    GError* gerror = nullptr;
    gchar* address = g_dbus_address_get_for_bus_sync(type, nullptr, &gerror);
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
        const char* why = gerror != nullptr ? gerror->message : "";
        *error = type == G_BUS_TYPE_SYSTEM
                     ? std::string("no system bus for ") + purpose + ": " + why
                     : Format(_("no session bus for %s: %s"), _(purpose), why);
    }
    if (gerror != nullptr) g_error_free(gerror);
    return bus;
}

}  // namespace

GDBusConnection* OpenSessionBus(const char* purpose, std::string* error) {
    return OpenBus(G_BUS_TYPE_SESSION, purpose, error);
}

GDBusConnection* OpenSystemBus(const char* purpose, std::string* error) {
    return OpenBus(G_BUS_TYPE_SYSTEM, purpose, error);
}

void CloseSessionBus(GDBusConnection* bus) {
    g_dbus_connection_close_sync(bus, nullptr, nullptr);
    g_object_unref(bus);
}

}  // namespace platform
