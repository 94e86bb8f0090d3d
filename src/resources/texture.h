// Texture: one decoded image and its OpenGL texture. Filled by the TGA
// decoders (pixels, size, depth, format) and by the texture builder (glName).
// Arrays of records are allocated with new[] and destroyed as a whole.
#pragma once

#include <cstdint>

struct Texture {
    unsigned char* pixels = nullptr;  // pixel bytes from malloc; freed on destruction
    uint32_t bitsPerPixel = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t glName = 0;       // OpenGL texture name; 0 means none
    uint32_t pixelFormat = 0;  // GL_RGB or GL_RGBA

    Texture() = default;
    // Frees pixels and deletes glName (needs the owning context current when
    // glName is not 0).
    ~Texture();
    Texture(const Texture&) = delete;
    Texture& operator=(const Texture&) = delete;

    // Releases pixels and the texture name, leaving an empty record.
    void Release();
};
