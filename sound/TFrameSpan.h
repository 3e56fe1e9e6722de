#pragma once

#include <cstdint>

namespace kavrel {

// Frames First … End-1 of a sound, counted per channel (empty when End <= First).
struct TFrameSpan {
    std::int64_t First = 0;
    std::int64_t End = 0;

    std::int64_t Frames() const noexcept { return End > First ? End - First : 0; }
    bool operator==(const TFrameSpan&) const = default;
};

} // namespace kavrel
