// Letterboxing a picture to the screen's shape. Relies on the standard
// library only.
#include "view/letterbox.h"

#include <cmath>
#include <cstring>
#include <utility>

namespace {

constexpr int kMaxCanvasSide = 16384;

}  // namespace

LetterboxFit FitPictureToScreen(int pictureWidth, int pictureHeight, int screenWidth,
                                int screenHeight) {
    LetterboxFit fit;
    if (pictureWidth <= 0 || pictureHeight <= 0 || screenWidth <= 0 || screenHeight <= 0) {
        return fit;
    }
    // Compared in integers: the picture is relatively wider than the screen
    // when pw / ph > sw / sh.
    const long long wide = static_cast<long long>(pictureWidth) * screenHeight;
    const long long tall = static_cast<long long>(pictureHeight) * screenWidth;
    if (wide >= tall) {
        fit.canvasWidth = pictureWidth;
        fit.canvasHeight = static_cast<int>(
            std::lround(static_cast<double>(pictureWidth) * screenHeight / screenWidth));
        if (fit.canvasHeight < pictureHeight) fit.canvasHeight = pictureHeight;
    } else {
        fit.canvasHeight = pictureHeight;
        fit.canvasWidth = static_cast<int>(
            std::lround(static_cast<double>(pictureHeight) * screenWidth / screenHeight));
        if (fit.canvasWidth < pictureWidth) fit.canvasWidth = pictureWidth;
    }
    fit.x = (fit.canvasWidth - pictureWidth) / 2;
    fit.y = (fit.canvasHeight - pictureHeight) / 2;
    return fit;
}

bool LetterboxPicture(const platform::RgbaImage& picture, int screenWidth, int screenHeight,
                      platform::RgbaImage* canvas) {
    const LetterboxFit fit =
        FitPictureToScreen(picture.width, picture.height, screenWidth, screenHeight);
    if (fit.canvasWidth <= 0 || fit.canvasWidth > kMaxCanvasSide ||
        fit.canvasHeight > kMaxCanvasSide ||
        picture.pixels.size() != static_cast<size_t>(picture.width) * picture.height * 4) {
        return false;
    }
    platform::RgbaImage out;
    out.width = fit.canvasWidth;
    out.height = fit.canvasHeight;
    out.pixels.resize(static_cast<size_t>(out.width) * out.height * 4);
    // Opaque black everywhere, then the picture's rows. Rows are bottom
    // first in both; a centred picture is centred either way, and the odd
    // pixel of a bar goes to the bottom and right.
    for (size_t i = 3; i < out.pixels.size(); i += 4) out.pixels[i] = 255;
    const size_t rowBytes = static_cast<size_t>(picture.width) * 4;
    const int bottom = fit.canvasHeight - picture.height - fit.y;
    for (int row = 0; row < picture.height; ++row) {
        std::memcpy(&out.pixels[(static_cast<size_t>(bottom + row) * out.width + fit.x) * 4],
                    &picture.pixels[static_cast<size_t>(row) * rowBytes], rowBytes);
    }
    *canvas = std::move(out);
    return true;
}
