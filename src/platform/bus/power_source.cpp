// The power source: UPower's OnBattery on a system-bus connection of our
// own, dispatched in a main context of our own whose descriptors sit in
// one epoll set for the caller to wait on. Relies on GIO's GDBus and
// Linux's epoll.
//
// Provides: OpenPowerSource, ClosePowerSource, OnBattery, PowerSourceFd,
// DispatchPowerSource.
#include "platform/power_source.h"

#include <gio/gio.h>
#include <poll.h>

#include <algorithm>
#include <vector>

#include "platform/bus/context_wait_internal.h"
#include "platform/bus/session_bus_internal.h"

namespace platform {

namespace {

constexpr const char* kName = "org.freedesktop.UPower";
constexpr const char* kPath = "/org/freedesktop/UPower";
constexpr const char* kProperty = "OnBattery";
// How long the first question may take, milliseconds; later ones are
// answered whenever UPower answers, or end when it goes.
constexpr int kFirstCallMilliseconds = 1000;

}  // namespace

struct PowerSource {
    OwnContext own;
    GDBusConnection* connection = nullptr;
    guint subscriptions[2] = {0, 0};
    GCancellable* asking = nullptr;  // the question in flight, if any
    int calls = 0;                   // questions whose answer has not run yet
    bool onBattery = false;
    bool changed = false;  // since the last dispatch
};

namespace {

void SetOnBattery(PowerSource* s, bool onBattery) {
    if (s->onBattery == onBattery) return;
    s->onBattery = onBattery;
    s->changed = true;
}

// OnBattery from a property's value: a boolean, or anything else, which
// counts as mains.
void TakeValue(PowerSource* s, GVariant* value) {
    SetOnBattery(s, value != nullptr && g_variant_is_of_type(value, G_VARIANT_TYPE_BOOLEAN) &&
                        g_variant_get_boolean(value));
}

// The answer of Get: (v).
void TakeAnswer(PowerSource* s, GVariant* reply) {
    GVariant* value = nullptr;
    if (reply != nullptr) g_variant_get(reply, "(v)", &value);
    TakeValue(s, value);
    if (value != nullptr) g_variant_unref(value);
}

GVariant* GetArguments() { return g_variant_new("(ss)", kName, kProperty); }

void OnAnswer(GObject* object, GAsyncResult* result, gpointer data) {
    auto* s = static_cast<PowerSource*>(data);
    --s->calls;
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(object), result, &error);
    const bool cancelled =
        error != nullptr && g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
    if (error != nullptr) g_error_free(error);
    if (cancelled) return;
    TakeAnswer(s, reply);
    if (reply != nullptr) g_variant_unref(reply);
}

void StopAsking(PowerSource* s) {
    if (s->asking == nullptr) return;
    g_cancellable_cancel(s->asking);
    g_object_unref(s->asking);
    s->asking = nullptr;
}

// Asks UPower again, in the background: it came (back) on the bus, or
// said the value it had sent no longer holds.
void AskAgain(PowerSource* s) {
    StopAsking(s);
    s->asking = g_cancellable_new();
    ++s->calls;
    g_dbus_connection_call(s->connection, kName, kPath, "org.freedesktop.DBus.Properties", "Get",
                           GetArguments(), G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NO_AUTO_START,
                           G_MAXINT, s->asking, OnAnswer, s);
}

void OnPropertiesChanged(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                         GVariant* parameters, gpointer data) {
    auto* s = static_cast<PowerSource*>(data);
    if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(sa{sv}as)"))) {
        SetOnBattery(s, false);
        return;
    }
    GVariant* changed = g_variant_get_child_value(parameters, 1);
    GVariant* value = g_variant_lookup_value(changed, kProperty, nullptr);
    if (value != nullptr) {
        TakeValue(s, value);
        g_variant_unref(value);
    }
    g_variant_unref(changed);
    GVariant* invalidated = g_variant_get_child_value(parameters, 2);
    const gchar** names = g_variant_get_strv(invalidated, nullptr);
    if (g_strv_contains(names, kProperty)) AskAgain(s);
    g_free(names);
    g_variant_unref(invalidated);
}

// UPower came on the bus, or left it (the machine then counts as on mains).
void OnOwnerChanged(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                    GVariant* parameters, gpointer data) {
    auto* s = static_cast<PowerSource*>(data);
    if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(sss)"))) return;
    const gchar* name = nullptr;
    const gchar* oldOwner = nullptr;
    const gchar* newOwner = nullptr;
    g_variant_get(parameters, "(&s&s&s)", &name, &oldOwner, &newOwner);
    StopAsking(s);
    if (*newOwner == '\0') {
        SetOnBattery(s, false);
    } else {
        AskAgain(s);
    }
}

void OnClosed(GDBusConnection*, gboolean, GError*, gpointer data) {
    SetOnBattery(static_cast<PowerSource*>(data), false);
}

void Subscribe(PowerSource* s) {
    g_signal_connect(s->connection, "closed", G_CALLBACK(OnClosed), s);
    s->subscriptions[0] = g_dbus_connection_signal_subscribe(
        s->connection, kName, "org.freedesktop.DBus.Properties", "PropertiesChanged", kPath, kName,
        G_DBUS_SIGNAL_FLAGS_NONE, OnPropertiesChanged, s, nullptr);
    s->subscriptions[1] = g_dbus_connection_signal_subscribe(
        s->connection, "org.freedesktop.DBus", "org.freedesktop.DBus", "NameOwnerChanged",
        "/org/freedesktop/DBus", kName, G_DBUS_SIGNAL_FLAGS_NONE, OnOwnerChanged, s, nullptr);
}

}  // namespace

PowerSource* OpenPowerSource() {
    auto* s = new PowerSource;
    const bool ready = OpenOwnContext(&s->own);
    g_main_context_push_thread_default(s->own.context);
    std::string error;
    s->connection = ready ? OpenSystemBus("the power source", &error) : nullptr;
    if (s->connection != nullptr) Subscribe(s);
    g_main_context_pop_thread_default(s->own.context);
    if (s->connection == nullptr) {
        ClosePowerSource(s);
        return nullptr;
    }
    // Subscribed first, so that a change after this answer is heard.
    GVariant* reply = g_dbus_connection_call_sync(
        s->connection, kName, kPath, "org.freedesktop.DBus.Properties", "Get", GetArguments(),
        G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NO_AUTO_START, kFirstCallMilliseconds, nullptr,
        nullptr);
    TakeAnswer(s, reply);
    if (reply != nullptr) g_variant_unref(reply);
    s->changed = false;
    g_main_context_push_thread_default(s->own.context);
    PrepareOwnContext(&s->own);
    g_main_context_pop_thread_default(s->own.context);
    return s;
}

void ClosePowerSource(PowerSource* s) {
    if (s == nullptr) return;
    if (s->connection != nullptr) {
        StopAsking(s);
        for (guint id : s->subscriptions) g_dbus_connection_signal_unsubscribe(s->connection, id);
        g_signal_handlers_disconnect_by_data(s->connection, s);
        CloseSessionBus(s->connection);
    }
    // A cancelled question's answer, and the unsubscriptions' clean-up,
    // run in the context; the answer still reads *s.
    while (s->calls > 0) g_main_context_iteration(s->own.context, TRUE);
    CloseOwnContext(&s->own);
    delete s;
}

bool OnBattery(const PowerSource* s) { return s != nullptr && s->onBattery; }

int PowerSourceFd(const PowerSource* s) { return s != nullptr ? s->own.epollFd : -1; }

bool DispatchPowerSource(PowerSource* s) {
    // The answers of questions asked now come back to this context.
    DispatchOwnContext(&s->own);
    const bool changed = s->changed;
    s->changed = false;
    return changed;
}

}  // namespace platform
