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
#include <cmath>
#include <vector>

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

// A desktop picture with detail at every scale: the texel (x, y) of a
// 2048 x 1024 texture, repeating as the desktop's does.
uint32_t BusyTexel(int x, int y) {
    const uint32_t r = static_cast<uint32_t>((x * 7) ^ (y * 13)) & 0xFF;
    const uint32_t g = static_cast<uint32_t>(((x >> 3) + (y >> 2)) * 29) & 0xFF;
    const uint32_t b = ((x / 6 + y / 9) & 1) ? 0xE0u : 0x20u;
    return (r << 24) | (g << 16) | (b << 8) | 0xFFu;
}

// One iteration: the water drawn through the renderer, then on the
// processor, each frame finished. Counters: processor milliseconds of each
// and the PSNR of the second against the first (same water, same light).
void SoftwareWaterCost(benchmark::State& state) {
    const int height = static_cast<int>(state.range(0));
    const int width = height * 16 / 9;
    SceneRig rig(width, height);
    if (!rig.gl.ok()) {
        state.SkipWithError(rig.gl.error().c_str());
        return;
    }
    if (!rig.Setup(TestSettings(6), true)) {
        state.SkipWithError("Setup failed");
        return;
    }
    // The desktop texture of such a frame: sides the frame's, rounded to
    // powers of two.
    const int tw = height == 540 ? 1024 : 2048, th = tw / 2;
    rig.scene.deskTexture = MakeTexture(tw, th, BusyTexel);
    std::vector<uint32_t> texels;
    const WaterPicture picture = CopyWaterPicture(rig.scene.deskTexture, &texels);
    glBindTexture(GL_TEXTURE_2D, rig.scene.deskTexture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    for (int i = 0; i < 300; ++i) rig.Frame(1.0 / 30.0);
    glFinish();

    std::vector<uint32_t> frame(static_cast<size_t>(width) * height);
    std::vector<WaterRasterVertex> vertices(rig.scene.water->VertexCount);
    WaterFrame software;
    software.picture = picture;
    software.pixels = frame.data();
    software.width = width;
    software.height = height;

    // The same water both ways: the light is put back between them.
    const VECTOR3D light = rig.scene.lightPos, target = rig.scene.lightTarget;
    HostReshape(width, height);
    rig.scene.Draw();
    std::vector<uint8_t> reference = rig.gl.ReadPixels();
    rig.scene.lightPos = light;
    rig.scene.lightTarget = target;
    rig.scene.waterFrame = &software;
    HostReshape(width, height);
    rig.scene.Draw();
    rig.scene.waterFrame = nullptr;
    double squares = 0.0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const uint32_t g = rig.gl.PixelAt(reference, x, y);            // 0xRRGGBBAA
            const uint32_t p = frame[static_cast<size_t>(y) * width + x];  // 0xAARRGGBB
            for (int ch = 0; ch < 3; ++ch) {
                const double d = static_cast<double>((g >> (24 - 8 * ch)) & 0xFF) -
                                 static_cast<double>((p >> (16 - 8 * ch)) & 0xFF);
                squares += d * d;
            }
        }
    }
    const double mse = squares / (3.0 * width * height);
    state.counters["psnr_db"] = mse > 0.0 ? 10.0 * std::log10(255.0 * 255.0 / mse) : 99.0;

    double cpu[2] = {0.0, 0.0};
    for (auto _ : state) {
        for (int on = 0; on < 2; ++on) {
            rig.scene.waterFrame = on != 0 ? &software : nullptr;
            const double startCpu = ProcessSeconds();
            rig.Frame(1.0 / 30.0);
            glFinish();
            cpu[on] += ProcessSeconds() - startCpu;
        }
    }
    rig.scene.waterFrame = nullptr;
    {
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        gluLookAt(0.0, 77.5, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, -1.0);
        glScalef(rig.scene.aspect, 1.0f, 1.0f);
        const WaterRasterState ws = CaptureWaterRasterState();
        const double t0 = ProcessSeconds();
        for (int i = 0; i < 50; ++i) {
            RasterizeWater(*rig.scene.water, ws, software.picture, false, vertices.data(),
                           frame.data(), width, height);
        }
        state.counters["raster_ms"] = (ProcessSeconds() - t0) * 1000.0 / 50.0;
    }
    const double frames = static_cast<double>(state.iterations());
    state.counters["gl_cpu_ms"] = cpu[0] * 1000.0 / frames;
    state.counters["sw_cpu_ms"] = cpu[1] * 1000.0 / frames;
}

BENCHMARK(SoftwareWaterCost)->Arg(540)->Arg(1080)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
