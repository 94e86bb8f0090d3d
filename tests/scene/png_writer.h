// WritePng: RGBA pixels as read back from OpenGL (bottom row first) into an
// 8-bit RGB PNG file (top row first), with libpng. For the pictures that
// the scene's frame tool writes and for looking at a failed test's frame.
#pragma once

#include <png.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// False when the file cannot be written.
inline bool WritePng(const std::string& path, const std::vector<uint8_t>& rgba, int width,
                     int height) {
    if (width <= 0 || height <= 0 ||
        rgba.size() < static_cast<size_t>(width) * static_cast<size_t>(height) * 4) {
        return false;
    }
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    std::vector<uint8_t> row(static_cast<size_t>(width) * 3);
    bool ok = false;
    if (info && setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, file);
        png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height),
                     8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                     PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        for (int y = height - 1; y >= 0; --y) {
            const uint8_t* src = &rgba[static_cast<size_t>(y) * width * 4];
            for (int x = 0; x < width; ++x) {
                row[x * 3 + 0] = src[x * 4 + 0];
                row[x * 3 + 1] = src[x * 4 + 1];
                row[x * 3 + 2] = src[x * 4 + 2];
            }
            png_write_row(png, row.data());
        }
        png_write_end(png, nullptr);
        ok = true;
    }
    png_destroy_write_struct(png ? &png : nullptr, info ? &info : nullptr);
    return std::fclose(file) == 0 && ok;
}
