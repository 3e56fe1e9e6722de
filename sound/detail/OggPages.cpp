// An Ogg page: "OggS", version, flags (4: the stream ends here), 64-bit granule position, serial
// number, sequence number, CRC-32 (polynomial 0x04C11DB7, the field taken as 0), segment count,
// segment table, then the segments. A page is at most 65307 bytes.
#include "sound/detail/OggPages.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace kavrel::detail {

namespace {

constexpr std::size_t kHeaderBytes = 27;
constexpr std::size_t kMaxPageBytes = kHeaderBytes + 255 + 255 * 255;

constexpr std::array<std::uint32_t, 256> MakeCrcTable()
{
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t r = i << 24;
        for (int bit = 0; bit < 8; ++bit)
            r = (r & 0x80000000u) != 0 ? (r << 1) ^ 0x04C11DB7u : r << 1;
        table[i] = r;
    }
    return table;
}

constexpr std::array<std::uint32_t, 256> kCrcTable = MakeCrcTable();

std::uint32_t PageCrc(const std::byte* page, std::size_t size)
{
    std::uint32_t crc = 0;
    for (std::size_t i = 0; i < size; ++i) {
        // The checksum field itself counts as zeros.
        const auto b = i >= 22 && i < 26 ? 0u : std::to_integer<std::uint32_t>(page[i]);
        crc = (crc << 8) ^ kCrcTable[((crc >> 24) ^ b) & 0xFFu];
    }
    return crc;
}

std::uint32_t StoredCrc(const std::byte* page)
{
    std::uint32_t crc = 0;
    for (int i = 3; i >= 0; --i)
        crc = (crc << 8) | std::to_integer<std::uint32_t>(page[22 + i]);
    return crc;
}

// The length of the page at p (n bytes available), or 0 when it is not a whole, valid page.
std::size_t PageLength(const std::byte* p, std::size_t n)
{
    if (n < kHeaderBytes || std::memcmp(p, "OggS", 4) != 0 || p[4] != std::byte{0})
        return 0;
    const auto segments = std::to_integer<std::size_t>(p[26]);
    if (n < kHeaderBytes + segments)
        return 0;
    std::size_t length = kHeaderBytes + segments;
    for (std::size_t i = 0; i < segments; ++i)
        length += std::to_integer<std::size_t>(p[kHeaderBytes + i]);
    if (length > n || PageCrc(p, length) != StoredCrc(p))
        return 0;
    return length;
}

} // namespace

std::optional<TOggPage> LastOggPage(const TWavSource& source)
{
    if (!source.Seek || !source.Size || !source.Read)
        return std::nullopt;
    const std::uint64_t size = *source.Size;
    const std::uint64_t start = size - std::min<std::uint64_t>(size, 2 * kMaxPageBytes);
    std::vector<std::byte> tail(static_cast<std::size_t>(size - start));
    if (!source.Seek(start))
        return std::nullopt;
    tail.resize(source.Read(tail.data(), tail.size()));
    for (std::size_t at = tail.size(); at-- > 0;) {
        const std::size_t length = PageLength(tail.data() + at, tail.size() - at);
        if (length == 0)
            continue;
        TOggPage page;
        page.Offset = start + at;
        page.Bytes.assign(tail.begin() + static_cast<std::ptrdiff_t>(at),
                          tail.begin() + static_cast<std::ptrdiff_t>(at + length));
        page.EndOfStream = (std::to_integer<unsigned>(page.Bytes[5]) & 4u) != 0;
        page.AtEnd = at + length == tail.size() && start + tail.size() == size;
        return page;
    }
    return std::nullopt;
}

std::vector<std::byte> WithGranule(const TOggPage& page, std::uint64_t granule)
{
    std::vector<std::byte> bytes = page.Bytes;
    for (int i = 0; i < 8; ++i)
        bytes[static_cast<std::size_t>(6 + i)] =
            static_cast<std::byte>((granule >> (8 * i)) & 0xFF);
    const std::uint32_t crc = PageCrc(bytes.data(), bytes.size());
    for (int i = 0; i < 4; ++i)
        bytes[static_cast<std::size_t>(22 + i)] = static_cast<std::byte>((crc >> (8 * i)) & 0xFF);
    return bytes;
}

} // namespace kavrel::detail
