#pragma once

#include "axes/TTextMeasure.h"

namespace kavrel {

// What an axis model asks of the window that shows it. All calls come on the UI thread.
class TAxisHost : public TTextMeasure {
public:
    // The axis looks different now: paint it again (soon, not necessarily at once).
    virtual void Invalidate() = 0;
    // Inverts the pixels of the line (x0, y0)-(x1, y1), end point left out, on what is on the
    // screen now; doing it twice restores them. Used to move the marker without a repaint.
    virtual void InvertLine(int x0, int y0, int x1, int y1) = 0;
    // The model changed its own size (Autosize or a Width/Height setter): follow it.
    virtual void Resized(int width, int height) = 0;
};

} // namespace kavrel
