#pragma once

#include "sound/TWav.h"

#include <optional>
#include <string>
#include <vector>

namespace kavrel::detail {

// A sound as it comes out of a wave file, before it replaces the contents of a TWav.
struct TDecodedWav {
    std::int32_t sampleRate = 0;
    std::int64_t length = 0;
    std::vector<TWav::TChannel> channels;
    bool truncated = false;
    TWavEncoding encoding = TWavEncoding::None;
};

// Parses and decodes a RIFF/WAVE stream. Throws EWavError naming `name` for anything it cannot
// read; returns nothing when `progress` cancels.
std::optional<TDecodedWav> DecodeWav(const TWavSource& source, const std::string& name,
                                     const TWavProgress& progress);

} // namespace kavrel::detail
