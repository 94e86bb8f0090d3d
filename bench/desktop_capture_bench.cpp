// The one-off costs of taking the desktop picture when a view is created:
// the built-in picture, and the rescale and upload of a 1920 × 1080 image
// into a headless context. Neither runs per frame.
#include <benchmark/benchmark.h>

#include "view/desktop_capture.h"
#include "view/desktop_picture.h"

namespace {

void BuiltInPicture1080p(benchmark::State& state) {
    platform::RgbaImage image;
    for (auto _ : state) {
        DrawBuiltInPicture(1920, 1080, &image);
        benchmark::DoNotOptimize(image.pixels.data());
    }
}
BENCHMARK(BuiltInPicture1080p)->Unit(benchmark::kMillisecond);

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
