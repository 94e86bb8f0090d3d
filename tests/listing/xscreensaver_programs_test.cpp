// Tests of the programs-list editing: where an entry goes in each layout of
// list, what counts as this program's entry, removal, and files that are
// refused. Every expectation is the whole file, so a byte changed outside
// the list shows.
#include "listing/xscreensaver_programs.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string kProgram = "/usr/lib/mereglass";
// The entry for kProgram, as the settings program lays entries out.
const std::string kEntry = "  GL: \t\t   \"Mereglass\" \t/usr/lib/mereglass --root\t\t    \\n";

// A file as the settings program writes it: settings, the list, a blank
// line that ends it, and more settings.
const std::string kHead =
    "# XScreenSaver Preferences File\nmode:\t\tone\n\nprograms:\t\t\t      \\\n";
const std::string kList =
    "\t\t\t\tmaze --root\t\t\t\t    \\n\\\n"
    "- GL: \t\t\t\tsuperquadrics --root\t\t\t    \\n\\\n";
const std::string kTail = "\n\npointerHysteresis:  10\n";
const std::string kFile = kHead + kList + kTail;

// The daemon's app-defaults file: the list's last line ends the value.
const std::string kSystem =
    "! comment\n*programs:\t\t\t      \\\n"
    "\t\t\t\tmaze --root\t\t\t\t    \\n\\\n"
    "\t\t\t\tdeco --root\t\t\t\t    \\n\n"
    "\n*hacks.maze.name: Maze\n";

struct Result {
    bool ok = false;
    ProgramsEdit edit;
    std::string error;
};

Result Add(const std::string& file, std::optional<std::string_view> system = kSystem,
           const std::string& program = kProgram) {
    Result r;
    r.ok = AddProgramsEntry(file, system, program, &r.edit, &r.error);
    return r;
}

Result Remove(const std::string& file, const std::string& program = kProgram) {
    Result r;
    r.ok = RemoveProgramsEntry(file, program, &r.edit, &r.error);
    return r;
}

}  // namespace

TEST(ProgramsEntry, LaidOutAsTheSettingsProgramDoes) {
    EXPECT_EQ(ProgramsEntryText(kProgram), kEntry);
    // A path that a shell would split is quoted; a long one runs past
    // column 75 with one space before its `\n`.
    EXPECT_EQ(ProgramsEntryText("/home/a b/mereglass"),
              "  GL: \t\t   \"Mereglass\" \t'/home/a b/mereglass' --root\t\t    \\n");
    const std::string path = "/a/very/long/folder/name/of/a/build/tree/src/host/mereglass";
    EXPECT_EQ(ProgramsEntryText(path), "  GL: \t\t   \"Mereglass\" \t" + path + " --root \\n");
}

TEST(ProgramsAdd, GoesAfterTheLastEntryWhateverEndsTheList) {
    struct Case {
        const char* what;
        std::string before, after;
    };
    const Case cases[] = {
        {"a blank line ends it", kFile, kHead + kList + kEntry + "\\\n" + kTail},
        {"its last line ends it", "programs: \\\n  maze --root \\n\nfade: True\n",
         "programs: \\\n  maze --root \\n\\\n" + kEntry + "\nfade: True\n"},
        {"its last entry has no \\n", "programs: \\\n  maze --root\nfade: True\n",
         "programs: \\\n  maze --root \\n\\\n" + kEntry + "\nfade: True\n"},
        {"an empty list", "programs:\nfade: True\n", "programs: \\\n" + kEntry + "\nfade: True\n"},
        {"no newline at the end", "programs: maze --root \\n",
         "programs: maze --root \\n\\\n" + kEntry + "\n"},
        {"the last of two lists counts", "programs: a \\n\nprograms: b \\n\n",
         "programs: a \\n\nprograms: b \\n\\\n" + kEntry + "\n"},
    };
    for (const Case& c : cases) {
        const Result r = Add(c.before);
        ASSERT_TRUE(r.ok) << c.what << ": " << r.error;
        EXPECT_EQ(r.edit.change, ProgramsChange::Added) << c.what;
        EXPECT_EQ(r.edit.text, c.after) << c.what;
    }
}

TEST(ProgramsAdd, WithoutAListTheSystemListIsCopied) {
    const std::string systemList =
        "programs:\t\t\t      \\\n"
        "\t\t\t\tmaze --root\t\t\t\t    \\n\\\n"
        "\t\t\t\tdeco --root\t\t\t\t    \\n\\\n" +
        kEntry + "\n";
    const std::string settings = "mode:\t\tone\n*programs: not the daemon's name\n";
    Result r = Add(settings);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.edit.change, ProgramsChange::Added);
    EXPECT_EQ(r.edit.text, settings + "\n" + systemList);
    r = Add("");  // no file at all
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.edit.text, systemList);

    // No system list: nothing is written that would drop every other saver.
    EXPECT_FALSE(Add(settings, std::nullopt).ok);
    EXPECT_FALSE(Add(settings, std::string_view("! no list here\n")).ok);
}

TEST(ProgramsAdd, TwiceAddsNothing) {
    const Result first = Add(kFile);
    const Result second = Add(first.edit.text);
    ASSERT_TRUE(second.ok);
    EXPECT_EQ(second.edit.change, ProgramsChange::AlreadyListed);
    EXPECT_EQ(second.edit.text, first.edit.text);
    // The settings program's own layout, the path wrapped over lines, and a
    // bare name that the daemon finds in its hack folder count too.
    for (const std::string list : {"  GL:\t\t\t\t\t\t\t\t\t      \\\n\t\t\t\t  /usr/lib/mereglass  "
                                   " \\\n\t\t\t\t  --root\t\t\t\t    \\n\\\n",
                                   "  GL: \t\t\t\tmereglass --root\t\t\t    \\n\\\n"}) {
        const Result r = Add(kHead + list + kTail);
        EXPECT_EQ(r.edit.change, ProgramsChange::AlreadyListed) << list;
    }
    // Another folder's mereglass is another program.
    EXPECT_EQ(Add(kHead + "  GL: /opt/x/mereglass --root \\n\\\n" + kTail).edit.change,
              ProgramsChange::Added);
}

TEST(ProgramsAdd, ADisabledEntryIsEnabledInPlace) {
    const std::string disabled = "- GL: \t\t\t\t/usr/lib/mereglass --root\t\t\t    \\n\\\n";
    const Result r = Add(kHead + kList + disabled + kTail);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.edit.change, ProgramsChange::Enabled);
    EXPECT_EQ(r.edit.text,
              kHead + kList + "  GL: \t\t\t\t/usr/lib/mereglass --root\t\t\t    \\n\\\n" + kTail);
}

TEST(ProgramsRemove, TakesOutEveryEntryAndNothingElse) {
    // What an add put in, a remove takes out again, byte for byte.
    for (const std::string& file :
         {kFile, std::string("programs: \\\n  maze --root \\n\nfade: True\n"),
          std::string("programs:\nfade: True\n")}) {
        const Result r = Remove(Add(file).edit.text);
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_EQ(r.edit.change, ProgramsChange::Removed);
        EXPECT_EQ(r.edit.text, file);
    }
    // Entries first, in the middle, disabled and by bare name all go.
    const std::string first = "  GL: \"Mereglass\" /usr/lib/mereglass --root \\n\\\n";
    const std::string bare = "-\t\t\t\tmereglass --root\t\t\t    \\n\\\n";
    const Result r = Remove(kHead + first + kList + bare + kTail);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.edit.text, kFile);
    // Two entries on one line: only this program's bytes go.
    EXPECT_EQ(Remove("programs: maze \\n mereglass \\n deco\n").edit.text,
              "programs: maze \\n deco\n");
}

TEST(ProgramsRemove, NotThereChangesNothing) {
    for (const std::string& file : {kFile, std::string("mode: one\n"), std::string()}) {
        const Result r = Remove(file);
        ASSERT_TRUE(r.ok);
        EXPECT_EQ(r.edit.change, ProgramsChange::NotListed);
        EXPECT_EQ(r.edit.text, file);
    }
}

TEST(ProgramsFile, CrlfLinesAreKeptAndAddThenRemoveGivesBackEveryByte) {
    auto crlf = [](const std::string& lf) {
        std::string out;
        for (char c : lf) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
        return out;
    };
    // A backslash before "\r\n" goes on over the next line: the entry goes
    // at the end of the list, not after its first line.
    for (const std::string& lf :
         {kFile, std::string("programs: \\\n  maze --root \\n\nfade: True\n")}) {
        const std::string file = crlf(lf);
        const Result added = Add(file);
        ASSERT_TRUE(added.ok) << added.error;
        EXPECT_EQ(added.edit.text, crlf(Add(lf).edit.text));
        const Result removed = Remove(added.edit.text);
        ASSERT_TRUE(removed.ok) << removed.error;
        EXPECT_EQ(removed.edit.text, file);
    }
    // A file without a list gets the system's, its lines ended the same way.
    const Result copied = Add(crlf("mode: one\n"));
    ASSERT_TRUE(copied.ok) << copied.error;
    EXPECT_EQ(copied.edit.text, crlf(Add("mode: one\n").edit.text));
}

TEST(ProgramsFile, AnEscapedBackslashEndsItsLine) {
    // `\\` at the end of a value is a backslash: the list on the next line
    // is a resource of its own, and takes the entry.
    const std::string before = "imageDirectory: C:\\\\\n";
    const std::string list = "programs: \\\n  maze --root \\n\nfade: True\n";
    const Result r = Add(before + list);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.edit.text, before + Add(list).edit.text);
    // Nor does a last line ending so run past the end of the file.
    EXPECT_TRUE(Add("imageDirectory: C:\\\\").ok);
}

TEST(ProgramsFile, FilesItCannotUnderstandAreRefused) {
    const char binary[] = "mode: one\nprograms: maze\\n\0\x01\x02";
    const std::string cases[] = {
        kHead + kList,                              // the list runs past the end of the file
        kHead + kList.substr(0, kList.size() - 1),  // ... ending in a backslash
        std::string(binary, sizeof binary - 1),     // not text
    };
    for (const std::string& file : cases) {
        EXPECT_FALSE(Add(file).ok) << file;
        EXPECT_FALSE(Remove(file).ok) << file;
    }
    // Without a list, a last line that goes on past the end cannot take one.
    EXPECT_FALSE(Add("mode: one \\\n").ok);
    // A path the list cannot hold.
    EXPECT_FALSE(Add(kFile, kSystem, "/home/it's/mereglass").ok);
}
