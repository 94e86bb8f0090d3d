// Checks shared by the TGA fuzz targets: what a decoded record must hold.
#pragma once

#include "fuzz_input.h"
#include "resources/tga.h"

inline void CheckDecoded(int result, const Texture& t) {
    if (result != 1) {
        FUZZ_CHECK(result == 0);
        FUZZ_CHECK(t.pixels == nullptr);
        return;
    }
    FUZZ_CHECK(t.pixels != nullptr);
    FUZZ_CHECK(t.width > 0 && t.height > 0);
    FUZZ_CHECK(t.bitsPerPixel == 24 || t.bitsPerPixel == 32);
    FUZZ_CHECK(tga.imageSize == uint64_t{t.width} * t.height * (t.bitsPerPixel / 8));
    // Touch every byte, so that the sanitizer sees any short buffer.
    unsigned sum = 0;
    for (uint32_t i = 0; i < tga.imageSize; ++i) sum += t.pixels[i];
    volatile unsigned keep = sum;
    (void)keep;
}
