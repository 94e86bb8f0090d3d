// The autostart entry of the idle watch: its text, its place, and writing
// or removing it without touching anything else. A new entry is written
// to a temporary file in the autostart folder, synced and renamed over its
// place, so a session never reads half an entry.
//
// Provides: DefaultAutostartPlace, AutostartFolder, AutostartEntryPath,
// AutostartEntryText, ExecArgument, AutostartEntryPresent,
// ChangeAutostartEntry (platform/autostart_entry.h) and UserConfigFolder
// (config_folder.h). Relies on POSIX file calls, GLib's key files and
// UTF-8 check, and support/regular_file.h.
#include "platform/autostart_entry.h"

#include <fcntl.h>
#include <glib.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "platform/config/config_folder.h"
#include "support/diagnostics.h"
#include "support/regular_file.h"
#include "support/translation.h"

namespace platform {

namespace {

const char kEntryName[] = "mereglass-idle-watch.desktop";
// An entry larger than this is not one this program wrote.
constexpr uint64_t kMaxEntryBytes = 64 * 1024;
// The characters that a word of an Exec line may only hold inside quotes.
const char kReserved[] = " \t\n\"'\\><~|&;$*?#()`";

std::string Errno() { return std::strerror(errno); }

std::string HomeFolder() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && *home != '\0') return home;
    const passwd* pw = getpwuid(getuid());
    return pw != nullptr && pw->pw_dir != nullptr ? pw->pw_dir : "";
}

// A folder, made for its owner alone (0700, as the XDG base-directory
// rules say of the configuration folder, and as the desktop makes its
// own) when it is missing; its parent never is. False with a reason
// otherwise.
bool MakePrivateFolder(const std::string& folder, std::string* error) {
    struct stat st {};
    if (stat(folder.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return true;
        *error = DisplayName(folder) + " is not a folder";
        return false;
    }
    if (errno != ENOENT || mkdir(folder.c_str(), 0700) != 0) {
        *error = Format(_("cannot make the folder %s: %s"), DisplayName(folder).c_str(),
                        Errno().c_str());
        return false;
    }
    return true;
}

mode_t NewFileMode() {
    const mode_t mask = umask(022);
    umask(mask);
    return 0666 & ~mask;
}

bool WriteAll(int fd, std::string_view text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Writes `text` to a temporary file in `folder`, syncs it and renames it
// over `path`; on failure the temporary file is gone and `path` untouched.
bool ReplaceWhole(const std::string& folder, const std::string& path, std::string_view text,
                  std::string* error) {
    std::string temp = folder + "/." + kEntryName + ".XXXXXX";
    const int fd = mkstemp(temp.data());
    if (fd < 0) {
        *error = Format(_("cannot write in %s: %s"), DisplayName(folder).c_str(), Errno().c_str());
        return false;
    }
    bool ok = fchmod(fd, NewFileMode()) == 0 && WriteAll(fd, text) && fsync(fd) == 0;
    if (!ok)
        *error = Format(_("cannot write in %s: %s"), DisplayName(folder).c_str(), Errno().c_str());
    if (close(fd) != 0 && ok) {
        *error = Format(_("cannot write in %s: %s"), DisplayName(folder).c_str(), Errno().c_str());
        ok = false;
    }
    if (ok && rename(temp.c_str(), path.c_str()) != 0) {
        *error = Errno();
        ok = false;
    }
    if (!ok) {
        unlink(temp.c_str());
        return false;
    }
    // The rename itself reaches the disk with the folder.
    const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return true;
}

int Failed(const std::string& path, const std::string& why, std::string* message) {
    *message = Format(_("cannot change the autostart entry %s: %s; nothing changed"),
                      DisplayName(path).c_str(), why.c_str());
    return 1;
}

int Add(const AutostartPlace& place, std::string* message) {
    const std::string folder = AutostartFolder(place), path = AutostartEntryPath(place);
    std::string error;
    // Desktop entries are UTF-8, and their escapes carry no other bytes.
    if (!g_utf8_validate(place.program.data(), static_cast<gssize>(place.program.size()),
                         nullptr)) {
        return Failed(path,
                      Format(_("the program's path is not UTF-8, which a desktop entry cannot "
                               "hold: %s"),
                             DisplayName(place.program).c_str()),
                      message);
    }
    if (!MakePrivateFolder(place.configFolder, &error) || !MakePrivateFolder(folder, &error)) {
        return Failed(path, error, message);
    }
    const std::string text = AutostartEntryText(place.program);
    std::string old;
    bool absent = false;
    if (!ReadRegularFile(path.c_str(), kMaxEntryBytes, &old, &error, &absent) && !absent) {
        return Failed(path, Format(_("cannot read it: %s"), error.c_str()), message);
    }
    if (!absent && old == text) {
        *message = Format(_("the autostart entry %s is there already; nothing changed"),
                          DisplayName(path).c_str());
        return 0;
    }
    if (!ReplaceWhole(folder, path, text, &error)) return Failed(path, error, message);
    *message = Format(absent ? _("added the autostart entry %s: the idle watch starts with every "
                                 "session")
                             : _("rewrote the autostart entry %s: the idle watch starts with every "
                                 "session"),
                      DisplayName(path).c_str());
    return 0;
}

int Remove(const AutostartPlace& place, std::string* message) {
    const std::string path = AutostartEntryPath(place);
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) {
        if (errno != ENOENT && errno != ENOTDIR) return Failed(path, Errno(), message);
        *message =
            Format(_("there is no autostart entry %s; nothing changed"), DisplayName(path).c_str());
        return 0;
    }
    // A file, or a link (only the link goes, never what it names).
    if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) {
        return Failed(path, S_ISDIR(st.st_mode) ? _("it is a folder") : _("it is not a file"),
                      message);
    }
    if (unlink(path.c_str()) != 0) return Failed(path, Errno(), message);
    *message = Format(_("removed the autostart entry %s"), DisplayName(path).c_str());
    return 0;
}

}  // namespace

std::string UserConfigFolder() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && xdg[0] == '/') return xdg;
    const std::string home = HomeFolder();
    if (home.empty()) return "";
    return home + (home.back() == '/' ? ".config" : "/.config");
}

bool DefaultAutostartPlace(AutostartPlace* place, std::string* error) {
    place->configFolder = UserConfigFolder();
    if (place->configFolder.empty()) {
        *error = _("no home folder: HOME is unset and the password database has none");
        return false;
    }
    char exe[PATH_MAX];
    if (realpath("/proc/self/exe", exe) == nullptr) {
        *error = Format(_("cannot find this program's path: %s"), Errno().c_str());
        return false;
    }
    place->program = exe;
    return true;
}

std::string AutostartFolder(const AutostartPlace& place) {
    return place.configFolder + "/autostart";
}

std::string AutostartEntryPath(const AutostartPlace& place) {
    return AutostartFolder(place) + "/" + kEntryName;
}

std::string ExecArgument(const std::string& word) {
    const bool quoted = word.empty() || word.find_first_of(kReserved) != std::string::npos;
    std::string exec = quoted ? "\"" : "";
    for (char c : word) {
        if (quoted && (c == '"' || c == '`' || c == '$' || c == '\\')) exec += '\\';
        exec += c;
        if (c == '%') exec += '%';
    }
    if (quoted) exec += '"';
    // The key file's own escapes apply to the value first.
    std::string value;
    for (char c : exec) {
        switch (c) {
            case '\\':
                value += "\\\\";
                break;
            case '\n':
                value += "\\n";
                break;
            case '\t':
                value += "\\t";
                break;
            case '\r':
                value += "\\r";
                break;
            default:
                value += c;
        }
    }
    return value;
}

std::string AutostartEntryText(const std::string& program) {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Mereglass idle watch\n"
           "Comment=Starts the Mereglass screen saver when the computer is idle\n"
           "Exec=" +
           ExecArgument(program) +
           " --idle-watch\n"
           "Icon=org.example.Mereglass\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

bool AutostartEntryPresent(const AutostartPlace& place) {
    struct stat st {};
    return lstat(AutostartEntryPath(place).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool AutostartEntryEnabled(const AutostartPlace& place) {
    std::string text, error;
    if (!ReadRegularFile(AutostartEntryPath(place).c_str(), kMaxEntryBytes, &text, &error)) {
        return false;
    }
    GKeyFile* file = g_key_file_new();
    bool enabled =
        g_key_file_load_from_data(file, text.data(), text.size(), G_KEY_FILE_NONE, nullptr) &&
        g_key_file_has_group(file, "Desktop Entry");
    // The desktop's two ways of switching an entry off; a value that is
    // not a boolean reads as neither.
    GError* unset = nullptr;
    if (enabled && g_key_file_get_boolean(file, "Desktop Entry", "Hidden", &unset)) {
        enabled = false;
    }
    g_clear_error(&unset);
    if (enabled &&
        !g_key_file_get_boolean(file, "Desktop Entry", "X-GNOME-Autostart-enabled", &unset) &&
        unset == nullptr) {
        enabled = false;
    }
    g_clear_error(&unset);
    g_key_file_free(file);
    return enabled;
}

int ChangeAutostartEntry(bool add, const AutostartPlace& place, std::string* message) {
    return add ? Add(place, message) : Remove(place, message);
}

}  // namespace platform
