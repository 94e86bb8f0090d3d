// Shot: an RGB picture of an output as a test reads it back from a
// compositor, and what the tests ask of one. Relies on the C++ library
// only.
#pragma once

#include <string>
#include <vector>

// An RGB picture of an output, as read back from the compositor.
struct Shot {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgb;
};

// A binary PPM file (what every reading tool writes); false when it is not
// one.
bool ReadPpm(const std::string& path, Shot* shot);
// The part of `s` at (x, y) of width × height, which must lie inside it.
Shot Part(const Shot& s, int x, int y, int width, int height);
// The number of pixels of `a` that differ from the same pixel of `b` (of
// the same size). Water over sway's flat desktop differs from it only by
// its light and ripples, by a level or two in places.
int Differing(const Shot& a, const Shot& b);
