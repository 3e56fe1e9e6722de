#pragma once

// The true peak of a sound: the largest magnitude it reaches between its samples as well as at
// them, as the loudness measure asks. Each channel is oversampled (four times below 96 kHz, twice
// below 192 kHz, not at all from there on) through a windowed-sinc interpolator of 48 taps, and the
// largest magnitude of the samples and of the values between them is kept. The interleaved values
// are filtered as they lie, each value's taps its channel's values a frame apart, so that the
// vector lanes are full whatever the number of channels. A block, or a channel of it, none of whose
// values can exceed the peak already found is not filtered: see Add.

#include <atomic>
#include <cstdint>
#include <span>
#include <vector>

namespace kavrel {

struct TPeakPath;

class TTruePeak {
public:
    // Frames filtered at a time: blocks added are cut into these from their start.
    static constexpr std::size_t BlockFrames = 2048;

    // channels >= 1, rate > 0. KAVREL_SIMD=avx2 or base in the environment starts the choice of
    // vector path there.
    TTruePeak(std::int32_t channels, std::int32_t rate);

    // Interleaved 16-bit values, whole frames; blocks follow on from one another. A block, or a
    // channel of it, whose values cannot exceed the peak found so far, this meter's or the shared
    // one's, is left out.
    void Add(std::span<const std::int16_t> interleaved);
    // The largest figure of several meters over parts of one sound, as 32768 times a fraction of
    // full scale: each raises it as it finds peaks and leaves out blocks that cannot exceed it,
    // so that only the largest of their Peak()s is the sound's. Null: this meter's own alone.
    // shared outlives the meter; any thread may share it.
    void Share(std::atomic<float>* shared) { m_shared = shared; }
    // The next block follows on from before instead, the last values added before it: whole
    // frames, silence before them when they are fewer than HistoryValues. The peak so far stays.
    void Restart(std::span<const std::int16_t> before);
    // The values before a block that its figures take: (taps − 1) frames.
    std::size_t HistoryValues() const { return (m_taps - 1) * m_channels; }
    // The largest over the channels so far, as a fraction of full scale (32768).
    double Peak() const { return static_cast<double>(m_found * (1.0f / 32768.0f)); }
    // Values computed for each sample: 1 (no oversampling), 2 or 4.
    int Factor() const { return m_factor; }

private:
    // The peak found by this meter or those it shares with, as Found keeps it.
    float Bar() const noexcept;
    // True when no value of a block whose largest magnitude is most, nor between its values,
    // can exceed bar: most and the magnitudes before the block, times m_bound, do not.
    bool CannotRaise(float most, float bar) const noexcept;
    // Weighs each channel of the block of values at in, with the values before it: those whose
    // bounds exceed bar go into m_loud. False when all of them do.
    bool Weigh(const std::int16_t* in, std::size_t values, float bar);
    // The largest magnitude between the block's values of the channels in m_loud.
    float LoudPhases(const std::int16_t* in, std::size_t values);
    // Keeps a block's peak, 32768 times a fraction of full scale, and raises the shared one.
    void Found(float peak) noexcept;

    std::size_t m_channels;
    int m_factor;
    std::size_t m_taps;         // of each phase: 12 at four times, 24 at twice
    std::vector<float> m_coefs; // the phases' coefficients folded for pairs of taps
    // The last (m_taps − 1) · channels values, then the block's, as floats of the 16-bit values.
    std::vector<float> m_input;
    const TPeakPath* m_path;
    // The most a value between the samples can be, as a multiple of the largest magnitude among
    // its taps, with a margin for the rounding of the filter's sums.
    float m_bound = 1.0f;
    // A value is also at most m_gain times the largest magnitude among its taps plus m_slope
    // times the largest step between its channel's neighbouring samples.
    float m_gain = 1.0f;
    float m_slope = 0.0f;
    std::vector<std::int32_t> m_most; // each channel's largest magnitude, as Weigh found it
    std::vector<std::int32_t> m_step; // and its largest step from one value to the next
    float m_blockMost = 0.0f;         // the largest magnitude in the block
    std::vector<std::size_t> m_loud;  // the channels that are filtered
    std::vector<float> m_loudValues;  // their values side by side
    std::size_t m_unweighed = 0;      // blocks still to be filtered without weighing channels
    std::size_t m_backOff = 0;        // of them after the last weighing that left none out
    float m_found = 0.0f;             // the peak as 32768 times a fraction of full scale
    std::atomic<float>* m_shared = nullptr;
};

} // namespace kavrel
