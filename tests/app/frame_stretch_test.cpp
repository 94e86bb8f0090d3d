// Tests of StretchTwice: rows turned top first, neighbours averaged at odd
// positions, the last row and column repeated for odd sizes.
#include "app/frame_stretch.h"

#include <gtest/gtest.h>

#include <vector>

TEST(StretchTwice, DoublesWithAveragesAndTurnsTheRows) {
    // Bottom row first: the top row is 0x40 and 0x80 in every channel, the
    // bottom row 0x00 and 0xfe.
    const std::vector<uint32_t> src = {0x00000000u, 0xfefefefeu, 0x40404040u, 0x80808080u};
    std::vector<uint32_t> dst(5 * 5, 1u);
    StretchTwice(src.data(), 2, 2, dst.data(), 5, 5);
    const std::vector<uint32_t> want = {
        0x40404040u, 0x60606060u, 0x80808080u, 0x80808080u, 0x80808080u,  // top source row
        0x20202020u, 0x6f6f6f6fu, 0xbfbfbfbfu, 0xbfbfbfbfu, 0xbfbfbfbfu,  // halfway down
        0x00000000u, 0x7f7f7f7fu, 0xfefefefeu, 0xfefefefeu, 0xfefefefeu,  // bottom source row
        0x00000000u, 0x7f7f7f7fu, 0xfefefefeu, 0xfefefefeu, 0xfefefefeu,  // repeated below
        0x00000000u, 0x7f7f7f7fu, 0xfefefefeu, 0xfefefefeu, 0xfefefefeu,
    };
    EXPECT_EQ(dst, want);
}
