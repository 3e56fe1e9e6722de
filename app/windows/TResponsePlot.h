#pragma once

#include "app/view/ResponseCurve.h"
#include "dsp/TFilterSection.h"

#include <QWidget>

#include <vector>

namespace kavrel {

class TAxis;
class TPaintBox;

// The Vesk filter's magnitude response: dB on a linear axis at the left against frequency on a
// logarithmic axis underneath, from 10 Hz to half the sample rate, with the pole's and the zero's
// centre frequencies marked. The owner hands it each new state of the filter.
class TResponsePlot : public QWidget {
    Q_OBJECT
public:
    static constexpr int DbAxisWidth = 43;
    static constexpr int FrequencyAxisHeight = 24;
    // The dB axis follows the curve in steps of 10 dB within these bounds, showing at most
    // ShownDb below the curve's top (deeper notches leave the plot at its bottom).
    static constexpr double FloorDb = -300.0;
    static constexpr double CeilingDb = 300.0;
    static constexpr double ShownDb = 120.0;

    explicit TResponsePlot(QWidget* parent = nullptr);

    // Shows the response of a copy of `section` (type, coefficients, gain and sample rate).
    void SetFilter(const TFilterSection& section);
    const TFilterSection& Filter() const { return m_filter; }

    // Note names on the frequency axis instead of numbers.
    bool MusicScale() const;
    void SetMusicScale(bool musicScale);

    TAxis* FrequencyAxis() const { return m_frequencyAxis; }
    TAxis* DbAxis() const { return m_dbAxis; }
    TPaintBox* Plot() const { return m_plot; }
    // The points last drawn, one per pixel column of the plot.
    const std::vector<TResponsePoint>& Curve() const { return m_curve; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void Layout();
    void Recompute();
    void PaintPlot(QPainter& canvas);

    TFilterSection m_filter;
    std::vector<TResponsePoint> m_curve;
    TAxis* m_frequencyAxis = nullptr;
    TAxis* m_dbAxis = nullptr;
    TPaintBox* m_plot = nullptr;
};

} // namespace kavrel
