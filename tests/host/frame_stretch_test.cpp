// Tests of StretchTwice and StretchFourTimes: rows turned top first,
// neighbours averaged between, the last row and column repeated for odd sizes.
#include "host/frame_stretch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <vector>

TEST(StretchTwice, DoublesWithAveragesAndTurnsTheRows) {
    // Bottom row first: the top row is 0x40 and 0x80 in every channel, the
    // bottom row 0x00 and 0xfe.
    const std::vector<uint32_t> src = {0x00000000u, 0xfefefefeu, 0x40404040u, 0x80808080u};
    std::vector<uint32_t> dst(5 * 5, 1u);
    StretchTwice(src.data(), 2, 2, dst.data(), 5, 5, 0, 5);
    const std::vector<uint32_t> want = {
        0x40404040u, 0x60606060u, 0x80808080u, 0x80808080u, 0x80808080u,  // top source row
        0x20202020u, 0x6f6f6f6fu, 0xbfbfbfbfu, 0xbfbfbfbfu, 0xbfbfbfbfu,  // halfway down
        0x00000000u, 0x7f7f7f7fu, 0xfefefefeu, 0xfefefefeu, 0xfefefefeu,  // bottom source row
        0x00000000u, 0x7f7f7f7fu, 0xfefefefeu, 0xfefefefeu, 0xfefefefeu,  // repeated below
        0x00000000u, 0x7f7f7f7fu, 0xfefefefeu, 0xfefefefeu, 0xfefefefeu,
    };
    EXPECT_EQ(dst, want);
}

// The pixel rule of the comments in frame_stretch.h, one pixel at a time,
// for a factor of 2 or 4.
static uint32_t Rule(const std::vector<uint32_t>& src, int sw, int sh, int f, int x, int y) {
    const auto average = [](uint32_t a, uint32_t b) {
        uint32_t out = 0;
        for (int shift = 0; shift < 32; shift += 8) {
            out |= ((((a >> shift) & 0xffu) + ((b >> shift) & 0xffu)) / 2) << shift;
        }
        return out;
    };
    // k / f of the way from a to b.
    const auto between = [&](uint32_t a, uint32_t b, int k) {
        const uint32_t half = average(a, b);
        if (k == 0 || 2 * k == f) return k == 0 ? a : half;
        return 2 * k < f ? average(a, half) : average(half, b);
    };
    const auto across = [&](int top, int x) {
        const uint32_t* line = &src[static_cast<size_t>(sh - 1 - std::min(top, sh - 1)) * sw];
        const int left = std::min(x / f, sw - 1);
        return x / f + 1 < sw ? between(line[left], line[left + 1], x % f) : line[left];
    };
    if (y / f + 1 >= sh) return across(y / f, x);
    return between(across(y / f, x), across(y / f + 1, x), y % f);
}

TEST(StretchTwice, FramesAndBandsFollowThePixelRuleAtAnyWidthAndAlignment) {
    // Widths around the eight (sixteen) pixels done at a time, destinations
    // that start off the 16-byte boundary, and the frame made whole or in
    // bands of three rows (starting at odd rows too); twice, then four times.
    for (const auto [f, sw, sh, dw, dh, offset] :
         {std::array{2, 37, 9, 74, 18, 0}, std::array{2, 37, 9, 73, 17, 1},
          std::array{2, 8, 3, 21, 9, 3}, std::array{2, 960, 4, 1920, 8, 0},
          std::array{2, 683, 5, 1366, 9, 2}, std::array{4, 37, 9, 148, 36, 0},
          std::array{4, 37, 9, 150, 38, 1}, std::array{4, 8, 3, 35, 13, 3},
          std::array{4, 960, 4, 3840, 16, 0}, std::array{4, 683, 5, 2732, 21, 2}}) {
        const auto stretch = f == 2 ? StretchTwice : StretchFourTimes;
        std::vector<uint32_t> src(static_cast<size_t>(sw) * sh);
        uint32_t seed = 12345;
        for (auto& p : src) p = seed = seed * 1664525u + 1013904223u;
        std::vector<uint32_t> whole(static_cast<size_t>(dw) * dh + 4, 0);
        std::vector<uint32_t> banded = whole;
        stretch(src.data(), sw, sh, whole.data() + offset, dw, dh, 0, dh);
        for (int top = 0; top < dh; top += 3) {
            stretch(src.data(), sw, sh, banded.data() + offset + static_cast<size_t>(top) * dw, dw,
                    dh, top, 3);
        }
        int wrong = 0;
        for (int y = 0; y < dh; ++y) {
            for (int x = 0; x < dw; ++x) {
                const size_t at = offset + static_cast<size_t>(y) * dw + x;
                const uint32_t want = Rule(src, sw, sh, f, x, y);
                wrong += (whole[at] != want) + (banded[at] != want);
            }
        }
        EXPECT_EQ(wrong, 0) << "x" << f << ": " << sw << "x" << sh << " to " << dw << "x" << dh
                            << " at +" << offset;
        // A last band that reaches past the bottom stops there.
        EXPECT_EQ(banded[offset + static_cast<size_t>(dw) * dh], 0u);
    }
}
