// The texture table and texture upload, on the headless OpenGL fixture:
// textures are read back with glGetTexImage.
#include "resources/textures.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <set>

#include "headless_gl.h"
#include "resource_files.h"

namespace {

using Texel = uint32_t;  // 0xRRGGBBAA

class TextureUpload : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(gl.ok()) << gl.error(); }

    // A decoded record of width × height pixels, R, G, B (, A) each.
    static void Fill(Texture& t, int width, int height, int bpp, const Bytes& pixels) {
        t.width = width;
        t.height = height;
        t.bitsPerPixel = bpp * 8;
        t.pixelFormat = bpp == 3 ? GL_RGB : GL_RGBA;
        t.pixels = static_cast<unsigned char*>(std::malloc(pixels.size()));
        std::memcpy(t.pixels, pixels.data(), pixels.size());
    }

    // The uploaded texture, texel by texel.
    static std::vector<Texel> ReadBack(const Texture& t) {
        glBindTexture(GL_TEXTURE_2D, t.glName);
        GLint w = 0, h = 0;
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &w);
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &h);
        std::vector<unsigned char> rgba(size_t(w) * h * 4);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
        std::vector<Texel> out;
        for (size_t i = 0; i < rgba.size(); i += 4) {
            out.push_back(Texel(rgba[i]) << 24 | rgba[i + 1] << 16 | rgba[i + 2] << 8 |
                          rgba[i + 3]);
        }
        return out;
    }

    HeadlessGL gl{8, 8};
};

TEST_F(TextureUpload, ColourKeyClearsOnlyTheKeyColour) {
    Texture t;
    Fill(t, 3, 2, 3,
         {255, 0, 255, 255, 0, 254, 254, 0, 255,  // key, then off by one in B and in R
          255, 1, 255, 255, 0, 255, 0, 0, 0});    // off by one in G, key, black
    ASSERT_EQ(BuildTexture(&t, 1), 1);
    EXPECT_EQ(ReadBack(t), (std::vector<Texel>{0xFF00FF00, 0xFF00FEFF, 0xFE00FFFF,  //
                                               0xFF01FFFF, 0xFF00FF00, 0x000000FF}));
}

TEST_F(TextureUpload, BrightnessBecomesAlpha) {
    Texture t;
    Fill(t, 2, 2, 3, {10, 200, 30, 0, 0, 0, 255, 255, 255, 7, 3, 90});
    ASSERT_EQ(BuildTexture(&t, 2), 1);
    EXPECT_EQ(ReadBack(t), (std::vector<Texel>{0x0AC81EC8, 0x00000000, 0xFFFFFFFF, 0x07035A5A}));
}

TEST_F(TextureUpload, OtherModesAreOpaque) {
    for (int mode : {0, 7, -1, 3}) {
        Texture t;
        Fill(t, 2, 1, 3, {255, 0, 255, 0, 0, 0});
        ASSERT_EQ(BuildTexture(&t, mode), 1) << mode;
        EXPECT_EQ(ReadBack(t), (std::vector<Texel>{0xFF00FFFF, 0x000000FF})) << mode;
    }
}

TEST_F(TextureUpload, ThirtyTwoBitImages) {
    const Bytes pixels = {255, 0, 255, 77, 10, 200, 30, 128, 0, 0, 0, 255};
    const std::pair<int, std::vector<Texel>> cases[] = {
        {0, {0xFF00FF4D, 0x0AC81E80, 0x000000FF}},  // own alpha kept
        {5, {0xFF00FF4D, 0x0AC81E80, 0x000000FF}},
        {1, {0xFF00FF00, 0x0AC81EFF, 0x000000FF}},
        {2, {0xFF00FFFF, 0x0AC81EC8, 0x00000000}},
    };
    for (const auto& [mode, expected] : cases) {
        Texture t;
        Fill(t, 3, 1, 4, pixels);
        ASSERT_EQ(BuildTexture(&t, mode), 1) << mode;
        EXPECT_EQ(ReadBack(t), expected) << mode;
    }
}

TEST_F(TextureUpload, UploadsAtItsOwnSizeWithRepeatAndLinear) {
    Texture t;
    Fill(t, 5, 3, 3, Bytes(5 * 3 * 3, 40));
    ASSERT_EQ(BuildTexture(&t, 0), 1);
    EXPECT_EQ(t.pixels, nullptr);
    ASSERT_NE(t.glName, 0u);
    GLint bound = 0, w = 0, h = 0, param = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    EXPECT_EQ(static_cast<GLuint>(bound), t.glName);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &w);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &h);
    EXPECT_EQ(w, 5);
    EXPECT_EQ(h, 3);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, &param);
    EXPECT_EQ(param, GL_REPEAT);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, &param);
    EXPECT_EQ(param, GL_REPEAT);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &param);
    EXPECT_EQ(param, GL_LINEAR);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &param);
    EXPECT_EQ(param, GL_LINEAR);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));

    Texture empty;
    EXPECT_EQ(BuildTexture(&empty, 0), 0);
    EXPECT_EQ(BuildTexture(nullptr, 0), 0);
}

class TextureTable : public TextureUpload {
protected:
    static Bytes Image(unsigned char grey) {
        Bytes pixels(4 * 2 * 3, grey);
        return UncompressedTga(4, 2, 24, pixels);
    }
    TempDir dir;
    AlertRecorder alerts;
};

TEST_F(TextureTable, LoadsEveryImageLumpInOrder) {
    Bytes packets;
    AppendRle(packets, Bytes(16 * 3, 9), 3);
    const std::string path = dir.Write(
        "a.respak",
        MakeArchive(
            {{1, 0, Image(50)}, {3, 1, {1, 2, 3}}, {1, 2, CompressedTga(4, 4, 24, packets)}}));
    Texture* table = new Texture[6];  // what the scene leaves there; released by the loader
    int count = 6;
    ASSERT_EQ(LoadTexturesFromDataFile(path.c_str(), &table, &count), 1);
    ASSERT_EQ(count, 3);
    EXPECT_NE(table[0].glName, 0u);
    EXPECT_EQ(table[1].glName, 0u);  // not an image
    EXPECT_EQ(table[1].width, 0u);
    EXPECT_NE(table[2].glName, 0u);
    EXPECT_EQ(table[2].width, 4u);
    EXPECT_EQ(table[2].height, 4u);
    EXPECT_EQ(ReadBack(table[0])[0], 0x323232FFu);
    EXPECT_EQ(ReadBack(table[2])[5], 0x09090909u);
    for (int i = 0; i < count; ++i) EXPECT_EQ(table[i].pixels, nullptr);
    EXPECT_TRUE(alerts.alerts().empty());
    delete[] table;
}

TEST_F(TextureTable, StopsAtADamagedImage) {
    Bytes damaged = Image(60);
    damaged[16] = 16;  // 16 bits per pixel
    const std::string path = dir.Write("a.respak", MakeArchive({{1, 0, Image(10)},
                                                                {1, 0, Image(20)},
                                                                {1, 0, damaged},
                                                                {1, 0, Image(40)},
                                                                {1, 0, Image(50)}}));
    Texture* table = nullptr;
    int count = 0;
    EXPECT_EQ(LoadTexturesFromDataFile(path.c_str(), &table, &count), 0);
    ASSERT_EQ(count, 5);
    ASSERT_NE(table, nullptr);
    EXPECT_NE(table[0].glName, 0u);
    EXPECT_NE(table[1].glName, 0u);
    for (int i = 2; i < 5; ++i) {
        EXPECT_EQ(table[i].glName, 0u) << i;
        EXPECT_EQ(table[i].pixels, nullptr) << i;
    }
    ASSERT_EQ(alerts.alerts().size(), 1u);
    EXPECT_EQ(alerts.alerts()[0].second, "Invalid texture information");
    delete[] table;
}

TEST_F(TextureTable, ArchiveWithoutImages) {
    const std::string path =
        dir.Write("a.respak", MakeArchive({{0, 1, {1}}, {2, 2, Image(1)}, {7, 0, {}}}));
    Texture* table = nullptr;
    int count = -1;
    ASSERT_EQ(LoadTexturesFromDataFile(path.c_str(), &table, &count), 1);
    ASSERT_EQ(count, 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(table[i].glName, 0u);
        EXPECT_EQ(table[i].pixels, nullptr);
        EXPECT_EQ(table[i].width, 0u);
        EXPECT_EQ(table[i].bitsPerPixel, 0u);
    }
    GLuint probe = 0;
    glGenTextures(1, &probe);
    EXPECT_EQ(probe, 1u);  // no texture name was taken
    glDeleteTextures(1, &probe);
    delete[] table;
}

TEST_F(TextureTable, MissingArchiveLeavesTheTableAlone) {
    Texture* table = new Texture[2];
    Texture* const before = table;
    int count = 2;
    EXPECT_EQ(LoadTexturesFromDataFile(dir.Path("absent.respak").c_str(), &table, &count), 0);
    Bytes damaged = MakeArchive({{1, 0, Image(1)}});
    damaged.push_back(0);
    EXPECT_EQ(LoadTexturesFromDataFile(dir.Write("bad.respak", damaged).c_str(), &table, &count),
              0);
    EXPECT_EQ(table, before);
    EXPECT_EQ(count, 2);
    delete[] table;
}

TEST_F(TextureTable, ShippedArchiveLoadsCompletely) {
    Texture* table = nullptr;
    int count = 0;
    ASSERT_EQ(LoadTexturesFromDataFile(MEREGLASS_TEST_ARCHIVE, &table, &count), 1);
    ASSERT_EQ(count, 6);
    const uint32_t sizes[6][2] = {{64, 64},   {256, 32}, {512, 128},
                                  {512, 256}, {512, 32}, {512, 32}};
    std::set<uint32_t> names;
    for (int i = 0; i < count; ++i) {
        EXPECT_NE(table[i].glName, 0u) << i;
        names.insert(table[i].glName);
        EXPECT_EQ(table[i].pixels, nullptr) << i;
        EXPECT_EQ(table[i].bitsPerPixel, 24u) << i;
        EXPECT_EQ(table[i].width, sizes[i][0]) << i;
        EXPECT_EQ(table[i].height, sizes[i][1]) << i;
    }
    EXPECT_EQ(names.size(), 6u);

    // The icon's corners are clear (colour key), its middle opaque.
    const std::vector<Texel> icon = ReadBack(table[0]);
    EXPECT_EQ(icon[0] & 0xFF, 0u);
    EXPECT_EQ(icon[64 * 64 - 1] & 0xFF, 0u);
    EXPECT_EQ(icon[32 * 64 + 32] & 0xFF, 0xFFu);
    // The overlay images are light on clear: their edges are clear, their
    // text opaque, with anti-aliased steps between.
    for (int i = 1; i < 6; ++i) {
        const std::vector<Texel> texels = ReadBack(table[i]);
        int clear = 0, opaque = 0, between = 0;
        for (Texel t : texels) {
            const uint32_t a = t & 0xFF;
            (a == 0 ? clear : a >= 250 ? opaque : between)++;
        }
        EXPECT_EQ(texels.front() & 0xFF, 0u) << i;
        EXPECT_EQ(texels.back() & 0xFF, 0u) << i;
        EXPECT_GT(clear, static_cast<int>(texels.size()) / 2) << i;
        EXPECT_GT(opaque, 20) << i;
        EXPECT_GT(between, 20) << i;
    }
    delete[] table;
}

}  // namespace
