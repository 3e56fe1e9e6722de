#include "app/windows/TWaveOverview.h"

#include <algorithm>

namespace kavrel {

namespace {

void Scan(std::span<const std::int16_t> samples, std::size_t first, std::size_t end,
          TSampleRange& r) noexcept
{
    for (std::size_t i = first; i < end; ++i) {
        const std::int32_t s = samples[i];
        r.Min = std::min(r.Min, s);
        r.Max = std::max(r.Max, s);
    }
}

}  // namespace

void TWaveOverview::Build(std::span<const std::int16_t> samples)
{
    m_count = samples.size();
    m_source = samples.data();
    m_blocks.assign((m_count + BlockSize - 1) / BlockSize, TSampleRange{32768, -32768});
    for (std::size_t b = 0; b < m_blocks.size(); ++b)
        Scan(samples, b * BlockSize, std::min(m_count, (b + 1) * BlockSize), m_blocks[b]);
}

TSampleRange TWaveOverview::MinMax(std::span<const std::int16_t> samples, std::size_t first,
                                   std::size_t last) const noexcept
{
    TSampleRange r{32768, -32768};
    const std::size_t end = last + 1;
    const std::size_t firstFull = (first + BlockSize - 1) / BlockSize;
    const std::size_t endFull = end / BlockSize;
    if (firstFull >= endFull) {
        Scan(samples, first, end, r);
        return r;
    }
    Scan(samples, first, firstFull * BlockSize, r);
    for (std::size_t b = firstFull; b < endFull; ++b) {
        r.Min = std::min(r.Min, m_blocks[b].Min);
        r.Max = std::max(r.Max, m_blocks[b].Max);
    }
    Scan(samples, endFull * BlockSize, end, r);
    return r;
}

}  // namespace kavrel
