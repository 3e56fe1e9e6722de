#pragma once

#include "app/view/ResponseCurve.h"

#include <QWidget>

#include <vector>

namespace kavrel {

class TAxis;
class TFilterSection;
class TPaintBox;

// The "Spectrum" window: the spectrum of what is heard in dB of full scale against frequency on
// a logarithmic axis from 10 Hz to half the rate, with the filter's response (as the filter
// controls window draws it, in dB) over it. The owner hands it both curves.
class TFrequencyForm : public QWidget {
    Q_OBJECT
public:
    static constexpr int DbAxisWidth = 43;
    static constexpr int FrequencyAxisHeight = 24;
    static constexpr double LoDb = -120.0;
    static constexpr double HiDb = 20.0;

    explicit TFrequencyForm(QWidget* parent = nullptr);

    // Points per curve: one per pixel column of the plot.
    int Columns() const;
    // The measured spectrum (SpectrumCurve) and the response to draw over it, both from 10 Hz to
    // half of rate Hz; an empty response draws none.
    void SetCurves(double rate, std::vector<TResponsePoint> spectrum,
                   std::vector<TResponsePoint> response);
    const std::vector<TResponsePoint>& Spectrum() const { return m_spectrum; }
    const std::vector<TResponsePoint>& Response() const { return m_response; }

    TAxis* FrequencyAxis() const { return m_frequencyAxis; }
    TAxis* DbAxis() const { return m_dbAxis; }
    TPaintBox* Plot() const { return m_plot; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void PaintPlot(QPainter& canvas);

    std::vector<TResponsePoint> m_spectrum;
    std::vector<TResponsePoint> m_response;
    TAxis* m_frequencyAxis = nullptr;
    TAxis* m_dbAxis = nullptr;
    TPaintBox* m_plot = nullptr;
};

} // namespace kavrel
