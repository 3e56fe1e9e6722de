// Filter section throughput in ns per sample of one channel: the per-sample form as the playback
// feed calls it, and the block form as the export calls it, for each filter type.

#include "dsp/TFilterSection.h"

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

namespace {

constexpr std::size_t kBlock = 4096;

kavrel::TFilterSection MakeSection(benchmark::State& state)
{
    kavrel::TFilterSection s;
    s.SetUseF0BW(true);
    s.SetPoleBW(20.0);
    s.SetPoleF0(200.0);
    s.SetZeroBW(200.0);
    s.SetZeroF0(200.0);
    s.SetSampFreq(44100.0);
    s.SetGain(0.5);
    s.SetFilterType(static_cast<kavrel::tfiltertype>(state.range(0)));
    return s;
}

std::vector<double> Noise()
{
    std::mt19937 gen(1);
    std::uniform_real_distribution<double> d(-32768.0, 32767.0);
    std::vector<double> v(kBlock);
    for (double& x : v)
        x = d(gen);
    return v;
}

void Report(benchmark::State& state)
{
    const auto samples = static_cast<double>(state.iterations()) * static_cast<double>(kBlock);
    state.SetItemsProcessed(static_cast<std::int64_t>(samples));
    state.counters["per_sample"] =
        benchmark::Counter(samples, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_PerSample(benchmark::State& state)
{
    kavrel::TFilterSection s = MakeSection(state);
    const std::vector<double> in = Noise();
    std::vector<double> out(kBlock);
    for (auto _ : state) {
        for (std::size_t i = 0; i < kBlock; ++i)
            out[i] = s.Process(in[i]);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    Report(state);
}

void BM_Block(benchmark::State& state)
{
    kavrel::TFilterSection s = MakeSection(state);
    const std::vector<double> in = Noise();
    std::vector<double> out(kBlock);
    for (auto _ : state) {
        s.ProcessBlock(in, out);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    Report(state);
}

// The playback feed's pattern: interleaved stereo, one section per channel, called per sample on
// sections the compiler cannot keep in registers. Reported per sample of one channel.
void BM_PerSampleStereoFeed(benchmark::State& state)
{
    kavrel::TFilterSection sections[2] = {MakeSection(state), MakeSection(state)};
    benchmark::DoNotOptimize(sections);
    const std::vector<double> in = Noise();
    std::vector<double> out(kBlock);
    for (auto _ : state) {
        for (std::size_t i = 0; i < kBlock; i += 2) {
            out[i] = sections[0].Process(in[i]);
            out[i + 1] = sections[1].Process(in[i + 1]);
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    Report(state);
}

// Argument: the filter type (0 none, 1 pole, 2 zero, 3 both).
BENCHMARK(BM_PerSample)->DenseRange(0, 3)->ArgName("type");
BENCHMARK(BM_Block)->DenseRange(0, 3)->ArgName("type");
BENCHMARK(BM_PerSampleStereoFeed)->Arg(3)->ArgName("type");

} // namespace

BENCHMARK_MAIN();
