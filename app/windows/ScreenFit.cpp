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
    const bool framed = outer != inner;
    if (framed)
        frame = QMargins(inner.left() - outer.left(), inner.top() - outer.top(),
                         outer.right() - inner.right(), outer.bottom() - inner.bottom());
    const int width = std::min(window.width(), area.width() - frame.left() - frame.right());
    const int height = std::min(window.height(), area.height() - frame.top() - frame.bottom());
    if (width != window.width() || height != window.height())
        window.resize(std::max(width, window.minimumWidth()),
                      std::max(height, window.minimumHeight()));
    // The whole frame inside. A window whose frame the window manager has not drawn yet is
    // placed by its inside (X11 window managers put the frame around what they are given).
    const QRect whole = window.geometry().marginsAdded(frame);
    const int left = std::clamp(whole.left(), area.left(),
                                std::max(area.left(), area.right() + 1 - whole.width()));
    const int top = std::clamp(whole.top(), area.top(),
                               std::max(area.top(), area.bottom() + 1 - whole.height()));
    if (left == whole.left() && top == whole.top())
        return;
    if (framed)
        window.move(left, top);
    else
        window.move(left + frame.left(), top + frame.top());
}

} // namespace kavrel
