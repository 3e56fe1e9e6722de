#pragma once

class QWidget;

namespace kavrel {

// Shrinks a top-level window that would not fit into its screen's available area (the screen
// less panels and docks, in logical pixels, with room for the window's frame) and moves it
// inside that area. A window that fits keeps its size.
void FitToScreen(QWidget& window);

} // namespace kavrel
