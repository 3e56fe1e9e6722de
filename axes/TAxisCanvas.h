#pragma once

#include <cstdint>
#include <string>

namespace kavrel {

// Colour as 0xRRGGBB.
using TColor = std::uint32_t;

// The drawing surface an axis paints on, in pixels from the control's top-left corner. Text is
// drawn in the axis's font with its top-left corner at (x, y); lines are one pixel wide and, as
// with move-to/line-to, leave out their end point.
class TAxisCanvas {
public:
    virtual ~TAxisCanvas() = default;
    virtual void FillRect(int x, int y, int width, int height, TColor color) = 0;
    virtual void DrawText(int x, int y, const std::string& text) = 0;
    virtual void Line(int x0, int y0, int x1, int y1) = 0;
    // Inverts the pixels under the line; drawing the same line twice restores them.
    virtual void InvertLine(int x0, int y0, int x1, int y1) = 0;
};

} // namespace kavrel
