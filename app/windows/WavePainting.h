#pragma once

#include "app/view/TWaveSummary.h"

#include <QColor>
#include <QSize>

class QPainter;

namespace kavrel {

class TAxis;

// Draws a channel's waveform as one vertical line of `color` per pixel column of the screen:
// the minimum to the maximum of the samples under the column. deviceSize is the plot's size in
// screen pixels and ratio its device pixel ratio; time follows `timeAxis` (as wide as the plot)
// and amplitude `amplitudeAxis` (linear, as high as the plot, full scale 32768). At ratio 1 the
// columns are the time axis's own pixels; at a higher ratio each screen pixel gets its column,
// its time and amplitude taken between the axis's pixels. The painter draws in the plot's
// logical coordinates.
void PaintWaveColumns(QPainter& canvas, QSize deviceSize, double ratio, const TWaveSummary& channel,
                      double sampleRate, const TAxis& timeAxis, const TAxis& amplitudeAxis,
                      const QColor& color);

} // namespace kavrel
