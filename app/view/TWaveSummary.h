#pragma once

// Min/max summary of one channel for drawing long sounds: levels of blocks of 256, 4096 and
// 65536 samples, each block holding the extremes of its samples. A query over any run combines
// the coarsest blocks that lie wholly inside it with finer ones and the raw samples at its two
// ends, so its answer is exactly that of the direct scan while touching at most a few hundred
// values, whatever the run's length.

#include "app/view/TMinMax.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace kavrel {

class TWaveSummary {
public:
    // Samples per block of each level, finest first; each is a multiple of the one before.
    static constexpr std::array<std::size_t, 3> LevelSizes{256, 4096, 65536};

    TWaveSummary() = default;

    // Summarises `samples`, which must stay valid and unchanged until the next Build or Clear;
    // call again after every change of the samples. A long run is scanned by a few threads at
    // once; the call returns when the summary is complete.
    void Build(std::span<const std::int16_t> samples);
    // Forgets the samples: Count() becomes 0.
    void Clear() noexcept;

    // The samples Build saw.
    std::span<const std::int16_t> Samples() const noexcept { return m_samples; }
    std::size_t Count() const noexcept { return m_samples.size(); }
    // Whether the summary was built from this very memory (same start and count). A cheap guard;
    // it cannot tell a change of the values in place.
    bool Matches(std::span<const std::int16_t> samples) const noexcept
    {
        return samples.data() == m_samples.data() && samples.size() == m_samples.size();
    }

    // Exactly DirectMinMax(Samples(), first, last): empty when first > last; last < Count()
    // otherwise.
    TMinMax MinMax(std::size_t first, std::size_t last) const noexcept;

    // Number of whole blocks of a level (0 … LevelSizes.size()-1); for tests and diagnostics.
    std::size_t BlockCount(std::size_t level) const noexcept;

private:
    struct TBlock {
        std::int16_t Min;
        std::int16_t Max;
    };

    // Fills finest blocks first … end-1 from the samples.
    void ScanFinest(std::size_t first, std::size_t end) noexcept;
    void Combine(std::size_t level, std::size_t begin, std::size_t end,
                 TMinMax& result) const noexcept;

    std::span<const std::int16_t> m_samples;
    std::array<std::vector<TBlock>, LevelSizes.size()> m_levels;
};

} // namespace kavrel
