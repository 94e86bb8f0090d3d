// SSMAIN::Draw: one frame of the water, lit by the orbiting light and
// darkened while a message card shows, with the light on the floor when
// caustics are on, then the overlay. Relies on the host's GL state (see
// scene.h), WATERCLASS::DrawSurface, DrawCaustics and Rotate.
#include <GL/gl.h>
#include <GL/glu.h>

#include <algorithm>

#include "scene/scene.h"
#include "water/water.h"
#include "water/water_raster.h"

// The water into waterFrame, cleared first, as the renderer would draw it.
bool SSMAIN::DrawWaterFrame(const VECTOR3D& light, float shade) {
    WaterFrame& f = *waterFrame;
    if (f.vertices.size() < water->VertexCount) f.vertices.resize(water->VertexCount);
    if (caustics) water->FillCaustics(light, aspect, shade);
    std::fill(f.pixels, f.pixels + static_cast<size_t>(f.width) * static_cast<size_t>(f.height),
              0u);
    if (!RasterizeWater(*water, CaptureWaterRasterState(), f.picture, caustics, f.vertices.data(),
                        f.pixels, f.width, f.height, f.topFirst)) {
        return false;
    }
    if (f.handOver) f.handOver();
    return true;
}

void SSMAIN::Draw() {
    glLoadIdentity();
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glEnable(GL_TEXTURE_2D);
    gluLookAt(cameraPos.x, cameraPos.y, cameraPos.z, cameraTarget.x, cameraTarget.y, cameraTarget.z,
              0.0, 0.0, -1.0);

    const VECTOR3D shining = lightPos;  // where light 0 is this frame
    if (lighting) {
        // The light shines from where it got to in the previous frame, then
        // covers the fraction 0.25 * frameTime of its way to the target,
        // which turns about the Y axis by 5 degrees per second.
        const GLfloat position[4] = {lightPos.x, lightPos.y, lightPos.z, 1.0f};
        glLightfv(GL_LIGHT0, GL_POSITION, position);
        const float f = static_cast<float>(frameTime);
        lightPos.x = lightPos.x + (lightTarget.x - lightPos.x) * f * 0.25f;
        lightPos.y = lightPos.y + (lightTarget.y - lightPos.y) * f * 0.25f;
        lightPos.z = lightPos.z + (lightTarget.z - lightPos.z) * f * 0.25f;
        Rotate(&lightTarget, 0.0f, static_cast<float>(frameTime * 5.0), 0.0f);
    }

    // Through colour material and the modulate environment this colour
    // scales the desktop image: black while the card is fully opaque.
    const float c = static_cast<float>(1.0 - static_cast<double>(cardAlpha));
    glColor4f(c, c, c, 1.0f);

    glPushMatrix();
    glBindTexture(GL_TEXTURE_2D, deskTexture);
    glScalef(aspect, 1.0f, 1.0f);
    const bool handedOver = water && waterFrame != nullptr && DrawWaterFrame(shining, c);
    if (water && !handedOver && caustics) {
        DrawCaustics(shining, c);
    } else if (water && !handedOver) {
        water->DrawSurface();
    }
    glPopMatrix();

    if (!preview) DoOverlay();
    glDisable(GL_TEXTURE_2D);
}
