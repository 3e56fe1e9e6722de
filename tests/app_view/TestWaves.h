#pragma once

// Test signals for the summaries: a slow random walk, so that the extremes of a run depend on
// where it lies, with single-sample spikes planted next to block boundaries, where an off-by-one
// in the level arithmetic would lose or add them.

#include "app/view/TWaveSummary.h"

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

namespace kavrel::test {

inline std::vector<std::int16_t> WalkWithSpikes(std::size_t count, std::uint32_t seed)
{
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> step(-40, 40);
    std::vector<std::int16_t> samples(count);
    int v = 0;
    for (std::int16_t& s : samples) {
        v = std::clamp(v + step(rng), -20000, 20000);
        s = static_cast<std::int16_t>(v);
    }
    std::uniform_int_distribution<int> spike(-32768, 32767);
    for (std::size_t size : TWaveSummary::LevelSizes)
        for (std::size_t b = size; b < count; b += size * 3)
            for (std::size_t at : {b - 1, b})
                samples[at] = static_cast<std::int16_t>(spike(rng));
    return samples;
}

} // namespace kavrel::test
