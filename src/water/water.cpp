// WATERCLASS: set-up, drips and the per-frame step of the height field.
// Relies on the vector math of support/vector.h and on sqrtf, sinf, cosf,
// asinf, acosf and rand from the standard library; no OpenGL.
#include "water/water.h"

#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>

REFRACTION Refract[256];

namespace {

// Refraction coefficients for the cosines i / 256, water's index 1.333.
void FillRefract() {
    for (int i = 0; i < 256; ++i) {
        const float x = static_cast<float>(i) * 0.00390625f;
        const float s = sinf(acosf(x));
        const float r = s / 1.333f;
        const float c = cosf(asinf(r));
        Refract[i].NormalScale = (s / r) * c - x;
        Refract[i].Ratio = -r / s;
    }
}

}  // namespace

void FillWaterStrip(uint16_t* out, uint16_t shift) {
    const uint32_t n = 1u << shift;
    auto emit = [&](uint32_t x, uint32_t y) { *out++ = static_cast<uint16_t>((y << shift) | x); };
    for (uint32_t m = n; m >= 2; m -= 2) {
        const uint32_t k = (n - m) / 2;
        for (uint32_t x = k; x <= k + m - 1; ++x) {
            emit(x, k);
            emit(x, k + 1);
        }
        for (uint32_t y = k + 1; y <= k + m - 1; ++y) {
            emit(k + m - 1, y);
            emit(k + m - 2, y);
        }
        for (uint32_t x = k + m - 1; x-- > k;) {
            emit(x, k + m - 1);
            emit(x, k + m - 2);
        }
        for (uint32_t y = k + m - 2; y > k; --y) {
            emit(k, y);
            emit(k + 1, y);
        }
    }
}

WATERCLASS::WATERCLASS() = default;

WATERCLASS::~WATERCLASS() { FreeBuffers(); }

void WATERCLASS::FreeBuffers() {
    delete[] Indices;
    Indices = nullptr;
    delete[] Vertices;
    Vertices = nullptr;
    delete[] Cells;
    Cells = nullptr;
    delete[] Scratch;
    Scratch = nullptr;
    delete[] Caustics;
    Caustics = nullptr;
}

bool WATERCLASS::Initialize(uint16_t shift, float size, bool wantBowl, float speed) {
    Size = size;
    InvSize = 1.0f / size;
    Shift = shift > 8 ? 8 : (shift < 4 ? 4 : shift);
    WantBowl = wantBowl;
    Speed = speed;
    const uint32_t n = 1u << Shift;
    VertexCount = n * n;
    IndexCount = 2 * n * n;

    if (RefractTable == nullptr) {
        FillRefract();
        RefractTable = Refract;
    }

    // Buffers made for another grid size would be too small or misshaped:
    // start again with a still, flat field of the new size.
    if (BufferShift != Shift) {
        FreeBuffers();
        BufferShift = Shift;
    }

    if (Cells == nullptr) {
        Cells = new (std::nothrow) WATERCELL[VertexCount];
        if (Cells == nullptr) return false;
        std::memset(static_cast<void*>(Cells), 0, sizeof(WATERCELL) * VertexCount);
    }
    if (Indices == nullptr) {
        Indices = new (std::nothrow) uint16_t[IndexCount];
        if (Indices == nullptr) return false;
        FillWaterStrip(Indices, Shift);
    }
    if (Vertices == nullptr) {
        Vertices = new (std::nothrow) WATERVERTEX[VertexCount]();
        if (Vertices == nullptr) return false;
    }
    if (Scratch == nullptr) {
        Scratch = new (std::nothrow) float[ScratchFloats(Shift)];
        if (Scratch == nullptr) return false;
    }
    if (!WantCaustics) {
        delete[] Caustics;
        Caustics = nullptr;
    } else if (Caustics == nullptr) {
        Caustics = new (std::nothrow) float[std::size_t{3} * VertexCount]();
        if (Caustics == nullptr) return false;
    }
    return true;
}

bool WATERCLASS::Ready() const {
    return Cells != nullptr && Indices != nullptr && Vertices != nullptr && Scratch != nullptr &&
           BufferShift == Shift;
}

bool WATERCLASS::Drop(float strength) {
    if (!Ready()) return false;
    const uint32_t mask = (1u << Shift) - 1;
    const uint32_t column = static_cast<uint32_t>(rand()) & mask;
    const uint32_t row = static_cast<uint32_t>(rand()) & mask;
    return DropAt(column, row, strength);
}

bool WATERCLASS::DropAt(uint32_t column, uint32_t row, float strength) {
    if (!Ready()) return false;
    const uint32_t mask = (1u << Shift) - 1;
    column &= mask;
    row &= mask;
    const uint32_t left = (column - 1) & mask, right = (column + 1) & mask;
    const uint32_t up = (row - 1) & mask, down = (row + 1) & mask;
    auto lower = [&](uint32_t x, uint32_t y, float amount) {
        float& v = Cells[(y << Shift) | x].Velocity;
        v = v - amount;
    };
    lower(column, row, 0.25f * strength);
    lower(left, row, 0.125f * strength);
    lower(right, row, 0.125f * strength);
    lower(column, up, 0.125f * strength);
    lower(column, down, 0.125f * strength);
    lower(left, up, 0.0625f * strength);
    lower(right, down, 0.0625f * strength);
    lower(right, up, 0.0625f * strength);
    lower(left, down, 0.0625f * strength);
    return true;
}

uint32_t WATERCLASS::ScratchFloats(uint16_t shift) {
    const uint32_t n = 1u << shift;
    return 2 * n * (n + 2) + n * n + n;
}
