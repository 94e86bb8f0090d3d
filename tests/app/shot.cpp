// Shot: reading a binary PPM, and comparing pictures pixel by pixel.
#include "shot.h"

#include <fstream>

bool ReadPpm(const std::string& path, Shot* shot) {
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    int maxValue = 0;
    in >> magic >> shot->width >> shot->height >> maxValue;
    in.get();
    if (magic != "P6" || maxValue != 255 || shot->width <= 0 || shot->height <= 0) return false;
    shot->rgb.resize(static_cast<size_t>(shot->width) * shot->height * 3);
    in.read(reinterpret_cast<char*>(shot->rgb.data()),
            static_cast<std::streamsize>(shot->rgb.size()));
    return in.good();
}

Shot Part(const Shot& s, int x, int y, int width, int height) {
    Shot p;
    p.width = width;
    p.height = height;
    for (int row = y; row < y + height; ++row) {
        const auto from = s.rgb.begin() + (static_cast<ptrdiff_t>(row) * s.width + x) * 3;
        p.rgb.insert(p.rgb.end(), from, from + static_cast<ptrdiff_t>(width) * 3);
    }
    return p;
}

int Differing(const Shot& a, const Shot& b) {
    int n = 0;
    for (size_t i = 0; i + 2 < a.rgb.size() && i + 2 < b.rgb.size(); i += 3) {
        n += a.rgb[i] != b.rgb[i] || a.rgb[i + 1] != b.rgb[i + 1] || a.rgb[i + 2] != b.rgb[i + 2];
    }
    return n;
}
