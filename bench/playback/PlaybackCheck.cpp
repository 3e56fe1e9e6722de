// Measures what is heard of `kavrel play` on a sound server, from the sink's monitor.
//
//   playback_check gen FILE RATE CHANNELS SECONDS
//       A ramp file: channel 0 holds the frame number (minus 32768), so every value tells which
//       frame is heard; channel 1 holds 1000 and the others copies of both, so that silence and
//       lost channels show. At most 65000 frames, so that the frame number is unique.
//   playback_check record SOURCE RATE CHANNELS SECONDS RAW
//       Records SOURCE to RAW (16-bit interleaved) and prints "t0 NS": when the first recorded
//       frame was played, on the monotonic clock, from the stream's latency at each read.
//   playback_check reference FILE SECONDS TIMING
//       Plays FILE looped for SECONDS as the plainest client of the server would: 10 ms blocks,
//       each made just before a blocking write, with a buffer of 50 ms or the least the server
//       grants; writes "fill" lines as `kavrel play --timing` does. What it measures is the
//       server's own floor.
//   playback_check analyze FILE TIMING RAW T0
//       Holds the recording against the fill and heard lines of `kavrel play --timing` and
//       prints the latency from a block filled to its first value heard, the largest gap, the
//       dropouts and the largest error of the reported heard position.
//   playback_check analyze FILE TIMING RAW T0 LIMIT_MS
//       The same, and then the time from Play to the first sound, the latency from a change to
//       its being heard (a change reaches the next block filled), the ring in use and the
//       underruns; exits 1 if there was a dropout or the largest latency is over LIMIT_MS.
//   playback_check analyze-region FILE TIMING RAW T0 FIRST END
//       The same for `kavrel play --start --end`, which loops frames FIRST … END-1: the ramp
//       must run on from END-1 straight to FIRST; counts the seams heard and exits 1 if one had
//       a gap or a frame from outside the region was heard.

#include "sound/TWav.h"

#include <pulse/error.h>
#include <pulse/simple.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

using namespace kavrel;

namespace {

constexpr std::int64_t MaxFrames = 65000;
constexpr int HiValue = 1000;
constexpr std::int64_t Tolerance = 2; // the dither moves a value by one, two at full scale

long long NowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int Gen(const std::string& file, int rate, int chans, double seconds)
{
    const auto frames = std::min<std::int64_t>(MaxFrames, std::llround(seconds * rate));
    TWav w;
    w.SetSampleRate(rate);
    w.SetChannels(chans);
    w.SetLength(frames);
    for (std::int64_t f = 0; f < frames; ++f) {
        const auto lo = static_cast<std::int16_t>(f - 32768);
        for (int c = 0; c < chans; ++c) {
            const int kind = c % 4;
            std::int16_t v = lo;
            if (kind == 1)
                v = HiValue;
            else if (kind == 2)
                v = static_cast<std::int16_t>(-1 - lo);
            else if (kind == 3)
                v = -HiValue;
            w.SetSample(c, f, v);
        }
    }
    w.WriteFile(file);
    return 0;
}

int Record(const std::string& source, int rate, int chans, double seconds, const std::string& raw)
{
    pa_sample_spec sampleSpec{PA_SAMPLE_S16LE, static_cast<std::uint32_t>(rate),
                              static_cast<std::uint8_t>(chans)};
    const std::uint32_t fragment = static_cast<std::uint32_t>(rate / 200 * chans * 2); // 5 ms
    pa_buffer_attr attr{static_cast<std::uint32_t>(-1), static_cast<std::uint32_t>(-1),
                        static_cast<std::uint32_t>(-1), static_cast<std::uint32_t>(-1), fragment};
    int error = 0;
    pa_simple* s = pa_simple_new(nullptr, "kavrel playback check", PA_STREAM_RECORD, source.c_str(),
                                 "monitor", &sampleSpec, nullptr, &attr, &error);
    if (s == nullptr) {
        std::cerr << "playback_check: " << source << ": " << pa_strerror(error) << "\n";
        return 1;
    }
    std::ofstream out(raw, std::ios::binary);
    const auto total = static_cast<std::int64_t>(seconds * rate);
    std::vector<std::int16_t> buffer(static_cast<std::size_t>(rate / 200 * chans));
    std::vector<double> t0s;
    std::int64_t read = 0;
    while (read < total) {
        if (pa_simple_read(s, buffer.data(), buffer.size() * 2, &error) < 0) {
            std::cerr << "playback_check: read: " << pa_strerror(error) << "\n";
            pa_simple_free(s);
            return 1;
        }
        const long long now = NowNs();
        const pa_usec_t latency = pa_simple_get_latency(s, &error);
        out.write(reinterpret_cast<const char*>(buffer.data()),
                  static_cast<std::streamsize>(buffer.size() * 2));
        read += static_cast<std::int64_t>(buffer.size()) / chans;
        // The last frame read was played `latency` ago.
        t0s.push_back(static_cast<double>(now) - static_cast<double>(latency) * 1000.0 -
                      static_cast<double>(read - 1) * 1e9 / rate);
    }
    pa_simple_free(s);
    std::nth_element(t0s.begin(), t0s.begin() + static_cast<std::ptrdiff_t>(t0s.size() / 2),
                     t0s.end());
    std::printf("t0 %.0f\n", t0s[t0s.size() / 2]);
    return 0;
}

int Reference(const std::string& file, double seconds, const std::string& timingFile)
{
    TWav wav;
    wav.ReadFile(file);
    const int chans = wav.Channels();
    const int rate = wav.SampleRate();
    pa_sample_spec sampleSpec{PA_SAMPLE_S16LE, static_cast<std::uint32_t>(rate),
                              static_cast<std::uint8_t>(chans)};
    const int block = rate / 100;
    const auto blockBytes = static_cast<std::uint32_t>(block * chans * 2);
    // 50 ms asked, which a server raises to the least it plays from; asked less, PipeWire at
    // 2048 frames let the stream run dry.
    const auto tlength = static_cast<std::uint32_t>(rate / 20 * chans * 2);
    pa_buffer_attr attr{static_cast<std::uint32_t>(-1), tlength, static_cast<std::uint32_t>(-1),
                        blockBytes, static_cast<std::uint32_t>(-1)};
    int error = 0;
    pa_simple* s = pa_simple_new(nullptr, "kavrel playback reference", PA_STREAM_PLAYBACK, nullptr,
                                 "reference", &sampleSpec, nullptr, &attr, &error);
    if (s == nullptr) {
        std::cerr << "playback_check: " << pa_strerror(error) << "\n";
        return 1;
    }
    std::FILE* timing = std::fopen(timingFile.c_str(), "w");
    if (timing == nullptr) {
        pa_simple_free(s);
        std::cerr << "playback_check: " << timingFile << ": cannot write\n";
        return 1;
    }
    const std::int64_t length = wav.Length();
    const auto total = static_cast<std::int64_t>(seconds * rate);
    std::vector<std::int16_t> buffer(static_cast<std::size_t>(block * chans));
    int result = 0;
    for (std::int64_t done = 0; done < total && result == 0; done += block) {
        const std::int64_t first = done % length;
        std::fprintf(timing, "fill %lld %lld %d\n", NowNs(), static_cast<long long>(first), block);
        for (int f = 0; f < block; ++f)
            for (int c = 0; c < chans; ++c)
                buffer[static_cast<std::size_t>(f * chans + c)] =
                    wav.Sample(c, (first + f) % length);
        if (pa_simple_write(s, buffer.data(), buffer.size() * 2, &error) < 0) {
            std::cerr << "playback_check: write: " << pa_strerror(error) << "\n";
            result = 1;
        }
    }
    if (result == 0)
        pa_simple_drain(s, &error);
    std::fclose(timing);
    pa_simple_free(s);
    return result;
}

std::int64_t Wrap(std::int64_t d, std::int64_t length)
{
    d %= length;
    if (d > length / 2)
        d -= length;
    if (d < -length / 2)
        d += length;
    return d;
}

double Median(std::vector<double> v)
{
    if (v.empty())
        return NAN;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// A block filled at `filled` whose first frame was recorded at `heard` (ns, monotonic).
struct THeardFill {
    double filled;
    double heard;
};

// The figures of the ring: time to first sound, change-to-heard latency over every moment a
// change could be made, the ring in use and the underruns from the timing lines; 1 if a limit
// is broken.
int ReportRing(const std::string& timingFile, const std::vector<THeardFill>& fills,
               double firstSoundNs, std::int64_t dropouts, double limitMs)
{
    std::ifstream timing(timingFile);
    std::string line;
    double firstFill = -1;
    long long ringFrames = 0;
    long long underruns = 0;
    while (std::getline(timing, line)) {
        std::istringstream words(line);
        std::string kind;
        double ns = 0;
        long long value = 0;
        words >> kind >> ns >> value;
        if (kind == "fill" && firstFill < 0)
            firstFill = ns;
        else if (kind == "ring")
            ringFrames = value;
        else if (kind == "underruns")
            underruns = value;
    }
    // A change made between two fills is heard with the second block: sampled every 1 ms.
    std::vector<double> latencies;
    for (std::size_t i = 1; i < fills.size(); ++i)
        for (double t = fills[i - 1].filled; t < fills[i].filled; t += 1e6)
            latencies.push_back((fills[i].heard - t) / 1e6);
    const double worst =
        latencies.empty() ? NAN : *std::max_element(latencies.begin(), latencies.end());
    std::printf("play->first sound: %.0f ms\n", (firstSoundNs - firstFill) / 1e6);
    std::printf("latency change->heard: median %.1f ms, max %.1f ms (limit %.0f ms)\n",
                Median(latencies), worst, limitMs);
    std::printf("ring in use: %lld frames; underruns: %lld\n", ringFrames, underruns);
    const bool ok = dropouts == 0 && !latencies.empty() && worst <= limitMs;
    std::printf("%s\n", ok ? "within limits" : "OUT OF LIMITS");
    return ok ? 0 : 1;
}

// The frames played in a loop: the whole file, or a region of it.
struct TLoop {
    std::int64_t First = 0;
    std::int64_t End = -1; // -1: the file's end
};

int Analyze(const std::string& file, const std::string& timingFile, const std::string& raw,
            double t0, double limitMs = -1, TLoop loop = {})
{
    TWav wav;
    wav.ReadFile(file);
    const int chans = wav.Channels();
    const double rate = wav.SampleRate();
    const std::int64_t fileLength = wav.Length();
    const bool region = loop.End >= 0;
    if (!region)
        loop.End = fileLength;
    // Differences between frames are taken around the loop.
    const std::int64_t length = loop.End - loop.First;

    std::ifstream in(raw, std::ios::binary | std::ios::ate);
    std::vector<std::int16_t> samples(static_cast<std::size_t>(in.tellg()) / 2);
    in.seekg(0);
    in.read(reinterpret_cast<char*>(samples.data()),
            static_cast<std::streamsize>(samples.size() * 2));
    const auto n = static_cast<std::int64_t>(samples.size()) / chans;
    // The frame each recorded frame holds, -1 where the channels do not agree with a ramp frame
    // (silence, a lost channel).
    std::vector<std::int64_t> frame(static_cast<std::size_t>(n), -1);
    std::int64_t badChannels = 0;
    for (std::int64_t k = 0; k < n; ++k) {
        const std::int16_t* v = &samples[static_cast<std::size_t>(k * chans)];
        const std::int64_t f = v[0] + 32768;
        bool ok = f >= -Tolerance && f < fileLength + Tolerance;
        bool channelsOk = true;
        bool silent = chans > 1;
        for (int c = 1; c < chans; ++c) {
            const int kind = c % 4;
            const int want = kind == 1 ? HiValue : kind == 3 ? -HiValue : -1 - v[0];
            if (kind != 0 && std::abs(v[c] - want) > 2 * Tolerance + 1)
                channelsOk = false;
            silent = silent && std::abs(v[c]) <= Tolerance;
        }
        ok = ok && !silent;
        if (ok && !channelsOk)
            ++badChannels;
        if (ok)
            frame[static_cast<std::size_t>(k)] = std::clamp<std::int64_t>(f, 0, fileLength - 1);
    }
    // Whether frames k .. k+8 run on one by one.
    const auto runsOn = [&](std::int64_t k) {
        if (k + 8 >= n || frame[static_cast<std::size_t>(k)] < 0)
            return false;
        for (int j = 1; j <= 8; ++j) {
            const std::int64_t f = frame[static_cast<std::size_t>(k + j)];
            if (f < 0 ||
                std::abs(Wrap(f - frame[static_cast<std::size_t>(k)] - j, length)) > 2 * Tolerance)
                return false;
        }
        return true;
    };
    std::int64_t first = 0;
    while (first < n && !runsOn(first))
        ++first;
    std::int64_t last = n - 1;
    while (last > first + 8 && !runsOn(last - 8))
        --last;
    if (first >= n) {
        std::printf("nothing of the ramp was recorded\n");
        return 1;
    }
    // Follow the ramp: a frame more than the tolerance off its expected value starts a
    // dropout, which lasts until the ramp runs on again.
    std::int64_t dropouts = 0;
    std::int64_t longestGap = 0;
    // The loop's seams heard: the first frame right after the last, or a dropout there.
    std::int64_t seams = 0;
    std::int64_t brokenSeams = 0;
    bool ranOn = false; // the frame before matched
    std::int64_t expected = frame[static_cast<std::size_t>(first)];
    for (std::int64_t k = first; k <= last - 8; ++k) {
        const std::int64_t f = frame[static_cast<std::size_t>(k)];
        const bool atSeam = ranOn && expected == loop.First;
        if (f >= 0 && std::abs(Wrap(f - expected, length)) <= Tolerance) {
            seams += atSeam ? 1 : 0;
            expected = expected + 1 >= loop.End ? loop.First : expected + 1;
            ranOn = true;
            continue;
        }
        brokenSeams += atSeam ? 1 : 0;
        ranOn = false;
        ++dropouts;
        std::int64_t resume = k;
        while (resume <= last - 8 && !runsOn(resume))
            ++resume;
        longestGap = std::max(longestGap, resume - k);
        if (resume > last - 8)
            break;
        k = resume - 1;
        expected = frame[static_cast<std::size_t>(resume)];
    }

    // Frames heard from outside the loop.
    std::int64_t outside = 0;
    for (std::int64_t k = first; k <= last; ++k) {
        const std::int64_t f = frame[static_cast<std::size_t>(k)];
        outside += f >= 0 && (f < loop.First - Tolerance || f >= loop.End + Tolerance) ? 1 : 0;
    }

    const auto recordedAt = [&](double ns) { return (ns - t0) * rate / 1e9; };
    std::ifstream timing(timingFile);
    std::string line;
    std::vector<double> latencies;
    std::vector<double> errors;
    std::vector<THeardFill> heardFills;
    long long firstFill = -1;
    while (std::getline(timing, line)) {
        std::istringstream words(line);
        std::string kind;
        long long ns = 0;
        std::int64_t pos = 0;
        words >> kind >> ns >> pos;
        if (kind == "fill") {
            if (firstFill < 0)
                firstFill = ns;
            // The first recorded frame from the fill on that holds the block's first frame.
            auto k = static_cast<std::int64_t>(std::floor(recordedAt(static_cast<double>(ns))));
            const std::int64_t end = std::min(last, k + static_cast<std::int64_t>(rate));
            for (k = std::max(k, first); k <= end; ++k) {
                const std::int64_t f = frame[static_cast<std::size_t>(k)];
                if (f >= 0 && std::abs(Wrap(f - pos, length)) <= Tolerance)
                    break;
            }
            // Blocks filled at the start wait for the stream to start; they are counted apart.
            if (k <= end && static_cast<double>(ns - firstFill) > 0.5e9) {
                latencies.push_back(
                    (t0 + static_cast<double>(k) * 1e9 / rate - static_cast<double>(ns)) / 1e6);
                heardFills.push_back(
                    {static_cast<double>(ns), t0 + static_cast<double>(k) * 1e9 / rate});
            }
        } else if (kind == "heard") {
            const auto k =
                static_cast<std::int64_t>(std::llround(recordedAt(static_cast<double>(ns))));
            if (k < first + static_cast<std::int64_t>(rate / 10) || k > last ||
                frame[static_cast<std::size_t>(k)] < 0)
                continue;
            errors.push_back(std::fabs(static_cast<double>(
                                 Wrap(pos - frame[static_cast<std::size_t>(k)], length))) *
                             1000.0 / rate);
        }
    }
    std::printf("latency fill->heard: median %.1f ms, max %.1f ms (%zu blocks)\n",
                Median(latencies),
                latencies.empty() ? NAN : *std::max_element(latencies.begin(), latencies.end()),
                latencies.size());
    std::printf("largest gap: %.1f ms; dropouts: %lld; frames with a channel lost: %lld; "
                "loops heard: %.1f\n",
                static_cast<double>(longestGap) * 1000.0 / rate, static_cast<long long>(dropouts),
                static_cast<long long>(badChannels),
                static_cast<double>(last - first) / static_cast<double>(length));
    std::printf(
        "heard position error: median %.1f ms, max %.1f ms (%zu readings)\n", Median(errors),
        errors.empty() ? NAN : *std::max_element(errors.begin(), errors.end()), errors.size());
    if (region) {
        std::printf("region %lld ... %lld: seams heard gapless: %lld, with a gap: %lld; frames "
                    "heard from outside it: %lld\n",
                    static_cast<long long>(loop.First), static_cast<long long>(loop.End - 1),
                    static_cast<long long>(seams), static_cast<long long>(brokenSeams),
                    static_cast<long long>(outside));
        const bool ok = seams > 0 && brokenSeams == 0 && outside == 0;
        std::printf("%s\n", ok ? "seamless" : "NOT SEAMLESS");
        return ok ? 0 : 1;
    }
    if (limitMs >= 0)
        return ReportRing(timingFile, heardFills, t0 + static_cast<double>(first) * 1e9 / rate,
                          dropouts, limitMs);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> a(argv + 1, argv + argc);
    try {
        if (a.size() == 5 && a[0] == "gen")
            return Gen(a[1], std::stoi(a[2]), std::stoi(a[3]), std::stod(a[4]));
        if (a.size() == 6 && a[0] == "record")
            return Record(a[1], std::stoi(a[2]), std::stoi(a[3]), std::stod(a[4]), a[5]);
        if (a.size() == 4 && a[0] == "reference")
            return Reference(a[1], std::stod(a[2]), a[3]);
        if (a.size() == 5 && a[0] == "analyze")
            return Analyze(a[1], a[2], a[3], std::stod(a[4]));
        if (a.size() == 6 && a[0] == "analyze")
            return Analyze(a[1], a[2], a[3], std::stod(a[4]), std::stod(a[5]));
        if (a.size() == 7 && a[0] == "analyze-region")
            return Analyze(a[1], a[2], a[3], std::stod(a[4]), -1,
                           {std::stoll(a[5]), std::stoll(a[6])});
    } catch (const std::exception& e) {
        std::cerr << "playback_check: " << e.what() << "\n";
        return 1;
    }
    std::cerr << "usage: playback_check gen|record|reference|analyze ... (see the source)\n";
    return 2;
}
