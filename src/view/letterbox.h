// Letterboxing: a picture set into a canvas of the screen's shape, centred,
// with black bars on the two sides it does not fill, so that stretching the
// canvas over the screen keeps the picture's aspect. Relies on the standard
// library and the platform's image type.
#pragma once

#include "platform/platform.h"

// Where a picture of pictureWidth × pictureHeight goes in the canvas of the
// screen's shape: the canvas is as wide or as high as the picture (never
// smaller), its aspect that of the screen to the nearest pixel; the
// picture sits at (x, y), centred, rounded down.
struct LetterboxFit {
    int canvasWidth = 0;
    int canvasHeight = 0;
    int x = 0;
    int y = 0;
};

// All zero when a size is not positive.
LetterboxFit FitPictureToScreen(int pictureWidth, int pictureHeight, int screenWidth,
                                int screenHeight);

// The picture in its canvas (FitPictureToScreen), the rest opaque black.
// False, leaving `canvas` untouched, when the picture or the screen is
// empty or the canvas would be larger than 16384 on a side.
bool LetterboxPicture(const platform::RgbaImage& picture, int screenWidth, int screenHeight,
                      platform::RgbaImage* canvas);
