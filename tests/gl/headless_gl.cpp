// Headless OpenGL for tests: a thin wrapper of the platform's headless view.
#include "headless_gl.h"

#include <GL/gl.h>

#include <cstdio>
#include <cstdlib>

#include "platform/platform.h"

HeadlessGL::HeadlessGL(int width, int height) {
    // Never pick up a GPU, never write a shader cache into the home folder.
    setenv("LIBGL_ALWAYS_SOFTWARE", "1", 0);
    setenv("MESA_SHADER_CACHE_DISABLE", "true", 0);
    view_ = platform::CreateHeadlessView(width, height, &error_);
    if (!view_) return;
    width_ = width;
    height_ = height;
    glViewport(0, 0, width, height);
    ok_ = true;
}

HeadlessGL::~HeadlessGL() {
    if (view_) platform::DestroyView(view_);
}

bool HeadlessGL::Resize(int width, int height) {
    if (!view_ || !platform::ResizeView(view_, width, height)) return false;
    width_ = width;
    height_ = height;
    glViewport(0, 0, width, height);
    return true;
}

void HeadlessGL::MakeCurrent() {
    if (view_) platform::MakeViewCurrent(view_);
}

std::vector<uint8_t> HeadlessGL::ReadPixels() const {
    std::vector<uint8_t> pixels(static_cast<size_t>(width_) * height_ * 4);
    glFinish();
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width_, height_, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    return pixels;
}

uint32_t HeadlessGL::PixelAt(const std::vector<uint8_t>& pixels, int x, int y) const {
    const size_t i = (static_cast<size_t>(y) * width_ + x) * 4;
    return (uint32_t{pixels[i]} << 24) | (uint32_t{pixels[i + 1]} << 16) |
           (uint32_t{pixels[i + 2]} << 8) | pixels[i + 3];
}

bool HeadlessGL::WritePPM(const std::string& path, const std::vector<uint8_t>& rgba, int width,
                          int height) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    std::fprintf(f, "P6\n%d %d\n255\n", width, height);
    for (int y = height - 1; y >= 0; --y) {
        for (int x = 0; x < width; ++x) {
            std::fwrite(&rgba[(static_cast<size_t>(y) * width + x) * 4], 1, 3, f);
        }
    }
    return std::fclose(f) == 0;
}
