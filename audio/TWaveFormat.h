#pragma once

#include <cstdint>

namespace kavrel {

// A PCM format as handed to an output device. Kept wide so that no field silently wraps; the
// device rejects what it cannot play (weBadFormat).
struct TWaveFormat {
    int formatTag = 1;               // 1 = integer PCM
    int channels = 1;                // interleaved channels
    int samplesPerSec = 16000;       // frames per second
    std::int64_t avgBytesPerSec = 0; // channels * samplesPerSec * 2
    int blockAlign = 2;              // bytes per frame: channels * 2
    int bitsPerSample = 16;
    int extraSize = 0;

    friend bool operator==(const TWaveFormat&, const TWaveFormat&) = default;
};

} // namespace kavrel
