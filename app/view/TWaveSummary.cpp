#include "app/view/TWaveSummary.h"

#include <algorithm>

namespace kavrel {

namespace {

constexpr std::size_t FinestBlock = TWaveSummary::LevelSizes[0];

// Extremes of one finest block. The fixed trip count lets the compiler vectorise the loop.
void ScanFinestBlock(const std::int16_t* p, std::int16_t& lo, std::int16_t& hi) noexcept
{
    std::int16_t mn = p[0];
    std::int16_t mx = p[0];
    for (std::size_t i = 0; i < FinestBlock; ++i) {
        mn = p[i] < mn ? p[i] : mn;
        mx = p[i] > mx ? p[i] : mx;
    }
    lo = mn;
    hi = mx;
}

void ScanRaw(const std::int16_t* p, std::size_t count, TMinMax& r) noexcept
{
    std::int32_t mn = r.Min;
    std::int32_t mx = r.Max;
    for (std::size_t i = 0; i < count; ++i) {
        const std::int32_t s = p[i];
        mn = s < mn ? s : mn;
        mx = s > mx ? s : mx;
    }
    r.Min = mn;
    r.Max = mx;
}

}  // namespace

void TWaveSummary::Build(std::span<const std::int16_t> samples)
{
    m_samples = samples;
    std::vector<TBlock>& finest = m_levels[0];
    finest.resize(samples.size() / FinestBlock);
    const std::int16_t* data = samples.data();
    for (std::size_t b = 0; b < finest.size(); ++b)
        ScanFinestBlock(data + b * FinestBlock, finest[b].Min, finest[b].Max);

    for (std::size_t k = 1; k < LevelSizes.size(); ++k) {
        const std::vector<TBlock>& finer = m_levels[k - 1];
        std::vector<TBlock>& level = m_levels[k];
        const std::size_t factor = LevelSizes[k] / LevelSizes[k - 1];
        level.resize(samples.size() / LevelSizes[k]);
        for (std::size_t b = 0; b < level.size(); ++b) {
            const TBlock* p = finer.data() + b * factor;
            TBlock r = p[0];
            for (std::size_t i = 1; i < factor; ++i) {
                r.Min = std::min(r.Min, p[i].Min);
                r.Max = std::max(r.Max, p[i].Max);
            }
            level[b] = r;
        }
    }
}

void TWaveSummary::Clear() noexcept
{
    m_samples = {};
    for (std::vector<TBlock>& level : m_levels) {
        level.clear();
        level.shrink_to_fit();
    }
}

std::size_t TWaveSummary::BlockCount(std::size_t level) const noexcept
{
    return level < m_levels.size() ? m_levels[level].size() : 0;
}

TMinMax TWaveSummary::MinMax(std::size_t first, std::size_t last) const noexcept
{
    TMinMax r;
    if (first > last || last >= m_samples.size())
        return r;
    Combine(LevelSizes.size(), first, last + 1, r);
    return r;
}

// Folds samples [begin, end) into result using the levels below `levels` and the raw samples.
// The coarsest level with a whole block inside the run takes its middle; the two ends, each
// shorter than one of that level's blocks, go to the finer levels.
void TWaveSummary::Combine(std::size_t levels, std::size_t begin, std::size_t end,
                           TMinMax& result) const noexcept
{
    for (; levels > 0; --levels) {
        const std::size_t k = levels - 1;
        const std::size_t size = LevelSizes[k];
        const std::size_t b0 = (begin + size - 1) / size;
        const std::size_t b1 = end / size;
        if (b0 >= b1)
            continue;
        Combine(k, begin, b0 * size, result);
        std::int32_t mn = result.Min;
        std::int32_t mx = result.Max;
        for (const TBlock& block : std::span(m_levels[k]).subspan(b0, b1 - b0)) {
            mn = std::min<std::int32_t>(mn, block.Min);
            mx = std::max<std::int32_t>(mx, block.Max);
        }
        result.Min = mn;
        result.Max = mx;
        Combine(k, b1 * size, end, result);
        return;
    }
    if (begin < end)
        ScanRaw(m_samples.data() + begin, end - begin, result);
}

}  // namespace kavrel
