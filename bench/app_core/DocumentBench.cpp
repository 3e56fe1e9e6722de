// The document's hot paths: filling one player block (4096 values, filtered and raw), the
// export's two passes, the level analysis and the loudness, on generated stereo sound at 44100 Hz.

#include "app/core/ExportLanes.h"
#include "app/core/KWeighting.h"
#include "app/core/LevelAnalysis.h"
#include "app/core/Loudness.h"
#include "app/core/SoundExport.h"
#include "app/core/TSoundDocument.h"
#include "app/core/TruePeak.h"
#include "audio/testing/TFakeWaveOutDevice.h"
#include "audio/testing/TManualEventQueue.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <numbers>
#include <random>
#include <string>
#include <vector>

using namespace kavrel;

namespace {

TWav StereoSound(double seconds)
{
    TWav w;
    w.SetSampleRate(44100);
    w.SetChannels(2);
    const auto n = static_cast<std::int64_t>(seconds * 44100.0);
    w.SetLength(n);
    std::mt19937 gen(1);
    std::uniform_int_distribution<int> noise(-2000, 2000);
    for (std::int64_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / 44100.0;
        w.SetSample(0, i,
                    static_cast<std::int16_t>(12000.0 * std::sin(2 * std::numbers::pi * 220.0 * t) +
                                              noise(gen)));
        w.SetSample(1, i,
                    static_cast<std::int16_t>(9000.0 * std::sin(2 * std::numbers::pi * 330.0 * t) +
                                              noise(gen)));
    }
    return w;
}

TFilterSection SliderDefaults(TFilterSection s)
{
    s.SetGain(std::pow(10.0, -10.0 / 20.0));
    s.SetPoleF0(100.0);
    s.SetPoleBW(100.0);
    s.SetZeroF0(100.0);
    s.SetZeroBW(100.0);
    return s;
}

void BM_FillBlock(benchmark::State& state)
{
    TManualEventQueue queue;
    TSoundDocument doc(std::make_unique<TFakeWaveOutDevice>(), queue);
    doc.SourceWav() = StereoSound(10.0);
    doc.FilterSection1() = SliderDefaults(doc.FilterSection1());
    doc.FilterSection2() = SliderDefaults(doc.FilterSection2());
    doc.SetUseFilter(state.range(0) != 0);
    doc.SetRawGain(0.3162);
    doc.StartPlay();
    std::vector<std::int16_t> block(TSoundDocument::ChunkSamples);
    // filter 2: the pole moved before every block, as a swept slider does, so that every block
    // fades from the old design to the new one.
    const bool sweep = state.range(0) == 2;
    double poleF0 = 100.0;
    for (auto _ : state) {
        if (sweep) {
            poleF0 = poleF0 == 100.0 ? 104.7 : 100.0;
            doc.FilterSection1().SetPoleF0(poleF0);
            doc.FilterSection2().SetPoleF0(poleF0);
        }
        int count = static_cast<int>(block.size());
        bool finished = false;
        doc.MPCPlay1Stash(doc.MPCPlay1(), block, count, finished);
        benchmark::DoNotOptimize(block.data());
    }
    state.SetItemsProcessed(state.iterations() * TSoundDocument::ChunkSamples);
    doc.StopPlay();
}
BENCHMARK(BM_FillBlock)->Arg(1)->Arg(0)->Arg(2)->ArgName("filter")->Unit(benchmark::kMicrosecond);

const TWav& Minute()
{
    static const TWav sound = StereoSound(60.0);
    return sound;
}

void BM_ExportPeakPass(benchmark::State& state)
{
    const TFilterSection filter = SliderDefaults(TFilterSection{});
    for (auto _ : state)
        benchmark::DoNotOptimize(FilteredPeak(Minute(), filter));
    state.SetItemsProcessed(state.iterations() * Minute().Length() * 2);
}
BENCHMARK(BM_ExportPeakPass)->Unit(benchmark::kMillisecond);

// Both passes and the file, for one minute of stereo.
void BM_ExportFile(benchmark::State& state)
{
    const TFilterSection filter = SliderDefaults(TFilterSection{});
    const std::string path =
        (std::filesystem::temp_directory_path() / "kavrel-bench-export.wav").string();
    TWav scratch;
    TDitherRandom dither;
    for (auto _ : state)
        benchmark::DoNotOptimize(ExportFiltered(Minute(), filter, scratch, path, dither));
    std::filesystem::remove(path);
    state.SetItemsProcessed(state.iterations() * Minute().Length() * 2);
}
BENCHMARK(BM_ExportFile)->Unit(benchmark::kMillisecond);

// The lane path the benchmark's first argument indexes in LanePaths(), named in its label; null
// (and the benchmark skipped) when the processor does not run it.
const detail::TLanePath* LanePathOf(benchmark::State& state)
{
    static const std::vector<detail::TLanePath> paths = detail::LanePaths();
    const auto index = static_cast<std::size_t>(state.range(0));
    if (index >= paths.size()) {
        state.SkipWithError("the processor does not run this path");
        return nullptr;
    }
    state.SetLabel(paths[index].Name);
    return &paths[index];
}

// The export's lanes alone, two jobs at a time, on each path the processor runs (the argument
// indexes LanePaths()): interleaved stereo output, as the write pass fills it.
void BM_ExportLanes(benchmark::State& state)
{
    const detail::TLanePath* path = LanePathOf(state);
    if (path == nullptr)
        return;
    const detail::TKernel kernel(SliderDefaults(TFilterSection{}));
    const auto frames = static_cast<std::size_t>(detail::CheckpointFrames * detail::Lanes);
    const std::span<const std::int16_t> in = Minute().ChannelSamples(0).first(2 * frames);
    std::vector<std::int16_t> out(2 * frames);
    const std::vector<detail::TDelayLine> start(2 * detail::Lanes);
    detail::TLaneJob jobs[2];
    for (std::size_t c = 0; c < 2; ++c) {
        detail::TLaneJob& job = jobs[c];
        job = {&kernel, 0.5, in.data() + c * frames, 1, start.data() + c * detail::Lanes,
               {},      2,   out.data() + c,         2};
        for (int j = 0; j < detail::Lanes; ++j)
            job.State[j] = static_cast<std::uint64_t>(j) << 40;
    }
    for (auto _ : state) {
        path->Fill(jobs[0], &jobs[1]);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(2 * frames));
}
BENCHMARK(BM_ExportLanes)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);

// The export's peak pass over one checkpoint stretch of 2 and of 8 channels (the minute's two,
// repeated) on each path the processor runs (the first argument indexes LanePaths()).
void BM_ExportPeakLanes(benchmark::State& state)
{
    const detail::TLanePath* path = LanePathOf(state);
    if (path == nullptr)
        return;
    const auto channels = static_cast<std::int32_t>(state.range(1));
    TFilterSection filter = SliderDefaults(TFilterSection{});
    filter.SetSampFreq(44100.0);
    const detail::TKernel kernel(filter);
    std::vector<const std::int16_t*> in;
    for (std::int32_t c = 0; c < channels; ++c)
        in.push_back(Minute().ChannelSamples(c % 2).data() + c * 7);
    std::vector<detail::TDelayLine> lines(static_cast<std::size_t>(channels));
    std::vector<double> peaks(static_cast<std::size_t>(channels));
    for (auto _ : state) {
        path->Peaks(kernel, in.data(), 1, detail::CheckpointFrames, channels, lines.data(),
                    peaks.data());
        benchmark::DoNotOptimize(peaks.data());
    }
    state.SetItemsProcessed(state.iterations() * detail::CheckpointFrames * channels);
}
BENCHMARK(BM_ExportPeakLanes)
    ->ArgsProduct({{0, 1, 2}, {2, 8}})
    ->ArgNames({"path", "channels"})
    ->Unit(benchmark::kMicrosecond);

void BM_AnalyzeLevels(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(AnalyzeLevels(Minute()));
    state.SetItemsProcessed(state.iterations() * Minute().Length() * 2);
}
BENCHMARK(BM_AnalyzeLevels)->Unit(benchmark::kMillisecond);

// A minute of 96 kHz noise in eight channels.
const TWav& WideMinute()
{
    static const TWav sound = [] {
        TWav w;
        w.SetSampleRate(96000);
        w.SetChannels(8);
        w.SetLength(96000 * 60);
        std::mt19937 gen(2);
        std::uniform_int_distribution<int> noise(-12000, 12000);
        for (std::int32_t c = 0; c < 8; ++c)
            for (std::int64_t i = 0; i < w.Length(); ++i)
                w.SetSample(c, i, static_cast<std::int16_t>(noise(gen)));
        return w;
    }();
    return sound;
}

// The window's loudness of a loaded sound, interleaved block by block for the meter: a minute of
// stereo (0) and of eight channels at 96 kHz (1).
void BM_AnalyzeLoudness(benchmark::State& state)
{
    const TWav& sound = state.range(0) == 0 ? Minute() : WideMinute();
    for (auto _ : state)
        benchmark::DoNotOptimize(AnalyzeLoudness(sound));
    state.SetItemsProcessed(state.iterations() * sound.Length() * sound.Channels());
}
BENCHMARK(BM_AnalyzeLoudness)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("wide")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The loudness meter's two threads' work on their own, one thread each in the meter: the
// K-weighting (0) and the true peak (1) of a megabyte of 8-channel 96 kHz values at a time, as
// the meter's slots hand them on. KAVREL_SIMD picks the vector path.
void BM_LoudnessPart(benchmark::State& state)
{
    const TWav& sound = WideMinute();
    std::vector<std::int16_t> slot(std::size_t{1} << 19);
    for (std::size_t i = 0; i < slot.size(); ++i)
        slot[i] = sound.Sample(static_cast<std::int32_t>(i % 8), static_cast<std::int64_t>(i / 8));
    TKWeighting weighting(8, 96000);
    for (auto _ : state) {
        if (state.range(0) == 0) {
            weighting.Add(slot);
        } else {
            // A meter of its own each time: one that has seen the slot leaves out all of it.
            TTruePeak peak(8, 96000);
            peak.Add(slot);
            benchmark::DoNotOptimize(peak.Peak());
        }
    }
    benchmark::DoNotOptimize(weighting.Segments().data());
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(slot.size()));
}
BENCHMARK(BM_LoudnessPart)->Arg(0)->Arg(1)->ArgName("truepeak")->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
