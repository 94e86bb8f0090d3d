// GNOME's grant of screenshots to programs run from the host, or to this
// one by its application id, as its permission store on the session bus
// holds it. Without a "yes" there, the
// portal asks the user before it answers a request made without the user,
// over whatever covers the screen; with a "no" it refuses unasked. Relies
// on GIO's GDBus.
//
// Provides: PortalScreenshotGrant, LookUpScreenshotGrant, DesktopNamed.
#include <gio/gio.h>

#include <cstdlib>
#include <cstring>

#include "platform/bus/portal_internal.h"
#include "support/translation.h"

namespace platform {

namespace {

constexpr const char* kStoreName = "org.freedesktop.impl.portal.PermissionStore";
constexpr const char* kStorePath = "/org/freedesktop/impl/portal/PermissionStore";

// The application ids the portal may file this program's grant under: ""
// for a program run from the host, and (newer portals) the id of the menu
// entry that started it.
const char* const kAppIds[] = {"", "org.example.Mereglass"};

// The stored answer for one app id: one word, as the portal reads it.
ScreenshotGrant WordFor(GVariant* apps, const char* app) {
    const gchar** words = nullptr;
    if (!g_variant_lookup(apps, app, "^a&s", &words)) return ScreenshotGrant::Unasked;
    ScreenshotGrant grant = ScreenshotGrant::Unasked;
    if (words[0] != nullptr && words[1] == nullptr) {
        if (std::strcmp(words[0], "yes") == 0) grant = ScreenshotGrant::Granted;
        if (std::strcmp(words[0], "no") == 0) grant = ScreenshotGrant::Refused;
    }
    g_free(words);
    return grant;
}

// The grant under either id: a refusal under one stands, else a "yes"
// under one is the grant.
ScreenshotGrant GrantOf(GVariant* apps) {
    bool granted = false;
    for (const char* app : kAppIds) {
        const ScreenshotGrant grant = WordFor(apps, app);
        if (grant == ScreenshotGrant::Refused) return grant;
        granted = granted || grant == ScreenshotGrant::Granted;
    }
    return granted ? ScreenshotGrant::Granted : ScreenshotGrant::Unasked;
}

}  // namespace

bool DesktopNamed(const char* name) {
    const char* desktops = std::getenv("XDG_CURRENT_DESKTOP");
    if (desktops == nullptr) return false;
    gchar** names = g_strsplit(desktops, ":", -1);
    bool named = false;
    for (gchar** n = names; *n != nullptr && !named; ++n) {
        named = g_ascii_strcasecmp(*n, name) == 0;
    }
    g_strfreev(names);
    return named;
}

ScreenshotGrant LookUpScreenshotGrant(GDBusConnection* bus, double timeoutSeconds) {
    if (!DesktopNamed("GNOME")) return ScreenshotGrant::NotNeeded;
    // No table yet (an error), or no store at all: nothing is granted, and
    // the portal would ask.
    GVariant* reply = g_dbus_connection_call_sync(
        bus, kStoreName, kStorePath, kStoreName, "Lookup",
        g_variant_new("(ss)", "screenshot", "screenshot"), G_VARIANT_TYPE("(a{sas}v)"),
        G_DBUS_CALL_FLAGS_NONE, static_cast<int>(timeoutSeconds * 1000.0), nullptr, nullptr);
    if (reply == nullptr) return ScreenshotGrant::Unasked;
    GVariant* apps = g_variant_get_child_value(reply, 0);
    const ScreenshotGrant grant = GrantOf(apps);
    g_variant_unref(apps);
    g_variant_unref(reply);
    return grant;
}

ScreenshotGrant PortalScreenshotGrant(double timeoutSeconds) {
    if (!DesktopNamed("GNOME")) return ScreenshotGrant::NotNeeded;
    std::string error;
    GDBusConnection* bus = OpenSessionBus(N_("the screenshot portal"), &error);
    if (bus == nullptr) return ScreenshotGrant::Unasked;
    const ScreenshotGrant grant = LookUpScreenshotGrant(bus, timeoutSeconds);
    CloseSessionBus(bus);
    return grant;
}

}  // namespace platform
