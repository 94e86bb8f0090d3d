// The settings store on GLib key files: one file per module under
// $XDG_CONFIG_HOME/mereglass/, one group named after the module, read only
// when it is a regular file, written atomically with g_file_set_contents
// (through a symbolic link to the file it names, keeping the file's mode),
// never written when the user made it read-only or it is a link to a file
// that cannot be read, and copies of files it replaces kept beside it. File names that are not
// UTF-8 are kept as file: URIs.
//
// Provides: OpenSettingsStore, ReloadSettingsStore, CloseSettingsStore,
// SettingsStorePath, StoreKeepFile, StoreString, StoreBool, StoreInteger,
// StoreFileName, StoreSetString, StoreSetBool, StoreSetInteger,
// StoreSetFileName, StoreSynchronize.
#include <fcntl.h>
#include <glib.h>
#include <glib/gstdio.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/platform.h"
#include "support/diagnostics.h"
#include "support/regular_file.h"
#include "support/translation.h"

namespace platform {

struct SettingsStore {
    std::string group;
    std::string directory;
    std::string path;
    GKeyFile* file = nullptr;
    // The file's bytes as read at opening; empty when there was none.
    std::string read;
    // Why the file must be left as it is (it could not be read and could
    // not be moved aside); empty when the store may write it.
    std::string leaveAlone;
};

namespace {

// A settings file is a few hundred bytes; anything far larger is not one.
constexpr uint64_t kMaxFileBytes = 1 << 20;
// Copies of one kind kept beside the file: "<name>", "<name>.1" ...
constexpr int kMaxCopies = 5;

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

std::string CopyName(const std::string& base, int n) {
    return n == 0 ? base : base + "." + std::to_string(n);
}

// Moves `from` to the first free name of base, base.1, ... without ever
// replacing one. 1 with the name in *to; 0 when all are taken; -1 with
// errno set when the move failed.
int MoveToFreeName(const std::string& from, const std::string& base, std::string* to) {
    for (int n = 0; n < kMaxCopies; ++n) {
        const std::string name = CopyName(base, n);
        if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, name.c_str(), RENAME_NOREPLACE) == 0) {
            *to = name;
            return 1;
        }
        if (errno == EEXIST) continue;
        if (errno != EINVAL && errno != ENOSYS) return -1;
        // A file system without the no-replace flag: look, then move.
        struct stat st {};
        if (lstat(name.c_str(), &st) == 0) continue;
        if (g_rename(from.c_str(), name.c_str()) != 0) return -1;
        *to = name;
        return 1;
    }
    return 0;
}

// Writes `bytes` as a new file at the first free name of base, base.1, ...
// Same results as MoveToFreeName.
int WriteToFreeName(const std::string& bytes, const std::string& base, std::string* to) {
    for (int n = 0; n < kMaxCopies; ++n) {
        const std::string name = CopyName(base, n);
        const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno == EEXIST) continue;
        if (fd < 0) return -1;
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t w = write(fd, bytes.data() + done, bytes.size() - done);
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) break;
            done += static_cast<size_t>(w);
        }
        const int saved = errno;
        if (close(fd) != 0 || done < bytes.size()) {
            unlink(name.c_str());
            errno = done < bytes.size() ? saved : errno;
            return -1;
        }
        *to = name;
        return 1;
    }
    return 0;
}

// The file that writing `path` should change: a symbolic link is followed
// to the file it names (which need not exist yet), so that the link stays.
std::string FollowLinks(const std::string& path) {
    std::string p = path;
    for (int hop = 0; hop < 40; ++hop) {
        gchar* target = g_file_read_link(p.c_str(), nullptr);
        if (!target) break;
        if (g_path_is_absolute(target)) {
            p = target;
        } else {
            gchar* dir = g_path_get_dirname(p.c_str());
            gchar* joined = g_build_filename(dir, target, nullptr);
            p = joined;
            g_free(joined);
            g_free(dir);
        }
        g_free(target);
    }
    return p;
}

// The user took every write permission away from the file (a link
// followed): it is not to be written over, whoever runs the program. Its
// mode decides, not access(), so that root is held to it too.
bool ReadOnlyFile(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 0222) == 0;
}

const char kReadOnly[] = N_("it is read-only");

// The text of the symbolic link at `path`; empty when it is none.
std::string LinkText(const std::string& path) {
    gchar* target = g_file_read_link(path.c_str(), nullptr);
    if (!target) return {};
    std::string text = target;
    g_free(target);
    return text;
}

// Sets an unreadable file aside as "<file>.bad" (numbered, never replacing
// an earlier one) and says so in one line. A symbolic link stays, and so
// does the file it names (which may be anything anywhere); so does a file
// the user made read-only: the store then leaves the file alone.
void SetAside(SettingsStore* store, const std::string& reason) {
    const std::string link = LinkText(store->path);
    if (!link.empty()) {
        store->leaveAlone = Format(_("it is a link to %s"), DisplayName(link).c_str());
    } else if (ReadOnlyFile(store->path)) {
        store->leaveAlone = _(kReadOnly);
    } else {
        std::string kept;
        const int moved = MoveToFreeName(store->path, store->path + ".bad", &kept);
        if (moved == 1) {
            Tell(Format(
                _("settings file %s cannot be read (%s); kept as %s, factory settings used"),
                DisplayName(store->path).c_str(), reason.c_str(), DisplayName(kept).c_str()));
            return;
        }
        store->leaveAlone = moved == 0
                                ? Format(_("%d unreadable copies are kept already"), kMaxCopies)
                                : Format(_("it cannot be moved aside: %s"), std::strerror(errno));
    }
    Tell(
        Format(_("settings file %s cannot be read (%s); left as it is (%s), factory settings used"),
               DisplayName(store->path).c_str(), reason.c_str(), store->leaveAlone.c_str()));
}

// A key file's escapes (\s \n \t \r \\) taken out of a raw value.
std::string Unescaped(const char* raw) {
    std::string out;
    for (const char* c = raw; *c != '\0'; ++c) {
        if (*c != '\\' || c[1] == '\0') {
            out += *c;
            continue;
        }
        ++c;
        out += *c == 's' ? ' ' : *c == 'n' ? '\n' : *c == 't' ? '\t' : *c == 'r' ? '\r' : *c;
    }
    return out;
}

constexpr char kFileUri[] = "file:";

// Reads the store's file into its key file, as OpenSettingsStore says.
void Load(SettingsStore* store) {
    store->file = g_key_file_new();
    // Only a regular file is read: a pipe or a device in its place would
    // block start-up or never end.
    std::string bytes, reason;
    bool absent = false;
    bool ok = ReadRegularFile(store->path.c_str(), kMaxFileBytes, &bytes, &reason, &absent);
    if (ok) {
        GError* error = nullptr;
        ok = g_key_file_load_from_data(store->file, bytes.data(), bytes.size(),
                                       G_KEY_FILE_KEEP_COMMENTS, &error);
        if (!ok) reason = error->message;
        g_clear_error(&error);
    }
    if (ok) {
        store->read = std::move(bytes);
    } else {
        // Keep the unreadable file for the user before the version rule
        // writes a fresh one over it.
        if (!absent) SetAside(store, reason);
        g_key_file_free(store->file);
        store->file = g_key_file_new();
    }
}

}  // namespace

void ReloadSettingsStore(SettingsStore* store) {
    g_key_file_free(store->file);
    store->read.clear();
    store->leaveAlone.clear();
    Load(store);
}

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

    Load(store);
    return store;
}

bool StoreKeepFile(SettingsStore* store, const char* suffix, std::string* keptAs,
                   std::string* error) {
    keptAs->clear();
    error->clear();
    if (!store->leaveAlone.empty()) return false;  // said when it was opened
    if (ReadOnlyFile(store->path)) {
        store->leaveAlone = _(kReadOnly);
        *error = store->leaveAlone;
        return false;
    }
    if (store->read.empty()) return true;
    const int written = WriteToFreeName(store->read, store->path + "." + suffix, keptAs);
    if (written == 1) return true;
    store->leaveAlone = written == 0
                            ? std::to_string(kMaxCopies) + " copies of that kind are kept already"
                            : Format(_("no copy can be made: %s"), std::strerror(errno));
    *error = store->leaveAlone;
    return false;
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
    // Blanks around the number are passed over, after it as before it (as
    // they are around true and false).
    gchar* text = g_key_file_get_value(store->file, store->group.c_str(), key, nullptr);
    gint64 v = 0;
    const bool ok = text != nullptr && g_ascii_string_to_signed(g_strstrip(text), 10, INT32_MIN,
                                                                INT32_MAX, &v, nullptr);
    g_free(text);
    return ok ? static_cast<int32_t>(v) : 0;
}

bool StoreFileName(const SettingsStore* store, const char* key, std::string* value) {
    gchar* s = g_key_file_get_string(store->file, store->group.c_str(), key, nullptr);
    if (!s) {
        // A name that an older build wrote as it was, not UTF-8: its bytes
        // are there, escaped as key files escape them.
        gchar* raw = g_key_file_get_value(store->file, store->group.c_str(), key, nullptr);
        if (!raw) return false;
        *value = Unescaped(raw);
        g_free(raw);
        return true;
    }
    *value = s;
    g_free(s);
    if (value->rfind(kFileUri, 0) == 0) {
        if (gchar* name = g_filename_from_uri(value->c_str(), nullptr, nullptr)) {
            *value = name;
            g_free(name);
        }
    }
    return true;
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

void StoreSetFileName(SettingsStore* store, const char* key, const std::string& value) {
    // A UTF-8 name is kept as it is, readable and as older builds kept it.
    if (g_utf8_validate(value.data(), static_cast<gssize>(value.size()), nullptr) &&
        value.rfind(kFileUri, 0) != 0) {
        StoreSetString(store, key, value.c_str());
        return;
    }
    // Any other as a file: URI, whose %-escapes carry every byte.
    gchar* absolute = g_canonicalize_filename(value.c_str(), nullptr);
    gchar* uri = g_filename_to_uri(absolute, nullptr, nullptr);
    StoreSetString(store, key, uri ? uri : "");
    g_free(uri);
    g_free(absolute);
}

bool StoreSynchronize(SettingsStore* store) {
    // The new file replaces the one a link names, not the link.
    const std::string target = FollowLinks(store->path);
    if (store->leaveAlone.empty() && ReadOnlyFile(target)) store->leaveAlone = _(kReadOnly);
    if (!store->leaveAlone.empty()) {
        Tell(Format(_("cannot save settings to %s: the file is left as it is (%s)"),
                    DisplayName(store->path).c_str(), store->leaveAlone.c_str()));
        return false;
    }
    if (g_mkdir_with_parents(store->directory.c_str(), 0700) != 0) {
        Tell(Format(_("cannot save settings: cannot create %s: %s"),
                    DisplayName(store->directory).c_str(), std::strerror(errno)));
        return false;
    }
    // Whatever is there must be a regular file; the new one keeps its mode.
    struct stat st {};
    int mode = 0666;
    if (stat(target.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) {
            Tell(Format(_("cannot save settings to %s: not a regular file"),
                        DisplayName(target).c_str()));
            return false;
        }
        mode = static_cast<int>(st.st_mode & 0777);
    }
    gsize length = 0;
    gchar* text = g_key_file_to_data(store->file, &length, nullptr);
    GError* error = nullptr;
    const auto flags = static_cast<GFileSetContentsFlags>(G_FILE_SET_CONTENTS_CONSISTENT |
                                                          G_FILE_SET_CONTENTS_ONLY_EXISTING);
    const gboolean ok = g_file_set_contents_full(target.c_str(), text, static_cast<gssize>(length),
                                                 flags, mode, &error);
    if (ok) store->read.assign(text, length);
    g_free(text);
    if (!ok) {
        Tell(Format(_("cannot save settings to %s: %s"), DisplayName(target).c_str(),
                    DisplayName(error->message).c_str()));
        g_error_free(error);
        return false;
    }
    return true;
}

}  // namespace platform
