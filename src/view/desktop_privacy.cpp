// The desktop picture's blur and pixelation: box passes with running sums,
// and block means. Relies on the standard library only.
#include "view/desktop_privacy.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>

namespace {

constexpr int kMinBlurRadius = 6;
constexpr int kMinBlockSide = 12;
// A radius far beyond any a picture needs (the program's are at most 16384
// a side); it keeps the sums within 31 bits.
constexpr int kMaxBlurRadius = 1 << 20;

// One box pass over n pixels, packed: dst[i] is the mean of
// src[i - r .. i + r], the end pixels standing in for those beyond the
// ends, rounded. src and dst must not overlap. `inverse` is 1 / (2r + 1)
// (a float keeps the rounding exact up to radii of thousands).
void BoxLine(const uint8_t* src, uint8_t* dst, int n, int r, float inverse) {
    const int last = n - 1;
    const int inside = std::min(r, last);
    const auto at = [src](int i) { return src + static_cast<size_t>(i) * 4; };
    int32_t sum[4];
    for (int c = 0; c < 4; ++c) {
        // The window around pixel 0: r + 1 copies of it, src[1 .. inside],
        // and the last pixel for what lies beyond the far end.
        int32_t s = (r + 1) * src[c];
        for (int k = 1; k <= inside; ++k) s += at(k)[c];
        sum[c] = s + (r - inside) * at(last)[c];
    }
    // Each step writes pixel i, then slides the window on: pixel i + r + 1
    // (at most the last) comes in and pixel i - r (at least the first) goes.
    const auto step = [&](int i, const uint8_t* in, const uint8_t* out) {
        uint8_t* d = dst + static_cast<size_t>(i) * 4;
        for (int c = 0; c < 4; ++c) {
            d[c] = static_cast<uint8_t>(static_cast<float>(sum[c]) * inverse + 0.5f);
            sum[c] += in[c] - out[c];
        }
    };
    // The three stretches: the window's back edge at the first pixel,
    // both edges inside, its front edge at the last pixel.
    const int firstFree = std::min(r, n);
    const int lastFree = std::max(firstFree, n - r - 1);
    int i = 0;
    for (; i < firstFree; ++i) step(i, at(std::min(i + r + 1, last)), src);
    for (; i < lastFree; ++i) step(i, at(i + r + 1), at(i - r));
    for (; i < n; ++i) step(i, at(last), at(std::max(i - r, 0)));
}

// Three box passes over n pixels `step` bytes apart, through the two
// scratch lines a and b of n packed pixels each.
void BoxLineThrice(uint8_t* pixels, size_t step, int n, int r, float inverse, uint8_t* a,
                   uint8_t* b) {
    const size_t count = static_cast<size_t>(n);
    for (size_t i = 0; i < count; ++i) std::memcpy(a + i * 4, pixels + i * step, 4);
    BoxLine(a, b, n, r, inverse);
    BoxLine(b, a, n, r, inverse);
    BoxLine(a, b, n, r, inverse);
    for (size_t i = 0; i < count; ++i) std::memcpy(pixels + i * step, b + i * 4, 4);
}

bool SizeMatches(const platform::RgbaImage& image) {
    return image.width > 0 && image.height > 0 &&
           image.pixels.size() == static_cast<size_t>(image.width) * image.height * 4;
}

// The picture as one flat colour, its mean.
void FillWithMean(platform::RgbaImage* image) {
    uint64_t sum[4] = {0, 0, 0, 0};
    std::vector<uint8_t>& p = image->pixels;
    for (size_t i = 0; i < p.size(); i += 4) {
        for (int c = 0; c < 4; ++c) sum[c] += p[i + c];
    }
    const uint64_t count = p.size() / 4;
    for (size_t i = 0; i < p.size(); i += 4) {
        for (int c = 0; c < 4; ++c) p[i + c] = static_cast<uint8_t>((sum[c] + count / 2) / count);
    }
}

}  // namespace

int DesktopBlurRadius(int width, int height) {
    return std::max(kMinBlurRadius, (std::max(width, height) + 50) / 100);
}

int DesktopBlockSide(int width, int height) {
    return std::max(kMinBlockSide, (std::max(width, height) + 25) / 50);
}

bool BlurRgba(uint8_t* pixels, int width, int height, int radius) {
    if (width < 1 || height < 1 || radius < 1) return true;
    const int r = std::min(radius, kMaxBlurRadius);
    const size_t line = static_cast<size_t>(std::max(width, height)) * 4;
    std::unique_ptr<uint8_t[]> scratch(new (std::nothrow) uint8_t[2 * line]);
    if (!scratch) return false;
    uint8_t* a = scratch.get();
    uint8_t* b = a + line;
    const float inverse = 1.0f / static_cast<float>(2 * r + 1);
    const size_t rowBytes = static_cast<size_t>(width) * 4;
    for (int y = 0; y < height; ++y) {
        BoxLineThrice(pixels + static_cast<size_t>(y) * rowBytes, 4, width, r, inverse, a, b);
    }
    for (int x = 0; x < width; ++x) {
        BoxLineThrice(pixels + static_cast<size_t>(x) * 4, rowBytes, height, r, inverse, a, b);
    }
    return true;
}

bool PixelateRgba(uint8_t* pixels, int width, int height, int block) {
    if (width < 1 || height < 1 || block < 1) return true;
    const size_t side = static_cast<size_t>(std::min(block, std::max(width, height)));
    const size_t w = static_cast<size_t>(width);
    const size_t h = static_cast<size_t>(height);
    const size_t blocks = (w + side - 1) / side;
    std::unique_ptr<uint64_t[]> sums(new (std::nothrow) uint64_t[blocks * 4]);
    if (!sums) return false;
    for (size_t top = 0; top < h; top += side) {
        const size_t bottom = std::min(top + side, h);
        std::fill(sums.get(), sums.get() + blocks * 4, 0);
        for (size_t y = top; y < bottom; ++y) {
            const uint8_t* p = pixels + y * w * 4;
            for (size_t x = 0; x < w; ++x) {
                uint64_t* s = &sums[x / side * 4];
                for (size_t c = 0; c < 4; ++c) s[c] += p[x * 4 + c];
            }
        }
        for (size_t k = 0; k < blocks; ++k) {
            const size_t count = (std::min((k + 1) * side, w) - k * side) * (bottom - top);
            uint64_t* s = &sums[k * 4];
            for (size_t c = 0; c < 4; ++c) s[c] = (s[c] + count / 2) / count;
        }
        for (size_t y = top; y < bottom; ++y) {
            uint8_t* p = pixels + y * w * 4;
            for (size_t x = 0; x < w; ++x) {
                const uint64_t* s = &sums[x / side * 4];
                for (size_t c = 0; c < 4; ++c) p[x * 4 + c] = static_cast<uint8_t>(s[c]);
            }
        }
    }
    return true;
}

void ProtectDesktopPicture(DesktopPrivacy privacy, platform::RgbaImage* image) {
    if (privacy == DesktopPrivacy::AsItIs || !SizeMatches(*image)) return;
    const int w = image->width;
    const int h = image->height;
    const bool done = privacy == DesktopPrivacy::Pixelated
                          ? PixelateRgba(image->pixels.data(), w, h, DesktopBlockSide(w, h))
                          : BlurRgba(image->pixels.data(), w, h, DesktopBlurRadius(w, h));
    if (!done) FillWithMean(image);
}
