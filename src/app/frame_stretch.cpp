// StretchTwice: two passes, the even destination rows from the source rows,
// then the odd ones as the average of their neighbours.
#include "app/frame_stretch.h"

#include <algorithm>
#include <cstddef>

namespace {

// The channel-wise average of two pixels, rounded down.
inline uint32_t Average(uint32_t a, uint32_t b) { return (a & b) + (((a ^ b) & 0xfefefefeu) >> 1); }

// One source row, doubled across.
void StretchRow(const uint32_t* src, int srcWidth, uint32_t* dst, int dstWidth) {
    const int pairs = std::min(dstWidth / 2, srcWidth - 1);
    for (int x = 0; x < pairs; ++x) {
        dst[2 * x] = src[x];
        dst[2 * x + 1] = Average(src[x], src[x + 1]);
    }
    for (int x = 2 * pairs; x < dstWidth; ++x) dst[x] = src[std::min(x / 2, srcWidth - 1)];
}

}  // namespace

void StretchTwice(const uint32_t* src, int srcWidth, int srcHeight, uint32_t* dst, int dstWidth,
                  int dstHeight) {
    if (srcWidth < 1 || srcHeight < 1 || dstWidth < 1 || dstHeight < 1) return;
    const auto row = [&](uint32_t* base, int y) {
        return base + static_cast<size_t>(y) * static_cast<size_t>(dstWidth);
    };
    for (int y = 0; y < dstHeight; y += 2) {
        const int top = std::min(y / 2, srcHeight - 1);  // counted from the top
        const uint32_t* line =
            src + static_cast<size_t>(srcHeight - 1 - top) * static_cast<size_t>(srcWidth);
        StretchRow(line, srcWidth, row(dst, y), dstWidth);
    }
    for (int y = 1; y < dstHeight; y += 2) {
        uint32_t* out = row(dst, y);
        const uint32_t* above = row(dst, y - 1);
        // Below the last source row the picture repeats that row.
        const bool last = y + 1 >= dstHeight || (y + 1) / 2 > srcHeight - 1;
        const uint32_t* below = last ? above : row(dst, y + 1);
        for (int x = 0; x < dstWidth; ++x) out[x] = Average(above[x], below[x]);
    }
}
