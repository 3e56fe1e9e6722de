#pragma once

#include "sound/TWav.h"
#include "sound/TWavStream.h"

#include <string>

namespace kavrel::detail {

// True when `path` ends in ".flac" (any case): such a name is saved as FLAC, not as a wave file.
bool IsFlacName(const std::string& path);

// Throws EWavError naming `path` when its ending names a sound format other than wave and FLAC
// (".ogg", ".mp3", ".aiff" …): a wave file under such a name would be mistaken for that format.
void RefuseOtherSoundName(const std::string& path);

// Writes the 16-bit samples of `wav` as a FLAC file (compression level 5) through a temporary
// file beside `path` that replaces it only when complete, as the wave writer does. Throws EWavError
// naming `path` when the sound cannot be stored as FLAC or the file cannot be written. Returns
// false when `progress` cancels; `path` is then untouched.
bool WriteFlacFile(const TWav& wav, const std::string& path, const TWavProgress& progress);

// The same for samples that come block by block from `next`.
bool WriteFlacStream(const TWavStreamFormat& format, const TWavBlockSource& next,
                     const std::string& path, const TWavProgress& progress);

} // namespace kavrel::detail
