#include "app/windows/TTrackBar.h"

#include <QPainter>

namespace kavrel {

TTrackBar::TTrackBar(QWidget* parent) : QSlider(Qt::Horizontal, parent)
{
    setFocusPolicy(Qt::StrongFocus);
}

void TTrackBar::paintEvent(QPaintEvent* event)
{
    QSlider::paintEvent(event);
    if (!hasFocus())
        return;
    QPainter p(this);
    QPen pen(palette().color(QPalette::Highlight), 2);
    p.setPen(pen);
    p.drawRect(QRectF(rect()).adjusted(1, 1, -1, -1));
}

} // namespace kavrel
