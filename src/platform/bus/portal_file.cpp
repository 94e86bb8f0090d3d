// The file the screenshot portal saved its picture in: judged to be made
// for the request before it is read, and deleted after, by its name in a
// descriptor of its folder and only while that name still names the file
// judged. Anything that cannot be judged is left. Relies on Linux's statx
// and the *at calls, and GLib's path functions.
//
// Provides: PortalRequestTime, JudgePortalFile, DeletePortalFile.
#include <fcntl.h>
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/bus/portal_internal.h"

namespace platform {

namespace {

bool Later(const statx_timestamp& stamp, const timespec& than) {
    return stamp.tv_sec > than.tv_sec ||
           (stamp.tv_sec == than.tv_sec && stamp.tv_nsec > static_cast<uint32_t>(than.tv_nsec));
}

// The name in the folder, not following a link there.
bool StatName(int folder, const std::string& name, struct statx* st) {
    constexpr unsigned kNeeded = STATX_TYPE | STATX_UID | STATX_NLINK | STATX_INO | STATX_CTIME;
    return statx(folder, name.c_str(), AT_SYMLINK_NOFOLLOW, kNeeded | STATX_BTIME, st) == 0 &&
           (st->stx_mask & kNeeded) == kNeeded;
}

}  // namespace

timespec PortalRequestTime() {
    // File systems stamp files from the coarse real-time clock, or with a
    // reading of the fine one taken then: neither is ever ahead of the fine
    // clock read later. So a stamp later than this reading proves the file
    // was made after it; one made within the same tick of the coarse clock
    // may read as earlier, and is left.
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return now;
}

void JudgePortalFile(const char* path, const timespec& requested, PortalFile* file) {
    *file = PortalFile{};
    if (!g_path_is_absolute(path)) return;
    gchar* folder = g_path_get_dirname(path);
    gchar* name = g_path_get_basename(path);
    file->name = name;
    file->folder = open(folder, O_PATH | O_DIRECTORY | O_CLOEXEC);
    g_free(folder);
    g_free(name);
    struct statx st {};
    if (file->folder < 0 || file->name == "/" || file->name == "." || file->name == ".." ||
        !StatName(file->folder, file->name, &st)) {
        return;
    }
    file->deviceMajor = st.stx_dev_major;
    file->deviceMinor = st.stx_dev_minor;
    file->inode = st.stx_ino;
    // Without a birth time the change time stands in: a new link makes an
    // old file's change time new, so a file of more than one name is left.
    // A stamp from the future (a file server's clock ahead of ours) proves
    // nothing, and is left too.
    const statx_timestamp& made = (st.stx_mask & STATX_BTIME) ? st.stx_btime : st.stx_ctime;
    file->madeAfter = S_ISREG(st.stx_mode) && st.stx_uid == geteuid() && st.stx_nlink == 1 &&
                      Later(made, requested) && !Later(made, PortalRequestTime());
}

bool DeletePortalFile(PortalFile* file) {
    bool deleted = false;
    struct statx st {};
    if (file->folder >= 0 && file->madeAfter && StatName(file->folder, file->name, &st) &&
        st.stx_dev_major == file->deviceMajor && st.stx_dev_minor == file->deviceMinor &&
        st.stx_ino == file->inode) {
        deleted = unlinkat(file->folder, file->name.c_str(), 0) == 0;
    }
    if (file->folder >= 0) close(file->folder);
    file->folder = -1;
    return deleted;
}

}  // namespace platform
