// WATERCLASS: a wrapping N x N height field (N = 16 ... 256, a power of two),
// the mesh through which it is drawn, and the refraction table shared by all
// water objects. Set-up and drips live in water.cpp, the step in
// water_step.cpp, the drawing in water_draw.cpp, so the simulation builds
// and tests without an OpenGL context.
//
// The water layer (src/water/): the simulation and its drawing. It may use
// support/ only.
#pragma once

#include <cstdint>

#include "support/vector.h"

struct WATERCELL {
    float Height;    // world units, 0 at rest
    float Velocity;  // change of height applied by the next step
};

// Eight packed floats, 32 bytes, aligned to 32 so that the step writes
// whole records with single vector stores.
struct alignas(32) WATERVERTEX {
    VECTOR3D Position;  // world coordinates
    VECTOR3D Normal;    // unit surface normal
    point2d TexCoord;   // x = s, y = t into the desktop image
};

struct REFRACTION {
    float NormalScale;
    float Ratio;
};

// 256 entries, entry i for the cosine i / 256 of the angle of incidence.
// One table per process, filled by every object's first Initialize.
extern REFRACTION Refract[256];

// Writes the triangle strip that covers a grid of side N = 1 << shift
// (shift 1 ... 8): 2 * N * N indices y * N + x, ring by ring from the outside
// in, every visible triangle counter-clockwise seen from +Y.
void FillWaterStrip(uint16_t* indices, uint16_t shift);

class WATERCLASS {
public:
    float Size;                // world extent along X and Z (set by Initialize)
    float InvSize = 1.0f;      // 1 / Size
    float Mean;                // working value of Update
    float BowlLevel = 0.0f;    // eased bowl term
    uint32_t IndexCount = 0;   // 2 * N * N
    uint32_t VertexCount = 0;  // N * N
    WATERCELL* Cells = nullptr;
    REFRACTION* RefractTable = nullptr;
    uint16_t* Indices = nullptr;
    WATERVERTEX* Vertices = nullptr;
    bool WantBowl = true;
    float Speed = 1.0f;
    uint16_t Shift = 6;  // log2 N

    WATERCLASS();
    ~WATERCLASS();
    WATERCLASS(const WATERCLASS&) = delete;
    WATERCLASS& operator=(const WATERCLASS&) = delete;

    // Sizes the grid (shift clamped to 4 ... 8) and creates missing buffers.
    // A second call with the same grid size keeps the buffers, the heights
    // and the table; one with another size replaces the buffers with a
    // still, flat field of the new size. Makes Caustics while WantCaustics
    // is set and drops it otherwise. False when an allocation fails.
    bool Initialize(uint16_t shift, float size, bool wantBowl, float speed);
    // One drip of the given strength at a random grid point (two rand()
    // calls: column, then row). Changes velocities only. False, doing
    // nothing, when Initialize has not succeeded.
    bool Drop(float strength);
    // The same drip at grid point (column, row), each taken modulo the
    // grid's side; draws no random numbers. False, doing nothing, when
    // Initialize has not succeeded.
    bool DropAt(uint32_t column, uint32_t row, float strength);
    // One simulation step and a new mesh. elapsed (seconds) only drives the
    // bowl easing. False, doing nothing, when Initialize has not succeeded.
    bool Update(VECTOR3D& eye, double elapsed);
    // Draws the mesh as one triangle strip. Needs a current context. False,
    // drawing nothing, when Initialize has not succeeded.
    bool DrawSurface();
    // Fills Caustics from the mesh of the last step: each vertex's colour
    // as the scene's lighting gives it (light 0 at `light`, world
    // coordinates; x stretched by xScale; material colour `shade`), times
    // the light that the ripples focus on the floor under it, halved.
    // Nothing without Caustics.
    void FillCaustics(const VECTOR3D& light, float xScale, float shade);
    // Draws the mesh as DrawSurface does, with Caustics as vertex colours.
    // Needs a current context. False, drawing nothing, without Caustics.
    bool DrawCaustics();
    // True when every buffer exists for the current grid size, that is
    // after a successful Initialize.
    bool Ready() const;

    // Working rows of Update (floats, owned, made by Initialize) and the
    // grid shift that all buffers were made for (0: none yet).
    float* Scratch = nullptr;
    uint16_t BufferShift = 0;

    // Vertex colours (RGB floats, 3 per grid point, row by row) of the lit
    // water times the light that the surface focuses on the floor, halved;
    // see FillCaustics. Owned; made by Initialize while WantCaustics is
    // set, null otherwise.
    bool WantCaustics = false;
    float* Caustics = nullptr;

    // Floats of Scratch that a grid of side 1 << shift needs.
    static uint32_t ScratchFloats(uint16_t shift);

private:
    void FreeBuffers();
};
