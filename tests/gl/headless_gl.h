// HeadlessGL: an offscreen OpenGL context for rendering tests, on the
// program's own headless view (EGL on Mesa's software renderer: surfaceless
// platform, desktop OpenGL, compatibility profile, a pbuffer with 8-bit RGBA
// colour and a depth buffer). Needs no display and no GPU. The context is
// current on the calling thread from construction until destruction.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {
struct View;
}

class HeadlessGL {
public:
    HeadlessGL(int width, int height);
    ~HeadlessGL();
    HeadlessGL(const HeadlessGL&) = delete;
    HeadlessGL& operator=(const HeadlessGL&) = delete;

    // False when no context could be made; error() then says why.
    bool ok() const { return ok_; }
    const std::string& error() const { return error_; }

    int width() const { return width_; }
    int height() const { return height_; }

    // Replaces the drawing surface with one of a new size (contents
    // undefined) and sets the viewport to cover it.
    bool Resize(int width, int height);
    void MakeCurrent();

    // glFinish, then the whole surface as RGBA bytes, bottom row first.
    std::vector<uint8_t> ReadPixels() const;
    // One pixel (x from the left, y from the bottom) as 0xRRGGBBAA.
    uint32_t PixelAt(const std::vector<uint8_t>& pixels, int x, int y) const;

    // Writes RGBA pixels (bottom row first) as a binary PPM, top row first,
    // for looking at a failed test's picture.
    static bool WritePPM(const std::string& path, const std::vector<uint8_t>& rgba, int width,
                         int height);

private:
    bool ok_ = false;
    std::string error_;
    int width_ = 0;
    int height_ = 0;
    platform::View* view_ = nullptr;
};
