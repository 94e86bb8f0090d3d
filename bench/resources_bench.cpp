// Benchmarks of the resources subsystem: the shipped archive loaded and
// uploaded on the headless OpenGL context, and TGA decoding from a stream at
// growing image sizes (which should cost time in proportion to the pixels).
#include <GL/gl.h>
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "headless_gl.h"
#include "resources/resfile.h"
#include "resources/textures.h"
#include "resources/tga.h"

namespace {

HeadlessGL& Context() {
    static HeadlessGL gl(64, 64);
    return gl;
}

void BM_LoadShippedArchive(benchmark::State& state) {
    if (!Context().ok()) {
        state.SkipWithError(Context().error().c_str());
        return;
    }
    for (auto _ : state) {
        Texture* table = nullptr;
        int count = 0;
        const int ok = LoadTexturesFromDataFile(MEREGLASS_ARCHIVE_PATH, &table, &count);
        glFinish();
        benchmark::DoNotOptimize(ok);
        state.PauseTiming();
        if (!ok || count != 6) state.SkipWithError("the archive did not load");
        delete[] table;
        state.ResumeTiming();
    }
}
BENCHMARK(BM_LoadShippedArchive)->Unit(benchmark::kMillisecond);

// Decoding only: every image lump of the shipped archive, no upload.
void BM_DecodeShippedArchive(benchmark::State& state) {
    RESFILE res;
    if (!res.Open(MEREGLASS_ARCHIVE_PATH)) {
        state.SkipWithError("cannot open the archive");
        return;
    }
    for (auto _ : state) {
        for (uint32_t i = 0; i < res.header.count; ++i) {
            Texture t;
            res.SeekLump(static_cast<int>(i));
            benchmark::DoNotOptimize(LoadTGA2(&t, &res.stream));
        }
    }
}
BENCHMARK(BM_DecodeShippedArchive)->Unit(benchmark::kMicrosecond);

// An n × n 24-bit image of horizontal runs 1 to 16 pixels long.
std::vector<unsigned char> Pixels(int n) {
    std::vector<unsigned char> out;
    uint32_t seed = 12345;
    auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
    while (out.size() < size_t(n) * n * 3) {
        const uint32_t colour = next();
        for (uint32_t k = next() >> 28; k-- > 0 && out.size() < size_t(n) * n * 3;) {
            out.push_back(colour & 0xff);
            out.push_back(colour >> 8 & 0xff);
            out.push_back(colour >> 16 & 0xff);
        }
    }
    return out;
}

std::string WriteImage(int n, bool compressed) {
    const std::vector<unsigned char> pixels = Pixels(n);
    std::vector<unsigned char> file = {0,
                                       0,
                                       static_cast<unsigned char>(compressed ? 10 : 2),
                                       0,
                                       0,
                                       0,
                                       0,
                                       0,
                                       0,
                                       0,
                                       0,
                                       0,
                                       static_cast<unsigned char>(n & 0xff),
                                       static_cast<unsigned char>(n >> 8),
                                       static_cast<unsigned char>(n & 0xff),
                                       static_cast<unsigned char>(n >> 8),
                                       24,
                                       0};
    if (!compressed) {
        file.insert(file.end(), pixels.begin(), pixels.end());
    } else {
        const size_t count = pixels.size() / 3;
        auto same = [&](size_t a, size_t b) {
            return std::equal(&pixels[a * 3], &pixels[a * 3 + 3], &pixels[b * 3]);
        };
        for (size_t i = 0; i < count;) {
            size_t run = 1;
            while (i + run < count && run < 128 && same(i, i + run)) ++run;
            if (run > 1) {
                file.push_back(static_cast<unsigned char>(0x80 | (run - 1)));
                file.insert(file.end(), &pixels[i * 3], &pixels[i * 3 + 3]);
            } else {
                while (i + run < count && run < 128 &&
                       !(i + run + 1 < count && same(i + run, i + run + 1)))
                    ++run;
                file.push_back(static_cast<unsigned char>(run - 1));
                file.insert(file.end(), &pixels[i * 3], &pixels[(i + run) * 3]);
            }
            i += run;
        }
    }
    const std::string path = "/tmp/mereglass-bench-" + std::to_string(getpid()) +
                             (compressed ? "-rle" : "-raw") + std::to_string(n) + ".tga";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()), file.size());
    return path;
}

void Decode(benchmark::State& state, bool compressed) {
    const int n = static_cast<int>(state.range(0));
    const std::string path = WriteImage(n, compressed);
    std::ifstream stream(path, std::ios::binary);
    for (auto _ : state) {
        stream.clear();
        stream.seekg(0);
        Texture t;
        if (!LoadTGA2(&t, &stream)) state.SkipWithError("decoding failed");
        benchmark::DoNotOptimize(t.pixels);
    }
    state.SetComplexityN(int64_t{n} * n);
    state.SetItemsProcessed(state.iterations() * int64_t{n} * n);
    std::remove(path.c_str());
}

void BM_DecodeUncompressed(benchmark::State& state) { Decode(state, false); }
void BM_DecodeRunLength(benchmark::State& state) { Decode(state, true); }
BENCHMARK(BM_DecodeUncompressed)->RangeMultiplier(2)->Range(64, 1024)->Complexity(benchmark::oN);
BENCHMARK(BM_DecodeRunLength)->RangeMultiplier(2)->Range(64, 1024)->Complexity(benchmark::oN);

}  // namespace
