// The respak tool: archives it writes read back through RESFILE, its listing
// and extraction, and the input it refuses.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "resource_files.h"
#include "resources/resfile.h"

namespace {

struct ToolRun {
    int status;
    std::string output;  // standard output and standard error
};

ToolRun Respak(const std::string& args) {
    const std::string command = std::string(RESPAK_PATH) + " " + args + " 2>&1";
    ToolRun run{-1, ""};
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return run;
    char buffer[512];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, n);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

class RespakTool : public testing::Test {
protected:
    void SetUp() override {
        Bytes packets;
        AppendRle(packets, Bytes(12 * 3, 200), 3);
        image = dir.Write("image.tga", UncompressedTga(2, 1, 24, {1, 2, 3, 4, 5, 6}));
        rle = dir.Write("rle.tga", CompressedTga(4, 3, 24, packets));
        blob = dir.Write("notes.bin", {'h', 'e', 'l', 'l', 'o'});
        archive = dir.Path("out.respak");
    }
    TempDir dir;
    std::string image, rle, blob, archive;
};

TEST_F(RespakTool, CreateListExtractRoundTrip) {
    const ToolRun create =
        Respak("create " + archive + " 1:2:" + image + " 9:4000000000:" + blob + " 1:1:" + rle);
    ASSERT_EQ(create.status, 0) << create.output;

    const Bytes bytes = ReadAll(archive);
    ASSERT_GE(bytes.size(), 24u + 3 * 28);
    EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 12),
              (Bytes{'M', 'R', 'K', 'F', 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(GetLE32(bytes, 16), ~static_cast<uint32_t>(bytes.size()));
    const uint32_t dirAt = GetLE32(bytes, 20);
    for (int i = 0; i < 3; ++i) {
        const auto entry = bytes.begin() + dirAt + 28 * i;
        EXPECT_EQ(Bytes(entry + 16, entry + 28), Bytes(12, 0)) << i;
    }

    RESFILE res;
    ASSERT_EQ(res.Open(archive.c_str()), 1);
    ASSERT_EQ(res.header.count, 3u);
    EXPECT_EQ(res.directory[0].type, 1u);
    EXPECT_EQ(res.directory[0].param, 2u);
    EXPECT_EQ(res.directory[1].type, 9u);
    EXPECT_EQ(res.directory[1].param, 4000000000u);
    EXPECT_EQ(res.directory[2].param, 1u);
    const std::string inputs[] = {image, blob, rle};
    for (int i = 0; i < 3; ++i) {
        void* data = nullptr;
        ASSERT_EQ(res.LoadData(i, &data), 1);
        const auto* p = static_cast<unsigned char*>(data);
        EXPECT_EQ(Bytes(p, p + res.directory[i].size), ReadAll(inputs[i])) << i;
        delete[] p;

        const std::string out = dir.Path("lump" + std::to_string(i));
        const ToolRun extract = Respak("extract " + archive + " " + std::to_string(i) + " " + out);
        ASSERT_EQ(extract.status, 0) << extract.output;
        EXPECT_EQ(ReadAll(out), ReadAll(inputs[i])) << i;
    }

    const ToolRun list = Respak("list " + archive);
    ASSERT_EQ(list.status, 0) << list.output;
    EXPECT_NE(list.output.find("3 lumps"), std::string::npos) << list.output;
    EXPECT_NE(list.output.find("TGA 2x1 24-bit uncompressed"), std::string::npos) << list.output;
    EXPECT_NE(list.output.find("TGA 4x3 24-bit run-length"), std::string::npos) << list.output;
    EXPECT_NE(list.output.find("4000000000"), std::string::npos) << list.output;
}

TEST_F(RespakTool, EmptyArchive) {
    ASSERT_EQ(Respak("create " + archive).status, 0);
    EXPECT_EQ(ReadAll(archive).size(), 24u);
    RESFILE res;
    EXPECT_EQ(res.Open(archive.c_str()), 1);
    EXPECT_EQ(res.header.count, 0u);
}

TEST_F(RespakTool, RefusesWhatItCannotWrite) {
    const std::string bad = dir.Write("bad.tga", TgaHeader(3, 1, 1, 8));
    std::filesystem::resize_file(dir.Write("huge.bin", {}), (uint64_t{1} << 32) + 1);  // sparse

    const std::pair<std::string, int> cases[] = {
        {"", 2},
        {"frobnicate x", 2},
        {"create " + archive + " 1:" + image, 2},
        {"create " + archive + " x:1:" + image, 2},
        {"create " + archive + " 1:4294967296:" + image, 2},
        {"create " + archive + " 1:1:", 2},
        {"create " + archive + " 1:1:" + dir.Path("absent.tga"), 1},
        {"create " + archive + " 1:1:" + bad, 1},  // image lumps must decode
        {"create " + archive + " 0:0:" + dir.Path("huge.bin"), 1},
        {"extract " + dir.Path("absent.respak") + " 0 " + dir.Path("x"), 1},
        {"list " + image, 1},
    };
    for (const auto& [args, status] : cases) {
        const ToolRun run = Respak(args);
        EXPECT_EQ(run.status, status) << args << "\n" << run.output;
        EXPECT_FALSE(run.output.empty()) << args;
        EXPECT_FALSE(std::filesystem::exists(archive)) << args;
    }
    EXPECT_NE(
        Respak("create " + archive + " 1:1:" + bad).output.find("TGA file be type 2 or type 10"),
        std::string::npos);
    EXPECT_NE(Respak("").output.find("usage: respak create ARCHIVE TYPE:PARAM:FILE..."),
              std::string::npos);

    ASSERT_EQ(Respak("create " + archive + " 1:1:" + image).status, 0);
    EXPECT_EQ(Respak("extract " + archive + " 1 " + dir.Path("x")).status, 1);
    EXPECT_EQ(Respak("extract " + archive + " -1 " + dir.Path("x")).status, 2);
    EXPECT_EQ(Respak("--help").status, 0);
}

}  // namespace
