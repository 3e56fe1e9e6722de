#pragma once

#include <cstdint>
#include <vector>

namespace kavrel {

// A typed value of the settings file: the type tag and the raw bytes of the value.
struct tdata {
    // Tag of a floating-point value held as the 10 bytes of the 80-bit extended format.
    static constexpr std::int32_t FloatType = 12;

    std::int32_t DataType = 0;
    std::vector<std::uint8_t> Bytes;

    friend bool operator==(const tdata&, const tdata&) = default;
};

} // namespace kavrel
