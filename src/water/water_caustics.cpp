// WATERCLASS::FillCaustics: the light that the rippled surface gathers on
// the floor, estimated at each grid point from the curvature of the height
// field, multiplied into the colour that the fixed-function lighting of the
// scene gives the point. No OpenGL; DrawCaustics draws the colours.
//
// Light from above bends towards the normal as it enters the water, so a
// crest (the surface curving down on every side) gathers the light of a
// wider patch onto a smaller one below it, and a trough spreads it. To first
// order the lit area on the floor grows by 1 + kFocus * c, where c is the
// mean of the heights two points away along the rows and columns less the
// point's own: a discrete Laplacian, taken over two spacings so that the
// grid-sized jitter of the field (which it cancels) does not show. The light
// is the inverse of that growth.
//
// The lighting is the scene's: light 0 positional, diffuse 1, ambient 0;
// the model's ambient 0.2; colour material for ambient and diffuse; no
// specular (the material has none); the result clamped to 1 before the
// light on the floor multiplies it, as OpenGL clamps a lit colour before
// texturing.
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "water/water.h"

namespace {

// Growth of the lit area per unit of c: in proportion to the floor's depth
// and to the share of a slope that refraction keeps (1 - 1 / 1.333); chosen
// by eye for the drips' ripples at the factory settings.
constexpr float kFocus = 16.0f;
// The smallest growth counted: light gathered to a point stays finite.
constexpr float kTightest = 0.25f;
// How much of the estimated change of light shows.
constexpr float kContrast = 0.8f;
// The ambient light of OpenGL's default light model.
constexpr float kAmbient = 0.2f;

// The light on the floor under a point of curvature c: 1 unchanged.
float FloorLight(float c) {
    float growth = 1.0f + kFocus * c;
    if (growth < kTightest) growth = kTightest;
    const float light = 1.0f + kContrast * (1.0f / growth - 1.0f);
    return light < 0.0f ? 0.0f : light;
}

// The lit colour of a vertex of material colour `shade`: position p and
// unit normal n on the mesh, both stretched along x by xScale as the
// model-view does (the normal by its inverse, and not renormalized, as
// OpenGL leaves it without GL_NORMALIZE).
float LitColour(const VECTOR3D& p, const VECTOR3D& n, const VECTOR3D& light, float xScale,
                float shade) {
    const float dx = light.x - p.x * xScale, dy = light.y - p.y, dz = light.z - p.z;
    const float length = sqrtf(dx * dx + dy * dy + dz * dz);
    float facing = 0.0f;
    if (length > 0.0f) facing = (n.x / xScale * dx + n.y * dy + n.z * dz) / length;
    if (facing < 0.0f) facing = 0.0f;
    const float lit = kAmbient * shade + facing * shade;
    return lit > 1.0f ? 1.0f : lit;
}

}  // namespace

void WATERCLASS::FillCaustics(const VECTOR3D& light, float xScale, float shade) {
    if (Caustics == nullptr || !Ready()) return;
    const uint32_t n = 1u << Shift, mask = n - 1;
    for (uint32_t y = 0; y < n; ++y) {
        const WATERCELL* row = Cells + (y << Shift);
        const WATERCELL* up = Cells + (((y - 2) & mask) << Shift);
        const WATERCELL* down = Cells + (((y + 2) & mask) << Shift);
        const WATERVERTEX* vertex = Vertices + (y << Shift);
        float* out = Caustics + std::size_t{3} * (y << Shift);
        for (uint32_t x = 0; x < n; ++x) {
            const float around = (row[(x - 2) & mask].Height + row[(x + 2) & mask].Height) +
                                 (up[x].Height + down[x].Height);
            const float floor = FloorLight(around * 0.25f - row[x].Height);
            const float lit = LitColour(vertex[x].Position, vertex[x].Normal, light, xScale, shade);
            // Halved: the scene doubles it when it multiplies in the picture.
            const float colour = 0.5f * floor * lit;
            out[3 * x] = colour;
            out[3 * x + 1] = colour;
            out[3 * x + 2] = colour;
        }
    }
}
