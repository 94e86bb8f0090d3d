// The reduced frame's stretch on the processor: 960 × 540 to 1920 × 1080,
// into a whole frame and a quarter at a time into one band (as the window
// presenter puts it); StretchFourTimes: 960 × 540 to 3840 × 2160 a quarter
// at a time. ReadBack: the frame read back from the renderer (the
// headless software one) in the window's byte order, the one the frame is
// kept in, and in the other, which the renderer has to convert to.
#define GL_GLEXT_PROTOTYPES 1
#include <GL/gl.h>
#include <GL/glext.h>
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "headless_gl.h"
#include "host/frame_stretch.h"
#include "host/scaled_frame.h"

namespace {

constexpr int kWidth = 1920, kHeight = 1080;

std::vector<uint32_t> Source() {
    std::vector<uint32_t> src(static_cast<size_t>(kWidth / 2) * (kHeight / 2));
    uint32_t seed = 1;
    for (auto& p : src) p = seed = seed * 1664525u + 1013904223u;
    return src;
}

void StretchFrame(benchmark::State& state) {
    const std::vector<uint32_t> src = Source();
    const int bands = static_cast<int>(state.range(0));
    const int rows = kHeight / bands;
    std::vector<uint32_t> dst(static_cast<size_t>(kWidth) * rows);
    for (auto _ : state) {
        for (int top = 0; top < kHeight; top += rows) {
            StretchTwice(src.data(), kWidth / 2, kHeight / 2, dst.data(), kWidth, kHeight, top,
                         rows);
            benchmark::DoNotOptimize(dst.data());
        }
    }
}
BENCHMARK(StretchFrame)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond);

void StretchFourTimesFrame(benchmark::State& state) {
    const std::vector<uint32_t> src = Source();
    const int rows = 2 * kHeight / 4;
    std::vector<uint32_t> dst(static_cast<size_t>(2 * kWidth) * rows);
    for (auto _ : state) {
        for (int top = 0; top < 2 * kHeight; top += rows) {
            StretchFourTimes(src.data(), kWidth / 2, kHeight / 2, dst.data(), 2 * kWidth,
                             2 * kHeight, top, rows);
            benchmark::DoNotOptimize(dst.data());
        }
    }
}
BENCHMARK(StretchFourTimesFrame)->Unit(benchmark::kMillisecond);

// Arg 0: GL_BGRA, the window's order and the frame's; 1: GL_RGBA.
void ReadBack(benchmark::State& state) {
    HeadlessGL gl(kWidth, kHeight);
    ScaledFrame frame;
    if (!gl.ok() || !frame.Create(kWidth, kHeight, 50)) {
        state.SkipWithError("no reduced frame");
        return;
    }
    const GLenum format = state.range(0) == 0 ? GL_BGRA : GL_RGBA;
    std::vector<uint32_t> pixels(static_cast<size_t>(frame.width()) * frame.height());
    for (auto _ : state) {
        frame.Bind();
        glClearColor(0.2f, 0.4f, 0.6f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        glReadPixels(0, 0, frame.width(), frame.height(), format, GL_UNSIGNED_BYTE, pixels.data());
        benchmark::DoNotOptimize(pixels.data());
    }
}
BENCHMARK(ReadBack)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
