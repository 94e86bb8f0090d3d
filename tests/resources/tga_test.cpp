// TGA decoders, from files and from a stream inside an archive.
#include "resources/tga.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <memory>

#include "resource_files.h"
#include "resources/resfile.h"

namespace {

enum class From { File, Archive };

std::string Name(const testing::TestParamInfo<From>& info) {
    return info.param == From::File ? "File" : "Archive";
}

// Pixels as the file holds them (B, G, R (, A)) for width × height pixels
// with distinct values.
Bytes Pattern(int width, int height, int bpp) {
    Bytes out;
    for (int i = 0; i < width * height; ++i) {
        out.push_back(static_cast<unsigned char>(3 * i + 1));
        out.push_back(static_cast<unsigned char>(5 * i + 2));
        out.push_back(static_cast<unsigned char>(7 * i + 3));
        if (bpp == 4) out.push_back(static_cast<unsigned char>(11 * i + 4));
    }
    return out;
}

// The same pixels in R, G, B (, A) order.
Bytes Swapped(const Bytes& pixels, int bpp) {
    Bytes out = pixels;
    for (size_t i = 0; i + 2 < out.size(); i += bpp) std::swap(out[i], out[i + 2]);
    return out;
}

Bytes WithoutLast(const Bytes& b) { return Bytes(b.begin(), b.end() - 1); }

class TgaDecode : public testing::TestWithParam<From> {
protected:
    // Decodes image either from a file of its own or from lump 0 of an
    // archive, where it ends the file (followed by trailing, if any);
    // another lump lies before it.
    int Decode(const Bytes& image, const Bytes& trailing = {}) {
        if (GetParam() == From::File) return LoadTGA(&tex, dir.Write("image.tga", image).c_str());
        Bytes lump = image;
        lump.insert(lump.end(), trailing.begin(), trailing.end());
        const Bytes archive = MakeArchive({{1, 0, lump}, {0, 0, {0xEE, 0xEE, 0xEE}}}, true);
        res = std::make_unique<RESFILE>();
        if (res->Open(dir.Write("image.respak", archive).c_str()) != 1 || res->SeekLump(0) != 1) {
            ADD_FAILURE() << "archive not readable";
            return -1;
        }
        start = res->stream.tellg();
        return LoadTGA2(&tex, &res->stream);
    }

    Bytes Pixels() const {
        const size_t size = size_t{tex.width} * tex.height * (tex.bitsPerPixel / 8);
        return tex.pixels ? Bytes(tex.pixels, tex.pixels + size) : Bytes{};
    }

    // The one alert shown, as "caption: text".
    std::string Alert() const {
        if (alerts.alerts().size() != 1) return "alerts: " + std::to_string(alerts.alerts().size());
        return alerts.alerts()[0].first + ": " + alerts.alerts()[0].second;
    }

    TempDir dir;
    AlertRecorder alerts;
    Texture tex;
    std::unique_ptr<RESFILE> res;
    std::streampos start;
};

TEST_P(TgaDecode, UncompressedOnePixel) {
    ASSERT_EQ(Decode(UncompressedTga(1, 1, 24, {10, 20, 30})), 1);
    EXPECT_EQ(Pixels(), (Bytes{30, 20, 10}));
    EXPECT_EQ(tex.pixelFormat, static_cast<uint32_t>(GL_RGB));
    EXPECT_EQ(tex.bitsPerPixel, 24u);
    EXPECT_TRUE(alerts.alerts().empty());
}

TEST_P(TgaDecode, UncompressedAtBothDepths) {
    for (int bpp : {3, 4}) {
        const Bytes pixels = Pattern(5, 3, bpp);
        ASSERT_EQ(Decode(UncompressedTga(5, 3, bpp * 8, pixels)), 1) << bpp;
        EXPECT_EQ(tex.width, 5u);
        EXPECT_EQ(tex.height, 3u);
        EXPECT_EQ(tex.bitsPerPixel, bpp * 8u);
        EXPECT_EQ(tex.pixelFormat, static_cast<uint32_t>(bpp == 3 ? GL_RGB : GL_RGBA));
        EXPECT_EQ(Pixels(), Swapped(pixels, bpp)) << bpp;
        EXPECT_EQ(tga.imageSize, 5u * 3 * bpp);
    }
}

TEST_P(TgaDecode, RunLengthAtBothDepths) {
    for (int bpp : {3, 4}) {
        // Runs, single pixels and a raw stretch longer than one row.
        Bytes pixels = Pattern(7, 1, bpp);
        for (int i = 0; i < 130; ++i)
            pixels.insert(pixels.end(), pixels.begin(), pixels.begin() + bpp);
        const Bytes tail = Pattern(9, 1, bpp);
        pixels.insert(pixels.end(), tail.begin(), tail.end());
        const int count = static_cast<int>(pixels.size()) / bpp;  // 146 = 2 × 73
        Bytes packets;
        AppendRle(packets, pixels, bpp);
        ASSERT_LT(packets.size(), pixels.size());
        ASSERT_EQ(Decode(CompressedTga(count / 2, 2, bpp * 8, packets)), 1) << bpp;
        EXPECT_EQ(Pixels(), Swapped(pixels, bpp)) << bpp;
        EXPECT_EQ(tex.bitsPerPixel, bpp * 8u);
    }
}

TEST_P(TgaDecode, RunPacketRepeatsItsPixel) {
    ASSERT_EQ(Decode(CompressedTga(2, 1, 24, {0x81, 1, 2, 3})), 1);
    EXPECT_EQ(Pixels(), (Bytes{3, 2, 1, 3, 2, 1}));
}

TEST_P(TgaDecode, PacketPastTheLastPixelIsRefused) {
    const std::pair<const char*, Bytes> cases[] = {
        {"run of three", {0x82, 1, 2, 3}},
        {"raw of three", {0x02, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
        {"one, then a run of two", {0x00, 1, 2, 3, 0x81, 4, 5, 6}},
    };
    for (const auto& [name, packets] : cases) {
        alerts.Clear();
        tex.Release();
        EXPECT_EQ(Decode(CompressedTga(2, 1, 24, packets)), 0) << name;
        EXPECT_EQ(Alert(), "ERROR: Too many pixels read") << name;
        EXPECT_EQ(tex.pixels, nullptr) << name;
    }
}

struct Broken {
    const char* name;
    Bytes image;
    const char* alert;
};

TEST_P(TgaDecode, EveryFailureHasItsMessage) {
    Bytes idField = UncompressedTga(1, 1, 24, {1, 2, 3});
    idField[0] = 1;
    Bytes colourMap = UncompressedTga(1, 1, 24, {1, 2, 3});
    colourMap[1] = 1;
    Bytes origin = UncompressedTga(1, 1, 24, {1, 2, 3});
    origin[8] = 4;
    const Bytes header = TgaHeader(2, 1, 1, 24);
    const Bytes twelve(header.begin(), header.begin() + 15);  // 3 of the 6 information bytes

    const Broken cases[] = {
        {"short header", {0, 0, 2, 0, 0}, "ERROR: Could not read file header"},
        {"image ID", idField, "Invalid Image: TGA file be type 2 or type 10 "},
        {"colour map", colourMap, "Invalid Image: TGA file be type 2 or type 10 "},
        {"origin", origin, "Invalid Image: TGA file be type 2 or type 10 "},
        {"grey", TgaHeader(3, 1, 1, 8), "Invalid Image: TGA file be type 2 or type 10 "},
        {"short info", twelve, "ERROR: Could not read info header"},
        {"16 bits", UncompressedTga(1, 1, 16, {1, 2}), "ERROR: Invalid texture information"},
        {"0 wide", UncompressedTga(0, 5, 24, {}), "ERROR: Invalid texture information"},
        {"0 high", CompressedTga(5, 0, 24, {}), "ERROR: Invalid texture information"},
        {"17 GB", UncompressedTga(65535, 65535, 32, {1, 2, 3, 4}),
         "ERROR: Could not allocate memory for image"},
        {"17 GB run-length", CompressedTga(65535, 65535, 32, {0xff, 1, 2, 3, 4}),
         "ERROR: Could not allocate memory for image"},
        {"short data", WithoutLast(UncompressedTga(2, 2, 24, Pattern(2, 2, 3))),
         "ERROR: Could not read image data"},
        {"4 GB, short", UncompressedTga(65535, 16383, 32, Pattern(4, 1, 4)),
         "ERROR: Could not read image data"},
        {"short raw packet", CompressedTga(4, 1, 24, {0x03, 1, 2, 3, 4, 5, 6, 7}),
         "ERROR: Could not read image data"},
        {"packets end early", CompressedTga(4, 1, 24, {0x81, 1, 2, 3}),
         "ERROR: Could not read RLE header"},
        {"4 GB run-length, short", CompressedTga(65535, 16383, 32, {0xff, 1, 2, 3, 4}),
         "ERROR: Could not read RLE header"},
        {"short run pixel", CompressedTga(4, 1, 24, {0x83, 1, 2}),
         "ERROR: Could not read from file"},
    };
    for (const Broken& c : cases) {
        alerts.Clear();
        EXPECT_EQ(Decode(c.image), 0) << c.name;
        EXPECT_EQ(Alert(), c.alert) << c.name;
        EXPECT_EQ(tex.pixels, nullptr) << c.name;
    }
}

TEST_P(TgaDecode, DescriptorByteChangesNothing) {
    for (bool compressed : {false, true}) {
        const Bytes pixels = Pattern(3, 4, 4);
        Bytes packets;
        AppendRle(packets, pixels, 4);
        std::vector<Bytes> decoded;
        for (int descriptor : {0x00, 0x20, 0x08, 0xff}) {
            const Bytes image = compressed ? CompressedTga(3, 4, 32, packets, descriptor)
                                           : UncompressedTga(3, 4, 32, pixels, descriptor);
            ASSERT_EQ(Decode(image), 1);
            decoded.push_back(Pixels());
        }
        EXPECT_EQ(decoded[0], Swapped(pixels, 4));
        for (const Bytes& d : decoded) EXPECT_EQ(d, decoded[0]);
    }
}

TEST_P(TgaDecode, ReplacesEarlierPixels) {
    ASSERT_EQ(Decode(UncompressedTga(1, 1, 24, {1, 2, 3})), 1);
    ASSERT_EQ(Decode(UncompressedTga(2, 1, 24, {4, 5, 6, 7, 8, 9})), 1);
    EXPECT_EQ(Pixels(), (Bytes{6, 5, 4, 9, 8, 7}));
    EXPECT_EQ(Decode(UncompressedTga(2, 1, 16, {})), 0);
    EXPECT_EQ(tex.pixels, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Sources, TgaDecode, testing::Values(From::File, From::Archive), Name);

class TgaStream : public TgaDecode {};

TEST_P(TgaStream, StopsJustAfterTheImage) {
    const Bytes trailing = {0x5A, 0x5B};
    Bytes packets;
    AppendRle(packets, Pattern(6, 2, 3), 3);
    const Bytes images[] = {UncompressedTga(6, 2, 24, Pattern(6, 2, 3)),
                            CompressedTga(6, 2, 24, packets)};
    for (const Bytes& image : images) {
        ASSERT_EQ(Decode(image, trailing), 1);
        EXPECT_EQ(res->stream.tellg() - start, static_cast<std::streamoff>(image.size()));
        EXPECT_EQ(res->stream.get(), 0x5A);
        EXPECT_TRUE(res->stream.is_open());
    }
}

TEST_P(TgaStream, NeedsAnOpenStream) {
    EXPECT_EQ(LoadTGA2(&tex, nullptr), 0);
    std::ifstream closed;
    EXPECT_EQ(LoadTGA2(&tex, &closed), 0);
    EXPECT_EQ(LoadUncompressedTGA2(&tex, &closed), 0);
    EXPECT_EQ(LoadCompressedTGA2(&tex, &closed), 0);
    EXPECT_EQ(LoadTGA(&tex, dir.Path("absent.tga").c_str()), 0);
    ASSERT_EQ(alerts.alerts().size(), 5u);
    for (const auto& [caption, text] : alerts.alerts()) {
        EXPECT_EQ(caption, "ERROR");
        EXPECT_EQ(text, "Could not open texture file");
    }
}

INSTANTIATE_TEST_SUITE_P(Archive, TgaStream, testing::Values(From::Archive), Name);

}  // namespace
