#pragma once

#include "sound/TWavSource.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace kavrel::detail {

// The last whole Ogg page of a file: where it starts, its bytes and whether it closes its stream.
struct TOggPage {
    std::uint64_t Offset = 0;
    std::vector<std::byte> Bytes;
    bool EndOfStream = false;
    // The page ends where the file does.
    bool AtEnd = false;
};

// Looks for the last page (capture pattern, a header that fits, a right checksum) in the last
// 64 KB of the source, which must be able to seek and know its size; leaves the source at an
// unknown position. Nothing when there is none.
std::optional<TOggPage> LastOggPage(const TWavSource& source);

// The page with another granule position, its checksum made right again.
std::vector<std::byte> WithGranule(const TOggPage& page, std::uint64_t granule);

} // namespace kavrel::detail
