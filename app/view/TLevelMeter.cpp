#include "app/view/TLevelMeter.h"

#include <algorithm>
#include <cmath>

namespace kavrel {

namespace {

double Dbfs(double ratio) noexcept
{
    return ratio > 0.0 ? std::max(20.0 * std::log10(ratio), TLevelMeter::FloorDb)
                       : TLevelMeter::FloorDb;
}

} // namespace

TLevelMeter::TLevelMeter(int channels, int rate, int overloadLimit)
    : m_channels(std::max(channels, 1)), m_rate(std::max(rate, 1)), m_overloadLimit(overloadLimit),
      m_window(static_cast<std::size_t>(std::max(std::lround(RmsSeconds * m_rate), 1L))),
      m_holdFrames(std::lround(HoldSeconds * m_rate)), m_state(static_cast<std::size_t>(m_channels))
{
    for (TChannel& c : m_state)
        c.squares.assign(m_window, 0);
}

void TLevelMeter::Reset() noexcept
{
    for (TChannel& c : m_state) {
        std::fill(c.squares.begin(), c.squares.end(), 0);
        c = TChannel{std::move(c.squares)};
    }
    m_at = 0;
    m_filled = 0;
    m_overloads = 0;
}

void TLevelMeter::Add(std::span<const std::int16_t> interleaved) noexcept
{
    const auto chans = static_cast<std::size_t>(m_channels);
    const std::size_t frames = interleaved.size() / chans;
    // Nothing new heard: the last reading stands.
    if (frames == 0)
        return;
    for (TChannel& c : m_state)
        c.peak = 0;
    for (std::size_t f = 0; f < frames; ++f) {
        for (std::size_t ch = 0; ch < chans; ++ch) {
            TChannel& c = m_state[ch];
            const std::int32_t v = interleaved[f * chans + ch];
            const std::int32_t a = std::abs(v);
            const std::int32_t sq = v * v;
            c.sum += sq - c.squares[m_at];
            c.squares[m_at] = sq;
            c.peak = std::max(c.peak, a);
            if (a > m_overloadLimit)
                ++m_overloads;
        }
        if (++m_at == m_window)
            m_at = 0;
    }
    m_filled = std::min(m_filled + frames, m_window);
    const auto added = static_cast<std::int64_t>(frames);
    for (TChannel& c : m_state) {
        c.holdAge += added;
        if (c.peak >= c.hold || c.holdAge > m_holdFrames) {
            c.hold = c.peak;
            c.holdAge = 0;
        }
    }
}

TMeterReading TLevelMeter::Reading(int channel) const noexcept
{
    if (channel < 0 || channel >= m_channels)
        return {};
    const TChannel& c = m_state[static_cast<std::size_t>(channel)];
    TMeterReading r;
    r.PeakDb = Dbfs(c.peak / 32768.0);
    r.HoldDb = Dbfs(c.hold / 32768.0);
    if (m_filled > 0)
        r.RmsDb =
            Dbfs(std::sqrt(static_cast<double>(c.sum) / static_cast<double>(m_filled)) / 32768.0);
    return r;
}

} // namespace kavrel
