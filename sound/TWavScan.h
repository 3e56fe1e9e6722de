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

// Where the next values of a scan may go, asked for at most `values` of them: whole frames, at
// least one.
using TWavBlockPlace = std::function<std::span<std::int16_t>(std::size_t values)>;

// Reads the sound file at path as ReadFile does (any format it reads), handing its samples to
// sink in order instead of storing them; format is filled in before the first block. With an
// empty sink the samples are only counted, and skipped where a wave file can seek: the header and
// the sizes in constant memory. Blocks are at most 256 KB of a wave file, 32768 frames of other
// formats. Raises EWavError as ReadFile does. Returns false when progress cancelled. Truncated is
// set when the data ended early. With place, a wave file's values are read (16-bit) or converted
// straight into the spans it gives, each then handed to sink (the same values, with no copy);
// other formats leave it aside.
bool ScanWavFile(const std::string& path, TWavScanFormat& format, const TWavBlockSink& sink,
                 bool& truncated, const TWavProgress& progress = {},
                 const TWavBlockPlace& place = {});

} // namespace kavrel
