#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

// Minimum and maximum of any run of a channel's samples, fast enough to paint an hour-long
// recording per pixel column: the channel is summarised in blocks once, and a query scans only
// the partial blocks at its two ends.

namespace kavrel {

struct TSampleRange {
    std::int32_t Min;
    std::int32_t Max;
};

class TWaveOverview {
public:
    static constexpr std::size_t BlockSize = 256;

    // Summarises the samples; call again whenever they change.
    void Build(std::span<const std::int16_t> samples);
    void Clear()
    {
        m_blocks.clear();
        m_count = 0;
        m_source = nullptr;
    }

    // Number of samples the summary was built from.
    std::size_t Count() const noexcept { return m_count; }
    // Whether the summary was built from these very samples (same memory and count).
    bool Matches(std::span<const std::int16_t> samples) const noexcept
    {
        return samples.data() == m_source && samples.size() == m_count;
    }

    // Extremes of samples[first … last] (inclusive), starting from minimum 32768 and maximum
    // -32768. `samples` must be the ones Build saw; first ≤ last < Count().
    TSampleRange MinMax(std::span<const std::int16_t> samples, std::size_t first,
                        std::size_t last) const noexcept;

private:
    std::vector<TSampleRange> m_blocks;
    std::size_t m_count = 0;
    const std::int16_t* m_source = nullptr;
};

}  // namespace kavrel
