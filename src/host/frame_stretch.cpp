// StretchTwice and StretchFourTimes: each two (four) destination rows from
// two source rows, the first stretched across, the others between it and the
// one below, so the destination is only written, never read back. With SSE2
// four source pixels go at a time, and rows that start on 16 bytes are
// written past the cache: the frame goes to the X server, not back to us.
#include "host/frame_stretch.h"

#include <algorithm>
#include <cstddef>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// The channel-wise average of two pixels, rounded down.
inline uint32_t Average(uint32_t a, uint32_t b) { return (a & b) + (((a ^ b) & 0xfefefefeu) >> 1); }

// The pixel k / kFactor of the way from a to b, by halving: a quarter of
// the way is the average of a and the halfway pixel.
template <int kFactor>
inline uint32_t Between(uint32_t a, uint32_t b, int k) {
    if (k == 0) return a;
    const uint32_t half = Average(a, b);
    if constexpr (kFactor == 2) {
        return half;
    } else {
        constexpr int kHalf = kFactor / 2;
        if (k == kHalf) return half;
        return k < kHalf ? Between<kHalf>(a, half, k) : Between<kHalf>(half, b, k - kHalf);
    }
}

// Pixel x of a source row stretched across.
template <int kFactor>
inline uint32_t Across(const uint32_t* src, int srcWidth, int x) {
    const int left = x / kFactor;
    if (left + 1 < srcWidth) return Between<kFactor>(src[left], src[left + 1], x % kFactor);
    return src[std::min(left, srcWidth - 1)];
}

#if defined(__SSE2__)
inline __m128i Average(__m128i a, __m128i b) {
    const __m128i half = _mm_srli_epi32(
        _mm_and_si128(_mm_xor_si128(a, b), _mm_set1_epi32(static_cast<int>(0xfefefefeu))), 1);
    return _mm_add_epi32(_mm_and_si128(a, b), half);
}

// Eight destination pixels from source pixels x ... x + 4 of a row.
inline void Doubled(const uint32_t* src, int x, __m128i* low, __m128i* high) {
    const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + x));
    const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + x + 1));
    const __m128i between = Average(here, next);
    *low = _mm_unpacklo_epi32(here, between);
    *high = _mm_unpackhi_epi32(here, between);
}

// Sixteen destination pixels from source pixels x ... x + 4 of a row.
inline void Quadrupled(const uint32_t* src, int x, __m128i out[4]) {
    const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + x));
    const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + x + 1));
    const __m128i half = Average(here, next);
    const __m128i quarter = Average(here, half), threeQuarters = Average(half, next);
    const __m128i low0 = _mm_unpacklo_epi32(here, quarter);         // h0 q0 h1 q1
    const __m128i low1 = _mm_unpacklo_epi32(half, threeQuarters);   // m0 t0 m1 t1
    const __m128i high0 = _mm_unpackhi_epi32(here, quarter);        // h2 q2 h3 q3
    const __m128i high1 = _mm_unpackhi_epi32(half, threeQuarters);  // m2 t2 m3 t3
    out[0] = _mm_unpacklo_epi64(low0, low1);
    out[1] = _mm_unpackhi_epi64(low0, low1);
    out[2] = _mm_unpacklo_epi64(high0, high1);
    out[3] = _mm_unpackhi_epi64(high0, high1);
}

template <bool kStream>
inline void Put(uint32_t* p, __m128i v) {
    if constexpr (kStream) {
        _mm_stream_si128(reinterpret_cast<__m128i*>(p), v);
    } else {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
    }
}

// The first pixels of a row pair, eight at a time; returns how many.
template <bool kStream>
int StretchPairVector(const uint32_t* upper, const uint32_t* lower, int srcWidth, uint32_t* even,
                      uint32_t* odd, int dstWidth) {
    // Each step reads source pixels x ... x + 4 and writes 2x ... 2x + 7.
    const int steps = std::min(dstWidth / 8, (srcWidth - 1) / 4);
    for (int i = 0; i < steps; ++i) {
        const int x = 4 * i;
        __m128i u0, u1, l0, l1;
        Doubled(upper, x, &u0, &u1);
        Doubled(lower, x, &l0, &l1);
        Put<kStream>(even + 2 * x, u0);
        Put<kStream>(even + 2 * x + 4, u1);
        Put<kStream>(odd + 2 * x, Average(u0, l0));
        Put<kStream>(odd + 2 * x + 4, Average(u1, l1));
    }
    return 8 * steps;
}

// The first pixels of four rows, sixteen at a time; returns how many.
template <bool kStream>
int StretchQuadVector(const uint32_t* upper, const uint32_t* lower, int srcWidth,
                      uint32_t* const* rows, int dstWidth) {
    // Each step reads source pixels x ... x + 4 and writes 4x ... 4x + 15.
    const int steps = std::min(dstWidth / 16, (srcWidth - 1) / 4);
    for (int i = 0; i < steps; ++i) {
        const int x = 4 * i;
        __m128i above[4], below[4];
        Quadrupled(upper, x, above);
        Quadrupled(lower, x, below);
        for (int j = 0; j < 4; ++j) {
            const int at = 4 * x + 4 * j;
            const __m128i half = Average(above[j], below[j]);
            Put<kStream>(rows[0] + at, above[j]);
            Put<kStream>(rows[1] + at, Average(above[j], half));
            Put<kStream>(rows[2] + at, half);
            Put<kStream>(rows[3] + at, Average(half, below[j]));
        }
    }
    return 16 * steps;
}

bool Aligned(uint32_t* const* rows, int count) {
    for (int k = 0; k < count; ++k) {
        if ((reinterpret_cast<uintptr_t>(rows[k]) & 15) != 0) return false;
    }
    return true;
}
#endif

// The destination rows of one source row (kFactor of them, null where not
// wanted) from it (upper) and the one below it (lower).
template <int kFactor>
void StretchRows(const uint32_t* upper, const uint32_t* lower, int srcWidth, uint32_t* const* rows,
                 int dstWidth) {
    int done = 0;
#if defined(__SSE2__)
    if (std::all_of(rows, rows + kFactor, [](const uint32_t* r) { return r != nullptr; })) {
        const bool aligned = Aligned(rows, kFactor);
        if constexpr (kFactor == 2) {
            done =
                aligned
                    ? StretchPairVector<true>(upper, lower, srcWidth, rows[0], rows[1], dstWidth)
                    : StretchPairVector<false>(upper, lower, srcWidth, rows[0], rows[1], dstWidth);
        } else {
            done = aligned ? StretchQuadVector<true>(upper, lower, srcWidth, rows, dstWidth)
                           : StretchQuadVector<false>(upper, lower, srcWidth, rows, dstWidth);
        }
    }
#endif
    for (int x = done; x < dstWidth; ++x) {
        const uint32_t above = Across<kFactor>(upper, srcWidth, x);
        const uint32_t below = Across<kFactor>(lower, srcWidth, x);
        for (int k = 0; k < kFactor; ++k) {
            if (rows[k] != nullptr) rows[k][x] = Between<kFactor>(above, below, k);
        }
    }
}

template <int kFactor>
void Stretch(const uint32_t* src, int srcWidth, int srcHeight, uint32_t* dst, int dstWidth,
             int dstHeight, int top, int rows) {
    if (srcWidth < 1 || srcHeight < 1 || dstWidth < 1 || dstHeight < 1) return;
    if (rows < 0 || top < 0 || top > dstHeight - rows) rows = top < 0 ? 0 : dstHeight - top;
    // Source row `from`, counted from the top; the last one repeats below.
    const auto line = [&](int from) {
        from = std::min(from, srcHeight - 1);
        return src + static_cast<size_t>(srcHeight - 1 - from) * static_cast<size_t>(srcWidth);
    };
    const int end = top + rows;
    for (int y = top - top % kFactor; y < end; y += kFactor) {
        const uint32_t* upper = line(y / kFactor);
        // Past the last destination row the lower neighbour is the upper.
        const uint32_t* lower = y + kFactor < dstHeight ? line(y / kFactor + 1) : upper;
        // Destination row y + k, in dst, which starts at row `top`.
        uint32_t* group[kFactor];
        for (int k = 0; k < kFactor; ++k) {
            const bool wanted = y + k >= top && y + k < end;
            group[k] = wanted
                           ? dst + static_cast<size_t>(y + k - top) * static_cast<size_t>(dstWidth)
                           : nullptr;
        }
        StretchRows<kFactor>(upper, lower, srcWidth, group, dstWidth);
    }
#if defined(__SSE2__)
    // The streamed rows reach memory before anyone else reads them.
    _mm_sfence();
#endif
}

}  // namespace

void StretchTwice(const uint32_t* src, int srcWidth, int srcHeight, uint32_t* dst, int dstWidth,
                  int dstHeight, int top, int rows) {
    Stretch<2>(src, srcWidth, srcHeight, dst, dstWidth, dstHeight, top, rows);
}

void StretchFourTimes(const uint32_t* src, int srcWidth, int srcHeight, uint32_t* dst, int dstWidth,
                      int dstHeight, int top, int rows) {
    Stretch<4>(src, srcWidth, srcHeight, dst, dstWidth, dstHeight, top, rows);
}
