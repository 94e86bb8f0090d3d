// The built-in picture: a warm sand floor with soft ripples and scattered,
// lit pebbles casting soft shadows. Deterministic: its own random sequence,
// never the standard library's (the scene seeds that one).
#include "view/built_in_picture.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

// A small linear congruential sequence of its own.
struct Random {
    uint32_t state;
    float Next() {  // [0, 1)
        state = state * 1664525u + 1013904223u;
        return static_cast<float>(state >> 8) / 16777216.0f;
    }
    float Range(float lo, float hi) { return lo + (hi - lo) * Next(); }
};

// Smooth value noise on a lattice hashed from the cell coordinates.
float Lattice(int x, int y) {
    uint32_t h = static_cast<uint32_t>(x) * 374761393u + static_cast<uint32_t>(y) * 668265263u;
    h = (h ^ (h >> 13)) * 1274126177u;
    return static_cast<float>((h ^ (h >> 16)) & 0xffff) / 65535.0f;
}

float Noise(float x, float y) {
    const float fx = std::floor(x), fy = std::floor(y);
    const int ix = static_cast<int>(fx), iy = static_cast<int>(fy);
    float tx = x - fx, ty = y - fy;
    tx = tx * tx * (3.0f - 2.0f * tx);
    ty = ty * ty * (3.0f - 2.0f * ty);
    const float a = Lattice(ix, iy), b = Lattice(ix + 1, iy);
    const float c = Lattice(ix, iy + 1), d = Lattice(ix + 1, iy + 1);
    return (a + (b - a) * tx) + ((c + (d - c) * tx) - (a + (b - a) * tx)) * ty;
}

struct Colour {
    float r, g, b;
};

const Colour kStones[] = {
    {0.47f, 0.47f, 0.46f},  // slate grey
    {0.60f, 0.56f, 0.50f},  // limestone
    {0.55f, 0.36f, 0.27f},  // terracotta
    {0.35f, 0.40f, 0.33f},  // moss
    {0.72f, 0.69f, 0.63f},  // pale quartz
    {0.30f, 0.30f, 0.33f},  // basalt
};

struct Pebble {
    float cx, cy;  // centre, pixels from the top left
    float rx, ry;  // radii
    float cosA, sinA;
    Colour colour;
};

// Where (x, y) lies in the pebble's ellipse: 0 at the centre, 1 on the rim.
float EllipseDistance(const Pebble& p, float x, float y, float* u, float* v) {
    const float dx = x - p.cx, dy = y - p.cy;
    *u = (dx * p.cosA + dy * p.sinA) / p.rx;
    *v = (-dx * p.sinA + dy * p.cosA) / p.ry;
    return std::sqrt(*u * *u + *v * *v);
}

// The light, from the upper left.
constexpr float kLightX = -0.45f, kLightY = -0.55f, kLightZ = 0.70f;

// Rows top ... top + rows - 1 of the picture, as RGB floats in a band that
// holds row `top` first.
struct Band {
    int top = 0;
    int rows = 0;
    float* rgb = nullptr;
    float* At(int width, int x, int y) const {
        return &rgb[(static_cast<size_t>(y - top) * static_cast<size_t>(width) + x) * 3];
    }
};

// The sand: lighter towards the top, long soft ripples, fine grain.
void DrawSand(int width, int height, float unit, const Band& band) {
    for (int y = band.top; y < band.top + band.rows; ++y) {
        const float fy = static_cast<float>(y) / static_cast<float>(height);
        for (int x = 0; x < width; ++x) {
            const float px = static_cast<float>(x) / unit, py = static_cast<float>(y) / unit;
            const float warp = Noise(px * 3.0f, py * 3.0f);
            const float ripple = std::sin((py * 26.0f + px * 7.0f) + warp * 6.0f);
            const float grain = Noise(px * 90.0f, py * 90.0f) - 0.5f;
            const float shade = 1.0f + 0.05f * ripple + 0.04f * grain + 0.06f * (warp - 0.5f);
            float* out = band.At(width, x, y);
            out[0] = (0.86f - 0.14f * fy) * shade;
            out[1] = (0.79f - 0.15f * fy) * shade;
            out[2] = (0.64f - 0.16f * fy) * shade;
        }
    }
}

// The next pebble of the sequence: place, size, turn, colour, in that order.
Pebble NextPebble(Random& random, int width, int height, float unit) {
    Pebble p;
    p.cx = random.Range(0.0f, static_cast<float>(width));
    p.cy = random.Range(0.0f, static_cast<float>(height));
    const float size = unit * random.Range(0.025f, 0.07f);
    p.rx = size * random.Range(1.0f, 1.6f);
    p.ry = size * random.Range(0.7f, 1.0f);
    const float angle = random.Range(0.0f, 3.14159265f);
    p.cosA = std::cos(angle);
    p.sinA = std::sin(angle);
    const Colour& base = kStones[static_cast<int>(random.Next() * 6.0f) % 6];
    const float tint = random.Range(0.9f, 1.1f);
    p.colour = {base.r * tint, base.g * tint, base.b * tint};
    return p;
}

// One pixel at (fx, fy) under and around the pebble: its soft shadow, then
// the lit stone blended in over its rim.
void ShadePebblePixel(const Pebble& p, float unit, float fx, float fy, float* out) {
    const float shadowDx = unit * 0.008f, shadowDy = unit * 0.012f;
    float u = 0, v = 0;
    // Soft shadow, offset away from the light.
    const float ds = EllipseDistance(p, fx - shadowDx, fy - shadowDy, &u, &v);
    if (ds < 1.3f) {
        const float dark = 0.35f * std::clamp((1.3f - ds) / 0.5f, 0.0f, 1.0f);
        for (int c = 0; c < 3; ++c) out[c] *= 1.0f - dark;
    }
    const float d = EllipseDistance(p, fx, fy, &u, &v);
    if (d >= 1.0f) return;
    // A rounded top: the normal of a flattened dome.
    const float nz = std::sqrt(std::max(0.0f, 1.0f - d * d)) * 1.6f;
    const float len = std::sqrt(u * u + v * v + nz * nz);
    const float nx = u / len, ny = v / len, nzz = nz / len;
    // Rotate the light into the pebble's frame.
    const float lu = kLightX * p.cosA + kLightY * p.sinA;
    const float lv = -kLightX * p.sinA + kLightY * p.cosA;
    const float diffuse = std::max(0.0f, nx * lu + ny * lv + nzz * kLightZ);
    const float specular = std::pow(std::max(0.0f, nzz * 0.9f + diffuse * 0.1f), 40.0f) * 0.25f;
    const float speckle = 0.94f + 0.12f * Noise(fx / unit * 160.0f, fy / unit * 160.0f);
    const float edge = std::clamp((1.0f - d) * std::min(p.rx, p.ry), 0.0f, 1.0f);
    const float light = (0.35f + 0.75f * diffuse) * speckle;
    const float stone[3] = {p.colour.r * light + specular, p.colour.g * light + specular,
                            p.colour.b * light + specular};
    for (int c = 0; c < 3; ++c) out[c] += (stone[c] - out[c]) * edge;
}

// The pebble over the box of pixels it and its shadow can reach, within
// the band.
void DrawPebble(const Pebble& p, int width, int height, float unit, const Band& band) {
    const float reach = p.rx * 1.4f + unit * 0.02f;
    const int x0 = std::max(0, static_cast<int>(p.cx - reach));
    const int x1 = std::min(width - 1, static_cast<int>(p.cx + reach));
    const int y0 = std::max({0, static_cast<int>(p.cy - reach), band.top});
    const int y1 = std::min({height - 1, static_cast<int>(p.cy + reach), band.top + band.rows - 1});
    for (int y = y0; y <= y1; ++y) {
        for (int x = x0; x <= x1; ++x) {
            float* out = band.At(width, x, y);
            const float fx = static_cast<float>(x) + 0.5f, fy = static_cast<float>(y) + 0.5f;
            ShadePebblePixel(p, unit, fx, fy, out);
        }
    }
}

// The band's colours as RGBA bytes, into the image (bottom row first).
void StoreRgba(const Band& band, int width, int height, platform::RgbaImage* image) {
    for (int y = band.top; y < band.top + band.rows; ++y) {
        const float* in = band.At(width, 0, y);
        uint8_t* out = &image->pixels[static_cast<size_t>(height - 1 - y) * width * 4];
        for (int x = 0; x < width; ++x, in += 3, out += 4) {
            for (int c = 0; c < 3; ++c) {
                out[c] = static_cast<uint8_t>(std::clamp(in[c], 0.0f, 1.0f) * 255.0f + 0.5f);
            }
            out[3] = 255;
        }
    }
}

}  // namespace

bool DrawBuiltInPicture(int width, int height, platform::RgbaImage* image) {
    image->width = 0;
    image->height = 0;
    image->pixels.clear();
    if (width < 1 || height < 1 || width > 16384 || height > 16384) return false;
    const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
    const float unit = static_cast<float>(std::min(width, height));

    // The pebbles: about one per 5 % of the short side squared.
    Random random{0x6d657265u};
    std::vector<Pebble> pebbles(static_cast<size_t>(
        std::clamp(static_cast<int>(static_cast<float>(count) / (unit * unit) * 14.0f), 3, 400)));
    for (Pebble& p : pebbles) p = NextPebble(random, width, height, unit);

    // Drawn a band of rows at a time (every pixel is the sand, then each
    // pebble over it in turn), so the colours in floats take a band's
    // memory, not the whole picture's.
    constexpr int kBandRows = 64;
    image->width = width;
    image->height = height;
    image->pixels.resize(count * 4);
    std::vector<float> rgb(static_cast<size_t>(width) * kBandRows * 3);
    for (int top = 0; top < height; top += kBandRows) {
        const Band band{top, std::min(kBandRows, height - top), rgb.data()};
        DrawSand(width, height, unit, band);
        for (const Pebble& p : pebbles) DrawPebble(p, width, height, unit, band);
        StoreRgba(band, width, height, image);
    }
    return true;
}
