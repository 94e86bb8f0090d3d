// Listing this program in ~/.xscreensaver: links followed, the whole file
// read (only a regular one), and the new one written beside it and synced;
// then, while the file is still the one read, the previous file kept as
// the backup, and the new one renamed over it. Relies on POSIX file calls, support/regular_file.h
// and listing/xscreensaver_programs.h.
#include "listing/xscreensaver_listing.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>

#include "support/regular_file.h"
#include "support/translation.h"

namespace {

const char kSystemDefaults[] = "/etc/X11/app-defaults/XScreenSaver";
const char kBackupSuffix[] = ".bak";
constexpr int kMaxLinks = 40;
// An init file is tens of kilobytes, a few hundred with thousands of
// entries; anything far larger is not one.
constexpr uint64_t kMaxFileBytes = 16 << 20;

// What the user reads, one line each.
std::string ChangeMessage(ProgramsChange change, const std::string& file, bool backup) {
    const char* f = file.c_str();
    const std::string previous = file + kBackupSuffix;
    const char* p = previous.c_str();
    switch (change) {
        case ProgramsChange::Added:
            return backup
                       ? Format(_("added Mereglass to the savers in %s; the previous file is %s"),
                                f, p)
                       : Format(_("added Mereglass to the savers in %s (a new file)"), f);
        case ProgramsChange::Enabled:
            return backup ? Format(_("enabled Mereglass in %s; the previous file is %s"), f, p)
                          : Format(_("enabled Mereglass in %s (a new file)"), f);
        case ProgramsChange::AlreadyListed:
            return Format(_("Mereglass is already in %s; nothing changed"), f);
        case ProgramsChange::Removed:
            return backup ? Format(_("removed Mereglass from %s; the previous file is %s"), f, p)
                          : Format(_("removed Mereglass from %s (a new file)"), f);
        case ProgramsChange::NotListed:
            return Format(_("Mereglass is not in %s; nothing changed"), f);
    }
    return {};
}

std::string FailureMessage(const std::string& file, const std::string& why) {
    return Format(_("cannot change %s: %s; nothing changed"), file.c_str(), why.c_str());
}

std::string Errno(const char* what) { return Format("%s: %s", _(what), std::strerror(errno)); }

// The file that `path` names once links are followed; it need not exist.
bool FollowLinks(const std::string& path, std::string* target, std::string* error) {
    std::string p = path;
    for (int hop = 0; hop < kMaxLinks; ++hop) {
        struct stat st {};
        if (lstat(p.c_str(), &st) != 0) {
            if (errno != ENOENT) {
                *error = Errno(N_("cannot look at it"));
                return false;
            }
            *target = p;
            return true;
        }
        if (!S_ISLNK(st.st_mode)) {
            *target = p;
            return true;
        }
        char link[PATH_MAX];
        const ssize_t n = readlink(p.c_str(), link, sizeof link);
        if (n <= 0 || n >= static_cast<ssize_t>(sizeof link)) {
            *error = Errno(N_("cannot read the link"));
            return false;
        }
        std::string next(link, static_cast<size_t>(n));
        if (next[0] != '/') {
            const size_t slash = p.rfind('/');
            next = (slash == std::string::npos ? std::string() : p.substr(0, slash + 1)) + next;
        }
        p = next;
    }
    *error = _("too many symbolic links");
    return false;
}

// Reads a whole regular file, without waiting on a named pipe or a device
// in its place. A missing file reads as empty, with `exists` false.
bool ReadWhole(const std::string& path, std::string* text, bool* exists, struct stat* st,
               std::string* error) {
    text->clear();
    *exists = false;
    struct stat seen {};
    if (stat(path.c_str(), &seen) == 0 && !S_ISREG(seen.st_mode)) {
        *error = _("it is not a regular file");
        return false;
    }
    uint64_t size = 0;
    std::string reason;
    bool absent = false;
    const int fd = OpenRegularFile(path.c_str(), kMaxFileBytes, &size, &reason, &absent);
    if (fd < 0) {
        if (absent) return true;
        *error = Format(_("cannot read it: %s"), reason.c_str());
        return false;
    }
    bool ok = fstat(fd, st) == 0;
    if (!ok) *error = Errno(N_("cannot read it"));
    char buffer[65536];
    while (ok) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            *error = Errno(N_("cannot read it"));
            ok = false;
        }
        if (n <= 0) break;
        text->append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    *exists = ok;
    return ok;
}

// Writes `text` to a new file in the folder of `path`, synced, whose name
// goes to `temp`. The file gets `mode` and, when it can, the owner of the
// file it is to replace. False, with the file removed, when it cannot.
bool WriteBeside(const std::string& path, std::string_view text, mode_t mode,
                 const struct stat* previous, std::string* temp, std::string* error) {
    *temp = path + ".XXXXXX";
    const int fd = mkstemp(temp->data());
    if (fd < 0) {
        *error = Errno(N_("cannot write beside it"));
        return false;
    }
    bool ok = fchmod(fd, mode) == 0;
    if (previous != nullptr && (previous->st_uid != geteuid() || previous->st_gid != getegid())) {
        // Run as root on a user's file, the file stays the user's; anyone
        // else cannot give a file away and keeps it as their own.
        const int given = fchown(fd, previous->st_uid, previous->st_gid);
        (void)given;
    }
    size_t done = 0;
    while (ok && done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += static_cast<size_t>(n);
    }
    ok = ok && fsync(fd) == 0;
    if (!ok) *error = Errno(N_("cannot write beside it"));
    if (close(fd) != 0 && ok) {
        *error = Errno(N_("cannot write beside it"));
        ok = false;
    }
    if (!ok) unlink(temp->c_str());
    return ok;
}

// Renames the file WriteBeside wrote over `path`, and syncs the folder so
// that the rename itself reaches the disk. False, with the file removed,
// when it cannot.
bool RenameOver(const std::string& temp, const std::string& path, std::string* error) {
    if (rename(temp.c_str(), path.c_str()) != 0) {
        *error = Errno(N_("cannot replace it"));
        unlink(temp.c_str());
        return false;
    }
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return true;
}

// Replaces `path` whole with `text`, as WriteBeside and RenameOver.
bool ReplaceAtomically(const std::string& path, std::string_view text, mode_t mode,
                       const struct stat* previous, std::string* error) {
    std::string temp;
    return WriteBeside(path, text, mode, previous, &temp, error) && RenameOver(temp, path, error);
}

// The user took every write permission away: the file is not to be
// changed, whoever runs the program (root included).
bool ReadOnly(const struct stat& st) { return (st.st_mode & 0222) == 0; }

mode_t NewFileMode() {
    const mode_t mask = umask(022);
    umask(mask);
    return 0666 & ~mask;
}

// Whether the init file is still the one `change` was worked out from: its
// links lead to the same file, which has the device, inode, size and
// modification time it had when it was read (or is still absent).
bool StillAsRead(const ListingFiles& files, const ListingChange& change) {
    std::string target, error;
    if (!FollowLinks(files.initFile, &target, &error) || target != change.target) return false;
    struct stat now {};
    if (stat(target.c_str(), &now) != 0) return errno == ENOENT && !change.exists;
    const struct stat& was = change.read;
    return change.exists && now.st_dev == was.st_dev && now.st_ino == was.st_ino &&
           now.st_size == was.st_size && now.st_mtim.tv_sec == was.st_mtim.tv_sec &&
           now.st_mtim.tv_nsec == was.st_mtim.tv_nsec;
}

}  // namespace

bool DefaultListingFiles(ListingFiles* out, std::string* error) {
    std::string home;
    const char* env = std::getenv("HOME");
    if (env != nullptr && *env != '\0') {
        home = env;
    } else if (const passwd* pw = getpwuid(getuid()); pw != nullptr && pw->pw_dir != nullptr) {
        home = pw->pw_dir;
    }
    if (home.empty()) {
        *error = _("no home folder: HOME is unset and the password database has none");
        return false;
    }
    if (home.back() != '/') home += '/';
    char exe[PATH_MAX];
    if (realpath("/proc/self/exe", exe) == nullptr) {
        *error = Errno(N_("cannot find this program's path"));
        return false;
    }
    out->initFile = home + ".xscreensaver";
    out->systemDefaults = kSystemDefaults;
    out->program = exe;
    return true;
}

int PrepareListing(bool add, const ListingFiles& files, ListingChange* change,
                   std::string* message) {
    *change = ListingChange{};
    const std::string& shown = files.initFile;
    std::string error;
    if (!FollowLinks(files.initFile, &change->target, &error) ||
        !ReadWhole(change->target, &change->old, &change->exists, &change->read, &error)) {
        *message = FailureMessage(shown, error);
        return 1;
    }
    bool ok = false;
    if (add) {
        std::string defaults, ignored;
        bool defaultsExist = false;
        struct stat defaultsStat {};
        const bool readable =
            ReadWhole(files.systemDefaults, &defaults, &defaultsExist, &defaultsStat, &ignored) &&
            defaultsExist;
        ok = AddProgramsEntry(change->old,
                              readable ? std::optional<std::string_view>(defaults) : std::nullopt,
                              files.program, &change->edit, &error);
    } else {
        ok = RemoveProgramsEntry(change->old, files.program, &change->edit, &error);
    }
    if (!ok) {
        *message = FailureMessage(shown, error);
        return 1;
    }
    const ProgramsChange kind = change->edit.change;
    change->needed = kind != ProgramsChange::AlreadyListed && kind != ProgramsChange::NotListed;
    if (!change->needed) *message = ChangeMessage(kind, shown, false);
    return 0;
}

int ReplaceListing(const ListingFiles& files, const ListingChange& change, std::string* message) {
    const std::string& shown = files.initFile;
    const bool exists = change.exists;
    const struct stat& st = change.read;
    std::string error;
    if (exists && ReadOnly(st)) {
        *message = FailureMessage(shown, _("it is read-only"));
        return 1;
    }
    // The new file is written in full before the previous one is kept, so
    // that a change that cannot be made leaves the last copy as it was.
    const mode_t mode = exists ? (st.st_mode & 07777) : NewFileMode();
    const struct stat* previous = exists ? &st : nullptr;
    std::string temp;
    if (!WriteBeside(change.target, change.edit.text, mode, previous, &temp, &error)) {
        *message = FailureMessage(shown, error);
        return 1;
    }
    // Another program (the daemon's settings program) may have saved the
    // file since it was read: then nothing is replaced, the backup
    // neither, and the change can be worked out again from the new file.
    const auto changedMeanwhile = [&] {
        unlink(temp.c_str());
        *message = FailureMessage(shown, _("another program changed it meanwhile"));
        return 2;
    };
    if (!StillAsRead(files, change)) return changedMeanwhile();
    if (exists &&
        !ReplaceAtomically(files.initFile + kBackupSuffix, change.old, mode, previous, &error)) {
        unlink(temp.c_str());
        *message =
            FailureMessage(shown, Format(_("cannot keep the previous file: %s"), error.c_str()));
        return 1;
    }
    if (!StillAsRead(files, change)) return changedMeanwhile();
    if (!RenameOver(temp, change.target, &error)) {
        *message = FailureMessage(shown, error);
        return 1;
    }
    *message = ChangeMessage(change.edit.change, shown, exists);
    return 0;
}

int ChangeListing(bool add, const ListingFiles& files, std::string* message) {
    // A file saved by another program meanwhile is read again, once.
    for (int attempt = 0; attempt < 2; ++attempt) {
        ListingChange change;
        if (PrepareListing(add, files, &change, message) != 0) return 1;
        if (!change.needed) return 0;
        const int status = ReplaceListing(files, change, message);
        if (status != 2) return status;
    }
    return 1;
}
