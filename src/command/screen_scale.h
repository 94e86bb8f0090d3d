// The scale factor of a screen as Linux desktops state it: how many device
// pixels the text and pictures of the overlay take per pixel of an
// ordinary 96-dots-per-inch screen. Relies on the standard library only.
#pragma once

// Largest factor used; larger ones are taken as this.
constexpr int kMaxScreenScale = 8;

// A factor given as text (--scale N, GDK_SCALE): a whole number from 1.
// Numbers above kMaxScreenScale give kMaxScreenScale. False for anything
// else.
bool ParseScaleFactor(const char* text, int* factor);

// The factor for the value of the Xft.dpi resource and of $GDK_SCALE (null
// or empty when unset): GDK_SCALE when it is a factor (ParseScaleFactor),
// else Xft.dpi / 96 rounded to a whole number, at least 1 and at most
// kMaxScreenScale; 1 when neither says anything usable.
int ScreenScaleFactor(const char* xftDpi, const char* gdkScale);
