// The built-in picture shown under the water when no desktop image can be
// had (under a lock screen, on Wayland, headless): smooth pebbles on a sandy
// pool floor, drawn in code. Relies on nothing but the standard library.
#pragma once

#include "platform/platform.h"

// Draws the picture at width × height (each at least 1; a larger size only
// shows more pebbles of the same kind). The same size always gives the same
// picture. Returns false, leaving `image` empty, for sizes of 0 or more than
// 16384 on a side.
bool DrawBuiltInPicture(int width, int height, platform::RgbaImage* image);
