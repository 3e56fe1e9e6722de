// The export's lane kernels: every path the processor runs gives, lane by lane, the bits of the
// section one sample at a time followed by DitherTo16.

#include "app/core/ExportLanes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

using namespace kavrel;
using namespace kavrel::detail;

namespace {

constexpr std::int16_t Untouched = 0x5a5a;

// The lanes of job one sample at a time into out (which has job.Out's layout); whether any value
// needed the limits (or was no number), which the fast paths leave to the exact steps.
bool ReferenceLanes(const TLaneJob& job, std::int16_t* out)
{
    bool limited = false;
    for (int j = 0; j < Lanes; ++j) {
        TDelayLine d = job.Start[j];
        std::uint64_t state = job.State[j];
        for (std::int64_t t = 0; t < CheckpointFrames; ++t) {
            const std::int64_t i = j * CheckpointFrames + t;
            const double y = job.Kernel->Process(static_cast<double>(job.In[i * job.InStride]), d);
            state += job.StateStep;
            TDitherRandom r(state - TDitherRandom::Increment);
            limited = limited || !(std::fabs(y * job.Scale) <= 32766.0);
            out[i * job.Stride] = DitherTo16(y * job.Scale, r);
        }
    }
    return limited;
}

TKernel StableKernel()
{
    TFilterSection section;
    section.SetUseF0BW(true);
    section.SetSampFreq(44100.0);
    section.SetGain(0.3);
    section.SetPoleF0(100.0);
    section.SetPoleBW(100.0);
    section.SetZeroF0(300.0);
    section.SetZeroBW(30.0);
    return TKernel(section);
}

// Poles outside the unit circle: the values grow past every limit, to infinity and beyond, where
// the section holds its delay line and gives 0.
TKernel UnstableKernel()
{
    TKernel k = StableKernel();
    k.A1 = 2.2;
    k.A2 = -0.9;
    k.Gain = -1e250;
    return k;
}

TKernel NegativeZerosKernel()
{
    TKernel k = StableKernel();
    k.B2 = -0.0;
    k.A0 = -0.0;
    return k;
}

TEST(ExportLanes, EveryPathGivesTheBitsOfOneSampleAtATime)
{
    const std::vector<TLanePath> paths = LanePaths();
    ASSERT_FALSE(paths.empty());
    EXPECT_STREQ(paths.back().Name, "base");

    const TKernel stable = StableKernel();
    const TKernel unstable = UnstableKernel();
    const TKernel negativeZeros = NegativeZerosKernel();

    struct TCase {
        const TKernel* Kernel;
        double Scale;      // inf turns a 0 into a value that is not a number
        int Channels;      // values per frame of the output
        bool Pair;         // a second job of the next channel beside the first
        double StartLevel; // of the delay lines the lanes start from
        int QuietShift;    // the first job's samples shifted down by this many bits
        int SecondAt = 1;  // the second job's value in each frame
    };
    const TCase cases[] = {
        {&stable, 0.9, 2, true, 3000.0, 0},
        {&stable, 0.9, 1, false, 0.0, 0},
        {&stable, 40.0, 3, true, 1e5, 0},
        {&stable, 0.05, 2, true, 3000.0, 0},
        {&stable, 40.0, 2, true, 30.0, 10},
        {&unstable, 1.0, 2, true, 1.0, 0},
        {&unstable, std::numeric_limits<double>::infinity(), 2, false, 1.0, 0},
        {&negativeZeros, 1e-3, 3, false, -2.0, 0},
        {&stable, 0.05, 3, true, 3000.0, 0, 2},
        {&stable, 0.05, 3, true, 3000.0, 0},
        // A stereo block from a file with no value beyond the limits: the pair's fast path.
        {&stable, 0.05, 2, true, 3000.0, 0},
    };
    // Jobs whose values all lie within the limits, and jobs with some beyond, side by side.
    bool sawFree = false;
    bool sawLimited = false;
    bool sawMixedPair = false;

    std::mt19937_64 gen(7);
    std::uniform_int_distribution<int> sample(-32768, 32767);
    const auto frames = static_cast<std::size_t>(Lanes * CheckpointFrames);
    for (const TCase& k : cases) {
        const std::size_t jobs = k.Pair ? 2 : 1;
        // Some pairs read their samples from one interleaved block, as from a file.
        const bool interleaved = k.Pair && (&k - cases) % 2 == 0;
        const std::size_t inStride = interleaved ? 2 : 1;
        std::vector<std::int16_t> in(frames * jobs);
        for (std::size_t i = 0; i < in.size(); ++i) {
            const std::size_t b = interleaved ? i % 2 : i / frames;
            in[i] = static_cast<std::int16_t>(sample(gen) >> (b == 0 ? k.QuietShift : 0));
        }
        std::vector<TDelayLine> start(Lanes * jobs);
        std::uniform_real_distribution<double> level(-k.StartLevel, k.StartLevel);
        for (TDelayLine& d : start)
            d = {level(gen), level(gen)};
        const std::size_t size = frames * static_cast<std::size_t>(k.Channels);
        std::vector<std::int16_t> expected(size, Untouched);
        std::vector<TLaneJob> job(2);
        bool limited[2] = {};
        for (std::size_t b = 0; b < jobs; ++b) {
            job[b] = {k.Kernel,
                      k.Scale,
                      in.data() + (interleaved ? b : b * frames),
                      static_cast<std::int64_t>(inStride),
                      start.data() + b * Lanes,
                      {},
                      static_cast<std::uint64_t>(1 + b) * TDitherRandom::Increment,
                      nullptr,
                      k.Channels};
            for (std::uint64_t& s : job[b].State)
                s = gen();
            limited[b] =
                ReferenceLanes(job[b], expected.data() + b * static_cast<std::size_t>(k.SecondAt));
            sawFree = sawFree || !limited[b];
            sawLimited = sawLimited || limited[b];
        }
        sawMixedPair = sawMixedPair || (k.Pair && limited[0] != limited[1]);
        for (const TLanePath& path : paths) {
            std::vector<std::int16_t> got(size, Untouched);
            for (std::size_t b = 0; b < jobs; ++b)
                job[b].Out = got.data() + b * static_cast<std::size_t>(k.SecondAt);
            path.Fill(job[0], k.Pair ? &job[1] : nullptr);
            std::size_t differ = 0;
            for (std::size_t i = 0; i < size; ++i)
                differ += got[i] != expected[i] ? 1 : 0;
            EXPECT_EQ(differ, 0U) << path.Name << ", case " << (&k - cases);
        }
    }
    EXPECT_TRUE(sawFree && sawLimited && sawMixedPair);
}

// The peak pass's stretch: every channel count in vector groups (full, part-filled and several),
// against TKernel::Process one sample at a time, delay lines and peaks to the bit.
TEST(ExportLanes, EveryPathFindsThePeaksOfOneSampleAtATime)
{
    const TKernel stable = StableKernel();
    const TKernel unstable = UnstableKernel();
    const TKernel negativeZeros = NegativeZerosKernel();
    TKernel poleOnly = stable;
    poleOnly.Type = tfiltertype::ftpole;
    struct TCase {
        const TKernel* Kernel;
        int Channels;
    };
    const TCase cases[] = {{&stable, 1},   {&stable, 2},        {&stable, 3},
                           {&stable, 8},   {&stable, 11},       {&unstable, 2},
                           {&unstable, 9}, {&negativeZeros, 5}, {&poleOnly, 3}};
    constexpr std::int64_t frames = 1001;
    std::mt19937_64 gen(11);
    std::uniform_int_distribution<int> sample(-32768, 32767);
    std::uniform_real_distribution<double> level(-3000.0, 3000.0);
    const auto bits = [](double v) { return std::bit_cast<std::uint64_t>(v); };
    for (const TCase& k : cases) {
        const auto channels = static_cast<std::size_t>(k.Channels);
        // Half the cases read the channels interleaved in one block, as from a file.
        const bool interleaved = (&k - cases) % 2 == 1;
        const std::size_t stride = interleaved ? channels : 1;
        std::vector<std::int16_t> in(channels * frames);
        std::vector<const std::int16_t*> from;
        std::vector<TDelayLine> start(channels);
        std::vector<double> startPeaks(channels);
        std::vector<TDelayLine> lines(channels);
        std::vector<double> peaks(channels);
        for (std::int16_t& x : in)
            x = static_cast<std::int16_t>(sample(gen));
        for (std::size_t c = 0; c < channels; ++c) {
            from.push_back(in.data() + (interleaved ? c : c * frames));
            start[c] = {level(gen), level(gen)};
            startPeaks[c] = c % 2 == 0 ? 0.0 : 1e4;
            lines[c] = start[c];
            peaks[c] = startPeaks[c];
            for (std::size_t i = 0; i < frames; ++i)
                peaks[c] =
                    std::max(peaks[c], std::fabs(k.Kernel->Process(
                                           static_cast<double>(from[c][i * stride]), lines[c])));
        }
        for (const TLanePath& path : LanePaths()) {
            std::vector<TDelayLine> gotLines = start;
            std::vector<double> gotPeaks = startPeaks;
            path.Peaks(*k.Kernel, from.data(), static_cast<std::int64_t>(stride), frames,
                       k.Channels, gotLines.data(), gotPeaks.data());
            for (std::size_t c = 0; c < channels; ++c) {
                EXPECT_EQ(bits(gotPeaks[c]), bits(peaks[c]))
                    << path.Name << ", case " << (&k - cases) << ", channel " << c;
                EXPECT_TRUE(bits(gotLines[c].W1) == bits(lines[c].W1) &&
                            bits(gotLines[c].W2) == bits(lines[c].W2))
                    << path.Name << ", case " << (&k - cases) << ", channel " << c;
            }
        }
    }
}

} // namespace
