#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace kavrel {

// Extremes of a run of 16-bit samples. An empty run keeps the starting values minimum 32768 and
// maximum -32768, as the plot's column scan starts from them.
struct TMinMax {
    std::int32_t Min = 32768;
    std::int32_t Max = -32768;

    friend bool operator==(const TMinMax&, const TMinMax&) = default;
};

// The direct scan: minimum and maximum of samples[first … last] inclusive, from 32768 / -32768.
// Empty (the starting values) when first > last; last must be < samples.size() otherwise.
TMinMax DirectMinMax(std::span<const std::int16_t> samples, std::size_t first,
                     std::size_t last) noexcept;

} // namespace kavrel
