// The recent-files ini as the window uses it at its close: read the file, write one section,
// flush (which reads the file again, merges and writes it). The figure that matters is the time
// over the number of sections: it must grow in proportion, not as its square (20000 sections
// once took 16 s). The file is made in the temporary folder and removed at the end.
#include "menus/qt/TIniStore.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

namespace {

void IniReadWriteFlush(benchmark::State& state)
{
    const auto folder =
        std::filesystem::temp_directory_path() / ("kavrel-bench-ini-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const std::string name = (folder / "Kavrel.ini").string();
    {
        std::ofstream out(name);
        for (std::int64_t i = 0; i < state.range(0); ++i)
            out << "[Section" << i << "]\nkey=\"" << std::string(90, 'v') << "\"\n\n";
    }
    for (auto _ : state) {
        kavrel::TIniStore store(name);
        store.WriteString("Windows", "Main", "geometry");
        store.WriteInteger("Windows", "FilterControlsVisible", 1);
        store.Flush();
    }
    state.SetComplexityN(state.range(0));
    std::filesystem::remove_all(folder);
}

BENCHMARK(IniReadWriteFlush)
    ->RangeMultiplier(4)
    ->Range(1250, 20000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity();

} // namespace

BENCHMARK_MAIN();
