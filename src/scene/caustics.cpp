// SSMAIN's light on the pool floor. With it the water is drawn in one pass
// as before, but unlit: the water computes each vertex's lit colour itself,
// multiplied by the light that the ripples focus on the floor and halved
// (WATERCLASS::FillCaustics), and the combine environment of texture unit 0
// doubles the product of the picture and that colour. Still water so gives
// the picture of the lit water, and the light on the floor may brighten it
// past what a lit colour, clamped at 1, allows. Needs OpenGL 1.3 (the
// combine environment).
#include <GL/gl.h>

#include "scene/scene.h"
#include "water/water.h"

void SSMAIN::DrawCaustics(const VECTOR3D& light, float shade) {
    water->FillCaustics(light, aspect, shade);
    glDisable(GL_LIGHTING);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_COMBINE);
    glTexEnvi(GL_TEXTURE_ENV, GL_COMBINE_RGB, GL_MODULATE);
    glTexEnvi(GL_TEXTURE_ENV, GL_SOURCE0_RGB, GL_TEXTURE);
    glTexEnvi(GL_TEXTURE_ENV, GL_SOURCE1_RGB, GL_PRIMARY_COLOR);
    glTexEnvf(GL_TEXTURE_ENV, GL_RGB_SCALE, 2.0f);
    water->DrawCaustics();
    glTexEnvf(GL_TEXTURE_ENV, GL_RGB_SCALE, 1.0f);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glEnable(GL_LIGHTING);
    // The colour array leaves the current colour undefined.
    glColor4f(shade, shade, shade, 1.0f);
}
