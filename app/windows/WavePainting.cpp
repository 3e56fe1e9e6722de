#include "app/windows/WavePainting.h"

#include "app/view/PlotColumns.h"
#include "axes/qt/TAxis.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace kavrel {

namespace {

constexpr double FullScale = 32768.0;

} // namespace

void PaintWaveColumns(QPainter& canvas, QSize deviceSize, double ratio, const TWaveSummary& channel,
                      double sampleRate, const TAxis& timeAxis, const TAxis& amplitudeAxis,
                      const QColor& color)
{
    const int axisWidth = timeAxis.width();
    if (axisWidth < 2 || !(ratio > 0))
        return;
    const bool native = ratio == 1.0;
    const int columns = native ? axisWidth : deviceSize.width();
    // Time at a screen column: between the time axis's pixels on either side.
    const auto timeAt = [&](int column) {
        if (native)
            return timeAxis.PixelToValue(column);
        const double at = column / ratio;
        const int left = static_cast<int>(std::floor(at));
        const double t0 = timeAxis.PixelToValue(left);
        const double t1 = timeAxis.PixelToValue(left + 1);
        return t0 + (at - left) * (t1 - t0);
    };
    // Screen row of an amplitude: the axis's rows of its two ends, scaled between.
    const double lo = amplitudeAxis.LoValue();
    const double hi = amplitudeAxis.HiValue();
    const double rowLo = amplitudeAxis.RawValueToPixel(lo) * ratio;
    const double rowHi = amplitudeAxis.RawValueToPixel(hi) * ratio;
    const int lastRow = deviceSize.height() - 1;
    const auto rowOf = [&](double value) {
        if (native)
            return amplitudeAxis.ValueToPixel(value);
        const double row = hi != lo ? rowLo + (value - lo) / (hi - lo) * (rowHi - rowLo) : rowLo;
        return static_cast<int>(std::nearbyint(std::clamp(row, 0.0, double(lastRow))));
    };

    canvas.save();
    // In screen pixels: the painter's own scale is the device pixel ratio.
    canvas.resetTransform();
    canvas.scale(1.0 / ratio, 1.0 / ratio);
    for (const TPlotColumn& column : PlotColumns(channel, sampleRate, columns, timeAt)) {
        int top = rowOf(column.Max / FullScale);
        int end = rowOf(column.Min / FullScale) + 1;
        if (end < top)
            std::swap(top, end);
        canvas.fillRect(column.X, top, 1, end - top, color);
    }
    canvas.restore();
}

} // namespace kavrel
