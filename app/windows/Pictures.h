#pragma once

#include <QIcon>
#include <QPixmap>

// The pictures the program draws itself: the six toolbar images (ImageList1, 16 × 16 with a
// 2× version for high-density screens), the two overload lamps and the program's icon.

namespace kavrel {

enum class TToolImage : int {
    Open = 0,
    Play = 1,
    ShowFilter = 2,
    UseFilter = 3,
    Save = 4,
    Analyze = 5,
};

// Image `index` (0 … 5) of the toolbar's image list; an empty icon for other indices.
QIcon ToolbarIcon(int index);

// A lamp of 37 × 34 logical pixels on a transparent background, drawn for `devicePixelRatio`.
QPixmap LampPixmap(bool red, qreal devicePixelRatio = 1.0);

// The program's icon, drawn at `size` × `size` pixels.
QPixmap AppIconPixmap(int size);
QIcon AppIcon();

} // namespace kavrel
