#pragma once

// Reading a wave file's samples block by block without keeping them, for work that needs each
// sample once (levels): no array of the whole sound is built.

#include "sound/TWav.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string>

namespace kavrel {

// What a scan found out about the file before its samples.
struct TWavScanFormat {
    std::int32_t Channels = 0;
    std::int32_t SampleRate = 0;
    TWavEncoding Encoding = TWavEncoding::None;
    // The whole frames the data chunk holds, as far as the file reaches; -1 when the file's size
    // is not known (a pipe). Fewer come only when the file shrinks while it is read. For other
    // formats: the count in the file's header, -1 when it has none. After a completed scan: the
    // frames read.
    std::int64_t Frames = -1;
    // Set after a completed scan: as TWav::Oversized.
    bool Oversized = false;
};

// Successive whole frames of the file, interleaved, converted to 16 bits exactly as ReadFile
// converts them. The span is valid during the call only.
using TWavBlockSink = std::function<void(std::span<const std::int16_t> interleaved)>;

// Reads the sound file at path as ReadFile does (any format it reads), handing its samples to
// sink in order instead of storing them; format is filled in before the first block. With an
// empty sink the samples are only counted, and skipped where a wave file can seek: the header and
// the sizes in constant memory. Blocks are at most 256 KB of a wave file, 32768 frames of other
// formats. Raises EWavError as ReadFile does. Returns false when progress cancelled. Truncated is
// set when the data ended early.
bool ScanWavFile(const std::string& path, TWavScanFormat& format, const TWavBlockSink& sink,
                 bool& truncated, const TWavProgress& progress = {});

// Value c of each frame of interleaved (channels values a frame) to out[c], which holds a value
// for each frame; in vector instructions where the processor has them.
void SplitChannels(std::span<const std::int16_t> interleaved, std::int32_t channels,
                   std::int16_t* const* out) noexcept;

} // namespace kavrel
