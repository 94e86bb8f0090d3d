// RasterizeWater: the vertices through the pipeline's transformation and
// lighting (one positional or directional light, colour material for the
// ambient and diffuse terms, no normalisation, as the scene sets it), then
// the strip's triangles row by row: a pixel is drawn when its centre lies in
// the triangle, on its left edge or its lower one; the picture is sampled
// between its four nearest texels with 8-bit weights and multiplied by the
// colour, channel by channel.
#include "water/water_raster.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "water/water.h"

#if defined(__SSE2__)
namespace {

// Column-major 4 x 4 times (x, y, z, 1).
void Transform(const float* m, const VECTOR3D& p, float out[4]) {
    for (int r = 0; r < 4; ++r) {
        out[r] = m[r] * p.x + m[4 + r] * p.y + m[8 + r] * p.z + m[12 + r];
    }
}

// The inverse transpose of the model-view's upper 3 x 3 (row-major), which
// carries normals into eye coordinates.
void NormalMatrix(const float* m, float n[9]) {
    const float a = m[0], b = m[4], c = m[8];
    const float d = m[1], e = m[5], f = m[9];
    const float g = m[2], h = m[6], i = m[10];
    const float cofactor[9] = {e * i - f * h, f * g - d * i, d * h - e * g,
                               c * h - b * i, a * i - c * g, b * g - a * h,
                               b * f - c * e, c * d - a * f, a * e - b * d};
    const float det = a * cofactor[0] + b * cofactor[1] + c * cofactor[2];
    const float inv = det != 0.0f ? 1.0f / det : 0.0f;
    for (int k = 0; k < 9; ++k) n[k] = cofactor[k] * inv;
}

float Clamp01(float v) { return v < 0.0f ? 0.0f : (v > 1.0f ? 1.0f : v); }

// The picture and how a span of pixels samples it: between the four
// nearest texels at (u, v) (texels, 16.16 fixed point, less half a texel)
// with 8-bit weights, times the colour (1.0 = 1 << 15 per channel),
// doubled with caustics.
struct Sampler {
    const uint32_t* texels;
    uint32_t wMask, hMask, rowShift;  // width - 1, height - 1, log2 width
    bool doubled;
};

// Attributes at a span's first pixel and their steps to the next one.
struct SpanStart {
    int32_t u, v, r, g, b;
    int32_t du, dv, dr, dg, db;
};

// Four pixels at a time: texels fetched in pairs, then filtered and
// coloured in 16-bit lanes, two pixels to a register.
void DrawSpan(const Sampler& sm, const SpanStart& a, uint32_t* out, int count) {
    // Lanes wrap as the processor adds: a sliver's steep steps may take
    // them round, never into undefined arithmetic.
    const auto ramp32 = [&](int32_t start, int32_t step) {
        const auto at = [&](uint32_t k) {
            return static_cast<int32_t>(static_cast<uint32_t>(start) +
                                        k * static_cast<uint32_t>(step));
        };
        return _mm_setr_epi32(start, at(1), at(2), at(3));
    };
    __m128i u = ramp32(a.u, a.du), v = ramp32(a.v, a.dv);
    __m128i r = ramp32(a.r, a.dr), g = ramp32(a.g, a.dg), b = ramp32(a.b, a.db);
    const __m128i du = _mm_slli_epi32(_mm_set1_epi32(a.du), 2);
    const __m128i dv = _mm_slli_epi32(_mm_set1_epi32(a.dv), 2);
    const __m128i dr = _mm_slli_epi32(_mm_set1_epi32(a.dr), 2);
    const __m128i dg = _mm_slli_epi32(_mm_set1_epi32(a.dg), 2);
    const __m128i db = _mm_slli_epi32(_mm_set1_epi32(a.db), 2);
    const __m128i wMask = _mm_set1_epi32(static_cast<int>(sm.wMask));
    const __m128i hMask = _mm_set1_epi32(static_cast<int>(sm.hMask));
    const __m128i one = _mm_set1_epi32(1), byte = _mm_set1_epi32(0xFF);
    const __m128i zero = _mm_setzero_si128(), w256 = _mm_set1_epi16(256);
    const __m128i alpha = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    const __m128i opaque = _mm_set1_epi32(32767);
    const __m128i shift = _mm_cvtsi32_si128(static_cast<int>(sm.rowShift));
    const __m128i round = _mm_set1_epi16(sm.doubled ? 32 : 64);
    const __m128i scale = _mm_cvtsi32_si128(sm.doubled ? 6 : 7);
    alignas(16) int32_t i0[4], i1[4];
    // Each pixel's weight in the four lanes of its channels.
    const auto spread = [](__m128i w, __m128i* lo, __m128i* hi) {
        const __m128i w16 = _mm_packs_epi32(w, w);           // w0 w1 w2 w3 w0 ...
        const __m128i pairs = _mm_unpacklo_epi16(w16, w16);  // w0 w0 w1 w1 ...
        *lo = _mm_unpacklo_epi32(pairs, pairs);              // w0 x4, w1 x4
        *hi = _mm_unpackhi_epi32(pairs, pairs);              // w2 x4, w3 x4
    };
    const auto lerp = [&](__m128i p, __m128i q, __m128i f) {
        return _mm_srli_epi16(
            _mm_add_epi16(_mm_mullo_epi16(p, _mm_sub_epi16(w256, f)), _mm_mullo_epi16(q, f)), 8);
    };
    while (count > 0) {
        // Rows are width + 1 texels apart; the last repeats the first, so
        // that each texel and its right neighbour are one 8-byte load.
        const __m128i x0 = _mm_and_si128(_mm_srai_epi32(u, 16), wMask);
        const __m128i y0 = _mm_and_si128(_mm_srai_epi32(v, 16), hMask);
        const __m128i y1 = _mm_and_si128(_mm_add_epi32(y0, one), hMask);
        const __m128i row0 = _mm_add_epi32(_mm_sll_epi32(y0, shift), y0);
        const __m128i row1 = _mm_add_epi32(_mm_sll_epi32(y1, shift), y1);
        _mm_store_si128(reinterpret_cast<__m128i*>(i0), _mm_add_epi32(row0, x0));
        _mm_store_si128(reinterpret_cast<__m128i*>(i1), _mm_add_epi32(row1, x0));
        const uint32_t* t = sm.texels;
        const auto pair = [t](int32_t i) {
            return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(t + i));
        };
        // Left, left, right, right texels of pixels 0 and 1, then 2 and 3.
        const __m128i top01 = _mm_unpacklo_epi32(pair(i0[0]), pair(i0[1]));
        const __m128i top23 = _mm_unpacklo_epi32(pair(i0[2]), pair(i0[3]));
        const __m128i bot01 = _mm_unpacklo_epi32(pair(i1[0]), pair(i1[1]));
        const __m128i bot23 = _mm_unpacklo_epi32(pair(i1[2]), pair(i1[3]));
        __m128i fuLo, fuHi, fvLo, fvHi;
        spread(_mm_and_si128(_mm_srli_epi32(u, 8), byte), &fuLo, &fuHi);
        spread(_mm_and_si128(_mm_srli_epi32(v, 8), byte), &fvLo, &fvHi);
        const __m128i topLo =
            lerp(_mm_unpacklo_epi8(top01, zero), _mm_unpackhi_epi8(top01, zero), fuLo);
        const __m128i topHi =
            lerp(_mm_unpacklo_epi8(top23, zero), _mm_unpackhi_epi8(top23, zero), fuHi);
        const __m128i botLo =
            lerp(_mm_unpacklo_epi8(bot01, zero), _mm_unpackhi_epi8(bot01, zero), fuLo);
        const __m128i botHi =
            lerp(_mm_unpacklo_epi8(bot23, zero), _mm_unpackhi_epi8(bot23, zero), fuHi);
        const __m128i texLo = lerp(topLo, botLo, fvLo), texHi = lerp(topHi, botHi, fvHi);
        // Colours as B, G, R, A lanes, pixel by pixel, clamped to 0 ... 1.
        const __m128i bg = _mm_packs_epi32(b, g), ra = _mm_packs_epi32(r, opaque);
        const __m128i bgPairs = _mm_unpacklo_epi16(bg, _mm_unpackhi_epi64(bg, bg));
        const __m128i raPairs = _mm_unpacklo_epi16(ra, _mm_unpackhi_epi64(ra, ra));
        const __m128i cLo = _mm_max_epi16(_mm_unpacklo_epi32(bgPairs, raPairs), zero);
        const __m128i cHi = _mm_max_epi16(_mm_unpackhi_epi32(bgPairs, raPairs), zero);
        const __m128i outLo = _mm_srl_epi16(
            _mm_add_epi16(_mm_mulhi_epu16(_mm_slli_epi16(texLo, 8), cLo), round), scale);
        const __m128i outHi = _mm_srl_epi16(
            _mm_add_epi16(_mm_mulhi_epu16(_mm_slli_epi16(texHi, 8), cHi), round), scale);
        const __m128i pixels = _mm_or_si128(_mm_packus_epi16(outLo, outHi), alpha);
        if (count >= 4) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out), pixels);
        } else {
            alignas(16) uint32_t last[4];
            _mm_store_si128(reinterpret_cast<__m128i*>(last), pixels);
            for (int k = 0; k < count; ++k) out[k] = last[k];
        }
        out += 4;
        count -= 4;
        u = _mm_add_epi32(u, du);
        v = _mm_add_epi32(v, dv);
        r = _mm_add_epi32(r, dr);
        g = _mm_add_epi32(g, dg);
        b = _mm_add_epi32(b, db);
    }
}

// Rounded to the nearest whole step, kept modulo 2^32 (0 for NaN and
// beyond int64_t): the picture repeats and the lanes wrap as they add, so
// the low 32 bits of a value are all that a pixel takes from it.
int32_t Fixed(float v, float one) {
    constexpr float kLimit = 9.0e18f;
    const float x = v * one;
    if (!(x > -kLimit && x < kLimit)) return 0;
    const auto whole = static_cast<int64_t>(x < 0.0f ? x - 0.5f : x + 0.5f);
    return static_cast<int32_t>(static_cast<uint32_t>(whole));
}

// The smallest whole number not below x, for x well inside int's range.
int CeilToInt(float x) {
    const int i = static_cast<int>(x);
    return i + (static_cast<float>(i) < x ? 1 : 0);
}

void DrawTriangle(const WaterRasterVertex* a, const WaterRasterVertex* b,
                  const WaterRasterVertex* c, const Sampler& sampler, uint32_t* rowZero,
                  std::ptrdiff_t rowStep, int width, int height) {
    const float area = (b->x - a->x) * (c->y - a->y) - (c->x - a->x) * (b->y - a->y);
    if (!(std::fabs(area) > 1e-6f)) return;
    // Plane of each attribute over the window.
    const float inv = 1.0f / area;
    const float ex1 = b->x - a->x, ey1 = b->y - a->y, ex2 = c->x - a->x, ey2 = c->y - a->y;
    auto gradients = [&](float va, float vb, float vc, float* dx, float* dy) {
        const float d1 = vb - va, d2 = vc - va;
        *dx = (d1 * ey2 - d2 * ey1) * inv;
        *dy = (d2 * ex1 - d1 * ex2) * inv;
    };
    float sdx, sdy, tdx, tdy, rdx, rdy, gdx, gdy, bdx, bdy;
    gradients(a->s, b->s, c->s, &sdx, &sdy);
    gradients(a->t, b->t, c->t, &tdx, &tdy);
    gradients(a->r, b->r, c->r, &rdx, &rdy);
    gradients(a->g, b->g, c->g, &gdx, &gdy);
    gradients(a->b, b->b, c->b, &bdx, &bdy);

    // Corners by height, lowest first.
    const WaterRasterVertex* v[3] = {a, b, c};
    std::sort(v, v + 3,
              [](const WaterRasterVertex* p, const WaterRasterVertex* q) { return p->y < q->y; });
    // Beyond about 2^24 pixels a float holds no fraction: such a corner
    // cannot lie in a frame.
    constexpr float kFar = 1.0e7f;
    for (const WaterRasterVertex* p : v) {
        if (!(std::fabs(p->x) < kFar && std::fabs(p->y) < kFar)) return;
    }
    const int rowFirst = std::max(0, CeilToInt(v[0]->y - 0.5f));
    const int rowEnd = std::min(height, CeilToInt(v[2]->y - 0.5f));
    const float longSlope = (v[2]->x - v[0]->x) / (v[2]->y - v[0]->y);
    const float lowSlope = v[1]->y > v[0]->y ? (v[1]->x - v[0]->x) / (v[1]->y - v[0]->y) : 0.0f;
    const float highSlope = v[2]->y > v[1]->y ? (v[2]->x - v[1]->x) / (v[2]->y - v[1]->y) : 0.0f;
    constexpr float kTexel = 65536.0f, kColour = 32768.0f / 255.0f;
    SpanStart span{};
    span.du = Fixed(sdx, kTexel);
    span.dv = Fixed(tdx, kTexel);
    span.dr = Fixed(rdx, kColour);
    span.dg = Fixed(gdx, kColour);
    span.db = Fixed(bdx, kColour);
    // Each attribute at the centre of the first row's pixel in column
    // `column`, left of every span, then stepped down the rows and across
    // to each span's first pixel in whole steps: a few pixels' worth of
    // rounding, where the floats cost a fifth of the drawing.
    const int column = std::max(0, CeilToInt(std::min({a->x, b->x, c->x}) - 0.5f));
    const float x0 = static_cast<float>(column) + 0.5f - a->x;
    const float y0 = static_cast<float>(rowFirst) + 0.5f - a->y;
    // Modulo 2^32 throughout: a value far from the triangle (the corner is
    // outside it, and a sliver's steps are steep) comes back exact at
    // every pixel inside it.
    struct Stepped {
        uint32_t at, down, across;
        int32_t Span(int first) const {
            return static_cast<int32_t>(at + static_cast<uint32_t>(first) * across);
        }
    };
    const auto stepped = [](int32_t at, int32_t down, int32_t across) {
        return Stepped{static_cast<uint32_t>(at), static_cast<uint32_t>(down),
                       static_cast<uint32_t>(across)};
    };
    Stepped su =
        stepped(Fixed(a->s + sdx * x0 + sdy * y0 - 0.5f, kTexel), Fixed(sdy, kTexel), span.du);
    Stepped sv =
        stepped(Fixed(a->t + tdx * x0 + tdy * y0 - 0.5f, kTexel), Fixed(tdy, kTexel), span.dv);
    Stepped sr = stepped(Fixed(a->r + rdx * x0 + rdy * y0, kColour), Fixed(rdy, kColour), span.dr);
    Stepped sg = stepped(Fixed(a->g + gdx * x0 + gdy * y0, kColour), Fixed(gdy, kColour), span.dg);
    Stepped sb = stepped(Fixed(a->b + bdx * x0 + bdy * y0, kColour), Fixed(bdy, kColour), span.db);
    for (int row = rowFirst; row < rowEnd; ++row, su.at += su.down, sv.at += sv.down,
             sr.at += sr.down, sg.at += sg.down, sb.at += sb.down) {
        const float yc = static_cast<float>(row) + 0.5f;
        const float xLong = v[0]->x + (yc - v[0]->y) * longSlope;
        const float xShort = yc < v[1]->y ? v[0]->x + (yc - v[0]->y) * lowSlope
                                          : v[1]->x + (yc - v[1]->y) * highSlope;
        const float left = std::min(xLong, xShort), right = std::max(xLong, xShort);
        const int first = std::max(0, CeilToInt(left - 0.5f));
        const int end = std::min(width, CeilToInt(right - 0.5f));
        if (first >= end) continue;
        span.u = su.Span(first - column);
        span.v = sv.Span(first - column);
        span.r = sr.Span(first - column);
        span.g = sg.Span(first - column);
        span.b = sb.Span(first - column);
        DrawSpan(sampler, span, rowZero + static_cast<std::ptrdiff_t>(row) * rowStep + first,
                 end - first);
    }
}

}  // namespace
#endif

void RepeatFirstTexels(uint32_t* texels, uint32_t width, uint32_t height) {
    for (uint32_t y = 0; y < height; ++y) {
        uint32_t* row = texels + static_cast<size_t>(y) * (width + 1);
        row[width] = row[0];
    }
}

bool RasterizeWater(const WATERCLASS& water, const WaterRasterState& state,
                    const WaterPicture& picture, bool caustics, WaterRasterVertex* vertices,
                    uint32_t* frame, int frameWidth, int frameHeight, bool topFirst) {
#if !defined(__SSE2__)
    // Only processors with SSE2 draw it here; elsewhere the renderer does.
    static_cast<void>(water), static_cast<void>(state), static_cast<void>(picture);
    static_cast<void>(caustics), static_cast<void>(vertices), static_cast<void>(frame);
    static_cast<void>(frameWidth), static_cast<void>(frameHeight), static_cast<void>(topFirst);
    return false;
#else
    if (!water.Ready() || picture.texels == nullptr || picture.width == 0 || picture.height == 0 ||
        (caustics && water.Caustics == nullptr)) {
        return false;
    }
    float normalMatrix[9];
    NormalMatrix(state.modelView, normalMatrix);
    const float texW = static_cast<float>(picture.width), texH = static_cast<float>(picture.height);
    const float* light = state.lightPosition;
    for (uint32_t k = 0; k < water.VertexCount; ++k) {
        const WATERVERTEX& in = water.Vertices[k];
        float eye[4], clip[4];
        Transform(state.modelView, in.Position, eye);
        Transform(state.projection, VECTOR3D{eye[0], eye[1], eye[2]}, clip);
        // The projection is applied to the eye point (w = 1 there: no
        // projective model-view).
        if (!(clip[3] > 1e-6f)) return false;
        WaterRasterVertex& out = vertices[k];
        const float iw = 1.0f / clip[3];
        out.x = static_cast<float>(state.viewport[0]) +
                (clip[0] * iw + 1.0f) * 0.5f * static_cast<float>(state.viewport[2]);
        out.y = static_cast<float>(state.viewport[1]) +
                (clip[1] * iw + 1.0f) * 0.5f * static_cast<float>(state.viewport[3]);
        out.s = in.TexCoord.x * texW;
        out.t = in.TexCoord.y * texH;
        float rgb[3];
        if (caustics) {
            for (int ch = 0; ch < 3; ++ch) rgb[ch] = Clamp01(water.Caustics[3 * k + ch]);
        } else if (state.lighting) {
            const float nx = normalMatrix[0] * in.Normal.x + normalMatrix[1] * in.Normal.y +
                             normalMatrix[2] * in.Normal.z;
            const float ny = normalMatrix[3] * in.Normal.x + normalMatrix[4] * in.Normal.y +
                             normalMatrix[5] * in.Normal.z;
            const float nz = normalMatrix[6] * in.Normal.x + normalMatrix[7] * in.Normal.y +
                             normalMatrix[8] * in.Normal.z;
            float lx = light[0], ly = light[1], lz = light[2];
            if (light[3] != 0.0f) {
                lx -= eye[0];
                ly -= eye[1];
                lz -= eye[2];
            }
            const float length = std::sqrt(lx * lx + ly * ly + lz * lz);
            const float facing =
                length > 0.0f ? std::max(0.0f, (nx * lx + ny * ly + nz * lz) / length) : 0.0f;
            for (int ch = 0; ch < 3; ++ch) {
                rgb[ch] =
                    Clamp01(state.colour[ch] * (state.sceneAmbient[ch] + state.lightAmbient[ch] +
                                                facing * state.lightDiffuse[ch]));
            }
        } else {
            for (int ch = 0; ch < 3; ++ch) rgb[ch] = Clamp01(state.colour[ch]);
        }
        out.r = rgb[0] * 255.0f;
        out.g = rgb[1] * 255.0f;
        out.b = rgb[2] * 255.0f;
    }

    uint32_t shift = 0;
    while ((1u << shift) < picture.width) ++shift;
    const Sampler sampler{picture.texels, picture.width - 1, picture.height - 1, shift, caustics};
    // Row 0 is the bottom one, kept first or last.
    const std::ptrdiff_t width = frameWidth;
    uint32_t* rowZero = topFirst ? frame + (frameHeight - 1) * width : frame;
    const std::ptrdiff_t rowStep = topFirst ? -width : width;
    // The last pair of indices only closes the innermost ring.
    const uint32_t drawn = water.IndexCount - 2;
    for (uint32_t i = 0; i + 2 < drawn; ++i) {
        // Every odd triangle of a strip has its first two corners swapped.
        const WaterRasterVertex* a = &vertices[water.Indices[i + (i & 1)]];
        const WaterRasterVertex* b = &vertices[water.Indices[i + 1 - (i & 1)]];
        const WaterRasterVertex* c = &vertices[water.Indices[i + 2]];
        if (state.cullBack &&
            (b->x - a->x) * (c->y - a->y) - (c->x - a->x) * (b->y - a->y) <= 0.0f) {
            continue;
        }
        DrawTriangle(a, b, c, sampler, rowZero, rowStep, frameWidth, frameHeight);
    }
    return true;
#endif
}
