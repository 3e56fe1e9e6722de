#pragma once

// Writing a 16-bit PCM wave file whose samples are produced while it is written, so that a long
// sound never has to exist in memory as a whole.

#include "sound/TWav.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string>

namespace kavrel {

struct TWavStreamFormat {
    std::int32_t Channels = 0;
    std::int32_t SampleRate = 0;
    std::int64_t Length = 0; // frames
};

// The interleaved samples from frame `first` on: whole frames, at least one, no more than are
// left. Called in order on the writing thread; the span must stay valid until the next call.
using TWavBlockSource = std::function<std::span<const std::int16_t>(std::int64_t first)>;

// Writes the file as TWav::WriteFile does (temporary file renamed over the target when complete,
// a device or pipe written to directly), taking the samples from next. Raises EWavError when the
// file cannot be written or the sound cannot be held by a wave file; whatever next raises passes
// through, leaving the target untouched. Returns false when progress cancelled.
bool WriteWavStream(const std::string& path, const TWavStreamFormat& format,
                    const TWavBlockSource& next, const TWavProgress& progress = {});

} // namespace kavrel
