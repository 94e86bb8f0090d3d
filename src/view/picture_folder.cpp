// Listing and picking the pictures of a folder. Relies on POSIX openat,
// fdopendir and fstatat, on the platform's image files and on
// view/letterbox.h.
#include "view/picture_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>
#include <set>
#include <utility>

#include "support/diagnostics.h"
#include "support/translation.h"
#include "view/letterbox.h"

namespace {

// Pictures that could not be read before the pick gives up.
constexpr int kPickAttempts = 5;

bool HasPictureExtension(const char* name) {
    const char* dot = std::strrchr(name, '.');
    if (dot == nullptr) return false;
    return strcasecmp(dot, ".png") == 0 || strcasecmp(dot, ".jpg") == 0 ||
           strcasecmp(dot, ".jpeg") == 0;
}

struct Search {
    int entriesLeft;
    bool stopped;  // an entry was left unseen for the limit
    // The folders entered, by device and inode: none is read twice.
    std::set<std::pair<dev_t, ino_t>> seen;
    std::vector<std::string>* paths;
};

// Reads the open folder `fd` (taken over and closed) at `path`, `depth`
// below the top.
void SearchFolder(int fd, const std::string& path, int depth, Search* search) {
    DIR* dir = fdopendir(fd);
    if (dir == nullptr) {
        close(fd);
        return;
    }
    std::vector<std::string> folders;
    for (;;) {
        const dirent* entry = readdir(dir);
        if (entry == nullptr) break;
        if (entry->d_name[0] == '.') continue;  // ".", "..", hidden ones
        if (search->entriesLeft <= 0) {
            search->stopped = true;
            break;
        }
        --search->entriesLeft;
        // Links are followed; a dangling one fails here and is passed over.
        // fstatat never opens the file, so a pipe cannot block it.
        struct stat st {};
        if (fstatat(dirfd(dir), entry->d_name, &st, 0) != 0) continue;
        if (S_ISREG(st.st_mode) && HasPictureExtension(entry->d_name)) {
            search->paths->push_back(path + "/" + entry->d_name);
        } else if (S_ISDIR(st.st_mode) && depth < kPictureFolderDepthLimit) {
            folders.push_back(entry->d_name);
        }
    }
    // Sub-folders after the folder's own files, each checked for having
    // been seen once it is open (what is open is what counts).
    for (const std::string& name : folders) {
        if (search->entriesLeft <= 0) {
            search->stopped = true;
            break;
        }
        const int sub =
            openat(dirfd(dir), name.c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC);
        if (sub < 0) continue;
        struct stat st {};
        if (fstat(sub, &st) != 0 || !search->seen.insert({st.st_dev, st.st_ino}).second) {
            close(sub);
            continue;
        }
        SearchFolder(sub, path + "/" + name, depth + 1, search);
    }
    closedir(dir);
}

}  // namespace

bool ListFolderPictures(const std::string& folder, int entryLimit, std::vector<std::string>* paths,
                        std::string* error, bool* stopped) {
    paths->clear();
    // O_DIRECTORY refuses anything else (a pipe too) before it is opened.
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0) {
        *error = errno == ENOTDIR ? _("not a folder") : std::strerror(errno);
        if (fd >= 0) close(fd);
        return false;
    }
    Search search{entryLimit, false, {}, paths};
    search.seen.insert({st.st_dev, st.st_ino});
    std::string top = folder;
    while (top.size() > 1 && top.back() == '/') top.pop_back();
    SearchFolder(fd, top, 0, &search);
    if (stopped != nullptr) *stopped = search.stopped;
    return true;
}

bool PickFolderPicture(const std::string& folder, int screenWidth, int screenHeight, uint32_t seed,
                       platform::RgbaImage* image, std::string* path, std::string* error) {
    std::vector<std::string> paths;
    bool stopped = false;
    if (!ListFolderPictures(folder, kPictureFolderEntryLimit, &paths, error, &stopped)) {
        return false;
    }
    if (paths.empty()) {
        *error = stopped ? Format(_("no PNG or JPEG picture among the first %d entries, where the "
                                    "search stops"),
                                  static_cast<int>(kPictureFolderEntryLimit))
                         : _("it holds no PNG or JPEG pictures");
        return false;
    }
    std::mt19937 random(seed);
    std::string lastError;
    for (int attempt = 0; attempt < kPickAttempts && !paths.empty(); ++attempt) {
        const size_t i = std::uniform_int_distribution<size_t>(0, paths.size() - 1)(random);
        platform::RgbaImage picture;
        lastError.clear();
        if (platform::LoadImageFileWithin(paths[i].c_str(), screenWidth, screenHeight, &picture,
                                          &lastError) &&
            LetterboxPicture(picture, screenWidth, screenHeight, image)) {
            *path = paths[i];
            return true;
        }
        lastError =
            DisplayName(paths[i]) + ": " + (lastError.empty() ? _("cannot be used") : lastError);
        paths.erase(paths.begin() + static_cast<std::ptrdiff_t>(i));
    }
    *error = Format(_("no picture in it could be read (%s)"), lastError.c_str());
    return false;
}
