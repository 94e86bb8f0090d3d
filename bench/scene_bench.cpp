// One scene frame as the host runs it, Update, projection step and Draw,
// finished by the renderer, at 1920 x 1080 with a 2048 x 1024 desktop
// texture, for water grids of 64 and 256 points a side. Headless Mesa
// software rendering: the frame rate is a floor for real hardware.
//
// CausticsCost: the same frames at the default grid, by turns without and
// with the light on the floor in one scene, so that both see the same load
// of a shared machine; at 1920 x 1080 and at the 960 x 540 that the saver
// draws for such a view on a software renderer.
#include <benchmark/benchmark.h>
#include <time.h>

#include <chrono>

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

// Seconds of processor time of the whole process, the renderer's threads
// included.
double ProcessSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// One iteration: a frame without the light on the floor, then one with it.
// Counters: the mean wall-clock and processor milliseconds of each kind and
// what the light adds, in percent.
void CausticsCost(benchmark::State& state) {
    const int height = static_cast<int>(state.range(0));
    SceneRig rig(height * 16 / 9, height);
    if (!rig.gl.ok()) {
        state.SkipWithError(rig.gl.error().c_str());
        return;
    }
    SETTINGS settings = TestSettings(6);
    settings.CAUSTICS = true;
    if (!rig.Setup(settings)) {
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
    // Off turns are drawn as with the setting off.
    double seconds[2] = {0.0, 0.0}, cpu[2] = {0.0, 0.0};
    using Clock = std::chrono::steady_clock;
    for (auto _ : state) {
        for (int on = 0; on < 2; ++on) {
            rig.scene.caustics = on != 0;
            const Clock::time_point start = Clock::now();
            const double startCpu = ProcessSeconds();
            rig.Frame(1.0 / 60.0);
            glFinish();
            seconds[on] += std::chrono::duration<double>(Clock::now() - start).count();
            cpu[on] += ProcessSeconds() - startCpu;
        }
    }
    const double frames = static_cast<double>(state.iterations());
    state.counters["off_ms"] = seconds[0] * 1000.0 / frames;
    state.counters["on_ms"] = seconds[1] * 1000.0 / frames;
    state.counters["added_pct"] = (seconds[1] / seconds[0] - 1.0) * 100.0;
    state.counters["off_cpu_ms"] = cpu[0] * 1000.0 / frames;
    state.counters["on_cpu_ms"] = cpu[1] * 1000.0 / frames;
    state.counters["added_cpu_pct"] = (cpu[1] / cpu[0] - 1.0) * 100.0;
}

BENCHMARK(CausticsCost)->Arg(540)->Arg(1080)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
