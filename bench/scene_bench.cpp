// One scene frame as the host runs it, Update, projection step and Draw,
// finished by the renderer, at 1920 x 1080 with a 2048 x 1024 desktop
// texture, for water grids of 64 and 256 points a side. Headless Mesa
// software rendering: the frame rate is a floor for real hardware.
#include <benchmark/benchmark.h>

#include "scene_rig.h"

namespace {

void SceneFrame(benchmark::State& state) {
    const int shift = static_cast<int>(state.range(0));
    SceneRig rig(1920, 1080);
    if (!rig.gl.ok()) {
        state.SkipWithError(rig.gl.error().c_str());
        return;
    }
    if (!rig.Setup(TestSettings(shift))) {
        state.SkipWithError("Setup failed");
        return;
    }
    InstallRecords(rig.scene, {0, 0x00FF00FF, 0xFFFF00FF, 0x00FFFFFF, 0xFF0000FF, 0xFF0000FF});
    rig.scene.deskTexture = MakeTexture(2048, 1024, [](int x, int y) {
        return (static_cast<uint32_t>(x & 0xFF) << 24) | (static_cast<uint32_t>(y & 0xFF) << 16) |
               0x80FFu;
    });
    for (int i = 0; i < 30; ++i) rig.Frame(1.0 / 60.0);
    glFinish();
    for (auto _ : state) {
        rig.Frame(1.0 / 60.0);
        glFinish();
    }
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["N"] = 1 << shift;
}

BENCHMARK(SceneFrame)->Arg(6)->Arg(8)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
