#pragma once

#include <string_view>

namespace kavrel {

// How the samples of a wave file were stored on disk. In memory they are always 16-bit.
enum class TWavEncoding {
    None, // nothing read yet, or cleared
    Pcm8, // unsigned 8-bit
    Pcm16,
    Pcm24,
    Pcm32,
    Float32,
    Float64,
};

// "none", "pcm8", "pcm16", "pcm24", "pcm32", "float32", "float64".
std::string_view EncodingName(TWavEncoding encoding) noexcept;

} // namespace kavrel
