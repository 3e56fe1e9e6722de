#pragma once

#include "sound/TWav.h"
#include "sound/TWavScan.h"

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
    // The file holds more data than its 32-bit size can state; only what it states was read.
    bool oversized = false;
    TWavEncoding encoding = TWavEncoding::None;
};

// Receives the samples of a scan instead of the arrays of a TDecodedWav.
struct TScanSink {
    // frames: how many the data chunk holds, -1 when the size of the source is not known.
    std::function<void(std::int32_t channels, std::int32_t rate, TWavEncoding encoding,
                       std::int64_t frames)>
        OnFormat;
    // Empty: the data is only counted, not decoded (skipped where the source can seek).
    TWavBlockSink OnBlock;
    // Given: where the values are read or converted to, before OnBlock.
    TWavBlockPlace Place;
};

// Parses and decodes a RIFF/WAVE stream. Throws EWavError naming `name` for anything it cannot
// read; returns nothing when `progress` cancels. With `scan` the samples go to it block by block
// and the result holds no channels (its length and truncation mark still count them).
std::optional<TDecodedWav> DecodeWav(const TWavSource& source, const std::string& name,
                                     const TWavProgress& progress, const TScanSink* scan = nullptr);

} // namespace kavrel::detail
