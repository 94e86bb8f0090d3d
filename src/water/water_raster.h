// The water drawn on the processor: the mesh of the last step as the
// fixed-function pipeline draws it through DrawSurface or DrawCaustics
// (light 0 with colour material, the picture modulating the colour), into a
// frame of 32-bit pixels in OpenGL's order (bottom row first, B, G, R, A in
// memory). A software renderer spends most of a reduced frame on the mesh's
// thousands of small triangles; this draws them for a fraction of that, with
// the texture coordinates and colours interpolated linearly across each
// triangle (the perspective changes by a few thousandths across one).
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

class WATERCLASS;

// What the drawing needs of the pipeline's state, as glGet gives it
// (matrices column by column, the light's position in eye coordinates).
struct WaterRasterState {
    float modelView[16];
    float projection[16];
    int viewport[4];  // x, y, width, height
    bool cullBack;    // clockwise triangles (seen from behind) are left out
    bool lighting;    // else the colours are the current colour
    float lightPosition[4];
    float lightAmbient[4];
    float lightDiffuse[4];
    float sceneAmbient[4];
    float colour[4];  // the current colour (the material's ambient and diffuse)
};

// The picture: pixels as the frame's (B, G, R, A in memory), sides powers
// of two, repeating both ways, filtered linearly. Its rows are width + 1
// texels apart, each ending with a copy of its first texel (see
// RepeatFirstTexels), so that a texel and its right neighbour always lie
// side by side.
struct WaterPicture {
    const uint32_t* texels = nullptr;
    uint32_t width = 0;
    uint32_t height = 0;
};

// Copies each row's first texel after its last, for rows width + 1 apart.
void RepeatFirstTexels(uint32_t* texels, uint32_t width, uint32_t height);

// Vertex records of one draw, made at set-up (one per grid point).
struct WaterRasterVertex {
    float x, y;     // window coordinates
    float s, t;     // texture coordinates in texels
    float r, g, b;  // colour, 0 ... 255
};

// Draws the water into `frame` (frameWidth x frameHeight pixels, rows
// frameWidth apart, the bottom one first, or with topFirst the top one),
// clipped to the frame. With caustics the colours are
// water.Caustics, doubled, as DrawCaustics' combine gives them. `vertices`
// holds water.VertexCount records. False, drawing nothing, when the water
// is not ready, a vertex lies behind the eye, or the picture is empty, and
// on processors without SSE2.
bool RasterizeWater(const WATERCLASS& water, const WaterRasterState& state,
                    const WaterPicture& picture, bool caustics, WaterRasterVertex* vertices,
                    uint32_t* frame, int frameWidth, int frameHeight, bool topFirst = false);

// The state above as the current context holds it (water_draw.cpp).
WaterRasterState CaptureWaterRasterState();

// The picture of `texture` as the drawing samples it, copied into `texels`
// (B, G, R, A; RepeatFirstTexels' rows); empty when `texture` is none or
// its sides are not powers of two. Needs a current context; leaves its
// binding and pixel storage as they were (water_draw.cpp).
WaterPicture CopyWaterPicture(uint32_t texture, std::vector<uint32_t>* texels);

// A frame that the water is drawn into on the processor, and what hands it
// on to the renderer before the rest of the frame is drawn over it.
struct WaterFrame {
    WaterPicture picture;
    uint32_t* pixels = nullptr;  // width x height, bottom row first
    int width = 0;
    int height = 0;
    bool topFirst = false;  // the rows of pixels the other way round
    std::function<void()> handOver;
    std::vector<WaterRasterVertex> vertices;  // grown to the grid when it grows
};
