// Editing the programs list of a large XScreenSaver init file: 4000 entries
// (about 240 KB), with this program's entry once at the end, or on every
// line (a list that many adds of an older build left).
#include <benchmark/benchmark.h>

#include <string>

#include "listing/xscreensaver_programs.h"

namespace {

const std::string kProgram = "/usr/lib/mereglass";
constexpr int kEntries = 4000;

// A file as the settings program writes it, `ours` of its entries this
// program's, spread evenly.
std::string LargeFile(int ours) {
    std::string file = "mode:\t\tone\n\nprograms:\t\t\t      \\\n";
    for (int i = 0; i < kEntries; ++i) {
        if ((i + 1) % (kEntries / ours) == 0) {
            file += ProgramsEntryText(kProgram) + "\\\n";
        } else {
            file += "  GL: \t\t\t\thack" + std::to_string(i) + " --root\t\t\t    \\n\\\n";
        }
    }
    return file + "\n\nfade:\t\tTrue\n";
}

void RemoveFromLargeFile(benchmark::State& state) {
    const std::string file = LargeFile(static_cast<int>(state.range(0)));
    ProgramsEdit edit;
    std::string error;
    for (auto _ : state) {
        if (!RemoveProgramsEntry(file, kProgram, &edit, &error)) state.SkipWithError(error.c_str());
        benchmark::DoNotOptimize(edit.text.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(file.size()));
}
BENCHMARK(RemoveFromLargeFile)->Arg(1)->Arg(kEntries)->Unit(benchmark::kMillisecond);

void AddToLargeFile(benchmark::State& state) {
    std::string file = LargeFile(1);
    ProgramsEdit edit;
    std::string error;
    RemoveProgramsEntry(file, kProgram, &edit, &error);
    file = edit.text;
    for (auto _ : state) {
        if (!AddProgramsEntry(file, std::nullopt, kProgram, &edit, &error)) {
            state.SkipWithError(error.c_str());
        }
        benchmark::DoNotOptimize(edit.text.data());
    }
}
BENCHMARK(AddToLargeFile)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
