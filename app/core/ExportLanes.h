#pragma once

// The export's write pass in vector lanes: each lane filters one stretch of a channel from the
// delay line kept at its start and dithers it, with the same IEEE operations in the same order as
// one sample at a time (no fused multiply-add), so every path gives the same bits.

#include "app/core/TDitherRandom.h"
#include "dsp/TFilterSection.h"

#include <cmath>
#include <cstdint>
#include <vector>

namespace kavrel::detail {

// The delay line is kept this often in the peak pass; the write pass starts stretches there. Not
// a power of two, so that the stretches read side by side do not fall into one cache set.
constexpr std::int64_t CheckpointFrames = 4160;
// Stretches filtered side by side, and so the frames of one written block.
constexpr int Lanes = 8;

struct TDelayLine {
    double W1 = 0.0;
    double W2 = 0.0;
};

// The section's difference equations on a delay line of its own, as TFilterSection::Process
// computes them (same operations in the same order).
struct TKernel {
    double A0, A1, A2, B0, B1, B2, Gain;
    tfiltertype Type;

    explicit TKernel(const TFilterSection& f) noexcept
        : A0(f.a0()), A1(f.a1()), A2(f.a2()), B0(f.b0()), B1(f.b1()), B2(f.b2()), Gain(f.Gain()),
          Type(f.FilterType())
    {
    }

    double Process(double x, TDelayLine& d) const noexcept
    {
        switch (Type) {
        case tfiltertype::ftnone: {
            const double y = Gain * x;
            return std::isfinite(y) ? y : 0.0;
        }
        case tfiltertype::ftpole: {
            const double p = A0 * x + A1 * d.W1 + A2 * d.W2;
            const double y = Gain * p;
            if (!std::isfinite(y))
                return 0.0;
            d.W2 = d.W1;
            d.W1 = p;
            return y;
        }
        case tfiltertype::ftzero: {
            const double t = B0 * (x + B1 * d.W1 + B2 * d.W2);
            const double y = Gain * t;
            if (!std::isfinite(y))
                return 0.0;
            d.W2 = d.W1;
            d.W1 = x;
            return y;
        }
        case tfiltertype::ftboth: {
            const double p = A0 * x + A1 * d.W1 + A2 * d.W2;
            const double t = B0 * (p + B1 * d.W1 + B2 * d.W2);
            const double y = Gain * t;
            if (!std::isfinite(y))
                return 0.0;
            d.W2 = d.W1;
            d.W1 = p;
            return y;
        }
        }
        return 0.0;
    }
};

// One block of one channel: its Lanes stretches side by side in vector lanes. The arithmetic of
// each lane is TKernel's for ftboth, then DitherTo16's.
struct TLaneJob {
    const TKernel* Kernel;
    double Scale;
    const std::int16_t* In;     // the channel's sample at the block's first frame
    std::int64_t InStride;      // values per frame in In
    const TDelayLine* Start;    // the delay lines at the block's Lanes checkpoints
    std::uint64_t State[Lanes]; // each lane's dither state before its first draw
    std::uint64_t StateStep;    // added before each draw
    std::int16_t* Out;          // the block's first value of the channel
    std::int64_t Stride;        // values per frame in Out
};

// Fills the lanes of a and, when given, of b (of the same pass).
using TFillLanes = void (*)(const TLaneJob& a, const TLaneJob* b) noexcept;

// The peak pass over frames 0 … n−1 of channels in[0] … in[channels−1] (frame i of channel c at
// in[c][i·stride]), each from its delay line lines[c] and its peak so far peaks[c], which it
// advances as TKernel::Process and std::max(peak, |y|) would, one sample at a time; several
// channels side by side in vector lanes.
using TPeakLanes = void (*)(const TKernel& k, const std::int16_t* const* in, std::int64_t stride,
                            std::int64_t n, std::int32_t channels, TDelayLine* lines,
                            double* peaks) noexcept;

// One way of filling lanes, named for the instructions it uses: "avx512", "avx2" or "base" (any
// x86-64, or any processor elsewhere). Every path gives the same bits.
struct TLanePath {
    const char* Name;
    TFillLanes Fill;
    TPeakLanes Peaks;
};

// The paths this processor can run, fastest first.
std::vector<TLanePath> LanePaths();

// The fastest path this processor runs. KAVREL_SIMD=avx2 or base in the environment starts the
// choice there (for comparing them); a name of no path leaves it free.
const TLanePath& PickLanePath() noexcept;

} // namespace kavrel::detail
