// Speed of the water step: the library's Update on every code path the
// processor runs, and the plain step of tests/water beside it, for the grid
// sides 16 ... 256. Reports nanoseconds per grid point.
#include <benchmark/benchmark.h>

#include <random>

#include "plain_water_step.h"
#include "water/water.h"
#include "water/water_step.h"

namespace {

// A rippled field with the bowl half grown, so that both sides of every
// branch are taken.
void Prepare(WATERCLASS& water, uint16_t shift) {
    water.Initialize(shift, 64.0f, true, 1.0f);
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    for (uint32_t i = 0; i < water.VertexCount; ++i) {
        water.Cells[i].Height = u(rng);
        water.Cells[i].Velocity = u(rng) * 0.05f;
    }
    water.BowlLevel = 1200.0f;
}

void Report(benchmark::State& state, const WATERCLASS& water) {
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * water.VertexCount);
    state.counters["ns/point"] = benchmark::Counter(
        static_cast<double>(water.VertexCount) * 1e-9,
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void RunUpdate(benchmark::State& state, WaterPath path) {
    if (!SelectWaterPath(path)) {
        state.SkipWithError("processor lacks this path");
        return;
    }
    WATERCLASS water;
    Prepare(water, static_cast<uint16_t>(state.range(0)));
    VECTOR3D eye = {0.0f, 40.0f, 50.0f};
    for (auto _ : state) {
        water.Update(eye, 1.0 / 60.0);
        benchmark::DoNotOptimize(water.Vertices);
        benchmark::ClobberMemory();
    }
    Report(state, water);
    state.SetLabel(WaterPathName(CurrentWaterPath()));
    SelectWaterPath(WaterPath::Auto);
}

void BM_WaterUpdate(benchmark::State& state) { RunUpdate(state, WaterPath::Auto); }
void BM_WaterUpdateScalar(benchmark::State& state) { RunUpdate(state, WaterPath::Scalar); }
void BM_WaterUpdateSse2(benchmark::State& state) { RunUpdate(state, WaterPath::Sse2); }
void BM_WaterUpdateAvx(benchmark::State& state) { RunUpdate(state, WaterPath::Avx); }
void BM_WaterUpdateAvx512(benchmark::State& state) { RunUpdate(state, WaterPath::Avx512); }

void BM_PlainWaterStep(benchmark::State& state) {
    WATERCLASS water;
    Prepare(water, static_cast<uint16_t>(state.range(0)));
    const VECTOR3D eye = {0.0f, 40.0f, 50.0f};
    for (auto _ : state) {
        PlainWaterStep(water, eye, 1.0 / 60.0);
        benchmark::DoNotOptimize(water.Vertices);
        benchmark::ClobberMemory();
    }
    Report(state, water);
}

// Grid shifts 4 ... 8: sides 16, 32, 64, 128, 256.
BENCHMARK(BM_WaterUpdate)->DenseRange(4, 8);
BENCHMARK(BM_PlainWaterStep)->DenseRange(4, 8);
BENCHMARK(BM_WaterUpdateScalar)->DenseRange(4, 8);
BENCHMARK(BM_WaterUpdateSse2)->DenseRange(4, 8);
BENCHMARK(BM_WaterUpdateAvx)->DenseRange(4, 8);
BENCHMARK(BM_WaterUpdateAvx512)->DenseRange(4, 8);

}  // namespace

BENCHMARK_MAIN();
