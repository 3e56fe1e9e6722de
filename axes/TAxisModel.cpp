#include "axes/TAxisModel.h"

#include "axes/AxisTicks.h"
#include "axes/EAxisError.h"
#include "axes/FloatText.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace kavrel {

namespace {

// Pixels are kept well inside int so that mirroring them (size - 1 - p) cannot overflow; a
// rounded result beyond this counts as not fitting.
constexpr double kPixelLimit = 1073741823.0;

// Rounds to nearest, halves to even, into a pixel; false when it does not fit.
bool RoundPixel(double value, long long& pixel)
{
    const double r = std::nearbyint(value);
    if (!std::isfinite(r) || r > kPixelLimit || r < -kPixelLimit) {
        return false;
    }
    pixel = static_cast<long long>(r);
    return true;
}

// log10(a / b) for positive a and b, also when the quotient itself over- or underflows (ranges
// like 1e-300..1e300).
double LogRatio(double a, double b)
{
    const double q = a / b;
    if (std::isfinite(q) && q > 0) {
        return std::log10(q);
    }
    return std::log10(a) - std::log10(b);
}

// Restores the in-event guard to what it was, also when the handler throws.
class TEventGuard {
public:
    explicit TEventGuard(bool& flag) : m_flag(flag), m_previous(flag) { m_flag = true; }
    ~TEventGuard() { m_flag = m_previous; }
    TEventGuard(const TEventGuard&) = delete;
    TEventGuard& operator=(const TEventGuard&) = delete;

private:
    bool& m_flag;
    bool m_previous;
};

} // namespace

TAxisModel::TAxisModel(TAxisDefaults defaults)
{
    m_storedHi = 1;
    m_storedLo = 0;
    if (defaults == TAxisDefaults::Form) {
        m_minLo = m_minHi = -1e300;
        m_maxLo = m_maxHi = 1e300;
        m_minDiff = 0;
        m_maxDiff = 1e300;
        m_allowLoScroll = m_allowHiScroll = true;
    }
}

void TAxisModel::SetHost(TAxisHost* host)
{
    m_host = host;
    m_markerDrawn = false;
    MarkStale();
}

void TAxisModel::SetLimitDialog(TAxisLimitDialog* dialog)
{
    m_dialog = dialog;
    if (m_dialog != nullptr) {
        m_dialog->SetAxisText(m_axisText);
    }
}

// ---- size -----------------------------------------------------------------------------------

void TAxisModel::SetWidth(int width)
{
    width = std::max(width, 0);
    if (width == m_width) {
        return;
    }
    m_width = width;
    MarkStale();
    if (m_host != nullptr) {
        m_host->Resized(m_width, m_height);
    }
    Invalidate();
}

void TAxisModel::SetHeight(int height)
{
    height = std::max(height, 0);
    if (height == m_height) {
        return;
    }
    m_height = height;
    MarkStale();
    if (m_host != nullptr) {
        m_host->Resized(m_width, m_height);
    }
    Invalidate();
}

void TAxisModel::SetSize(int width, int height)
{
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (width == m_width && height == m_height) {
        return;
    }
    m_width = width;
    m_height = height;
    MarkStale();
    Invalidate();
}

bool TAxisModel::IsVertical() const
{
    return m_position == tposition::posleft || m_position == tposition::posright;
}

int TAxisModel::AxisLength() const
{
    return IsVertical() ? m_height : m_width;
}

// ---- range ----------------------------------------------------------------------------------

double TAxisModel::LoValue() const
{
    double s = m_storedLo;
    if (m_isInteger) {
        s = std::nearbyint(s);
        if (s < m_minLo) {
            s = std::ceil(m_minLo);
        }
        if (s > m_maxLo) {
            s = std::floor(m_maxLo);
        }
    } else {
        if (s < m_minLo) {
            s = m_minLo;
        }
        if (s > m_maxLo) {
            s = m_maxLo;
        }
    }
    return s;
}

double TAxisModel::HiValue() const
{
    double h = m_storedHi;
    const double s0 = m_storedLo;
    if (m_isInteger) {
        h = std::nearbyint(h);
        if (h < m_minHi) {
            h = std::ceil(m_minHi);
        }
        if (h > m_maxHi) {
            h = std::floor(m_maxHi);
        }
        if (h - s0 > m_maxDiff) {
            h = std::floor(s0 + m_maxDiff);
        }
        if (h - s0 < m_minDiff) {
            h = std::ceil(s0 + m_minDiff);
        }
    } else {
        if (h < m_minHi) {
            h = m_minHi;
        }
        if (h > m_maxHi) {
            h = m_maxHi;
        }
        if (h - s0 > m_maxDiff) {
            h = s0 + m_maxDiff;
        }
        if (h - s0 < m_minDiff) {
            h = s0 + m_minDiff;
        }
    }
    return h;
}

void TAxisModel::SetEndNoEvent(double value, bool low)
{
    // A NaN could never be clamped back into the limits; such a value is not taken.
    if (std::isnan(value)) {
        return;
    }
    double& stored = low ? m_storedLo : m_storedHi;
    if (value == stored) {
        return;
    }
    MarkStale();
    stored = value;
    if (m_logarithmic && value <= 0) {
        Invalidate();
        throw EAxisError(std::string(low ? "LoValue=" : "HiValue=") +
                         GeneralFloatText(value, m_decimalSeparator) +
                         ", must be >0 for log scale!");
    }
    KeepMarkerInRange();
    Invalidate();
}

void TAxisModel::KeepMarkerInRange()
{
    if (LoValue() > m_markerValue) {
        SetMarkerValue(LoValue());
    }
    if (HiValue() < m_markerValue) {
        SetMarkerValue(HiValue());
    }
}

void TAxisModel::SetLoValueNoEvent(double value)
{
    SetEndNoEvent(value, true);
}

void TAxisModel::SetHiValueNoEvent(double value)
{
    SetEndNoEvent(value, false);
}

void TAxisModel::SetLoValue(double value)
{
    const double old = LoValue();
    MarkStale();
    SetLoValueNoEvent(value);
    if (old != value && OnScaleChanged && !m_inEvent) {
        FireScaleChanged();
    }
    Invalidate();
}

void TAxisModel::SetHiValue(double value)
{
    const double old = HiValue();
    MarkStale();
    SetHiValueNoEvent(value);
    if (old != value && OnScaleChanged && !m_inEvent) {
        FireScaleChanged();
    }
    Invalidate();
}

void TAxisModel::SetRange(double lo, double hi)
{
    const double oldLo = LoValue();
    const double oldHi = HiValue();
    SetLoValueNoEvent(lo);
    SetHiValueNoEvent(hi);
    if ((oldLo != lo || oldHi != hi) && !m_inEvent) {
        FireScaleChanged();
    }
}

bool TAxisModel::RangeUsable() const
{
    const double lo = LoValue();
    const double hi = HiValue();
    const double span = hi - lo;
    // Closer ends than this can no longer be told apart by the pixel mapping.
    return std::isfinite(span) && span > 0 && span > 1e-12 * std::max(std::abs(lo), std::abs(hi));
}

void TAxisModel::RestoreStored(double storedLo, double storedHi)
{
    m_storedLo = storedLo;
    m_storedHi = storedHi;
    MarkStale();
    KeepMarkerInRange();
    Invalidate();
}

void TAxisModel::ApplyTypedRange(double lo, double hi)
{
    if (lo > hi) {
        std::swap(lo, hi);
    }
    const double oldLo = LoValue();
    const double oldHi = HiValue();
    const double storedLo = m_storedLo;
    const double storedHi = m_storedHi;
    SetLoValueNoEvent(lo);
    SetHiValueNoEvent(hi);
    if (!RangeUsable()) {
        RestoreStored(storedLo, storedHi);
        return;
    }
    if ((LoValue() != oldLo || HiValue() != oldHi) && !m_inEvent) {
        FireScaleChanged();
    }
}

// The range is remembered before the new limit is stored: the public setter alone would compare
// against values already clamped by the new limit and so never report the change it makes.
void TAxisModel::PullInside(double oldLo, double oldHi, bool low, double value)
{
    if (low) {
        SetLoValueNoEvent(value);
    } else {
        SetHiValueNoEvent(value);
    }
    if ((LoValue() != oldLo || HiValue() != oldHi) && !m_inEvent) {
        FireScaleChanged();
    }
}

void TAxisModel::SetMinLoValue(double value)
{
    const double oldLo = LoValue();
    const double oldHi = HiValue();
    m_minLo = value;
    MarkStale();
    if (m_storedLo < value) {
        PullInside(oldLo, oldHi, true, value);
    }
    Invalidate();
}

void TAxisModel::SetMaxLoValue(double value)
{
    const double oldLo = LoValue();
    const double oldHi = HiValue();
    m_maxLo = value;
    MarkStale();
    if (m_storedLo > value) {
        PullInside(oldLo, oldHi, true, value);
    }
    Invalidate();
}

void TAxisModel::SetMinHiValue(double value)
{
    const double oldLo = LoValue();
    const double oldHi = HiValue();
    m_minHi = value;
    MarkStale();
    if (m_storedHi < value) {
        PullInside(oldLo, oldHi, false, value);
    }
    Invalidate();
}

void TAxisModel::SetMaxHiValue(double value)
{
    const double oldLo = LoValue();
    const double oldHi = HiValue();
    m_maxHi = value;
    MarkStale();
    if (m_storedHi > value) {
        PullInside(oldLo, oldHi, false, value);
    }
    Invalidate();
}

void TAxisModel::SetMaxValueDifference(double value)
{
    const double oldLo = LoValue();
    const double oldHi = HiValue();
    m_maxDiff = value;
    MarkStale();
    if (m_storedHi - m_storedLo > value) {
        PullInside(oldLo, oldHi, false, LoValue() + value);
    }
    Invalidate();
}

void TAxisModel::SetMinValueDifference(double value)
{
    const double oldLo = LoValue();
    const double oldHi = HiValue();
    m_minDiff = value;
    MarkStale();
    if (m_storedHi - m_storedLo < value) {
        PullInside(oldLo, oldHi, false, LoValue() + value);
    }
    Invalidate();
}

// ---- other properties -----------------------------------------------------------------------

void TAxisModel::SetPosition(tposition position)
{
    if (m_inEvent) {
        return;
    }
    m_position = position;
    MarkStale();
    Invalidate();
}

void TAxisModel::SetLogarithmic(bool logarithmic)
{
    if (logarithmic) {
        if (m_storedLo <= 0) {
            throw EAxisError("LoValue=" + GeneralFloatText(m_storedLo, m_decimalSeparator) +
                             ", must be >0 for log scale!");
        }
        if (m_storedHi <= 0) {
            throw EAxisError("HiValue=" + GeneralFloatText(m_storedHi, m_decimalSeparator) +
                             ", must be >0 for log scale!");
        }
    }
    m_logarithmic = logarithmic;
    MarkStale();
    Invalidate();
}

void TAxisModel::SetMusicScale(bool musicScale)
{
    m_musicScale = musicScale;
    MarkStale();
    Invalidate();
}

void TAxisModel::SetShowTickmarks(bool show)
{
    m_showTickmarks = show;
    ApplyAutosize();
    Invalidate();
}

void TAxisModel::SetBackgroundColor(TColor color)
{
    m_backgroundColor = color;
    Invalidate();
}

void TAxisModel::SetTickMarkSize(int size)
{
    m_tickMarkSize = size;
    MarkStale();
    ApplyAutosize();
    Invalidate();
}

void TAxisModel::SetTickSpaceAim(int pixels)
{
    m_tickSpaceAim = pixels;
    MarkStale();
    Invalidate();
}

void TAxisModel::SetAxisText(const std::string& text)
{
    m_axisText = text;
    MarkStale();
    if (m_dialog != nullptr) {
        m_dialog->SetAxisText(text);
    }
    Invalidate();
}

void TAxisModel::SetReverse(bool reverse)
{
    m_reverse = reverse;
    MarkStale();
    Invalidate();
}

void TAxisModel::SetMarkerVisible(bool visible)
{
    m_markerVisible = visible;
    Invalidate();
}

void TAxisModel::SetIsInteger(bool isInteger)
{
    m_isInteger = isInteger;
    MarkStale();
    Invalidate();
}

void TAxisModel::SetAutosize(bool autosize)
{
    m_autosize = autosize;
    ApplyAutosize();
    Invalidate();
}

void TAxisModel::FontChanged()
{
    MarkStale();
    ApplyAutosize();
    Invalidate();
}

void TAxisModel::SetVisible(bool visible)
{
    if (visible == m_visible) {
        return;
    }
    m_visible = visible;
    m_markerDrawn = false;
    Invalidate();
}

void TAxisModel::SetDecimalSeparator(char separator)
{
    m_decimalSeparator = separator;
    MarkStale();
    Invalidate();
}

void TAxisModel::ApplyAutosize()
{
    if (!m_autosize) {
        return;
    }
    if (IsVertical()) {
        SetWidth(MeasureWidth("12345") + m_tickMarkSize);
    } else {
        SetHeight(MeasureHeight("Aj") * 4 / 3 + m_tickMarkSize);
    }
}

void TAxisModel::Invalidate()
{
    if (m_host != nullptr) {
        m_host->Invalidate();
    }
}

int TAxisModel::MeasureWidth(const std::string& text) const
{
    return m_host != nullptr ? m_host->TextWidth(text) : 0;
}

int TAxisModel::MeasureHeight(const std::string& text) const
{
    return m_host != nullptr ? m_host->TextHeight(text) : 0;
}

// ---- marker ---------------------------------------------------------------------------------

int TAxisModel::MarkerPixel() const
{
    return ValueToPixel(m_markerValue);
}

void TAxisModel::SetMarkerPixel(int pixel)
{
    SetMarkerValue(PixelToValue(pixel));
}

void TAxisModel::MarkerLine(int pixel, int& x0, int& y0, int& x1, int& y1) const
{
    if (IsVertical()) {
        x0 = 0;
        y0 = pixel;
        x1 = m_width;
        y1 = pixel;
    } else {
        x0 = pixel;
        y0 = 0;
        x1 = pixel;
        y1 = m_height;
    }
}

void TAxisModel::InvertMarker()
{
    if (m_host == nullptr) {
        return;
    }
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    MarkerLine(MarkerPixel(), x0, y0, x1, y1);
    m_host->InvertLine(x0, y0, x1, y1);
}

void TAxisModel::SetMarkerValue(double value)
{
    if (m_inEvent || !m_visible) {
        return;
    }
    if (m_markerDrawn && m_markerVisible && ValueToPixel(value) == MarkerPixel()) {
        m_markerValue = value; // the line stands on the same pixel: nothing to draw
        return;
    }
    if (m_markerDrawn) {
        InvertMarker();
        m_markerDrawn = false;
    }
    m_markerValue = value;
    if (m_markerVisible && !m_markerDrawn) {
        InvertMarker();
        m_markerDrawn = true;
    }
}

// ---- mapping --------------------------------------------------------------------------------

int TAxisModel::RawValueToPixel(double value) const
{
    const double lo = LoValue();
    const double hi = HiValue();
    const int length = AxisLength();
    long long p = 0;
    if (m_logarithmic) {
        if (lo > 0 && value > 0 && hi > 0) {
            const double p0 = LogRatio(value, lo) * (length - 1) / LogRatio(hi, lo);
            if (!RoundPixel(p0, p)) {
                p = 0;
            }
        }
    } else if (lo != hi) {
        if (!RoundPixel((value - lo) / (hi - lo) * (length - 1), p)) {
            p = 0;
        }
    }
    if (IsVertical()) {
        if (!m_reverse) {
            p = m_height - 1 - p;
        }
    } else if (m_reverse) {
        p = m_width - 1 - p;
    }
    return static_cast<int>(p);
}

int TAxisModel::ValueToPixel(double value) const
{
    const int p = RawValueToPixel(value);
    const int last = AxisLength() - 1;
    return std::max(0, std::min(p, std::max(last, 0)));
}

double TAxisModel::PixelToValue(int pixel) const
{
    const double lo = LoValue();
    const double hi = HiValue();
    const int length = AxisLength();
    double p = pixel;
    if (IsVertical()) {
        p = static_cast<double>(m_height) - 1 - p;
    }
    if (m_reverse) {
        p = static_cast<double>(length) - 1 - p;
    }
    double v = 0;
    if (m_logarithmic) {
        if (lo > 0 && hi > 0 && length != 1) {
            const double exponent = LogRatio(hi, lo) * p / (length - 1);
            v = lo * std::pow(10.0, exponent);
            if (!std::isfinite(v) || v == 0) {
                // The power alone over- or underflowed; the value itself may still exist.
                v = std::pow(10.0, std::log10(lo) + exponent);
            }
            if (!std::isfinite(v)) {
                v = 0;
            }
        }
    } else if (lo != hi && length != 1) {
        v = lo + p * (hi - lo) / (length - 1);
        if (!std::isfinite(v)) {
            v = 0;
        }
    }
    if (lo > v) {
        v = lo;
    }
    if (hi < v) {
        v = hi;
    }
    return v;
}

// ---- ticks ----------------------------------------------------------------------------------

int TAxisModel::TickCount() const
{
    if (m_stale) {
        RecomputeTicks();
    }
    return static_cast<int>(m_ticks.size());
}

std::string TAxisModel::TickLabel(int index) const
{
    if (m_stale) {
        RecomputeTicks();
    }
    if (index < 0 || index >= static_cast<int>(m_ticks.size())) {
        throw EAxisError("Tickmark index out of range:" + std::to_string(index));
    }
    return m_ticks[static_cast<std::size_t>(index)].Label;
}

const std::vector<TAxisTick>& TAxisModel::Ticks() const
{
    if (m_stale) {
        RecomputeTicks();
    }
    return m_ticks;
}

std::string TAxisModel::NumberLabel(double value) const
{
    return EightDigitText(value, m_decimalSeparator);
}

// ---- events ---------------------------------------------------------------------------------

void TAxisModel::Fire(const std::function<void(TAxisModel&)>& event)
{
    if (!event) {
        return;
    }
    TEventGuard guard(m_inEvent);
    event(*this);
}

void TAxisModel::FireScaleChanging()
{
    Fire(OnScaleChanging);
}

void TAxisModel::FireScaleChanged()
{
    Fire(OnScaleChanged);
}

// ---- mouse ----------------------------------------------------------------------------------

int TAxisModel::ChooseMode(int c) const
{
    const int s = AxisLength();
    if (m_allowLoScroll && !m_allowHiScroll) {
        return 1;
    }
    if (m_allowHiScroll && !m_allowLoScroll) {
        return 3;
    }
    if (!m_allowLoScroll && !m_allowHiScroll) {
        return 0;
    }
    const bool vertical = IsVertical();
    if (m_allowMidScroll) {
        if (c < s / 3) {
            return vertical ? 3 : 1;
        }
        if (c > (s / 3) * 2) {
            return vertical ? 1 : 3;
        }
        return 2;
    }
    if (c < s / 2) {
        return vertical ? 3 : 1;
    }
    return vertical ? 1 : 3;
}

int TAxisModel::CursorAt(int c) const
{
    const int mode = ChooseMode(c);
    if (IsVertical()) {
        switch (mode) {
        case 1:
            return crVLower;
        case 2:
            return crVMiddle;
        case 3:
            return crVUpper;
        default:
            return crDefault;
        }
    }
    switch (mode) {
    case 1:
        return crHLower;
    case 2:
        return crHMiddle;
    case 3:
        return crHUpper;
    default:
        return crDefault;
    }
}

void TAxisModel::MouseDown(TMouseButton, TShiftState, int x, int y)
{
    const int s = AxisLength();
    int c = IsVertical() ? y : x;
    if (c <= 10) {
        c = 11;
    }
    if (c > s - 11) {
        c = s - 11;
    }
    m_pressCoordinate = c;
    m_dragMode = ChooseMode(c);
    m_hi0 = HiValue();
    m_lo0 = LoValue();
}

void TAxisModel::DragTo(int c)
{
    const bool vertical = IsVertical();
    const double d = m_pressCoordinate;
    const double lo0 = m_lo0;
    const double hi0 = m_hi0;
    const double size = vertical ? m_height : m_width;
    const double pointer = c;

    auto setLo = [this](double v) {
        try {
            SetLoValueNoEvent(v);
        } catch (const EAxisError&) {
        }
    };
    auto setHi = [this](double v) {
        try {
            SetHiValueNoEvent(v);
        } catch (const EAxisError&) {
        }
    };
    // Exponent for the moved end, or the shift fraction of a middle drag.
    double e = 0;
    switch (m_dragMode) {
    case 1:
        if (vertical) {
            e = d / std::max(pointer, 10.0);
        } else {
            e = (size - d) / (size - std::min(pointer, size - 10));
        }
        break;
    case 2:
        e = (pointer - d) / size;
        if (!vertical) {
            e = -e;
        }
        break;
    case 3:
        if (vertical) {
            e = (size - d) / (size - std::min(pointer, size - 10));
        } else {
            e = d / std::max(pointer, 10.0);
        }
        break;
    default:
        return;
    }
    if (!std::isfinite(e)) {
        return;
    }
    if (m_logarithmic) {
        // A power of positive numbers that comes out non-finite or zero has overflowed or
        // underflowed: that move changes nothing.
        auto usable = [](double v) { return std::isfinite(v) && v != 0; };
        switch (m_dragMode) {
        case 1: {
            const double lo = hi0 * std::pow(lo0 / hi0, e);
            if (usable(lo)) {
                setLo(lo);
            }
            break;
        }
        case 2: {
            const double factor = std::pow(hi0 / lo0, e);
            const double hi = hi0 * factor;
            const double lo = lo0 * factor;
            if (!usable(factor) || !usable(hi) || !usable(lo)) {
                return;
            }
            setHi(hi);
            setLo(lo);
            break;
        }
        case 3: {
            const double hi = lo0 * std::pow(hi0 / lo0, e);
            if (usable(hi)) {
                setHi(hi);
            }
            break;
        }
        default:
            break;
        }
        return;
    }
    switch (m_dragMode) {
    case 1:
        setLo(hi0 + e * (lo0 - hi0));
        break;
    case 2:
        setHi(hi0 + e * (hi0 - lo0));
        setLo(lo0 + e * (hi0 - lo0));
        break;
    case 3:
        setHi(lo0 + e * (hi0 - lo0));
        break;
    default:
        break;
    }
}

void TAxisModel::MouseMove(TShiftState shift, int x, int y)
{
    const int c = IsVertical() ? y : x;
    if (m_dragMode != 0 && (shift & ssLeft) != 0) {
        const double storedLo = m_storedLo;
        const double storedHi = m_storedHi;
        DragTo(c);
        // A move that would leave nothing between the ends (a limit caught one end while the
        // other went on) is not taken: no later drag could open such a range again.
        if (!RangeUsable()) {
            RestoreStored(storedLo, storedHi);
        }
    }
    if (m_dragMode == 0) {
        m_cursor = CursorAt(c);
    }
    if (m_dragMode != 0 && (m_allowLoScroll || m_allowHiScroll)) {
        FireScaleChanging();
    }
}

void TAxisModel::MouseUp(TMouseButton, TShiftState, int, int)
{
    m_dragMode = 0;
    if (m_allowLoScroll || m_allowHiScroll) {
        FireScaleChanged();
    }
}

void TAxisModel::DoubleClick()
{
    if (!m_allowDoubleClick) {
        return;
    }
    m_dragMode = 0;
    if (m_dialog != nullptr) {
        m_dialog->SetLowValue(LoValue());
        m_dialog->SetHighValue(HiValue());
        if (m_dialog->Execute()) {
            ApplyTypedRange(m_dialog->ReadLow(), m_dialog->ReadHigh());
        }
    }
    FireScaleChanged();
    m_dragMode = 0;
}

} // namespace kavrel
