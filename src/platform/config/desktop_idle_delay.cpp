// The desktop's own idle delay: GNOME's through GSettings (its schema
// looked up first, since GSettings ends the process on a schema it does
// not have), KDE's from its configuration files with a small line reader
// (KDE's nested groups, "[AC][DPMSControl]", are not groups that GLib's
// key files accept).
//
// Provides: ReadDesktopIdleDelay (platform/desktop_idle_delay.h). Relies on
// GIO, support/regular_file.h and UserConfigFolder (config_folder.h).
#include "platform/desktop_idle_delay.h"

#include <gio/gio.h>
#include <strings.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <sstream>
#include <string_view>

#include "platform/config/config_folder.h"
#include "support/regular_file.h"

namespace platform {

namespace {

// A KDE configuration file larger than this is not read.
constexpr uint64_t kMaxFileBytes = 1 << 20;
// KDE's screen locker locks after this many minutes when its file does not
// say otherwise.
constexpr double kKdeLockMinutes = 5.0;
// Delays beyond this (about 68 years) count as this.
constexpr double kLongest = INT_MAX;

bool InDesktopList(const std::string& list, std::string_view name) {
    std::istringstream in(list);
    for (std::string item; std::getline(in, item, ':');) {
        if (item == name) return true;
    }
    return false;
}

int GnomeIdleSeconds() {
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    if (source == nullptr) return 0;
    GSettingsSchema* schema =
        g_settings_schema_source_lookup(source, "org.gnome.desktop.session", TRUE);
    if (schema == nullptr) return 0;
    int seconds = 0;
    if (g_settings_schema_has_key(schema, "idle-delay")) {
        GSettingsSchemaKey* key = g_settings_schema_get_key(schema, "idle-delay");
        if (g_variant_type_equal(g_settings_schema_key_get_value_type(key),
                                 G_VARIANT_TYPE_UINT32)) {
            GSettings* settings = g_settings_new_full(schema, nullptr, nullptr);
            seconds = static_cast<int>(std::min<guint>(g_settings_get_uint(settings, "idle-delay"),
                                                       static_cast<guint>(INT_MAX)));
            g_object_unref(settings);
        }
        g_settings_schema_key_unref(key);
    }
    g_settings_schema_unref(schema);
    return seconds;
}

std::string_view Trimmed(std::string_view s) {
    const size_t begin = s.find_first_not_of(" \t\r");
    if (begin == std::string_view::npos) return {};
    return s.substr(begin, s.find_last_not_of(" \t\r") - begin + 1);
}

// A group's or key's name without KDE's trailing flags ("[$i]", "[$d]").
std::string_view WithoutFlags(std::string_view name) {
    const size_t flags = name.rfind("[$");
    return flags != std::string_view::npos && name.back() == ']' ? Trimmed(name.substr(0, flags))
                                                                 : name;
}

// The value of `key` in `group` ("[Daemon]", "[AC][DPMSControl]") of a KDE
// configuration file, the last one when it is there twice. False when the
// file cannot be read or has no such key.
bool KdeValue(const std::string& path, std::string_view group, std::string_view key,
              std::string* value) {
    std::string text, error;
    if (!ReadRegularFile(path.c_str(), kMaxFileBytes, &text, &error)) return false;
    std::istringstream in(text);
    bool inGroup = false, found = false;
    for (std::string raw; std::getline(in, raw);) {
        const std::string_view line = Trimmed(raw);
        if (line.empty() || line[0] == '#') continue;
        if (line[0] == '[') {
            inGroup = WithoutFlags(line) == group;
            continue;
        }
        const size_t equals = line.find('=');
        if (!inGroup || equals == std::string_view::npos) continue;
        if (WithoutFlags(Trimmed(line.substr(0, equals))) != key) continue;
        *value = Trimmed(line.substr(equals + 1));
        found = true;
    }
    return found;
}

// KDE's words for true and false; `fallback` for anything else.
bool KdeBool(const std::string& text, bool fallback) {
    for (const char* yes : {"true", "on", "yes", "1"}) {
        if (strcasecmp(text.c_str(), yes) == 0) return true;
    }
    for (const char* no : {"false", "off", "no", "0"}) {
        if (strcasecmp(text.c_str(), no) == 0) return false;
    }
    return fallback;
}

// A number of `unit` seconds as whole seconds; 0 for none, a bad number or
// one not above 0.
int KdeSeconds(const std::string& text, double unit) {
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || *end != '\0' || !std::isfinite(v) || v <= 0.0) return 0;
    return static_cast<int>(std::min(std::lround(v * unit), static_cast<long>(kLongest)));
}

// The earlier of two delays; a delay of 0 seconds is none.
void KeepEarlier(DesktopIdleDelay* best, int seconds, const char* desktop,
                 DesktopIdleAction action) {
    if (seconds <= 0 || (best->seconds > 0 && best->seconds <= seconds)) return;
    *best = DesktopIdleDelay{seconds, desktop, action};
}

void ReadKde(const std::string& folder, DesktopIdleDelay* best) {
    const std::string locker = folder + "/kscreenlockerrc";
    std::string value;
    const bool autolock = !KdeValue(locker, "[Daemon]", "Autolock", &value) || KdeBool(value, true);
    if (autolock) {
        const int seconds = KdeValue(locker, "[Daemon]", "Timeout", &value)
                                ? KdeSeconds(value, 60.0)
                                : static_cast<int>(kKdeLockMinutes * 60.0);
        KeepEarlier(best, seconds, "KDE", DesktopIdleAction::Lock);
    }
    if (KdeValue(folder + "/powermanagementprofilesrc", "[AC][DPMSControl]", "idleTime", &value)) {
        KeepEarlier(best, KdeSeconds(value, 1.0), "KDE", DesktopIdleAction::ScreenOff);
    }
}

}  // namespace

DesktopIdleDelay ReadDesktopIdleDelay(const std::string& currentDesktop,
                                      const std::string& configFolder) {
    DesktopIdleDelay best;
    if (InDesktopList(currentDesktop, "GNOME")) {
        KeepEarlier(&best, GnomeIdleSeconds(), "GNOME", DesktopIdleAction::Blank);
    }
    if (InDesktopList(currentDesktop, "KDE") && !configFolder.empty()) {
        ReadKde(configFolder, &best);
    }
    return best;
}

DesktopIdleDelay ReadDesktopIdleDelay() {
    const char* desktop = std::getenv("XDG_CURRENT_DESKTOP");
    return ReadDesktopIdleDelay(desktop != nullptr ? desktop : "", UserConfigFolder());
}

}  // namespace platform
