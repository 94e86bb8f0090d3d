// The -fps display: the frame rate as text ("59.9 fps") in the lower-left
// corner of the view, drawn with OpenGL 1.x quads from a small built-in
// 5 × 7 font, so it needs no font server and scales on large screens.
// Relies on OpenGL only.
#pragma once

// Formats the rate as the display shows it ("59.9 fps") into buffer (size
// bytes, at least 16). Rates outside 0 ... 9999.9 are clamped.
void FormatFrameRate(double framesPerSecond, char* buffer, int size);

// Draws the rate into the current context over whatever is there, for a
// view of width × height pixels at `scale` pixels per point (the screen's
// scale factor times the view's own). Saves and restores every piece of
// OpenGL state it touches. The glyphs are 5 × 7 cells of max(2, h / 270)
// points each, h being the view's height in points; a cell is a whole
// number of pixels, at least one.
void DrawFrameRate(double framesPerSecond, int width, int height, float scale = 1.0f);
