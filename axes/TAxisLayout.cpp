#include "axes/TAxisModel.h"

#include "axes/AxisTicks.h"

#include <algorithm>
#include <cmath>
#include <string>

// The tick table and the painting of the axis model: the linear layout with its step taken
// coarser where labels would run together, the logarithmic layout with its thinning.
namespace kavrel {

namespace {

// The logarithmic layout never makes more ticks than this, whatever the range.
constexpr int kMaxLogTicks = 100000;
// Each coarser step at least doubles the spacing: this many reach any spacing an int can hold.
constexpr int kMaxCoarserSteps = 40;

} // namespace

void TAxisModel::RecomputeTicks() const
{
    m_stale = false;
    m_ticks.clear();
    const double lo = LoValue();
    const double hi = HiValue();
    if (m_logarithmic && (m_musicScale || (lo > 0 && hi / lo > 4))) {
        LogarithmicLayout();
    } else {
        LinearLayout();
    }
}

void TAxisModel::LinearLayout() const
{
    using axisticks::NiceNumber;
    const double lo = LoValue();
    const double hi = HiValue();
    const int length = AxisLength();

    double n = 3;
    if (m_tickSpaceAim != 0) {
        const double nice = std::nearbyint(NiceNumber(length - 1.0));
        if (std::isfinite(nice)) {
            n = std::trunc(nice / m_tickSpaceAim);
        }
    }
    double d = 1;
    if (n != 0) {
        const double step = NiceNumber((hi - lo) / n);
        if (std::isfinite(step)) {
            d = step;
        }
    }
    // The step from the aimed spacing stands where its labels fit; where they would run into
    // each other (a small font aim on a wide range, long labels), the next coarser nice step is
    // taken until they fit.
    for (int coarser = 0;; ++coarser) {
        LinearTicks(lo, hi, d);
        if (coarser >= kMaxCoarserSteps || !LabelsCrowded()) {
            return;
        }
        const double next = axisticks::NextNiceStep(d);
        if (!std::isfinite(next)) {
            return;
        }
        d = next;
        m_ticks.clear();
    }
}

void TAxisModel::LinearTicks(double lo, double hi, double d) const
{
    const int length = AxisLength();
    double first = 0;
    if (d != 0) {
        first = std::trunc(lo / d) * d;
        if (!std::isfinite(first)) {
            first = 0;
        }
    }
    if (lo > first) {
        first += d;
    }
    double count = 3;
    if (d != 0) {
        count = std::trunc((hi - lo) / d) + 2;
        // A fallback step of 1 on a wide range would give absurdly many ticks; a real layout
        // never has more than about twice as many ticks as the axis is long.
        const double limit = std::min(4.0 * std::max(length, 0) + 8, 1e6);
        if (!std::isfinite(count) || count > limit) {
            count = 3;
        }
    }
    const int ticks = count > 0 ? static_cast<int>(count) : 0;
    const double span = m_storedHi - m_storedLo;
    m_ticks.reserve(static_cast<std::size_t>(ticks));
    for (int i = 0; i < ticks; ++i) {
        const double value = first + i * d;
        const bool zero = span == 0 || std::fabs(value / span) < 1e-5;
        m_ticks.push_back(
            {value, ValueToPixel(value), zero ? std::string(1, '0') : NumberLabel(value)});
    }
}

bool TAxisModel::LabelDrawn(const TAxisTick& tick, int& from, int& to) const
{
    if (tick.Label.empty()) {
        return false;
    }
    const bool vertical = IsVertical();
    const int extent = vertical ? MeasureHeight(tick.Label) : MeasureWidth(tick.Label);
    const long long start = static_cast<long long>(tick.Pixel) - extent / 2;
    const long long half = static_cast<long long>(tick.Pixel) + extent / 2;
    if (vertical) {
        const int top = m_axisText.empty() ? 0 : MeasureHeight(m_axisText);
        if (start < top || half >= m_height) {
            return false;
        }
    } else {
        const int right = m_width - (m_axisText.empty() ? 0 : MeasureWidth(m_axisText));
        if (start < 0 || half >= right) {
            return false;
        }
    }
    from = static_cast<int>(start);
    to = static_cast<int>(start + extent);
    return true;
}

bool TAxisModel::LabelsCrowded() const
{
    // Labels side by side keep a blank between them; rows of text above each other need none
    // (the line height has its own spacing).
    const int gap = IsVertical() ? 0 : MeasureWidth(" ");
    bool any = false;
    int lastFrom = 0;
    int lastTo = 0;
    for (const TAxisTick& tick : m_ticks) {
        int from = 0;
        int to = 0;
        if (!LabelDrawn(tick, from, to)) {
            continue;
        }
        if (any && from < lastTo + gap && to + gap > lastFrom) {
            return true;
        }
        any = true;
        lastFrom = from;
        lastTo = to;
    }
    return false;
}

void TAxisModel::LogarithmicLayout() const
{
    const double hi = HiValue();
    double x = LoValue();
    while (static_cast<int>(m_ticks.size()) < kMaxLogTicks) {
        const double next = m_musicScale ? axisticks::NextMusicTick(x) : axisticks::NextLogTick(x);
        if (!std::isfinite(next) || !(next > x)) {
            break;
        }
        x = next;
        TAxisTick tick;
        tick.Value = x;
        tick.Pixel = RawValueToPixel(x);
        tick.Label = m_musicScale ? axisticks::NoteName(x) : NumberLabel(x);
        m_ticks.push_back(std::move(tick));
        if (x > hi) {
            break;
        }
    }
    ThinLabels();
}

void TAxisModel::ThinLabels() const
{
    const int length = AxisLength();
    if (length <= 0) {
        return;
    }
    m_occupied.assign(static_cast<std::size_t>(length), false);
    auto clampEnd = [length](long long p) {
        return static_cast<int>(std::max(0LL, std::min(p, static_cast<long long>(length) - 1)));
    };
    auto visit = [&](TAxisTick& tick, bool clearFirst) {
        if (clearFirst) {
            tick.Label.clear();
        }
        const bool vertical = IsVertical();
        if (!tick.Label.empty()) {
            long long half = (vertical ? MeasureHeight(tick.Label) : MeasureWidth(tick.Label)) / 2;
            if (!m_musicScale) {
                half += 1;
            }
            const int from = clampEnd(static_cast<long long>(tick.Pixel) - half);
            const int to = clampEnd(static_cast<long long>(tick.Pixel) + half);
            for (int p = from; p <= to; ++p) {
                if (m_occupied[static_cast<std::size_t>(p)]) {
                    tick.Label.clear();
                    break;
                }
            }
        }
        const long long w = tick.Label.empty() ? 0 : MeasureWidth(tick.Label);
        const int from = clampEnd(static_cast<long long>(tick.Pixel) - w / 2);
        const int to = clampEnd(static_cast<long long>(tick.Pixel) + w / 2);
        for (int p = from; p <= to; ++p) {
            m_occupied[static_cast<std::size_t>(p)] = true;
        }
    };
    if (m_musicScale) {
        static const int kOrder[12] = {9, 0, 2, 4, 5, 7, 11, 1, 3, 6, 8, 10};
        for (int round = 0; round < 12; ++round) {
            for (auto& tick : m_ticks) {
                if (tick.Label.empty() || axisticks::PitchClass(tick.Value) != kOrder[round]) {
                    continue;
                }
                visit(tick, round >= 7);
            }
        }
    } else {
        static const char kOrder[9] = {'1', '2', '5', '3', '4', '8', '6', '7', '9'};
        for (char digit : kOrder) {
            for (auto& tick : m_ticks) {
                if (tick.Label.empty()) {
                    continue;
                }
                const auto at = tick.Label.find_first_of("123456789");
                if (at == std::string::npos || tick.Label[at] != digit) {
                    continue;
                }
                visit(tick, false);
            }
        }
    }
}

// ---- painting -------------------------------------------------------------------------------

void TAxisModel::Paint(TAxisCanvas& canvas)
{
    RecomputeTicks();
    const int size = m_tickMarkSize;
    int a = 0;
    if (m_position == tposition::posleft) {
        a = m_width - size;
    } else if (m_position == tposition::posover) {
        a = m_height - size;
    }
    canvas.FillRect(0, 0, m_width, m_height, m_backgroundColor);
    m_markerDrawn = false;

    const int textWidth = m_axisText.empty() ? 0 : MeasureWidth(m_axisText);
    const int textHeight = m_axisText.empty() ? 0 : MeasureHeight(m_axisText);
    if (IsVertical()) {
        if (!m_axisText.empty()) {
            canvas.DrawText(m_position == tposition::posleft ? 0 : m_width - textWidth, 0,
                            m_axisText);
        }
        for (const auto& tick : m_ticks) {
            canvas.Line(a, tick.Pixel, a + size, tick.Pixel);
            int from = 0;
            int to = 0;
            if (LabelDrawn(tick, from, to)) {
                const int w = MeasureWidth(tick.Label);
                const int x = m_position == tposition::posleft ? a - size - w : size + 1;
                canvas.DrawText(x, from, tick.Label);
            }
        }
    } else {
        if (!m_axisText.empty()) {
            canvas.DrawText(m_width - textWidth,
                            m_position == tposition::posover ? a - textHeight : a + size,
                            m_axisText);
        }
        for (const auto& tick : m_ticks) {
            canvas.Line(tick.Pixel, a, tick.Pixel, a + size);
            int from = 0;
            int to = 0;
            if (LabelDrawn(tick, from, to)) {
                const int h = MeasureHeight(tick.Label);
                canvas.DrawText(from, m_position == tposition::posover ? a - h : a + size,
                                tick.Label);
            }
        }
    }
    if (m_markerVisible) {
        int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
        MarkerLine(MarkerPixel(), x0, y0, x1, y1);
        canvas.InvertLine(x0, y0, x1, y1);
        m_markerDrawn = true;
    }
}

} // namespace kavrel
