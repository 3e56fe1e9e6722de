#pragma once

#include "sound/TWav.h"
#include "sound/TWavStream.h"

#include <cstddef>
#include <functional>
#include <string>

namespace kavrel::detail {

// Receives the bytes of an encoded file in order; throws on failure.
using TByteSink = std::function<void(const std::byte* bytes, std::size_t count)>;

// Sends the 44-byte header and the interleaved 16-bit samples of `wav` to `sink`. Throws
// EWavError naming `name` when the sound cannot be stored in a wave file. Returns false when
// `progress` cancels.
bool EncodeWav(const TWav& wav, const std::string& name, const TByteSink& sink,
               const TWavProgress& progress);

// Writes `wav` to `path` through a temporary file in the same folder that is renamed over the
// target once it is complete and flushed to disk. Returns false when cancelled.
bool WriteWavFile(const TWav& wav, const std::string& path, const TWavProgress& progress);

// The same for samples that come block by block from `next`.
bool EncodeWavStream(const TWavStreamFormat& format, const TWavBlockSource& next,
                     const std::string& name, const TByteSink& sink, const TWavProgress& progress);
bool WriteWavStream(const TWavStreamFormat& format, const TWavBlockSource& next,
                    const std::string& path, const TWavProgress& progress);

} // namespace kavrel::detail
