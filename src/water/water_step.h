// The water step's inner loops, one build per instruction set, and the
// choice among them. Internal to the water subsystem (and its tests and
// benchmarks): WATERCLASS::Update is the public entry.
//
// Every path does the same single-precision operations in the same order on
// every grid point, so all of them give bit-identical results; they differ
// only in how many points they handle at once.
#pragma once

#include <cstdint>

#include "water/water.h"

// What one step works on. The scratch rows are carved out of
// WATERCLASS::Scratch: heights of the previous step and the new heights, each
// row padded with its wrapped neighbours (stride n + 2, column x at 1 + x),
// the new velocities (n * n) and the X coordinate of every column (n).
struct WATERSTEP {
    WATERCELL* cells;
    WATERVERTEX* vertices;
    float* oldHeights;
    float* newHeights;
    float* velocities;
    float* columnX;
    uint32_t n;
    float gain;  // Speed * 0.25
    // Mesh pass only.
    float mean;
    float bowlLevel;
    bool wantBowl;
    float normalScale;
    float ratio;
    float invSize;
    float firstZ;
    float spacing;
    VECTOR3D eye;
};

enum class WaterPath { Auto, Scalar, Sse2, Avx, Avx512 };

// Makes every later Update use the given path (Auto: the widest one the
// processor runs). False, and no change, when this build or the processor
// lacks it.
bool SelectWaterPath(WaterPath path);
// The path that Update uses now (never Auto).
WaterPath CurrentWaterPath();
const char* WaterPathName(WaterPath path);

// Velocity pass: new velocities into step.velocities, padded old heights into
// step.oldHeights. Returns the sum of Height + new Velocity over the grid,
// added point by point in row-major order.
using WaterVelocityPass = float (*)(const WATERSTEP& step);
// Height and mesh pass: new heights into the cells, the mesh into vertices.
using WaterMeshPass = void (*)(const WATERSTEP& step);

float WaterVelocityScalar(const WATERSTEP& step);
void WaterMeshScalar(const WATERSTEP& step);
#if defined(__x86_64__)
float WaterVelocitySse2(const WATERSTEP& step);
void WaterMeshSse2(const WATERSTEP& step);
float WaterVelocityAvx(const WATERSTEP& step);
void WaterMeshAvx(const WATERSTEP& step);
float WaterVelocityAvx512(const WATERSTEP& step);
void WaterMeshAvx512(const WATERSTEP& step);
#endif
