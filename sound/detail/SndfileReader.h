#pragma once

#include "sound/detail/WavReader.h"

#include <optional>
#include <string>

namespace kavrel::detail {

// Decodes a sound file of any format libsndfile reads (FLAC, Ogg Vorbis, Opus, MP3, AIFF/AIFC,
// CAF, W64, RF64 …) into the same result as DecodeWav, with the same 16-bit conversion: integer
// samples are rounded from their top 16 bits, float and lossy-coded samples are scaled by 32768
// and rounded. The source must be able to seek. Sets `unrecognised` and returns nothing when
// libsndfile does not know the format; throws EWavError naming `name` for a file it knows but
// cannot read. Returns nothing when `progress` cancels.
std::optional<TDecodedWav> DecodeSndfile(const TWavSource& source, const std::string& name,
                                         const TWavProgress& progress, const TScanSink* scan,
                                         bool& unrecognised);

} // namespace kavrel::detail
