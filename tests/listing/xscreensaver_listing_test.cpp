// Tests of listing the program in an init file on disk: the file replaced
// whole with the old one kept, a link written through, and files left
// alone when they cannot be read or understood, with the exit status and
// the line that says so.
#include "listing/xscreensaver_listing.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <utility>

namespace {

const char kList[] = "mode:\t\tone\nprograms: \\\n  maze --root \\n\\\n\nfade: True\n";
const char kSystem[] = "*programs: \\\n  deco --root \\n\n";

class ListingFile : public ::testing::Test {
protected:
    void SetUp() override {
        char dir[] = "/tmp/mereglass-listing-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        dir_ = dir;
        files_.initFile = dir_ + "/.xscreensaver";
        files_.systemDefaults = dir_ + "/XScreenSaver";
        files_.program = "/usr/lib/mereglass";
        Write(files_.systemDefaults, kSystem);
    }

    void TearDown() override {
        const std::string rm = "rm -rf '" + dir_ + "'";
        EXPECT_EQ(std::system(rm.c_str()), 0);
    }

    static void Write(const std::string& path, const std::string& text) {
        std::ofstream(path, std::ios::binary) << text;
    }

    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    // The names in the test's folder.
    std::set<std::string> Names(const std::string& sub = "") const {
        std::set<std::string> names;
        DIR* d = opendir((dir_ + sub).c_str());
        if (d == nullptr) return names;
        while (const dirent* e = readdir(d)) {
            const std::string name = e->d_name;
            if (name != "." && name != "..") names.insert(name);
        }
        closedir(d);
        return names;
    }

    int Change(bool add) { return ChangeListing(add, files_, &message_); }

    std::string dir_;
    ListingFiles files_;
    std::string message_;
};

}  // namespace

TEST_F(ListingFile, AddReplacesTheFileAndKeepsTheOldOne) {
    // A private file, and a program whose path the entry quotes.
    files_.program = "/opt/my savers/mereglass";
    Write(files_.initFile, kList);
    ASSERT_EQ(chmod(files_.initFile.c_str(), 0600), 0);
    ASSERT_EQ(Change(true), 0) << message_;
    EXPECT_NE(message_.find("added"), std::string::npos) << message_;
    EXPECT_NE(message_.find(files_.initFile), std::string::npos) << message_;
    const std::string added = Read(files_.initFile);
    EXPECT_NE(added.find("'/opt/my savers/mereglass' --root"), std::string::npos) << added;
    EXPECT_EQ(Read(files_.initFile + ".bak"), kList);
    // No temporary file is left behind, and the file and its copy keep the
    // file's mode.
    EXPECT_EQ(Names(),
              (std::set<std::string>{".xscreensaver", ".xscreensaver.bak", "XScreenSaver"}));
    for (const std::string& path : {files_.initFile, files_.initFile + ".bak"}) {
        struct stat st {};
        ASSERT_EQ(stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0600u) << path;
    }

    // Again: nothing changes, and the kept file is still the first one.
    ASSERT_EQ(Change(true), 0) << message_;
    EXPECT_NE(message_.find("already"), std::string::npos) << message_;
    EXPECT_EQ(Read(files_.initFile), added);
    EXPECT_EQ(Read(files_.initFile + ".bak"), kList);

    // Removed, the list is as it was.
    ASSERT_EQ(Change(false), 0) << message_;
    EXPECT_NE(message_.find("removed"), std::string::npos) << message_;
    EXPECT_EQ(Read(files_.initFile), kList);
    ASSERT_EQ(Change(false), 0) << message_;
    EXPECT_NE(message_.find("not in"), std::string::npos) << message_;
}

TEST_F(ListingFile, ALinkIsWrittenThrough) {
    ASSERT_EQ(mkdir((dir_ + "/dotfiles").c_str(), 0755), 0);
    Write(dir_ + "/dotfiles/xscreensaver", kList);
    ASSERT_EQ(symlink("dotfiles/xscreensaver", files_.initFile.c_str()), 0);
    ASSERT_EQ(Change(true), 0) << message_;
    struct stat st {};
    ASSERT_EQ(lstat(files_.initFile.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_NE(Read(dir_ + "/dotfiles/xscreensaver").find("mereglass"), std::string::npos);
    EXPECT_EQ(Names("/dotfiles"), (std::set<std::string>{"xscreensaver"}));
}

TEST_F(ListingFile, NoFileStartsFromTheSystemList) {
    ASSERT_EQ(Change(true), 0) << message_;
    const std::string created = Read(files_.initFile);
    EXPECT_NE(created.find("deco --root"), std::string::npos) << created;
    EXPECT_NE(created.find("mereglass --root"), std::string::npos) << created;
    EXPECT_EQ(Names().count(".xscreensaver.bak"), 0u);
    // Without a system list, no file is made.
    ASSERT_EQ(unlink(files_.initFile.c_str()), 0);
    files_.systemDefaults = dir_ + "/missing";
    EXPECT_EQ(Change(true), 1);
    EXPECT_EQ(Names().count(".xscreensaver"), 0u);
}

TEST_F(ListingFile, FilesThatCannotBeReadOrUnderstoodAreLeftAlone) {
    // Not readable as a file: a folder, and a named pipe that no one
    // writes (which must not hold the program up).
    ASSERT_EQ(mkdir(files_.initFile.c_str(), 0755), 0);
    EXPECT_EQ(Change(true), 1);
    EXPECT_NE(message_.find("cannot change " + files_.initFile), std::string::npos) << message_;
    EXPECT_EQ(message_.find('\n'), std::string::npos);
    ASSERT_EQ(rmdir(files_.initFile.c_str()), 0);
    ASSERT_EQ(mkfifo(files_.initFile.c_str(), 0644), 0);
    EXPECT_EQ(Change(true), 1);
    EXPECT_NE(message_.find("not a regular file"), std::string::npos) << message_;
    ASSERT_EQ(unlink(files_.initFile.c_str()), 0);
    // Not understood: its list runs past the end of the file.
    const std::string broken = "programs: \\\n  maze --root \\n\\\n";
    Write(files_.initFile, broken);
    for (bool add : {true, false}) {
        EXPECT_EQ(Change(add), 1);
        EXPECT_EQ(Read(files_.initFile), broken);
    }
    EXPECT_EQ(Names().count(".xscreensaver.bak"), 0u);
}

TEST_F(ListingFile, AReadOnlyFileIsLeftAlone) {
    // Judged by its mode, so that root is held to it as well.
    const std::string listed = std::string(kList) + "programs: mereglass\\n\n";
    for (const auto& [add, text] :
         {std::pair{true, std::string(kList)}, std::pair{false, listed}}) {
        unlink(files_.initFile.c_str());
        Write(files_.initFile, text);
        ASSERT_EQ(chmod(files_.initFile.c_str(), 0444), 0);
        EXPECT_EQ(Change(add), 1);
        EXPECT_EQ(message_,
                  "cannot change " + files_.initFile + ": it is read-only; nothing changed");
        EXPECT_EQ(Read(files_.initFile), text);
    }
    EXPECT_EQ(Names().count(".xscreensaver.bak"), 0u);
}

TEST_F(ListingFile, AChangeThatCannotBeWrittenKeepsTheLastBackup) {
    // A link to a file whose name is too long for a temporary name beside
    // it: nothing can be written there, whoever runs the test.
    ASSERT_EQ(mkdir((dir_ + "/dotfiles").c_str(), 0755), 0);
    const std::string target = dir_ + "/dotfiles/" + std::string(250, 'x');
    Write(target, kList);
    ASSERT_EQ(symlink(target.c_str(), files_.initFile.c_str()), 0);
    Write(files_.initFile + ".bak", "the last backup\n");
    EXPECT_EQ(Change(true), 1);
    EXPECT_NE(message_.find("cannot write beside it"), std::string::npos) << message_;
    EXPECT_EQ(Read(target), kList);
    EXPECT_EQ(Read(files_.initFile + ".bak"), "the last backup\n");
    EXPECT_EQ(Names("/dotfiles"), (std::set<std::string>{std::string(250, 'x')}));
}

// Another program that saves the file between the read and the rename is
// never written over: the change is refused in one line and the file left
// as that program wrote it; made again, the change reads the new file.
TEST_F(ListingFile, AFileChangedMeanwhileIsNeverWrittenOver) {
    Write(files_.initFile, kList);
    ListingChange change;
    ASSERT_EQ(PrepareListing(true, files_, &change, &message_), 0) << message_;
    ASSERT_TRUE(change.needed);
    const std::string saved = std::string(kList) + "lock: True\n";
    Write(files_.initFile, saved);
    EXPECT_EQ(ReplaceListing(files_, change, &message_), 2);
    EXPECT_EQ(message_, "cannot change " + files_.initFile +
                            ": another program changed it meanwhile; nothing changed");
    EXPECT_EQ(Read(files_.initFile), saved);
    EXPECT_EQ(Names(), (std::set<std::string>{".xscreensaver", "XScreenSaver"}));
    ASSERT_EQ(Change(true), 0) << message_;
    EXPECT_NE(Read(files_.initFile).find("lock: True\n"), std::string::npos);
    EXPECT_EQ(Read(files_.initFile + ".bak"), saved);
}
