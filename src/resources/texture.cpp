// Texture record release.
#include "resources/texture.h"

#include <GL/gl.h>

#include <cstdlib>

Texture::~Texture() { Release(); }

void Texture::Release() {
    if (pixels) {
        std::free(pixels);
        pixels = nullptr;
    }
    if (glName != 0) {
        const GLuint name = glName;
        glDeleteTextures(1, &name);
        glName = 0;
    }
}
