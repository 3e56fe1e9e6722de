#pragma once

// The level meters' figures, worked out from the values as they are heard: per channel the peak
// of the values heard since the last reading, the RMS over the last RmsSeconds, the highest peak
// of the last HoldSeconds, and the count of overloaded values since Reset (Play).

#include <cstdint>
#include <span>
#include <vector>

namespace kavrel {

struct TMeterReading {
    double PeakDb = -200.0; // dBFS of the largest |value| of the last Add
    double RmsDb = -200.0;  // dBFS of the RMS over the last RmsSeconds heard
    double HoldDb = -200.0; // the largest PeakDb of the last HoldSeconds heard
};

class TLevelMeter {
public:
    static constexpr double RmsSeconds = 0.3;
    static constexpr double HoldSeconds = 1.5;
    // The level of silence.
    static constexpr double FloorDb = -200.0;

    // channels and rate at least 1; overloadLimit: a value beyond ±overloadLimit is counted.
    TLevelMeter(int channels, int rate, int overloadLimit);

    int Channels() const noexcept { return m_channels; }
    int Rate() const noexcept { return m_rate; }
    // Back to silence, with no overloads counted.
    void Reset() noexcept;
    // The interleaved values heard since the last call, in order; whole frames. No frames leave
    // the reading as it was.
    void Add(std::span<const std::int16_t> interleaved) noexcept;

    TMeterReading Reading(int channel) const noexcept;
    // Values beyond ±overloadLimit heard since Reset, all channels together.
    std::int64_t Overloads() const noexcept { return m_overloads; }

private:
    struct TChannel {
        std::int64_t sum = 0;  // of the squares in the ring
        std::int32_t peak = 0; // |value| of the last Add
        std::int32_t hold = 0;
        std::int64_t holdAge = 0; // frames since hold was set
    };

    // Folds `count` interleaved values, a whole number of frames, into the ring from `squares` on
    // and into the channels' sums, peaks and the overloads.
    void Fold(const std::int16_t* in, std::size_t count, std::int32_t* squares) noexcept;

    int m_channels;
    int m_rate;
    int m_overloadLimit;
    std::size_t m_window; // frames in RmsSeconds
    std::size_t m_at = 0; // next slot of the rings
    std::size_t m_filled = 0;
    std::int64_t m_holdFrames;
    std::int64_t m_overloads = 0;
    std::vector<TChannel> m_state;
    // The squares of the last RmsSeconds of every channel, a ring of frames interleaved as heard.
    std::vector<std::int32_t> m_squares;
};

} // namespace kavrel
