// Stretching a reduced frame to twice or four times its size on the
// processor: what a software renderer would spend a whole pass over the
// window on costs a few reads and averages a pixel here. Relies on the standard library only.
#pragma once

#include <cstdint>

// Fills dst (dstWidth × dstHeight pixels, rows packed, top row first) from
// src (srcWidth × srcHeight, rows packed, bottom row first, as OpenGL reads
// them back), each destination pixel taken from source pixel (x / 2, y / 2)
// and, at odd positions, averaged with its right or lower neighbour; the
// last row and column repeat where the destination is more than twice the
// source. Pixels are four 8-bit channels, averaged channel by channel.
// Only destination rows top ... top + rows - 1 are made, into dst, which
// holds row `top` first (a frame put into the window a band at a time);
// rows past the bottom are not made.
void StretchTwice(const uint32_t* src, int srcWidth, int srcHeight, uint32_t* dst, int dstWidth,
                  int dstHeight, int top, int rows);

// As StretchTwice, four times: destination pixel (x, y) from source pixel
// (x / 4, y / 4) and, at x % 4 = 1, 2, 3 (and so for y), the pixel a
// quarter, half and three quarters of the way to its right (lower)
// neighbour: the average of the two for the half, of the half and the
// nearer one for the quarters.
void StretchFourTimes(const uint32_t* src, int srcWidth, int srcHeight, uint32_t* dst, int dstWidth,
                      int dstHeight, int top, int rows);
