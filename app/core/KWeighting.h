#pragma once

// The K-weighting of the loudness measure (a high shelf, then a high pass, each a second-order
// section designed for the sound's rate) and the weighted energy of every 100 ms of the filtered
// channels, from which the gated loudness and the loudness range are worked out.

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace kavrel {

// A second-order section: y = B0·x + B1·x1 + B2·x2 − A1·y1 − A2·y2.
struct TKStage {
    double B0 = 1.0;
    double B1 = 0.0;
    double B2 = 0.0;
    double A1 = 0.0;
    double A2 = 0.0;
};

// The two stages for the rate in Hz (> 0): the shelf's and the high pass's analog prototypes
// through the bilinear transform.
std::array<TKStage, 2> KWeightingStages(std::int32_t rate);

// The weight of channel c of channels in the summed energy: 1 for left, right and centre, 0 for
// the LFE, 1.41 for the surrounds. Up to six channels are taken as left, right, centre, LFE, left
// and right surround, but four as left, right and the surrounds and five as left, right, centre
// and the surrounds; further channels are left out.
double ChannelWeight(std::int32_t c, std::int32_t channels);

struct TKPath;

// Filters interleaved blocks, all channels of a frame side by side in vector lanes, and sums the
// weighted squares of the filtered values over each whole 100 ms. When a vector holds two frames
// or more (mono and stereo), the sound is cut into stretches of a few seconds that are filtered
// side by side, each started a second early from silence: by then its state is the one the frames
// before would have left, to within rounding. Not thread-safe; one thread at a time.
class TKWeighting {
public:
    // channels >= 1, rate >= 16. KAVREL_SIMD=avx2 or base in the environment starts the choice of
    // vector path there.
    TKWeighting(std::int32_t channels, std::int32_t rate);

    // Interleaved 16-bit values, whole frames; blocks follow on from one another.
    void Add(std::span<const std::int16_t> interleaved);
    // Filters what Add kept back; Segments are complete after it.
    void Finish();

    // Frames in each 100 ms: the rate / 10, rounded.
    std::size_t SegmentFrames() const { return m_segmentFrames; }
    // For each whole 100 ms so far: the sum over its frames and the channels of the weight times
    // the filtered value squared, values as fractions of full scale.
    const std::vector<double>& Segments() const { return m_segments; }
    // The vector path taken: "avx512", "avx2" or "base".
    const char* PathName() const;

    // The state of a group of lanes (as many as a path's vector holds) between blocks: the last two
    // inputs and outputs of the first stage (the second's inputs) and outputs of the second, and
    // the current 100 ms's sum.
    struct TLaneGroup {
        alignas(64) double X1[8];
        alignas(64) double X2[8];
        alignas(64) double Y1[8];
        alignas(64) double Y2[8];
        alignas(64) double Z1[8];
        alignas(64) double Z2[8];
        alignas(64) double Sum[8];
        alignas(64) double Weight[8];
    };
    // The filter of one run of a path: frames frames of in (stride values a frame; group g's
    // lanes read from value offsets[g] of each) through count groups, adding the squares into
    // their sums.
    using TRun = void (*)(const std::array<TKStage, 2>& k, const float* in, std::size_t stride,
                          std::size_t frames, TLaneGroup* groups, const std::size_t* offsets,
                          std::size_t count) noexcept;

private:
    // Interleaved values as fractions of full scale, whole frames.
    void AddFractions(std::span<const float> interleaved);
    // Frames in the frames' own lanes, following on from the groups' state.
    void FilterFrames(std::span<const float> interleaved);
    void Filter(const float* in, std::size_t frames);
    // The first stretches · stretch frames of the pending ones, in stretches side by side.
    void FilterStretches();

    std::size_t m_channels;
    std::size_t m_segmentFrames;
    std::array<TKStage, 2> m_stages;
    const TKPath* m_path;
    std::vector<TLaneGroup> m_groups;   // of a vector's lanes each, only those that count
    std::vector<std::size_t> m_offsets; // each one's first channel
    std::vector<float> m_converted;     // a chunk of a 16-bit block
    std::vector<float> m_tail;          // the last frames of a block, and lanes to spare
    std::size_t m_inSegment = 0;        // frames of the current 100 ms done
    std::vector<double> m_segments;
    std::size_t m_stretches = 1;     // side by side in a vector
    std::size_t m_warmFrames = 0;    // before each stretch
    std::size_t m_stretchFrames = 0; // a whole number of 100 ms
    TLaneGroup m_stretchGroup{};     // the weights of the stretches' lanes
    std::vector<float> m_pending;    // warm frames, then those not yet filtered
    std::size_t m_pendingFrames = 0; // after the warm ones
    std::vector<float> m_lanes;      // stretches side by side, a chunk of them
};

} // namespace kavrel
