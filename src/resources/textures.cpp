// Texture table loading and texture upload with the three alpha modes.
#include "resources/textures.h"

#include <GL/gl.h>

#include <cstdlib>
#include <limits>
#include <memory>
#include <new>

#include "resources/resfile.h"
#include "resources/tga.h"

int LoadTexturesFromDataFile(const char* path, Texture** textures, int* count) {
    if (!textures || !count) return 0;
    auto reader = std::make_unique<RESFILE>();
    if (!reader->Open(path)) return 0;

    const uint32_t lumps = reader->header.count;
    if (lumps > static_cast<uint32_t>(std::numeric_limits<int>::max())) return 0;
    // The new table is made before the old one goes, so that a failed
    // allocation leaves the caller's table in place.
    Texture* table = new (std::nothrow) Texture[lumps];
    if (!table) return 0;
    delete[] * textures;
    *textures = table;
    *count = static_cast<int>(lumps);

    for (uint32_t i = 0; i < lumps; ++i) {
        const RESENTRY& entry = reader->directory[i];
        if (entry.type != 1) continue;
        const int lump = static_cast<int>(i);
        if (!reader->SeekLump(lump)) return 0;
        if (!LoadTGA2(&table[i], &reader->stream)) return 0;
        if (!BuildTexture(&table[i], static_cast<int>(entry.param))) return 0;
    }
    return 1;  // the reader closes as it goes out of scope
}

int BuildTexture(Texture* texture, int alphaMode) {
    if (!texture || !texture->pixels || texture->width == 0 || texture->height == 0) return 0;
    const uint32_t stride = texture->bitsPerPixel == 32 ? 4 : 3;
    const unsigned char* src = texture->pixels;
    const unsigned char key[3] = {src[0], src[1], src[2]};

    if (texture->glName != 0) {
        const GLuint old = texture->glName;
        glDeleteTextures(1, &old);
        texture->glName = 0;
    }
    GLuint name = 0;
    glGenTextures(1, &name);
    texture->glName = name;
    glBindTexture(GL_TEXTURE_2D, name);

    const uint64_t pixelCount = static_cast<uint64_t>(texture->width) * texture->height;
    if (pixelCount > std::numeric_limits<size_t>::max() / 4 ||
        texture->width > static_cast<uint32_t>(std::numeric_limits<GLsizei>::max()) ||
        texture->height > static_cast<uint32_t>(std::numeric_limits<GLsizei>::max())) {
        return 0;
    }
    unsigned char* rgba =
        static_cast<unsigned char*>(std::malloc(static_cast<size_t>(pixelCount) * 4));
    if (!rgba) return 0;

    unsigned char* dst = rgba;
    for (uint64_t n = 0; n < pixelCount; ++n, src += stride, dst += 4) {
        dst[0] = src[0];
        dst[1] = src[1];
        dst[2] = src[2];
        unsigned char alpha;
        if (alphaMode == kAlphaColourKey) {
            alpha = (src[0] == key[0] && src[1] == key[1] && src[2] == key[2]) ? 0 : 255;
        } else if (alphaMode == kAlphaBrightness) {
            alpha = src[0];
            if (src[1] > alpha) alpha = src[1];
            if (src[2] > alpha) alpha = src[2];
        } else {
            alpha = stride == 4 ? src[3] : 255;
        }
        dst[3] = alpha;
    }

    glTexImage2D(GL_TEXTURE_2D, 0, 4, static_cast<GLsizei>(texture->width),
                 static_cast<GLsizei>(texture->height), 0, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);

    std::free(texture->pixels);
    texture->pixels = nullptr;
    std::free(rgba);
    return 1;
}
