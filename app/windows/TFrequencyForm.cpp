#include "app/windows/TFrequencyForm.h"

#include "app/windows/Pictures.h"
#include "app/windows/TPaintBox.h"
#include "axes/qt/TAxis.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace kavrel {

namespace {

// The curve as a line through its points, rows kept just outside the plot where it leaves it.
QPainterPath CurvePath(const std::vector<TResponsePoint>& curve, const TAxis& hz, const TAxis& db)
{
    QPainterPath path;
    for (std::size_t k = 0; k < curve.size(); ++k) {
        const QPointF at(hz.ValueToPixel(curve[k].Hz),
                         std::clamp(db.RawValueToPixel(curve[k].Db), -2, db.height() + 1));
        if (k == 0)
            path.moveTo(at);
        else
            path.lineTo(at);
    }
    return path;
}

} // namespace

TFrequencyForm::TFrequencyForm(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setObjectName("SpectrumForm");
    setWindowTitle("Spectrum");
    setWindowIcon(AppIcon());

    m_dbAxis = new TAxis(this);
    m_dbAxis->setObjectName("spectrumdbaxis");
    m_dbAxis->SetPosition(tposition::posleft);
    m_dbAxis->SetAllowLoScroll(false);
    m_dbAxis->SetAllowHiScroll(false);
    m_dbAxis->SetAxisText("[dB]");
    m_dbAxis->SetTickSpaceAim(30);
    m_dbAxis->SetRange(LoDb, HiDb);

    m_frequencyAxis = new TAxis(this);
    m_frequencyAxis->setObjectName("spectrumfrequencyaxis");
    m_frequencyAxis->SetPosition(tposition::posunder);
    m_frequencyAxis->SetAllowLoScroll(false);
    m_frequencyAxis->SetAllowHiScroll(false);
    m_frequencyAxis->SetAxisText("[Hz]");
    m_frequencyAxis->SetRange(ResponseLowHz, 22050.0);
    m_frequencyAxis->SetLogarithmic(true);

    m_plot = new TPaintBox(this);
    m_plot->setObjectName("spectrumbox");
    m_plot->OnPaint = [this](TPaintBox&, QPainter& canvas) { PaintPlot(canvas); };
    resize(640, 360);
}

int TFrequencyForm::Columns() const
{
    return m_plot->width();
}

void TFrequencyForm::SetCurves(double rate, std::vector<TResponsePoint> spectrum,
                               std::vector<TResponsePoint> response)
{
    if (std::isfinite(rate) && rate / 2 > ResponseLowHz && rate / 2 != m_frequencyAxis->HiValue())
        m_frequencyAxis->SetRange(ResponseLowHz, rate / 2);
    m_spectrum = std::move(spectrum);
    m_response = std::move(response);
    m_plot->Invalidate();
}

void TFrequencyForm::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    const int plotWidth = std::max(0, width() - DbAxisWidth);
    const int plotHeight = std::max(0, height() - FrequencyAxisHeight);
    m_dbAxis->setGeometry(0, 0, DbAxisWidth, plotHeight);
    m_plot->setGeometry(DbAxisWidth, 0, plotWidth, plotHeight);
    m_frequencyAxis->setGeometry(DbAxisWidth, plotHeight, plotWidth, FrequencyAxisHeight);
}

void TFrequencyForm::PaintPlot(QPainter& canvas)
{
    const QRect box = m_plot->rect();
    const QPalette& colours = palette();
    canvas.fillRect(box, colours.color(QPalette::Base));
    QColor grid = colours.color(QPalette::Text);
    grid.setAlpha(50);
    canvas.setPen(grid);
    for (double db = 0.0; db >= LoDb; db -= 20.0) {
        const int row = m_dbAxis->RawValueToPixel(db);
        canvas.drawLine(0, row, box.width() - 1, row);
    }
    // Twenty pictures a second: plain lines, as the response plot draws them.
    canvas.setRenderHint(QPainter::Antialiasing, false);
    canvas.setPen(QPen(colours.color(QPalette::Text), 1));
    canvas.drawPath(CurvePath(m_spectrum, *m_frequencyAxis, *m_dbAxis));
    canvas.setPen(QPen(colours.color(QPalette::Highlight), 2));
    canvas.drawPath(CurvePath(m_response, *m_frequencyAxis, *m_dbAxis));

    // Which line is which, in the top right corner.
    const int line = canvas.fontMetrics().height();
    const QRect legend(box.width() - 160, 4, 154, line);
    canvas.setPen(colours.color(QPalette::Text));
    canvas.drawText(legend, Qt::AlignRight, "heard [dBFS]");
    canvas.setPen(colours.color(QPalette::Highlight));
    canvas.drawText(legend.translated(0, line), Qt::AlignRight, "filter response [dB]");
}

} // namespace kavrel
