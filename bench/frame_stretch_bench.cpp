// The reduced frame's stretch on the processor: 960 × 540 to 1920 × 1080,
// into a whole frame and a quarter at a time into one band (as the window
// presenter puts it).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "app/frame_stretch.h"

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

}  // namespace

BENCHMARK_MAIN();
