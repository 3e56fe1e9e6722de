#include "app/view/TLevelMeter.h"

#include <algorithm>
#include <array>
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
      m_holdFrames(std::lround(HoldSeconds * m_rate)),
      m_state(static_cast<std::size_t>(m_channels)), m_squares(m_window * m_state.size(), 0)
{
}

void TLevelMeter::Reset() noexcept
{
    std::fill(m_state.begin(), m_state.end(), TChannel{});
    std::fill(m_squares.begin(), m_squares.end(), 0);
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
    // In runs that end where the ring wraps.
    for (std::size_t f = 0; f < frames;) {
        const std::size_t run = std::min(frames - f, m_window - m_at);
        Fold(interleaved.data() + f * chans, run * chans, m_squares.data() + m_at * chans);
        f += run;
        m_at = m_at + run == m_window ? 0 : m_at + run;
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

void TLevelMeter::Fold(const std::int16_t* in, std::size_t count, std::int32_t* squares) noexcept
{
    const auto chans = static_cast<std::size_t>(m_channels);
    const std::int32_t limit = m_overloadLimit;
    std::size_t i = 0;
    // Where a fixed number of lanes holds whole frames, the values go through them in chunks, a
    // loop the compiler vectorises; lane j gathers channel j % chans.
    constexpr std::size_t Lanes = 32;
    if (Lanes % chans == 0 && count >= Lanes) {
        std::array<std::int64_t, Lanes> change{};
        std::array<std::int32_t, Lanes> peak{};
        std::array<std::int32_t, Lanes> over{};
        for (; i + Lanes <= count; i += Lanes) {
            for (std::size_t j = 0; j < Lanes; ++j) {
                const std::int32_t v = in[i + j];
                const std::int32_t a = v < 0 ? -v : v;
                const std::int32_t sq = v * v;
                change[j] += sq - squares[i + j];
                squares[i + j] = sq;
                peak[j] = a > peak[j] ? a : peak[j];
                over[j] += a > limit;
            }
        }
        for (std::size_t j = 0; j < Lanes; ++j) {
            TChannel& c = m_state[j % chans];
            c.sum += change[j];
            c.peak = std::max(c.peak, peak[j]);
            m_overloads += over[j];
        }
    }
    // The rest (all of it for other channel counts), a frame at a time.
    for (; i < count; i += chans) {
        for (std::size_t ch = 0; ch < chans; ++ch) {
            TChannel& c = m_state[ch];
            const std::int32_t v = in[i + ch];
            const std::int32_t a = std::abs(v);
            const std::int32_t sq = v * v;
            c.sum += sq - squares[i + ch];
            squares[i + ch] = sq;
            c.peak = std::max(c.peak, a);
            if (a > limit)
                ++m_overloads;
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
