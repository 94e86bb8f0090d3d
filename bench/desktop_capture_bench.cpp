// The one-off costs of taking the desktop picture when a view is created:
// the built-in picture, the blur or pixelation of a private desktop, and
// the rescale and upload of a 1920 × 1080 image into a headless context.
// None runs per frame.
#include <benchmark/benchmark.h>

#include "view/built_in_picture.h"
#include "view/desktop_capture.h"
#include "view/desktop_privacy.h"

namespace {

void BuiltInPicture1080p(benchmark::State& state) {
    platform::RgbaImage image;
    for (auto _ : state) {
        DrawBuiltInPicture(1920, 1080, &image);
        benchmark::DoNotOptimize(image.pixels.data());
    }
}
BENCHMARK(BuiltInPicture1080p)->Unit(benchmark::kMillisecond);

// A fresh copy of the picture each time, outside the timing: the filter
// changes it in place.
void Private1080p(benchmark::State& state, DesktopPrivacy privacy) {
    platform::RgbaImage desktop;
    DrawBuiltInPicture(1920, 1080, &desktop);
    platform::RgbaImage image;
    for (auto _ : state) {
        state.PauseTiming();
        image = desktop;
        state.ResumeTiming();
        ProtectDesktopPicture(privacy, &image);
        benchmark::DoNotOptimize(image.pixels.data());
    }
}
BENCHMARK_CAPTURE(Private1080p, Blurred, DesktopPrivacy::Blurred)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Private1080p, Pixelated, DesktopPrivacy::Pixelated)
    ->Unit(benchmark::kMillisecond);

void RescaleAndUpload1080p(benchmark::State& state) {
    std::string error;
    platform::View* view = platform::CreateHeadlessView(16, 16, &error);
    if (!view) {
        state.SkipWithError(error.c_str());
        return;
    }
    platform::RgbaImage image;
    DrawBuiltInPicture(1920, 1080, &image);
    uint32_t name = 0;
    for (auto _ : state) {
        UploadDesktopTexture(&name, image.pixels.data(), 1920, 1080);
    }
    platform::DestroyView(view);
}
BENCHMARK(RescaleAndUpload1080p)->Unit(benchmark::kMillisecond);

}  // namespace
