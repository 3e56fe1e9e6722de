#include "app/windows/TLevelMeterView.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace kavrel {

namespace {

// A level below this reads "-inf": what 16-bit values cannot reach.
constexpr double SilentDb = -120.0;
constexpr int BarHeight = 9;
constexpr int BarGap = 3;
// Width kept for the figures at the right of the bars.
constexpr int TextWidth = 190;

QString Figure(double db)
{
    return db < SilentDb ? QStringLiteral("-inf") : QString::number(db, 'f', 1);
}

} // namespace

TLevelMeterView::TLevelMeterView(QWidget* parent) : QWidget(parent)
{
    setObjectName("levelmeters");
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    SetReadings({TMeterReading{}, TMeterReading{}}, 0);
}

void TLevelMeterView::SetReadings(std::vector<TMeterReading> readings, std::int64_t overloads)
{
    const bool resized = readings.size() != m_readings.size();
    m_readings = std::move(readings);
    m_overloads = overloads;
    if (resized)
        updateGeometry();
    update();
}

QString TLevelMeterView::ChannelText(int channel) const
{
    if (channel < 0 || channel >= static_cast<int>(m_readings.size()))
        return {};
    const TMeterReading& r = m_readings[static_cast<std::size_t>(channel)];
    return QStringLiteral("Ch %1: peak %2 : RMS %3 : hold %4 dBFS")
        .arg(channel)
        .arg(Figure(r.PeakDb), Figure(r.RmsDb), Figure(r.HoldDb));
}

QSize TLevelMeterView::sizeHint() const
{
    const int rows = static_cast<int>(m_readings.size()) + 1;
    return {TextWidth + 120, rows * (BarHeight + BarGap) + fontMetrics().height()};
}

void TLevelMeterView::paintEvent(QPaintEvent* /*event*/)
{
    QPainter p(this);
    const QPalette& colours = palette();
    const int barWidth = std::max(width() - TextWidth - 6, 20);
    const auto xOf = [&](double db) {
        const double t = std::clamp((db - LowDb) / -LowDb, 0.0, 1.0);
        return static_cast<int>(std::lround(t * barWidth));
    };
    QFont small = font();
    small.setPointSizeF(std::max(small.pointSizeF() - 1.0, 6.0));
    p.setFont(small);
    const int step = std::max(BarHeight, p.fontMetrics().height()) + BarGap;
    QColor faint = colours.color(QPalette::Highlight);
    faint.setAlpha(110);
    for (std::size_t c = 0; c < m_readings.size(); ++c) {
        const TMeterReading& r = m_readings[c];
        const int top = static_cast<int>(c) * step;
        p.fillRect(0, top, barWidth, BarHeight, colours.color(QPalette::Base));
        p.fillRect(0, top, xOf(r.PeakDb), BarHeight, faint);
        p.fillRect(0, top, xOf(r.RmsDb), BarHeight, colours.color(QPalette::Highlight));
        p.fillRect(std::max(xOf(r.HoldDb) - 2, 0), top, 2, BarHeight,
                   colours.color(QPalette::Text));
        p.setPen(colours.color(QPalette::Mid));
        p.drawRect(0, top, barWidth, BarHeight);
        p.setPen(colours.color(QPalette::WindowText));
        p.drawText(QRect(barWidth + 6, top - 2, TextWidth, step), Qt::AlignLeft | Qt::AlignTop,
                   QStringLiteral("%1  pk %2  rms %3  hold %4")
                       .arg(c)
                       .arg(Figure(r.PeakDb), Figure(r.RmsDb), Figure(r.HoldDb)));
    }
    const int top = static_cast<int>(m_readings.size()) * step;
    // The scale under the bars, every 10 dB, and the overload count.
    p.setPen(colours.color(QPalette::WindowText));
    for (double db = LowDb; db <= 0.0; db += 10.0) {
        // The end labels stay inside the bar's width.
        const Qt::Alignment along = db == LowDb ? Qt::AlignLeft
                                    : db == 0.0 ? Qt::AlignRight
                                                : Qt::AlignHCenter;
        p.drawText(QRect(std::clamp(xOf(db) - 20, 0, barWidth - 40), top, 40, step),
                   static_cast<int>((along | Qt::AlignTop).toInt()), QString::number(db, 'f', 0));
    }
    p.drawText(QRect(barWidth + 6, top, TextWidth, step), Qt::AlignLeft | Qt::AlignTop,
               QStringLiteral("over: %1").arg(m_overloads));
}

} // namespace kavrel
