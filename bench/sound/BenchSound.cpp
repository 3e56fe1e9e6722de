// Reading and writing wave files. The main figure is reading a 10-minute 16-bit stereo file
// (106 MB) from the page cache, in MB/s of file; memcpy of the same bytes is the ceiling. The
// same sound as FLAC, read and scanned, shows what decoding through libsndfile costs.
// The files are made at start-up in the temporary folder and removed at the end.
#include "sound/TWav.h"
#include "sound/TWavScan.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <span>

#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using kavrel::TWav;

constexpr std::int32_t kRate = 44100;
constexpr std::int64_t kTenMinutes = 600LL * kRate;

struct TFiles {
    std::string stereo16;
    std::string float32;
    std::string pcm24;
    std::filesystem::path folder;

    TFiles()
    {
        folder = std::filesystem::temp_directory_path() /
                 ("kavrel-bench-sound-" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder);
        TWav wav;
        wav.SetSampleRate(kRate);
        wav.SetChannels(2);
        wav.SetLength(kTenMinutes);
        std::uint32_t x = 12345;
        for (std::int32_t c = 0; c < 2; ++c)
            for (std::int16_t& s : wav.MutableChannelSamples(c)) {
                x = x * 1664525u + 1013904223u;
                s = static_cast<std::int16_t>(x >> 16);
            }
        stereo16 = (folder / "ten-minutes-stereo16.wav").string();
        wav.WriteFile(stereo16);
        // The same sound in float and 24-bit, written by hand (the writer only makes 16-bit).
        float32 = (folder / "ten-minutes-float32.wav").string();
        pcm24 = (folder / "ten-minutes-pcm24.wav").string();
        WriteOther(wav, float32, 3, 4);
        WriteOther(wav, pcm24, 1, 3);
    }

    ~TFiles()
    {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }

    static void Put(std::vector<char>& out, std::uint32_t v, int bytes)
    {
        for (int i = 0; i < bytes; ++i)
            out.push_back(static_cast<char>((v >> (8 * i)) & 0xFFu));
    }

    static void WriteOther(const TWav& wav, const std::string& path, std::uint16_t tag, int width)
    {
        const auto frames = static_cast<std::uint32_t>(wav.Length());
        const std::uint32_t data = frames * 2u * static_cast<std::uint32_t>(width);
        std::vector<char> out;
        out.reserve(data + 44);
        out.insert(out.end(), {'R', 'I', 'F', 'F'});
        Put(out, 36 + data, 4);
        out.insert(out.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
        Put(out, 16, 4);
        Put(out, tag, 2);
        Put(out, 2, 2);
        Put(out, kRate, 4);
        Put(out, kRate * 2u * static_cast<std::uint32_t>(width), 4);
        Put(out, 2u * static_cast<std::uint32_t>(width), 2);
        Put(out, 8u * static_cast<std::uint32_t>(width), 2);
        out.insert(out.end(), {'d', 'a', 't', 'a'});
        Put(out, data, 4);
        for (std::uint32_t f = 0; f < frames; ++f)
            for (std::int32_t c = 0; c < 2; ++c) {
                const std::int16_t s = wav.Sample(c, f);
                if (width == 4) {
                    float v = static_cast<float>(s) / 32768.0f;
                    std::uint32_t bits;
                    std::memcpy(&bits, &v, 4);
                    Put(out, bits, 4);
                } else {
                    Put(out, static_cast<std::uint32_t>(s * 256), 3);
                }
            }
        std::ofstream(path, std::ios::binary)
            .write(out.data(), static_cast<std::streamsize>(out.size()));
    }
};

const TFiles& Files()
{
    static const TFiles files;
    return files;
}

void ReadFile(benchmark::State& state, const std::string& path)
{
    const auto bytes = static_cast<std::int64_t>(std::filesystem::file_size(path));
    for (auto _ : state) {
        TWav wav;
        wav.ReadFile(path);
        benchmark::DoNotOptimize(wav.ChannelSamples(1).data());
    }
    state.SetBytesProcessed(state.iterations() * bytes);
}

void BM_ReadTenMinutesStereo16(benchmark::State& state)
{
    ReadFile(state, Files().stereo16);
}
BENCHMARK(BM_ReadTenMinutesStereo16)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same sound as 16-bit FLAC, written on first use (encoding it takes a few seconds).
const std::string& Flac16()
{
    static const std::string path = [] {
        TWav wav;
        wav.ReadFile(Files().stereo16);
        const std::string flac = (Files().folder / "ten-minutes-stereo16.flac").string();
        wav.WriteFile(flac);
        return flac;
    }();
    return path;
}

// Bytes are counted as the 16-bit wave file's, so that formats compare by the sound they hold.
void BM_ReadTenMinutesFlac16(benchmark::State& state)
{
    const auto bytes = static_cast<std::int64_t>(std::filesystem::file_size(Files().stereo16));
    const std::string& path = Flac16();
    for (auto _ : state) {
        TWav wav;
        wav.ReadFile(path);
        benchmark::DoNotOptimize(wav.ChannelSamples(1).data());
    }
    state.SetBytesProcessed(state.iterations() * bytes);
}
BENCHMARK(BM_ReadTenMinutesFlac16)->Unit(benchmark::kMillisecond)->UseRealTime();

// The streaming scan behind analyze and export: every sample once, nothing kept.
void ScanFile(benchmark::State& state, const std::string& path)
{
    const auto bytes = static_cast<std::int64_t>(std::filesystem::file_size(Files().stereo16));
    for (auto _ : state) {
        kavrel::TWavScanFormat format;
        bool truncated = false;
        std::int64_t sum = 0;
        kavrel::ScanWavFile(
            path, format,
            [&sum](std::span<const std::int16_t> block) { sum += block.front() + block.back(); },
            truncated);
        benchmark::DoNotOptimize(sum);
    }
    state.SetBytesProcessed(state.iterations() * bytes);
}

void BM_ScanTenMinutesStereo16(benchmark::State& state)
{
    ScanFile(state, Files().stereo16);
}
BENCHMARK(BM_ScanTenMinutesStereo16)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ScanTenMinutesFlac16(benchmark::State& state)
{
    const std::string& path = Flac16();
    ScanFile(state, path);
}
BENCHMARK(BM_ScanTenMinutesFlac16)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ReadTenMinutesFloat32(benchmark::State& state)
{
    ReadFile(state, Files().float32);
}
BENCHMARK(BM_ReadTenMinutesFloat32)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ReadTenMinutesPcm24(benchmark::State& state)
{
    ReadFile(state, Files().pcm24);
}
BENCHMARK(BM_ReadTenMinutesPcm24)->Unit(benchmark::kMillisecond)->UseRealTime();

// Parsing and de-interleaving alone, from bytes already in memory.
void BM_DecodeTenMinutesStereo16FromMemory(benchmark::State& state)
{
    std::ifstream in(Files().stereo16, std::ios::binary);
    std::vector<char> chars((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::span<const std::byte> bytes(reinterpret_cast<const std::byte*>(chars.data()),
                                           chars.size());
    for (auto _ : state) {
        TWav wav;
        wav.Read(kavrel::TWavSource::FromMemory(bytes), "memory");
        benchmark::DoNotOptimize(wav.ChannelSamples(1).data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
}
BENCHMARK(BM_DecodeTenMinutesStereo16FromMemory)->Unit(benchmark::kMillisecond)->UseRealTime();

// The ceiling: copying the same number of bytes into a fresh buffer.
void BM_MemcpyTenMinutesStereo16(benchmark::State& state)
{
    const auto bytes = static_cast<std::size_t>(std::filesystem::file_size(Files().stereo16));
    std::vector<char> from(bytes, 1);
    for (auto _ : state) {
        std::unique_ptr<char[]> to(new char[bytes]);
        std::memcpy(to.get(), from.data(), bytes);
        benchmark::DoNotOptimize(to.get());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes));
}
BENCHMARK(BM_MemcpyTenMinutesStereo16)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_WriteTenMinutesStereo16(benchmark::State& state)
{
    TWav wav;
    wav.ReadFile(Files().stereo16);
    const std::string path = (Files().folder / "written.wav").string();
    for (auto _ : state)
        wav.WriteFile(path);
    state.SetBytesProcessed(state.iterations() *
                            static_cast<std::int64_t>(std::filesystem::file_size(path)));
}
BENCHMARK(BM_WriteTenMinutesStereo16)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
