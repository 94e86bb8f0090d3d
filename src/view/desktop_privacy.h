// The private desktop picture: the desktop's picture blurred or pixelated
// on the processor, once, before it becomes a texture, so that passers-by
// cannot read what was on the screen. Relies on the standard library and
// the platform's image type.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "settings/setting_choices.h"

// The radius in pixels of each of the three box passes of the blur for a
// width × height picture: 1 % of the larger side, rounded, at least 6, so
// that 12-pixel text cannot be read even on a small screen. Three passes
// of radius r blur as a Gaussian of standard deviation about r + 0.5.
int DesktopBlurRadius(int width, int height);

// The side in pixels of the blocks of the pixelated picture: 2 % of the
// larger side, rounded, at least 12 (one line of small text).
int DesktopBlockSide(int width, int height);

// Blurs width × height pixels of 4 bytes (RGBA, rows packed) in place:
// three box passes of `radius` along the rows, then three along the
// columns, the pixels beyond an edge taken as the edge's own. Running sums
// make the cost linear in the pixels whatever the radius. A radius larger
// than the picture is fine (the picture tends to its edges' mean). Nothing
// happens for a size or radius below 1. False, leaving the pixels as they
// are, when the scratch (two lines of the longer side) cannot be had.
bool BlurRgba(uint8_t* pixels, int width, int height, int radius);

// Pixelates width × height RGBA pixels in place: blocks of block × block
// pixels from the first pixel on (smaller at the far edges), each filled
// with its mean colour, rounded. Nothing happens for a size or block below
// 1. False, leaving the pixels as they are, when the scratch (one sum per
// block of a row) cannot be had.
bool PixelateRgba(uint8_t* pixels, int width, int height, int block);

// Applies `privacy` to a desktop's picture at the sizes above. As it is,
// and an image whose pixels do not match its size, stay untouched. When a
// filter cannot run, the picture becomes one flat mean colour instead:
// what was on the screen is never shown against the user's choice.
void ProtectDesktopPicture(DesktopPrivacy privacy, platform::RgbaImage* image);
