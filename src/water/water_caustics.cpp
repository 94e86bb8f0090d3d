// WATERCLASS::FillCaustics: the light that the rippled surface gathers on
// the floor, estimated at each grid point from the curvature of the height
// field. No OpenGL; the scene draws the bytes as a texture.
//
// Light from above bends towards the normal as it enters the water, so a
// crest (the surface curving down on every side) gathers the light of a
// wider patch onto a smaller one below it, and a trough spreads it. To first
// order the lit area on the floor grows by 1 + kFocus * c, where c is the
// mean of the heights two points away along the rows and columns less the
// point's own: a discrete Laplacian, taken over two spacings so that the
// grid-sized jitter of the field (which it cancels) does not show. The light
// is the inverse of that growth.
#include <cstdint>

#include "water/water.h"

namespace {

// Growth of the lit area per unit of c: in proportion to the floor's depth
// and to the share of a slope that refraction keeps (1 - 1 / 1.333); chosen
// by eye for the drips' ripples at the factory settings.
constexpr float kFocus = 16.0f;
// The smallest growth counted: light gathered to a point stays finite.
constexpr float kTightest = 0.25f;
// How much of the estimated change of light shows, and the byte value of
// unchanged light (the scene doubles it to 1).
constexpr float kContrast = 0.8f;
constexpr float kUnchanged = 128.0f;

uint8_t LightByte(float c) {
    float growth = 1.0f + kFocus * c;
    if (growth < kTightest) growth = kTightest;
    float level = kUnchanged * (1.0f + kContrast * (1.0f / growth - 1.0f));
    if (level < 0.0f) level = 0.0f;
    if (level > 255.0f) level = 255.0f;
    return static_cast<uint8_t>(level + 0.5f);
}

}  // namespace

void WATERCLASS::FillCaustics() {
    if (Caustics == nullptr || !Ready()) return;
    const uint32_t n = 1u << Shift, mask = n - 1;
    for (uint32_t y = 0; y < n; ++y) {
        const WATERCELL* row = Cells + (y << Shift);
        const WATERCELL* up = Cells + (((y - 2) & mask) << Shift);
        const WATERCELL* down = Cells + (((y + 2) & mask) << Shift);
        uint8_t* out = Caustics + (y << Shift);
        for (uint32_t x = 0; x < n; ++x) {
            const float around = (row[(x - 2) & mask].Height + row[(x + 2) & mask].Height) +
                                 (up[x].Height + down[x].Height);
            out[x] = LightByte(around * 0.25f - row[x].Height);
        }
    }
}
