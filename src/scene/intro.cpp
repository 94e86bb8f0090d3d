// SSMAIN::DoIntro: two images of the texture table that fade in and out over
// the first fourteen seconds of a run, drawn on the overlay's 1024 x 768
// canvas. Relies on the canvas transform, blend function and texturing that
// DoOverlay leaves.
#include <GL/gl.h>

#include "scene/scene.h"

namespace {

// totalTime at which the fade-in phase ends and the fade-out begins.
constexpr double kFadeOutStart = 12.0;
constexpr uint32_t kFirstRecord = 2;
constexpr uint32_t kSecondRecord = 3;

// One quad centred on the current origin, half-size hw x hh, texture
// coordinates (0,0) (1,0) (1,1) (0,1) from the lower left, counter-clockwise.
void DrawCentredQuad(float hw, float hh) {
    glBegin(GL_QUADS);
    glTexCoord2f(0.0f, 0.0f);
    glVertex3f(-hw, -hh, 0.0f);
    glTexCoord2f(1.0f, 0.0f);
    glVertex3f(hw, -hh, 0.0f);
    glTexCoord2f(1.0f, 1.0f);
    glVertex3f(hw, hh, 0.0f);
    glTexCoord2f(0.0f, 1.0f);
    glVertex3f(-hw, hh, 0.0f);
    glEnd();
}

}  // namespace

void SSMAIN::DoIntro() {
    glPushMatrix();
    glDisable(GL_LIGHTING);
    glDisable(GL_DEPTH_TEST);
    glEnable(GL_BLEND);

    // One fade per frame at 1.0 opacity per second, not clamped: the images
    // fade in one after the other, hold, and fade out one after the other.
    if (totalTime < kFadeOutStart) {
        if (introAlpha1 < 1.0f) {
            introAlpha1 = static_cast<float>(introAlpha1 + frameTime);
        } else if (introAlpha2 < 1.0f) {
            introAlpha2 = static_cast<float>(introAlpha2 + frameTime);
        }
    } else {
        if (introAlpha1 > 0.0f) {
            introAlpha1 = static_cast<float>(introAlpha1 - frameTime);
        } else if (introAlpha2 > 0.0f) {
            introAlpha2 = static_cast<float>(introAlpha2 - frameTime);
        } else {
            introDone = true;
        }
    }

    // An image at an opacity of 0 or below blends to exactly what lies
    // under it, so it is not drawn: for the first seconds of every run the
    // renderer would otherwise shade both images for nothing.
    // First image: 512 x 128 canvas units centred at (512, 614.4).
    if (introAlpha1 > 0.0f) {
        glPushMatrix();
        glBindTexture(GL_TEXTURE_2D, TextureName(kFirstRecord));
        glTranslatef(512.0f, 614.4f, 0.0f);
        glColor4f(1.0f, 1.0f, 1.0f, introAlpha1);
        glScalef(2.0f, 2.0f, 1.0f);
        DrawCentredQuad(128.0f, 32.0f);
        glPopMatrix();
    }

    // Second image: 512 x 256 canvas units centred at (512, 192).
    if (introAlpha2 > 0.0f) {
        glPushMatrix();
        glBindTexture(GL_TEXTURE_2D, TextureName(kSecondRecord));
        const float slide = introSlide * 1024.0f;
        glTranslatef(static_cast<float>(1024.0 - slide * 0.5), 192.0f, 0.0f);
        glColor4f(1.0f, 1.0f, 1.0f, introAlpha2);
        glScalef(2.0f, 2.0f, 1.0f);
        DrawCentredQuad(128.0f, 64.0f);
        glPopMatrix();
    }

    glEnable(GL_LIGHTING);
    glEnable(GL_DEPTH_TEST);
    glDisable(GL_BLEND);
    glPopMatrix();
}
