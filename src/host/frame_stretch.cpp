// StretchTwice: each pair of destination rows from two source rows, the
// even row doubled across, the odd one the average of its neighbours above
// and below, so the destination is only written, never read back. With SSE2
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

// Pixel x of a source row doubled across.
inline uint32_t Doubled(const uint32_t* src, int srcWidth, int x) {
    const int left = x / 2;
    if ((x & 1) != 0 && left + 1 < srcWidth) return Average(src[left], src[left + 1]);
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
#endif

// Destination rows `even` and `odd` (either null when not wanted) from the
// source rows upper and lower.
void StretchPair(const uint32_t* upper, const uint32_t* lower, int srcWidth, uint32_t* even,
                 uint32_t* odd, int dstWidth) {
    int done = 0;
#if defined(__SSE2__)
    if (even != nullptr && odd != nullptr) {
        const bool aligned = (reinterpret_cast<uintptr_t>(even) & 15) == 0 &&
                             (reinterpret_cast<uintptr_t>(odd) & 15) == 0;
        done = aligned ? StretchPairVector<true>(upper, lower, srcWidth, even, odd, dstWidth)
                       : StretchPairVector<false>(upper, lower, srcWidth, even, odd, dstWidth);
    }
#endif
    for (int x = done; x < dstWidth; ++x) {
        const uint32_t above = Doubled(upper, srcWidth, x);
        if (even != nullptr) even[x] = above;
        if (odd != nullptr) odd[x] = Average(above, Doubled(lower, srcWidth, x));
    }
}

}  // namespace

void StretchTwice(const uint32_t* src, int srcWidth, int srcHeight, uint32_t* dst, int dstWidth,
                  int dstHeight, int top, int rows) {
    if (srcWidth < 1 || srcHeight < 1 || dstWidth < 1 || dstHeight < 1) return;
    if (rows < 0 || top < 0 || top > dstHeight - rows) rows = top < 0 ? 0 : dstHeight - top;
    // Destination row y, in dst, which starts at row `top`.
    const auto row = [&](int y) {
        return dst + static_cast<size_t>(y - top) * static_cast<size_t>(dstWidth);
    };
    // Source row `from`, counted from the top; the last one repeats below.
    const auto line = [&](int from) {
        from = std::min(from, srcHeight - 1);
        return src + static_cast<size_t>(srcHeight - 1 - from) * static_cast<size_t>(srcWidth);
    };
    const int end = top + rows;
    for (int y = top - (top & 1); y < end; y += 2) {
        const uint32_t* upper = line(y / 2);
        // Past the last destination row the lower neighbour is the upper.
        const uint32_t* lower = y + 2 < dstHeight ? line(y / 2 + 1) : upper;
        uint32_t* even = y >= top ? row(y) : nullptr;
        uint32_t* odd = y + 1 < end ? row(y + 1) : nullptr;
        StretchPair(upper, lower, srcWidth, even, odd, dstWidth);
    }
#if defined(__SSE2__)
    // The streamed rows reach memory before anyone else reads them.
    _mm_sfence();
#endif
}
