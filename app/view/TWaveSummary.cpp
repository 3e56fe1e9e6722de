#include "app/view/TWaveSummary.h"

#include <algorithm>
#include <system_error>
#include <thread>
#include <vector>

namespace kavrel {

namespace {

constexpr std::size_t FinestBlock = TWaveSummary::LevelSizes[0];

// log2 of each level's block size: the sizes are powers of two, so block numbers come from
// shifts rather than divisions, which matters at one query per pixel column.
constexpr std::array<unsigned, TWaveSummary::LevelSizes.size()> LevelShifts = [] {
    std::array<unsigned, TWaveSummary::LevelSizes.size()> shifts{};
    for (std::size_t k = 0; k < shifts.size(); ++k)
        while ((std::size_t{1} << shifts[k]) < TWaveSummary::LevelSizes[k])
            ++shifts[k];
    return shifts;
}();
static_assert([] {
    for (std::size_t k = 0; k < LevelShifts.size(); ++k)
        if ((std::size_t{1} << LevelShifts[k]) != TWaveSummary::LevelSizes[k])
            return false;
    return true;
}());

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

// Folds count > 0 samples into r. Chunks of a fixed length let the compiler vectorise the scan.
void ScanRaw(const std::int16_t* p, std::size_t count, TMinMax& r) noexcept
{
    constexpr std::size_t chunk = 32;
    std::int16_t mn = p[0];
    std::int16_t mx = p[0];
    std::size_t i = 0;
    for (; i + chunk <= count; i += chunk)
        for (std::size_t j = 0; j < chunk; ++j) {
            mn = p[i + j] < mn ? p[i + j] : mn;
            mx = p[i + j] > mx ? p[i + j] : mx;
        }
    for (; i < count; ++i) {
        mn = p[i] < mn ? p[i] : mn;
        mx = p[i] > mx ? p[i] : mx;
    }
    r.Min = std::min<std::int32_t>(r.Min, mn);
    r.Max = std::max<std::int32_t>(r.Max, mx);
}

// Below this many finest blocks (about 4 M samples) one thread scans them all.
constexpr std::size_t ParallelBlocks = 16384;
constexpr unsigned MaxThreads = 4;

} // namespace

void TWaveSummary::ScanFinest(std::size_t first, std::size_t end) noexcept
{
    std::vector<TBlock>& finest = m_levels[0];
    const std::int16_t* data = m_samples.data();
    for (std::size_t b = first; b < end; ++b)
        ScanFinestBlock(data + b * FinestBlock, finest[b].Min, finest[b].Max);
}

void TWaveSummary::Build(std::span<const std::int16_t> samples)
{
    m_samples = samples;
    std::vector<TBlock>& finest = m_levels[0];
    finest.resize(samples.size() / FinestBlock);

    // The scan of the samples is bound by memory bandwidth, which one core does not exhaust; a
    // long sound is split between a few threads. Without threads it is scanned here alone.
    const std::size_t blocks = finest.size();
    const unsigned threads = blocks < ParallelBlocks
                                 ? 1u
                                 : std::clamp(std::thread::hardware_concurrency(), 1u, MaxThreads);
    std::vector<std::thread> helpers;
    // Reserved first: once a thread runs, nothing may throw before it is joined.
    helpers.reserve(threads);
    std::size_t done = 0;
    for (unsigned t = 1; t < threads; ++t) {
        const std::size_t first = blocks * (t - 1) / threads;
        const std::size_t end = blocks * t / threads;
        try {
            helpers.emplace_back([this, first, end] { ScanFinest(first, end); });
            done = end;
        } catch (const std::system_error&) {
            break;
        }
    }
    ScanFinest(done, blocks);
    for (std::thread& helper : helpers)
        helper.join();

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
    // A run of at most one finest block's length: scanning it costs no more than the lookup.
    if (last - first < FinestBlock) {
        ScanRaw(m_samples.data() + first, last - first + 1, r);
        return r;
    }
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
        const unsigned shift = LevelShifts[k];
        const std::size_t b0 = (begin + size - 1) >> shift;
        const std::size_t b1 = end >> shift;
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

} // namespace kavrel
