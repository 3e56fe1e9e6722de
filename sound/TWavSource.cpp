#include "sound/TWavSource.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace kavrel {

TWavSource TWavSource::FromMemory(std::span<const std::byte> bytes)
{
    auto position = std::make_shared<std::size_t>(0);
    TWavSource source;
    source.Read = [bytes, position](std::byte* dst, std::size_t n) {
        const std::size_t got = std::min(n, bytes.size() - *position);
        if (got > 0)
            std::memcpy(dst, bytes.data() + *position, got);
        *position += got;
        return got;
    };
    source.Seek = [bytes, position](std::uint64_t offset) {
        if (offset > bytes.size())
            return false;
        *position = static_cast<std::size_t>(offset);
        return true;
    };
    source.Size = bytes.size();
    return source;
}

} // namespace kavrel
