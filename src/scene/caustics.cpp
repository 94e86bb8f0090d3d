// SSMAIN's light on the pool floor: the water's bytes of focused light
// (WATERCLASS::Caustics) as a luminance texture on the second texture unit,
// laid over the grid by object-linear texture generation and multiplied
// into the textured, lit water at twice its value, so that 128 leaves the
// picture as it is. The water is drawn once, as without it. Needs OpenGL
// 1.3 (a second texture unit, the combine environment).
#include <GL/gl.h>

#include "scene/scene.h"
#include "water/water.h"

namespace {

// The side of the water's grid, in points.
GLsizei GridSide(const WATERCLASS& water) { return static_cast<GLsizei>(1u << water.Shift); }

}  // namespace

bool SSMAIN::MakeCausticTexture() {
    const GLuint old = causticTexture;
    glDeleteTextures(1, &old);
    causticTexture = 0;
    if (!water || !water->Caustics) return false;
    const GLsizei n = GridSide(*water);
    GLuint name = 0;
    glGenTextures(1, &name);
    if (name == 0) return false;
    // Rows of 16 bytes or more: no unpack alignment pads them.
    glBindTexture(GL_TEXTURE_2D, name);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_LUMINANCE, n, n, 0, GL_LUMINANCE, GL_UNSIGNED_BYTE,
                 water->Caustics);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glBindTexture(GL_TEXTURE_2D, 0);
    causticTexture = name;
    return true;
}

void SSMAIN::BeginCaustics() {
    const GLsizei n = GridSide(*water);
    glActiveTexture(GL_TEXTURE1);
    glBindTexture(GL_TEXTURE_2D, causticTexture);
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, n, n, GL_LUMINANCE, GL_UNSIGNED_BYTE, water->Caustics);
    glEnable(GL_TEXTURE_2D);

    // Grid point (column, row) lies at x = firstX + column * spacing,
    // z = firstX + row * spacing; its texel's centre is (column + 0.5) / n.
    const float n1 = static_cast<float>(n);
    const float spacing = water->Size / static_cast<float>(n - 1);
    const float scale = 1.0f / (spacing * n1);
    const float offset = (water->Size * 0.5f / spacing + 0.5f) / n1;
    const GLfloat sPlane[4] = {scale, 0.0f, 0.0f, offset};
    const GLfloat tPlane[4] = {0.0f, 0.0f, scale, offset};
    glTexGeni(GL_S, GL_TEXTURE_GEN_MODE, GL_OBJECT_LINEAR);
    glTexGeni(GL_T, GL_TEXTURE_GEN_MODE, GL_OBJECT_LINEAR);
    glTexGenfv(GL_S, GL_OBJECT_PLANE, sPlane);
    glTexGenfv(GL_T, GL_OBJECT_PLANE, tPlane);
    glEnable(GL_TEXTURE_GEN_S);
    glEnable(GL_TEXTURE_GEN_T);

    // The water so far (unit 0: the picture times the lit colour) times
    // the light, doubled.
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_COMBINE);
    glTexEnvi(GL_TEXTURE_ENV, GL_COMBINE_RGB, GL_MODULATE);
    glTexEnvi(GL_TEXTURE_ENV, GL_SOURCE0_RGB, GL_PREVIOUS);
    glTexEnvi(GL_TEXTURE_ENV, GL_SOURCE1_RGB, GL_TEXTURE);
    glTexEnvi(GL_TEXTURE_ENV, GL_COMBINE_ALPHA, GL_REPLACE);
    glTexEnvi(GL_TEXTURE_ENV, GL_SOURCE0_ALPHA, GL_PREVIOUS);
    glTexEnvf(GL_TEXTURE_ENV, GL_RGB_SCALE, 2.0f);
    glActiveTexture(GL_TEXTURE0);
}

void SSMAIN::EndCaustics() {
    glActiveTexture(GL_TEXTURE1);
    glDisable(GL_TEXTURE_GEN_S);
    glDisable(GL_TEXTURE_GEN_T);
    glDisable(GL_TEXTURE_2D);
    glActiveTexture(GL_TEXTURE0);
}
