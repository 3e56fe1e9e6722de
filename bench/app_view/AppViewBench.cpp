// Waveform plots of long sounds. The main figures: the columns of one 1920-pixel plot of a
// 60-minute 44.1 kHz stereo sound, whole and zoomed, from the summaries against the direct scan
// of every sample; the same whole-sound plot for 1, 10 and 60 minutes (the summaries should be
// flat in the length); and the time to build the summaries against the time to read the sound
// from a wave file in the page cache. The file is made in the temporary folder and removed at
// the end. Last, what the level meters cost per second of sound heard.
#include "app/view/PlotColumns.h"
#include "app/view/TLevelMeter.h"
#include "app/view/TSoundSummary.h"

#include "sound/TWav.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

using namespace kavrel;

constexpr std::int32_t kRate = 44100;
constexpr std::int64_t kMinute = 60LL * kRate;
constexpr int kPixels = 1920;

// A sixty-minute stereo sound: a slow random walk with noise on top, so that the extremes of a
// column depend on where it lies.
const TWav& Sound()
{
    static const std::unique_ptr<TWav> wav = [] {
        auto w = std::make_unique<TWav>();
        w->SetSampleRate(kRate);
        w->SetChannels(2);
        w->SetLength(60 * kMinute);
        std::uint32_t x = 12345;
        for (std::int32_t c = 0; c < 2; ++c) {
            int walk = 0;
            for (std::int16_t& s : w->MutableChannelSamples(c)) {
                x = x * 1664525u + 1013904223u;
                walk = std::clamp(walk + static_cast<int>(x >> 29) - 3, -20000, 20000);
                s = static_cast<std::int16_t>(walk + static_cast<int>((x >> 16) & 0x3ff) - 512);
            }
        }
        return w;
    }();
    return *wav;
}

const TSoundSummary& Summary()
{
    static const std::unique_ptr<TSoundSummary> summary = [] {
        auto s = std::make_unique<TSoundSummary>();
        s->Build(Sound());
        return s;
    }();
    return *summary;
}

// A linear time axis lo … hi seconds over kPixels pixels, as the axis maps its pixels.
TPixelToTime Axis(double lo, double hi)
{
    return [=](int p) { return std::min(hi, lo + p * (hi - lo) / (kPixels - 1)); };
}

// Visible span in seconds for the zoom argument: 0 the whole hour, 1 one minute, 2 one second,
// 3 ten milliseconds; the view starts at 17 minutes except for the whole hour.
void ZoomRange(std::int64_t zoom, double& lo, double& hi)
{
    static constexpr double spans[] = {3600.0, 60.0, 1.0, 0.01};
    lo = zoom == 0 ? 0.0 : 17 * 60.0 + 0.123;
    hi = lo + spans[zoom];
}

void BM_PlotColumnsSummary(benchmark::State& state)
{
    double lo = 0;
    double hi = 0;
    ZoomRange(state.range(0), lo, hi);
    const TWaveSummary& summary = Summary().Channel(0);
    const TPixelToTime axis = Axis(lo, hi);
    for (auto _ : state) {
        auto columns = PlotColumns(summary, kRate, kPixels, axis);
        benchmark::DoNotOptimize(columns.data());
    }
}
BENCHMARK(BM_PlotColumnsSummary)->DenseRange(0, 3)->Unit(benchmark::kMicrosecond);

void BM_PlotColumnsDirect(benchmark::State& state)
{
    double lo = 0;
    double hi = 0;
    ZoomRange(state.range(0), lo, hi);
    const auto samples = Sound().ChannelSamples(0);
    const TPixelToTime axis = Axis(lo, hi);
    for (auto _ : state) {
        auto columns = DirectPlotColumns(samples, kRate, kPixels, axis);
        benchmark::DoNotOptimize(columns.data());
    }
}
BENCHMARK(BM_PlotColumnsDirect)->DenseRange(0, 3)->Unit(benchmark::kMicrosecond);

// The whole sound in view, for sounds of 1, 10 and 60 minutes (prefixes of the hour).
void BM_WholeSoundSummary(benchmark::State& state)
{
    const std::int64_t minutes = state.range(0);
    const auto samples =
        Sound().ChannelSamples(0).first(static_cast<std::size_t>(minutes * kMinute));
    TWaveSummary summary;
    summary.Build(samples);
    const TPixelToTime axis = Axis(0, static_cast<double>(minutes) * 60.0);
    for (auto _ : state) {
        auto columns = PlotColumns(summary, kRate, kPixels, axis);
        benchmark::DoNotOptimize(columns.data());
    }
}
BENCHMARK(BM_WholeSoundSummary)->Arg(1)->Arg(10)->Arg(60)->Unit(benchmark::kMicrosecond);

void BM_WholeSoundDirect(benchmark::State& state)
{
    const std::int64_t minutes = state.range(0);
    const auto samples =
        Sound().ChannelSamples(0).first(static_cast<std::size_t>(minutes * kMinute));
    const TPixelToTime axis = Axis(0, static_cast<double>(minutes) * 60.0);
    for (auto _ : state) {
        auto columns = DirectPlotColumns(samples, kRate, kPixels, axis);
        benchmark::DoNotOptimize(columns.data());
    }
}
BENCHMARK(BM_WholeSoundDirect)->Arg(1)->Arg(10)->Arg(60)->Unit(benchmark::kMicrosecond);

// Building both channels' summaries of the hour, as a load does.
void BM_SummaryBuild60MinStereo(benchmark::State& state)
{
    const TWav& wav = Sound();
    TSoundSummary summary;
    for (auto _ : state) {
        summary.Build(wav);
        benchmark::DoNotOptimize(&summary);
    }
    state.SetBytesProcessed(state.iterations() * wav.Length() * wav.Channels() * 2);
}
// The machine may be shared: the least of several runs is the figure to compare.
double Least(const std::vector<double>& v)
{
    return *std::min_element(v.begin(), v.end());
}

BENCHMARK(BM_SummaryBuild60MinStereo)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime()
    ->Repetitions(5)
    ->ComputeStatistics("min", Least);

// The hour as a 16-bit stereo wave file (635 MB) in the temporary folder, made on first use
// and removed at exit.
struct TSoundFile {
    std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                   ("kavrel-bench-app-view-" + std::to_string(::getpid()));
    std::string path = (folder / "sixty-minutes-stereo16.wav").string();

    TSoundFile()
    {
        std::filesystem::create_directories(folder);
        Sound().WriteFile(path);
    }
    ~TSoundFile()
    {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
};

const std::string& SoundFile()
{
    static const TSoundFile file;
    return file.path;
}

// Reading the hour from the wave file in the page cache.
void BM_Load60MinStereo(benchmark::State& state)
{
    const std::string& path = SoundFile();
    for (auto _ : state) {
        TWav fresh;
        fresh.ReadFile(path);
        benchmark::DoNotOptimize(&fresh);
    }
    state.SetBytesProcessed(state.iterations() * Sound().Length() * Sound().Channels() * 2);
}
BENCHMARK(BM_Load60MinStereo)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime()
    ->Repetitions(5)
    ->ComputeStatistics("min", Least);

// A load followed by the summaries, as the window opens a file: the difference to the load alone
// is what the summaries add.
void BM_LoadAndSummarise60MinStereo(benchmark::State& state)
{
    const std::string& path = SoundFile();
    TSoundSummary summary;
    for (auto _ : state) {
        TWav fresh;
        fresh.ReadFile(path);
        summary.Build(fresh);
        benchmark::DoNotOptimize(&summary);
        summary.Clear();
    }
    state.SetBytesProcessed(state.iterations() * Sound().Length() * Sound().Channels() * 2);
}
BENCHMARK(BM_LoadAndSummarise60MinStereo)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime()
    ->Repetitions(5)
    ->ComputeStatistics("min", Least);

// What the level meters cost while a sound plays: one second of 44.1 kHz sound of 1, 2 and 8
// channels, added in the pieces the meters take it in (50 ms while they are shown). The time per
// iteration is the meters' share of a second of playback.
void BM_LevelMeterOneSecond(benchmark::State& state)
{
    const auto channels = static_cast<int>(state.range(0));
    const std::span<const std::int16_t> noise = Sound().ChannelSamples(0);
    const auto frames = static_cast<std::size_t>(kRate);
    std::vector<std::int16_t> heard(frames * static_cast<std::size_t>(channels));
    std::copy_n(noise.begin(), heard.size(), heard.begin());
    TLevelMeter meter(channels, kRate, 32000);
    const std::size_t piece = frames / 20 * static_cast<std::size_t>(channels);
    for (auto _ : state) {
        for (std::size_t at = 0; at < heard.size(); at += piece)
            meter.Add(std::span<const std::int16_t>(heard).subspan(at, piece));
        benchmark::DoNotOptimize(meter.Reading(0));
    }
}
BENCHMARK(BM_LevelMeterOneSecond)->Arg(1)->Arg(2)->Arg(8)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
