#include "sound/TWavEncoding.h"

namespace kavrel {

std::string_view EncodingName(TWavEncoding encoding) noexcept
{
    switch (encoding) {
    case TWavEncoding::None:
        return "none";
    case TWavEncoding::Pcm8:
        return "pcm8";
    case TWavEncoding::Pcm16:
        return "pcm16";
    case TWavEncoding::Pcm24:
        return "pcm24";
    case TWavEncoding::Pcm32:
        return "pcm32";
    case TWavEncoding::Float32:
        return "float32";
    case TWavEncoding::Float64:
        return "float64";
    case TWavEncoding::Vorbis:
        return "vorbis";
    case TWavEncoding::Opus:
        return "opus";
    case TWavEncoding::Mpeg:
        return "mpeg";
    case TWavEncoding::Other:
        return "other";
    }
    return "none";
}

} // namespace kavrel
