#pragma once

#include <string_view>

namespace kavrel {

// How the samples of a sound file were stored on disk. In memory they are always 16-bit.
enum class TWavEncoding {
    None, // nothing read yet, or cleared
    Pcm8, // 8-bit (unsigned in wave files)
    Pcm16,
    Pcm24,
    Pcm32,
    Float32,
    Float64,
    Vorbis, // the lossy codes, decoded through floating point
    Opus,
    Mpeg,
    Other, // companded or ADPCM codes of other containers, decoded to 16 bits
};

// "none", "pcm8", "pcm16", "pcm24", "pcm32", "float32", "float64", "vorbis", "opus",
// "mpeg", "other".
std::string_view EncodingName(TWavEncoding encoding) noexcept;

} // namespace kavrel
