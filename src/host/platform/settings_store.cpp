// The settings store on GLib key files: one file per module under
// $XDG_CONFIG_HOME/mereglass/, one group named after the module, written
// atomically with g_file_set_contents.
//
// Provides: OpenSettingsStore, CloseSettingsStore, SettingsStorePath,
// StoreString, StoreBool, StoreInteger, StoreSetString, StoreSetBool,
// StoreSetInteger, StoreSynchronize.
#include <glib.h>
#include <glib/gstdio.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "host/platform/platform.h"

namespace platform {

struct SettingsStore {
    std::string group;
    std::string directory;
    std::string path;
    GKeyFile* file = nullptr;
};

namespace {

std::string ConfigDirectory() {
    // g_get_user_config_dir caches its answer for the process; the store
    // follows the variable as it is now, so tests can point it elsewhere.
    const char* xdg = g_getenv("XDG_CONFIG_HOME");
    if (xdg && *xdg && g_path_is_absolute(xdg)) return xdg;
    const char* home = g_getenv("HOME");
    if (!home || !*home) home = g_get_home_dir();
    gchar* dir = g_build_filename(home, ".config", nullptr);
    std::string result = dir;
    g_free(dir);
    return result;
}

}  // namespace

SettingsStore* OpenSettingsStore(const char* module) {
    auto* store = new SettingsStore;
    store->group = module;
    gchar* dir = g_build_filename(ConfigDirectory().c_str(), "mereglass", nullptr);
    store->directory = dir;
    g_free(dir);
    const std::string name = store->group + ".conf";
    gchar* path = g_build_filename(store->directory.c_str(), name.c_str(), nullptr);
    store->path = path;
    g_free(path);

    store->file = g_key_file_new();
    GError* error = nullptr;
    if (!g_key_file_load_from_file(store->file, store->path.c_str(), G_KEY_FILE_KEEP_COMMENTS,
                                   &error)) {
        const bool absent = g_error_matches(error, G_FILE_ERROR, G_FILE_ERROR_NOENT);
        if (!absent) {
            // Keep the unreadable file for the user before the version rule
            // writes a fresh one over it.
            const std::string bad = store->path + ".bad";
            if (g_rename(store->path.c_str(), bad.c_str()) == 0) {
                std::fprintf(stderr,
                             "mereglass: settings file %s cannot be read (%s); kept as %s, "
                             "factory settings used\n",
                             store->path.c_str(), error->message, bad.c_str());
            } else {
                std::fprintf(stderr, "mereglass: settings file %s cannot be read (%s)\n",
                             store->path.c_str(), error->message);
            }
        }
        g_clear_error(&error);
        g_key_file_free(store->file);
        store->file = g_key_file_new();
    }
    return store;
}

void CloseSettingsStore(SettingsStore* store) {
    if (!store) return;
    g_key_file_free(store->file);
    delete store;
}

const std::string& SettingsStorePath(const SettingsStore* store) { return store->path; }

bool StoreString(const SettingsStore* store, const char* key, std::string* value) {
    gchar* s = g_key_file_get_string(store->file, store->group.c_str(), key, nullptr);
    if (!s) return false;
    *value = s;
    g_free(s);
    return true;
}

bool StoreBool(const SettingsStore* store, const char* key) {
    GError* error = nullptr;
    const gboolean b = g_key_file_get_boolean(store->file, store->group.c_str(), key, &error);
    if (error) {
        g_error_free(error);
        return false;
    }
    return b != FALSE;
}

int32_t StoreInteger(const SettingsStore* store, const char* key) {
    GError* error = nullptr;
    const gint64 v = g_key_file_get_int64(store->file, store->group.c_str(), key, &error);
    if (error) {
        g_error_free(error);
        return 0;
    }
    if (v < INT32_MIN || v > INT32_MAX) return 0;
    return static_cast<int32_t>(v);
}

void StoreSetString(SettingsStore* store, const char* key, const char* value) {
    g_key_file_set_string(store->file, store->group.c_str(), key, value);
}

void StoreSetBool(SettingsStore* store, const char* key, bool value) {
    g_key_file_set_boolean(store->file, store->group.c_str(), key, value);
}

void StoreSetInteger(SettingsStore* store, const char* key, int32_t value) {
    g_key_file_set_integer(store->file, store->group.c_str(), key, value);
}

bool StoreSynchronize(SettingsStore* store) {
    if (g_mkdir_with_parents(store->directory.c_str(), 0700) != 0) {
        std::fprintf(stderr, "mereglass: cannot save settings: cannot create %s: %s\n",
                     store->directory.c_str(), std::strerror(errno));
        return false;
    }
    gsize length = 0;
    gchar* text = g_key_file_to_data(store->file, &length, nullptr);
    GError* error = nullptr;
    const gboolean ok = g_file_set_contents(store->path.c_str(), text, length, &error);
    g_free(text);
    if (!ok) {
        std::fprintf(stderr, "mereglass: cannot save settings to %s: %s\n", store->path.c_str(),
                     error->message);
        g_error_free(error);
        return false;
    }
    return true;
}

}  // namespace platform
