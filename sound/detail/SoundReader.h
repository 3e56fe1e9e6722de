#pragma once

#include "sound/detail/WavReader.h"

#include <optional>
#include <string>

namespace kavrel::detail {

// Reads any sound file the program opens: RIFF wave files through DecodeWav, everything else
// (RF64/BW64 included) through libsndfile. Same contract as DecodeWav.
std::optional<TDecodedWav> DecodeSound(const TWavSource& source, const std::string& name,
                                       const TWavProgress& progress,
                                       const TScanSink* scan = nullptr);

} // namespace kavrel::detail
