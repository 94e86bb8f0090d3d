// WATERCLASS: set-up, drips and the per-frame step of the height field.
// Relies on the vector math of support/vector.h and on sqrtf, sinf, cosf,
// asinf, acosf and rand from the standard library; no OpenGL.
#include "water/water.h"

#include <cmath>
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
    auto emit = [&](uint32_t x, uint32_t y) {
        *out++ = static_cast<uint16_t>((y << shift) | x);
    };
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
    return true;
}

bool WATERCLASS::Drop(float strength) {
    const uint32_t mask = (1u << Shift) - 1;
    const uint32_t column = static_cast<uint32_t>(rand()) & mask;
    const uint32_t row = static_cast<uint32_t>(rand()) & mask;
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
    return 2 * n * (n + 2) + n * n + n + 64;
}

bool WATERCLASS::Update(VECTOR3D& eye, double elapsed) {
    const uint32_t n = 1u << Shift;
    const uint32_t mask = n - 1;
    const uint32_t rowMask = mask << Shift;
    auto H = [&](uint32_t x, uint32_t row) { return Cells[row | x].Height; };

    // Velocities from the heights of the previous step.
    const float gain = Speed * 0.25f;
    float mean = 0.0f;
    for (uint32_t y = 0; y < n; ++y) {
        const uint32_t row = y << Shift;
        const uint32_t up = (row - n) & rowMask, down = (row + n) & rowMask;
        for (uint32_t x = 0; x < n; ++x) {
            const uint32_t l = (x - 1) & mask, r = (x + 1) & mask;
            const float e = H(x, up) + H(l, row) + H(r, row) + H(x, down);
            const float d = H(l, up) + H(r, up) + H(l, down) + H(r, down);
            const float avg = d * 0.0833333358f + e * 0.16666667f;
            WATERCELL& cell = Cells[row | x];
            float v = cell.Velocity;
            if (v > 0.01f || v < -0.01f) v = v * 0.99f;
            v = v + gain * (avg - cell.Height);
            cell.Velocity = v;
            mean = mean + (cell.Height + v);
        }
    }
    Mean = mean / static_cast<float>(VertexCount);

    const float target = WantBowl ? 2500.0f : -1000.0f;
    const double rate = WantBowl ? 0.4 : 0.2;
    BowlLevel = static_cast<float>(BowlLevel + static_cast<double>(target - BowlLevel) * elapsed * rate);

    UpdateMesh(eye);
    return true;
}

void WATERCLASS::UpdateMesh(const VECTOR3D& eye) {
    const uint32_t n = 1u << Shift;
    const uint32_t mask = n - 1;
    const uint32_t rowMask = mask << Shift;
    auto H = [&](uint32_t x, uint32_t row) { return Cells[row | x].Height; };
    const float k = RefractTable[10].NormalScale;
    const float ratio = RefractTable[10].Ratio;
    const float spacing = Size / static_cast<float>(n - 1);
    const float mean = Mean;
    float Z = Size * -0.5f;
    for (uint32_t y = 0; y < n; ++y) {
        const uint32_t row = y << Shift;
        const uint32_t up = (row - n) & rowMask, down = (row + n) & rowMask;
        float X = Size * -0.5f;
        for (uint32_t x = 0; x < n; ++x) {
            const uint32_t l = (x - 1) & mask, r = (x + 1) & mask;
            WATERCELL& cell = Cells[row | x];
            cell.Height = (cell.Height + cell.Velocity) - mean;
            const VECTOR3D p = {X, cell.Height, Z};

            const float d1 = H(l, up) - H(r, down);
            const float d2 = H(x, up) - H(x, down);
            const float d3 = H(r, up) - H(l, down);
            const float d4 = H(l, row) - H(r, row);
            const float nx = (d1 - d3) + d4;
            const float nz = (d1 + d2) + d3;
            const float nlen = sqrtf(nx * nx + 1.0f + nz * nz);
            const VECTOR3D normal = {nx / nlen, 1.0f / nlen, nz / nlen};

            VECTOR3D a = {eye.x - p.x, eye.y - p.y, eye.z - p.z};
            const float alen = sqrtf(VectorDotProduct(a, a));
            if (alen != 0.0f) a = {a.x / alen, a.y / alen, a.z / alen};

            const VECTOR3D t = {(normal.x * k + a.x) * ratio, (normal.y * k + a.y) * ratio,
                                (normal.z * k + a.z) * ratio};
            const VECTOR3D q = {p.x, p.y - 20.0f, p.z};
            const float c =
                WantBowl ? static_cast<float>(static_cast<double>(VectorDotProduct(q, q)) - BowlLevel)
                         : BowlLevel;
            float hx = p.x, hz = p.z;
            if (c < 0.0f) {
                const float b = 2.0f * VectorDotProduct(t, q);
                const float dist = (sqrtf(b * b - 4.0f * c) - b) * 0.5f;
                hx = p.x + dist * t.x;
                hz = p.z + dist * t.z;
            }
            WATERVERTEX& vertex = Vertices[row | x];
            vertex.Position = p;
            vertex.Normal = normal;
            vertex.TexCoord = {hx * InvSize + 0.5f, 1.0f - (hz * InvSize + 0.5f)};
            X = X + spacing;
        }
        Z = Z + spacing;
    }
}
