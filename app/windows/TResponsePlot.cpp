#include "app/windows/TResponsePlot.h"

#include "app/windows/TPaintBox.h"
#include "axes/qt/TAxis.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace kavrel {

namespace {

// The pole's mark is red and the zero's blue; on a dark base both are lightened to keep their
// contrast.
const QColor PoleColor(200, 30, 30);
const QColor ZeroColor(30, 70, 200);

bool IsDark(const QColor& color)
{
    return color.lightnessF() < 0.5;
}

// A colour between two others: `part` of the way from a to b.
QColor Between(const QColor& a, const QColor& b, double part)
{
    const auto mix = [part](int x, int y) { return static_cast<int>(x + (y - x) * part + 0.5); };
    return QColor(mix(a.red(), b.red()), mix(a.green(), b.green()), mix(a.blue(), b.blue()));
}

// Pixel row of a dB value, kept a little outside the plot so that clipped parts of the curve
// still leave the plot at its edge rather than wrapping around.
int RowOf(const TAxis& axis, double db)
{
    return std::clamp(axis.RawValueToPixel(db), -2, axis.height() + 1);
}

} // namespace

TResponsePlot::TResponsePlot(QWidget* parent) : QWidget(parent)
{
    m_dbAxis = new TAxis(this);
    m_dbAxis->setObjectName("dbaxis");
    m_dbAxis->SetPosition(tposition::posleft);
    m_dbAxis->resize(DbAxisWidth, 100);
    m_dbAxis->SetAllowLoScroll(false);
    m_dbAxis->SetAllowHiScroll(false);
    m_dbAxis->SetAxisText("[dB]");
    m_dbAxis->SetTickSpaceAim(30);
    m_dbAxis->SetRange(-20, 20);

    m_frequencyAxis = new TAxis(this);
    m_frequencyAxis->setObjectName("frequencyaxis");
    m_frequencyAxis->SetPosition(tposition::posunder);
    m_frequencyAxis->resize(200, FrequencyAxisHeight);
    m_frequencyAxis->SetAllowLoScroll(false);
    m_frequencyAxis->SetAllowHiScroll(false);
    m_frequencyAxis->SetAxisText("[Hz]");
    m_frequencyAxis->SetRange(ResponseLowHz, m_filter.SampFreq() / 2);
    m_frequencyAxis->SetLogarithmic(true);

    m_plot = new TPaintBox(this);
    m_plot->setObjectName("responsebox");
    m_plot->OnPaint = [this](TPaintBox&, QPainter& canvas) { PaintPlot(canvas); };
    Layout();
}

void TResponsePlot::SetFilter(const TFilterSection& section)
{
    m_filter = section;
    Recompute();
}

bool TResponsePlot::MusicScale() const
{
    return m_frequencyAxis->MusicScale();
}

void TResponsePlot::SetMusicScale(bool musicScale)
{
    m_frequencyAxis->SetMusicScale(musicScale);
}

void TResponsePlot::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    Layout();
}

void TResponsePlot::Layout()
{
    const int plotWidth = std::max(0, width() - DbAxisWidth);
    const int plotHeight = std::max(0, height() - FrequencyAxisHeight);
    m_dbAxis->setGeometry(0, 0, DbAxisWidth, plotHeight);
    m_plot->setGeometry(DbAxisWidth, 0, plotWidth, plotHeight);
    m_frequencyAxis->setGeometry(DbAxisWidth, plotHeight, plotWidth, FrequencyAxisHeight);
    Recompute();
}

// The curve has one point per pixel column: the axis's pixels are spaced evenly on the same
// logarithmic scale, so point k lies at column k.
void TResponsePlot::Recompute()
{
    const double nyquist = m_filter.SampFreq() / 2;
    if (std::isfinite(nyquist) && nyquist > ResponseLowHz)
        m_frequencyAxis->SetRange(ResponseLowHz, nyquist);
    m_curve = ResponseCurve(m_filter, m_plot->width());
    const TDbRange range = ResponseDbRange(m_curve, 10.0, FloorDb, CeilingDb);
    m_dbAxis->SetRange(std::max(range.Lo, range.Hi - ShownDb), range.Hi);
    m_plot->Invalidate();
}

void TResponsePlot::PaintPlot(QPainter& canvas)
{
    const QRect box = m_plot->rect();
    const QColor base = m_plot->palette().color(QPalette::Base);
    const QColor ink = m_plot->palette().color(QPalette::Text);
    const bool dark = IsDark(base);
    canvas.fillRect(box, base);
    if (m_curve.empty())
        return;

    // Lines one screen pixel wide.
    canvas.setPen(QPen(Between(base, ink, 0.18), 0));
    const int zeroRow = m_dbAxis->RawValueToPixel(0.0);
    if (zeroRow >= 0 && zeroRow < box.height())
        canvas.drawLine(0, zeroRow, box.width() - 1, zeroRow);

    const auto marker = [&](double hz, const QColor& color, const QString& text, int textRow) {
        if (!(hz >= m_frequencyAxis->LoValue() && hz <= m_frequencyAxis->HiValue()))
            return;
        const int x = m_frequencyAxis->ValueToPixel(hz);
        QPen pen(dark ? color.lighter(170) : color, 0);
        pen.setStyle(Qt::DashLine);
        canvas.setPen(pen);
        canvas.drawLine(x, 0, x, box.height() - 1);
        const int textWidth = canvas.fontMetrics().horizontalAdvance(text);
        const int left = x + 3 + textWidth < box.width() ? x + 3 : x - 3 - textWidth;
        canvas.drawText(left, textRow, text);
    };
    const int line = canvas.fontMetrics().height();
    marker(m_filter.PoleF0(), PoleColor, "pole f0", line);
    marker(m_filter.ZeroF0(), ZeroColor, "zero f0", 2 * line);

    QPainterPath path;
    for (std::size_t k = 0; k < m_curve.size(); ++k) {
        const QPointF at(m_frequencyAxis->ValueToPixel(m_curve[k].Hz),
                         RowOf(*m_dbAxis, m_curve[k].Db));
        if (k == 0)
            path.moveTo(at);
        else
            path.lineTo(at);
    }
    canvas.setPen(QPen(ink, 0));
    canvas.setRenderHint(QPainter::Antialiasing, false);
    canvas.drawPath(path);
}

} // namespace kavrel
