// The two passes of the water step, written once over a small vector type V
// that handles V::W grid points at a time: V1 (one float, any processor),
// V4 (SSE2), V8 (AVX) and V16 (AVX-512F), each present when the including
// file is compiled for its instruction set.
//
// Included only by the files that build one path each (water_step*.cpp);
// everything here has internal linkage, so code built for a wider unit
// never stands in for a narrower build of the same function.
//
// Only operations that round exactly as their scalar counterparts are used:
// add, subtract, multiply, divide and square root of single floats, compares
// and bitwise selects. No fused multiply-add, no reciprocal estimates.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include "water/water_step.h"

static_assert(sizeof(WATERCELL) == 2 * sizeof(float), "cells are height, velocity pairs");
static_assert(sizeof(WATERVERTEX) == 8 * sizeof(float), "vertices are eight packed floats");

namespace {

// ---------------------------------------------------------------- one float
struct V1 {
    static constexpr uint32_t W = 1;
    using M = bool;
    float v;
    static V1 Load(const float* p) { return {*p}; }
    static void Store(float* p, V1 a) { *p = a.v; }
    static V1 Set(float f) { return {f}; }
};
inline V1 operator+(V1 a, V1 b) { return {a.v + b.v}; }
inline V1 operator-(V1 a, V1 b) { return {a.v - b.v}; }
inline V1 operator*(V1 a, V1 b) { return {a.v * b.v}; }
inline V1 operator/(V1 a, V1 b) { return {a.v / b.v}; }
inline V1 Sqrt(V1 a) { return {sqrtf(a.v)}; }
inline bool Gt(V1 a, V1 b) { return a.v > b.v; }
inline bool Lt(V1 a, V1 b) { return a.v < b.v; }
inline bool Ne(V1 a, V1 b) { return a.v != b.v; }
inline bool Or(bool a, bool b) { return a || b; }
inline V1 Select(bool m, V1 a, V1 b) { return m ? a : b; }
inline void AddSerial(float& sum, V1 a) { sum = sum + a.v; }
inline void LoadCells(const WATERCELL* c, V1& h, V1& v) {
    h.v = c->Height;
    v.v = c->Velocity;
}
inline void StoreCells(WATERCELL* c, V1 h, V1 v) {
    c->Height = h.v;
    c->Velocity = v.v;
}
inline void StoreVertices(WATERVERTEX* out, const V1 (&c)[8]) {
    out->Position = {c[0].v, c[1].v, c[2].v};
    out->Normal = {c[3].v, c[4].v, c[5].v};
    out->TexCoord = {c[6].v, c[7].v};
}

#if defined(__SSE2__)
// ---------------------------------------------------------------- SSE2
struct V4 {
    static constexpr uint32_t W = 4;
    __m128 v;
    using M = V4;
    static V4 Load(const float* p) { return {_mm_loadu_ps(p)}; }
    static void Store(float* p, V4 a) { _mm_storeu_ps(p, a.v); }
    static V4 Set(float f) { return {_mm_set1_ps(f)}; }
};
inline V4 operator+(V4 a, V4 b) { return {_mm_add_ps(a.v, b.v)}; }
inline V4 operator-(V4 a, V4 b) { return {_mm_sub_ps(a.v, b.v)}; }
inline V4 operator*(V4 a, V4 b) { return {_mm_mul_ps(a.v, b.v)}; }
inline V4 operator/(V4 a, V4 b) { return {_mm_div_ps(a.v, b.v)}; }
inline V4 Sqrt(V4 a) { return {_mm_sqrt_ps(a.v)}; }
inline V4 Gt(V4 a, V4 b) { return {_mm_cmpgt_ps(a.v, b.v)}; }
inline V4 Lt(V4 a, V4 b) { return {_mm_cmplt_ps(a.v, b.v)}; }
inline V4 Ne(V4 a, V4 b) { return {_mm_cmpneq_ps(a.v, b.v)}; }
inline V4 Or(V4 a, V4 b) { return {_mm_or_ps(a.v, b.v)}; }
inline V4 Select(V4 m, V4 a, V4 b) {
    return {_mm_or_ps(_mm_and_ps(m.v, a.v), _mm_andnot_ps(m.v, b.v))};
}
inline void AddSerial(float& sum, V4 a) {
    alignas(16) float lane[4];
    _mm_store_ps(lane, a.v);
    for (float f : lane) sum = sum + f;
}
inline void LoadCells(const WATERCELL* c, V4& h, V4& v) {
    const float* p = &c->Height;
    const __m128 a = _mm_loadu_ps(p), b = _mm_loadu_ps(p + 4);
    h.v = _mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0));
    v.v = _mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1));
}
inline void StoreCells(WATERCELL* c, V4 h, V4 v) {
    float* p = &c->Height;
    _mm_storeu_ps(p, _mm_unpacklo_ps(h.v, v.v));
    _mm_storeu_ps(p + 4, _mm_unpackhi_ps(h.v, v.v));
}
inline void StoreVertices(WATERVERTEX* out, const V4 (&c)[8]) {
    float* p = &out->Position.x;
    __m128 a0 = c[0].v, a1 = c[1].v, a2 = c[2].v, a3 = c[3].v;
    __m128 b0 = c[4].v, b1 = c[5].v, b2 = c[6].v, b3 = c[7].v;
    _MM_TRANSPOSE4_PS(a0, a1, a2, a3);
    _MM_TRANSPOSE4_PS(b0, b1, b2, b3);
    _mm_storeu_ps(p + 0, a0);
    _mm_storeu_ps(p + 4, b0);
    _mm_storeu_ps(p + 8, a1);
    _mm_storeu_ps(p + 12, b1);
    _mm_storeu_ps(p + 16, a2);
    _mm_storeu_ps(p + 20, b2);
    _mm_storeu_ps(p + 24, a3);
    _mm_storeu_ps(p + 28, b3);
}
#endif

#if defined(__AVX__)
// ---------------------------------------------------------------- AVX
struct V8 {
    static constexpr uint32_t W = 8;
    __m256 v;
    using M = V8;
    static V8 Load(const float* p) { return {_mm256_loadu_ps(p)}; }
    static void Store(float* p, V8 a) { _mm256_storeu_ps(p, a.v); }
    static V8 Set(float f) { return {_mm256_set1_ps(f)}; }
};
inline V8 operator+(V8 a, V8 b) { return {_mm256_add_ps(a.v, b.v)}; }
inline V8 operator-(V8 a, V8 b) { return {_mm256_sub_ps(a.v, b.v)}; }
inline V8 operator*(V8 a, V8 b) { return {_mm256_mul_ps(a.v, b.v)}; }
inline V8 operator/(V8 a, V8 b) { return {_mm256_div_ps(a.v, b.v)}; }
inline V8 Sqrt(V8 a) { return {_mm256_sqrt_ps(a.v)}; }
inline V8 Gt(V8 a, V8 b) { return {_mm256_cmp_ps(a.v, b.v, _CMP_GT_OQ)}; }
inline V8 Lt(V8 a, V8 b) { return {_mm256_cmp_ps(a.v, b.v, _CMP_LT_OQ)}; }
inline V8 Ne(V8 a, V8 b) { return {_mm256_cmp_ps(a.v, b.v, _CMP_NEQ_UQ)}; }
inline V8 Or(V8 a, V8 b) { return {_mm256_or_ps(a.v, b.v)}; }
// Bitwise, not blendv: GCC 12 turns blendv of an or-ed compare into a
// branch per lane.
inline V8 Select(V8 m, V8 a, V8 b) {
    return {_mm256_or_ps(_mm256_and_ps(m.v, a.v), _mm256_andnot_ps(m.v, b.v))};
}
inline void AddSerial(float& sum, V8 a) {
    alignas(32) float lane[8];
    _mm256_store_ps(lane, a.v);
    for (float f : lane) sum = sum + f;
}
inline void LoadCells(const WATERCELL* c, V8& h, V8& v) {
    const float* p = &c->Height;
    const __m256 a = _mm256_loadu_ps(p), b = _mm256_loadu_ps(p + 8);
    const __m256 lo = _mm256_permute2f128_ps(a, b, 0x20);  // cells 0 1 4 5
    const __m256 hi = _mm256_permute2f128_ps(a, b, 0x31);  // cells 2 3 6 7
    h.v = _mm256_shuffle_ps(lo, hi, _MM_SHUFFLE(2, 0, 2, 0));
    v.v = _mm256_shuffle_ps(lo, hi, _MM_SHUFFLE(3, 1, 3, 1));
}
inline void StoreCells(WATERCELL* c, V8 h, V8 v) {
    float* p = &c->Height;
    const __m256 lo = _mm256_unpacklo_ps(h.v, v.v);  // cells 0 1 4 5
    const __m256 hi = _mm256_unpackhi_ps(h.v, v.v);  // cells 2 3 6 7
    _mm256_storeu_ps(p, _mm256_permute2f128_ps(lo, hi, 0x20));
    _mm256_storeu_ps(p + 8, _mm256_permute2f128_ps(lo, hi, 0x31));
}
// Eight rows of eight components become eight packed vertices.
inline void Transpose8(float* p, __m256 r0, __m256 r1, __m256 r2, __m256 r3, __m256 r4, __m256 r5,
                       __m256 r6, __m256 r7) {
    const __m256 t0 = _mm256_unpacklo_ps(r0, r1), t1 = _mm256_unpackhi_ps(r0, r1);
    const __m256 t2 = _mm256_unpacklo_ps(r2, r3), t3 = _mm256_unpackhi_ps(r2, r3);
    const __m256 t4 = _mm256_unpacklo_ps(r4, r5), t5 = _mm256_unpackhi_ps(r4, r5);
    const __m256 t6 = _mm256_unpacklo_ps(r6, r7), t7 = _mm256_unpackhi_ps(r6, r7);
    const __m256 u0 = _mm256_shuffle_ps(t0, t2, 0x44), u1 = _mm256_shuffle_ps(t0, t2, 0xEE);
    const __m256 u2 = _mm256_shuffle_ps(t1, t3, 0x44), u3 = _mm256_shuffle_ps(t1, t3, 0xEE);
    const __m256 u4 = _mm256_shuffle_ps(t4, t6, 0x44), u5 = _mm256_shuffle_ps(t4, t6, 0xEE);
    const __m256 u6 = _mm256_shuffle_ps(t5, t7, 0x44), u7 = _mm256_shuffle_ps(t5, t7, 0xEE);
    _mm256_storeu_ps(p + 0, _mm256_permute2f128_ps(u0, u4, 0x20));
    _mm256_storeu_ps(p + 8, _mm256_permute2f128_ps(u1, u5, 0x20));
    _mm256_storeu_ps(p + 16, _mm256_permute2f128_ps(u2, u6, 0x20));
    _mm256_storeu_ps(p + 24, _mm256_permute2f128_ps(u3, u7, 0x20));
    _mm256_storeu_ps(p + 32, _mm256_permute2f128_ps(u0, u4, 0x31));
    _mm256_storeu_ps(p + 40, _mm256_permute2f128_ps(u1, u5, 0x31));
    _mm256_storeu_ps(p + 48, _mm256_permute2f128_ps(u2, u6, 0x31));
    _mm256_storeu_ps(p + 56, _mm256_permute2f128_ps(u3, u7, 0x31));
}
inline void StoreVertices(WATERVERTEX* out, const V8 (&c)[8]) {
    Transpose8(&out->Position.x, c[0].v, c[1].v, c[2].v, c[3].v, c[4].v, c[5].v, c[6].v, c[7].v);
}
#endif

#if defined(__AVX512F__)
// ---------------------------------------------------------------- AVX-512F
struct V16 {
    static constexpr uint32_t W = 16;
    __m512 v;
    using M = __mmask16;
    static V16 Load(const float* p) { return {_mm512_loadu_ps(p)}; }
    static void Store(float* p, V16 a) { _mm512_storeu_ps(p, a.v); }
    static V16 Set(float f) { return {_mm512_set1_ps(f)}; }
};
inline V16 operator+(V16 a, V16 b) { return {_mm512_add_ps(a.v, b.v)}; }
inline V16 operator-(V16 a, V16 b) { return {_mm512_sub_ps(a.v, b.v)}; }
inline V16 operator*(V16 a, V16 b) { return {_mm512_mul_ps(a.v, b.v)}; }
inline V16 operator/(V16 a, V16 b) { return {_mm512_div_ps(a.v, b.v)}; }
// The zero-masked forms keep GCC 12's headers from reading an undefined
// pass-through operand; with every lane selected they are the plain ones.
inline V16 Sqrt(V16 a) { return {_mm512_maskz_sqrt_ps(static_cast<__mmask16>(0xFFFF), a.v)}; }
inline __mmask16 Gt(V16 a, V16 b) { return _mm512_cmp_ps_mask(a.v, b.v, _CMP_GT_OQ); }
inline __mmask16 Lt(V16 a, V16 b) { return _mm512_cmp_ps_mask(a.v, b.v, _CMP_LT_OQ); }
inline __mmask16 Ne(V16 a, V16 b) { return _mm512_cmp_ps_mask(a.v, b.v, _CMP_NEQ_UQ); }
inline __mmask16 Or(__mmask16 a, __mmask16 b) { return static_cast<__mmask16>(a | b); }
inline V16 Select(__mmask16 m, V16 a, V16 b) { return {_mm512_mask_blend_ps(m, b.v, a.v)}; }
inline void AddSerial(float& sum, V16 a) {
    alignas(64) float lane[16];
    _mm512_store_ps(lane, a.v);
    for (float f : lane) sum = sum + f;
}
inline void LoadCells(const WATERCELL* c, V16& h, V16& v) {
    const float* p = &c->Height;
    const __m512 a = _mm512_loadu_ps(p), b = _mm512_loadu_ps(p + 16);
    const __m512i even =
        _mm512_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30);
    const __m512i odd =
        _mm512_setr_epi32(1, 3, 5, 7, 9, 11, 13, 15, 17, 19, 21, 23, 25, 27, 29, 31);
    h.v = _mm512_permutex2var_ps(a, even, b);
    v.v = _mm512_permutex2var_ps(a, odd, b);
}
inline void StoreCells(WATERCELL* c, V16 h, V16 v) {
    float* p = &c->Height;
    const __m512i lo = _mm512_setr_epi32(0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23);
    const __m512i hi =
        _mm512_setr_epi32(8, 24, 9, 25, 10, 26, 11, 27, 12, 28, 13, 29, 14, 30, 15, 31);
    _mm512_storeu_ps(p, _mm512_permutex2var_ps(h.v, lo, v.v));
    _mm512_storeu_ps(p + 16, _mm512_permutex2var_ps(h.v, hi, v.v));
}
// The halves go through memory: GCC 12's 512-to-256-bit extracts read an
// undefined pass-through operand and warn about it.
inline void StoreVertices(WATERVERTEX* out, const V16 (&c)[8]) {
    alignas(64) float rows[8][16];
    for (int i = 0; i < 8; ++i) _mm512_store_ps(rows[i], c[i].v);
    float* p = &out->Position.x;
    for (int half = 0; half < 2; ++half) {
        const int o = 8 * half;
        Transpose8(p + 64 * half, _mm256_load_ps(rows[0] + o), _mm256_load_ps(rows[1] + o),
                   _mm256_load_ps(rows[2] + o), _mm256_load_ps(rows[3] + o),
                   _mm256_load_ps(rows[4] + o), _mm256_load_ps(rows[5] + o),
                   _mm256_load_ps(rows[6] + o), _mm256_load_ps(rows[7] + o));
    }
}
#endif

// ---------------------------------------------------------------- passes

// Copies row y of the cells into the padded old heights and the velocities.
template <class V>
inline void FillRow(const WATERSTEP& s, uint32_t y) {
    const uint32_t n = s.n;
    const WATERCELL* src = s.cells + y * n;
    float* h = s.oldHeights + y * (n + 2) + 1;
    float* vel = s.velocities + y * n;
    for (uint32_t x = 0; x < n; x += V::W) {
        V hv, vv;
        LoadCells(src + x, hv, vv);
        V::Store(h + x, hv);
        V::Store(vel + x, vv);
    }
    h[-1] = h[n - 1];
    h[n] = h[0];
}

// Reads only heights of the previous step, so whole rows go at once. Rows
// are unpacked from the cells one ahead of use; the wrapped rows first.
// The sum of Height + Velocity stays one scalar chain in row-major order:
// its rounding depends on that order.
template <class V>
float VelocityPass(const WATERSTEP& s) {
    const uint32_t n = s.n, mask = n - 1, stride = n + 2;
    const V twelfth = V::Set(0.0833333358f), sixth = V::Set(0.16666667f);
    const V above = V::Set(0.01f), below = V::Set(-0.01f), damping = V::Set(0.99f);
    const V gain = V::Set(s.gain);
    FillRow<V>(s, n - 1);
    FillRow<V>(s, 0);
    float sum = 0.0f;
    for (uint32_t y = 0; y < n; ++y) {
        if (y + 1 < n - 1) FillRow<V>(s, y + 1);
        const float* up = s.oldHeights + ((y - 1) & mask) * stride + 1;
        const float* row = s.oldHeights + y * stride + 1;
        const float* down = s.oldHeights + ((y + 1) & mask) * stride + 1;
        float* vel = s.velocities + y * n;
        for (uint32_t x = 0; x < n; x += V::W) {
            const V e = ((V::Load(up + x) + V::Load(row + x - 1)) + V::Load(row + x + 1)) +
                        V::Load(down + x);
            const V d = ((V::Load(up + x - 1) + V::Load(up + x + 1)) + V::Load(down + x - 1)) +
                        V::Load(down + x + 1);
            const V avg = d * twelfth + e * sixth;
            V v = V::Load(vel + x);
            v = Select(Or(Gt(v, above), Lt(v, below)), v * damping, v);
            const V h = V::Load(row + x);
            v = v + gain * (avg - h);
            V::Store(vel + x, v);
            AddSerial(sum, h + v);
        }
    }
    return sum;
}

// Heights, normals and texture coordinates, row by row. A normal reads the
// new heights of the points before it in row-major order and the old ones
// of the points after it: row y - 1 new (row n - 1 old for the first row),
// row y + 1 old (row 0 new for the last), (x - 1, y) new and (x + 1, y)
// old, with the wrapped ends the other way round. The padded rows hold
// exactly those values.
template <class V>
void MeshPass(const WATERSTEP& s) {
    const uint32_t n = s.n, stride = n + 2;
    float X = s.firstZ;
    for (uint32_t x = 0; x < n; ++x) {
        s.columnX[x] = X;
        X = X + s.spacing;
    }
    const V mean = V::Set(s.mean), one = V::Set(1.0f), zero = V::Set(0.0f);
    const V ex = V::Set(s.eye.x), ey = V::Set(s.eye.y), ez = V::Set(s.eye.z);
    const V k = V::Set(s.normalScale), ratio = V::Set(s.ratio);
    const V centre = V::Set(20.0f), two = V::Set(2.0f), four = V::Set(4.0f), half = V::Set(0.5f);
    const V level = V::Set(s.bowlLevel), inv = V::Set(s.invSize);
    float Z = s.firstZ;
    for (uint32_t y = 0; y < n; ++y) {
        float* oldRow = s.oldHeights + y * stride + 1;
        float* newRow = s.newHeights + y * stride + 1;
        const float* vel = s.velocities + y * n;
        // A new height depends only on the point itself, so the whole row
        // is stepped first; the normals then read the new heights of the
        // points before them and the old heights of those after them.
        for (uint32_t x = 0; x < n; x += V::W) {
            V::Store(newRow + x, (V::Load(oldRow + x) + V::Load(vel + x)) - mean);
        }
        newRow[-1] = oldRow[n - 1];  // left of column 0: not stepped yet
        oldRow[n] = newRow[0];       // right of the last column: stepped
        const float* prev =
            y == 0 ? s.oldHeights + (n - 1) * stride + 1 : s.newHeights + (y - 1) * stride + 1;
        const float* next = y == n - 1 ? s.newHeights + 1 : s.oldHeights + (y + 1) * stride + 1;
        WATERCELL* cells = s.cells + y * n;
        WATERVERTEX* out = s.vertices + y * n;
        const V pz = V::Set(Z);
        for (uint32_t x = 0; x < n; x += V::W) {
            const V d1 = V::Load(prev + x - 1) - V::Load(next + x + 1);
            const V d2 = V::Load(prev + x) - V::Load(next + x);
            const V d3 = V::Load(prev + x + 1) - V::Load(next + x - 1);
            const V d4 = V::Load(newRow + x - 1) - V::Load(oldRow + x + 1);
            const V nx = (d1 - d3) + d4;
            const V nz = (d1 + d2) + d3;
            const V nlen = Sqrt((nx * nx + one) + nz * nz);
            V c[8];
            c[3] = nx / nlen;
            c[4] = one / nlen;
            c[5] = nz / nlen;

            const V px = V::Load(s.columnX + x);
            const V py = V::Load(newRow + x);
            StoreCells(cells + x, py, V::Load(vel + x));
            c[0] = px;
            c[1] = py;
            c[2] = pz;

            V ax = ex - px, ay = ey - py, az = ez - pz;
            const V alen = Sqrt((ax * ax + ay * ay) + az * az);
            const auto nonzero = Ne(alen, zero);
            ax = Select(nonzero, ax / alen, ax);
            ay = Select(nonzero, ay / alen, ay);
            az = Select(nonzero, az / alen, az);

            const V tx = (c[3] * k + ax) * ratio;
            const V ty = (c[4] * k + ay) * ratio;
            const V tz = (c[5] * k + az) * ratio;
            const V qy = py - centre;
            // The bowl's term: |Q|^2 - level, rounded to single (rounding
            // the difference of two floats once through double gives the
            // same float as subtracting in single).
            const V cterm = s.wantBowl ? ((px * px + qy * qy) + pz * pz) - level : level;
            const V b = two * ((tx * px + ty * qy) + tz * pz);
            const V t = (Sqrt(b * b - four * cterm) - b) * half;
            const auto inside = Lt(cterm, zero);
            const V hx = Select(inside, px + t * tx, px);
            const V hz = Select(inside, pz + t * tz, pz);
            c[6] = hx * inv + half;
            c[7] = one - (hz * inv + half);
            StoreVertices(out + x, c);
        }
        newRow[-1] = newRow[n - 1];
        newRow[n] = newRow[0];
        Z = Z + s.spacing;
    }
}

}  // namespace
