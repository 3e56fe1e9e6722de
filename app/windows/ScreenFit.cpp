#include "app/windows/ScreenFit.h"

#include <QScreen>
#include <QWidget>

#include <algorithm>

namespace kavrel {

namespace {

// The frame a window manager puts around a window before it is first shown: a title bar and
// thin borders.
constexpr int GuessedTitle = 32;
constexpr int GuessedBorder = 4;

} // namespace

void FitToScreen(QWidget& window)
{
    const QScreen* screen = window.screen();
    if (screen == nullptr)
        return;
    const QRect area = screen->availableGeometry();
    // The frame as the window manager has drawn it, or a guess while it has not yet.
    QMargins frame(GuessedBorder, GuessedTitle, GuessedBorder, GuessedBorder);
    const QRect outer = window.frameGeometry();
    const QRect inner = window.geometry();
    if (outer != inner)
        frame = QMargins(inner.left() - outer.left(), inner.top() - outer.top(),
                         outer.right() - inner.right(), outer.bottom() - inner.bottom());
    const int width = std::min(window.width(), area.width() - frame.left() - frame.right());
    const int height = std::min(window.height(), area.height() - frame.top() - frame.bottom());
    if (width != window.width() || height != window.height())
        window.resize(std::max(width, window.minimumWidth()),
                      std::max(height, window.minimumHeight()));
    // The frame's top-left corner, so that the whole frame lies inside.
    const QRect framed = window.geometry().marginsAdded(frame);
    const int left = std::clamp(framed.left(), area.left(),
                                std::max(area.left(), area.right() + 1 - framed.width()));
    const int top = std::clamp(framed.top(), area.top(),
                               std::max(area.top(), area.bottom() + 1 - framed.height()));
    if (left != framed.left() || top != framed.top())
        window.move(left, top);
}

} // namespace kavrel
