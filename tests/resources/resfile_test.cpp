// RESFILE: opening, checking and reading archives.
#include "resources/resfile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "resource_files.h"

namespace {

std::vector<TestLump> ThreeLumps() {
    return {{1, 2, {10, 11, 12, 13}}, {7, 0x04030201u, {20}}, {0, 0, {30, 31, 32, 33, 34, 35}}};
}

int NextByte(RESFILE& res) { return res.stream.get(); }

TEST(ResArchive, ValidArchiveRoundTrips) {
    TempDir dir;
    const Bytes bytes = MakeArchive(ThreeLumps());
    const std::string path = dir.Write("a.respak", bytes);

    RESFILE res;
    ASSERT_EQ(res.Open(path.c_str()), 1);
    EXPECT_EQ(res.fileLength, bytes.size());
    EXPECT_EQ(std::string(res.header.magic, 4), "MRKF");
    EXPECT_EQ(res.header.count, 3u);
    EXPECT_EQ(res.header.check, ~static_cast<uint32_t>(bytes.size()));
    EXPECT_EQ(res.header.dirOffset, DirectoryOffset(bytes));
    EXPECT_EQ(res.header.reserved[0], 0xA1);  // kept as read
    EXPECT_EQ(res.header.reserved[7], 0xA8);
    ASSERT_NE(res.directory, nullptr);
    EXPECT_EQ(res.directory[0].size, 4u);
    EXPECT_EQ(res.directory[0].type, 1u);
    EXPECT_EQ(res.directory[0].param, 2u);
    EXPECT_EQ(res.directory[1].param, 0x04030201u);  // little-endian, whatever the host
    EXPECT_EQ(res.directory[1].type, 7u);
    EXPECT_EQ(res.directory[2].offset, LumpOffset(bytes, 2));
    EXPECT_EQ(res.directory[2].reserved[11], 0xE2);

    // Lumps lie in reverse order in the file; each seek finds its own.
    const int first[] = {10, 20, 30};
    for (int i : {2, 0, 1}) {
        ASSERT_EQ(res.SeekLump(i), 1) << i;
        EXPECT_EQ(NextByte(res), first[i]) << i;
    }
    for (int i = 0; i < 3; ++i) {
        void* data = nullptr;
        ASSERT_EQ(res.LoadData(i, &data), 1) << i;
        const auto* p = static_cast<unsigned char*>(data);
        EXPECT_EQ(Bytes(p, p + res.directory[i].size), ThreeLumps()[i].data);
        delete[] p;
    }
    res.Close();
    EXPECT_EQ(res.directory, nullptr);
    EXPECT_FALSE(res.stream.is_open());
    res.Close();  // again: harmless
}

TEST(ResArchive, DamagedArchivesFailAndStayClosed) {
    TempDir dir;
    const Bytes good = MakeArchive(ThreeLumps());

    Bytes appended = good;
    appended.push_back(0);
    const Bytes removed(good.begin(), good.end() - 1);
    Bytes magic = good;
    magic[3] = 'G';
    Bytes dirPastEnd = good;
    PutLE32(dirPastEnd, 20, static_cast<uint32_t>(good.size()) - 27);
    Bytes dirFarAway = good;
    PutLE32(dirFarAway, 20, 0xFFFFFFF0u);
    Bytes hugeCount = good;  // would need 120 GB of directory
    PutLE32(hugeCount, 12, 0xFFFFFFFFu);
    Bytes wrongCheck = good;
    PutLE32(wrongCheck, 16, static_cast<uint32_t>(good.size()));

    const std::pair<const char*, const Bytes*> cases[] = {
        {"one byte added", &appended},
        {"one byte removed", &removed},
        {"wrong magic", &magic},
        {"directory past the end", &dirPastEnd},
        {"directory far away", &dirFarAway},
        {"huge count", &hugeCount},
        {"length not complemented", &wrongCheck},
    };
    for (const auto& [name, bytes] : cases) {
        const std::string path = dir.Write("bad.respak", *bytes);
        RESFILE res;
        EXPECT_EQ(res.Open(path.c_str()), 0) << name;
        EXPECT_FALSE(res.stream.is_open()) << name;
        EXPECT_EQ(res.SeekLump(0), 0) << name;
    }
}

TEST(ResArchive, MissingOrShortFileFails) {
    TempDir dir;
    RESFILE res;
    EXPECT_EQ(res.Open(dir.Path("absent.respak").c_str()), 0);
    EXPECT_EQ(res.Open(nullptr), 0);
    EXPECT_EQ(res.Open(dir.Write("short.respak", {'M', 'R', 'K', 'F', 0, 0}).c_str()), 0);
    EXPECT_EQ(res.directory, nullptr);
    EXPECT_EQ(res.SeekLump(0), 0);
    // A pipe (which would block the open), a device and a folder.
    const std::string fifo = dir.Path("pipe.respak");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {fifo, std::string("/dev/zero"), dir.Path("")}) {
        EXPECT_EQ(res.Open(path.c_str()), 0) << path;
    }
}

TEST(ResArchive, LumpNumbersOutsideTheDirectoryAreRefused) {
    TempDir dir;
    const std::string path = dir.Write("a.respak", MakeArchive(ThreeLumps()));
    RESFILE res;
    void* data = reinterpret_cast<void*>(0x1234);

    // Before Open.
    EXPECT_EQ(res.SeekLump(0), 0);
    EXPECT_EQ(res.LoadData(0, &data), 0);

    ASSERT_EQ(res.Open(path.c_str()), 1);
    ASSERT_EQ(res.SeekLump(1), 1);
    const auto before = res.stream.tellg();
    for (int lump : {-1, 3, 1000}) {
        EXPECT_EQ(res.SeekLump(lump), 0) << lump;
        EXPECT_EQ(res.LoadData(lump, &data), 0) << lump;
    }
    EXPECT_EQ(res.stream.tellg(), before);  // the stream was not touched
    EXPECT_EQ(NextByte(res), 20);

    // After Close.
    res.Close();
    EXPECT_EQ(res.SeekLump(0), 0);
    EXPECT_EQ(res.LoadData(0, &data), 0);
    EXPECT_EQ(data, reinterpret_cast<void*>(0x1234));
}

TEST(ResArchive, LumpPastTheEndIsNotLoaded) {
    TempDir dir;
    Bytes bytes = MakeArchive(ThreeLumps());
    const uint32_t dirAt = DirectoryOffset(bytes);
    PutLE32(bytes, dirAt + 28 * 0, static_cast<uint32_t>(bytes.size()));  // size runs past the end
    PutLE32(bytes, dirAt + 28 * 1 + 4,
            static_cast<uint32_t>(bytes.size()) + 100);  // offset past the end
    PutLE32(bytes, dirAt + 28 * 2, 0xFFFFFFFFu);         // 4 GiB
    const std::string path = dir.Write("a.respak", bytes);

    RESFILE res;
    ASSERT_EQ(res.Open(path.c_str()), 1);
    for (int lump = 0; lump < 3; ++lump) {
        void* data = reinterpret_cast<void*>(0x1234);
        EXPECT_EQ(res.LoadData(lump, &data), 0) << lump;
        EXPECT_EQ(data, reinterpret_cast<void*>(0x1234)) << lump;
    }
    // The reader stays usable after a failed read.
    PutLE32(bytes, dirAt, 4);
    ASSERT_EQ(res.Open(dir.Write("b.respak", bytes).c_str()), 1);
    ASSERT_EQ(res.SeekLump(0), 1);
    char sink[4096];
    res.stream.read(sink, sizeof sink);  // runs into the end of the file
    ASSERT_TRUE(res.stream.fail());
    ASSERT_EQ(res.SeekLump(0), 1);
    EXPECT_EQ(NextByte(res), 10);
}

TEST(ResArchive, EmptyArchive) {
    TempDir dir;
    const std::string path = dir.Write("empty.respak", MakeArchive({}));
    RESFILE res;
    ASSERT_EQ(res.Open(path.c_str()), 1);
    EXPECT_EQ(res.header.count, 0u);
    EXPECT_EQ(res.fileLength, 24u);
    void* data = nullptr;
    EXPECT_EQ(res.SeekLump(0), 0);
    EXPECT_EQ(res.LoadData(0, &data), 0);
    EXPECT_EQ(data, nullptr);
}

TEST(ResArchive, ReopeningReplacesTheOpenArchive) {
    TempDir dir;
    const std::string first = dir.Write("a.respak", MakeArchive(ThreeLumps()));
    const std::string second = dir.Write("b.respak", MakeArchive({{1, 1, {99, 98}}}));
    RESFILE res;
    ASSERT_EQ(res.Open(first.c_str()), 1);
    ASSERT_EQ(res.Open(second.c_str()), 1);
    EXPECT_EQ(res.header.count, 1u);
    ASSERT_EQ(res.SeekLump(0), 1);
    EXPECT_EQ(NextByte(res), 99);
    EXPECT_EQ(res.SeekLump(1), 0);

    // A zero-length lump loads as an empty buffer.
    const std::string third = dir.Write("c.respak", MakeArchive({{0, 0, {}}}));
    ASSERT_EQ(res.Open(third.c_str()), 1);
    void* data = nullptr;
    ASSERT_EQ(res.LoadData(0, &data), 1);
    EXPECT_NE(data, nullptr);
    delete[] static_cast<unsigned char*>(data);
}

}  // namespace
