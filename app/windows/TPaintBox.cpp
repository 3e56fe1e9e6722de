#include "app/windows/TPaintBox.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

namespace kavrel {

TPaintBox::TPaintBox(QWidget* parent) : QWidget(parent)
{
    // The owner fills every pixel itself.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TPaintBox::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    if (OnPaint)
        OnPaint(*this, p);
}

void TPaintBox::mousePressEvent(QMouseEvent* event)
{
    if (OnMouseDown) {
        const QPoint pos = event->position().toPoint();
        OnMouseDown(*this, event->button(), pos.x(), pos.y());
    }
    event->accept();
}

void TPaintBox::wheelEvent(QWheelEvent* event)
{
    const int delta = event->angleDelta().y();
    if (OnMouseWheel && delta != 0) {
        OnMouseWheel(*this, delta / 120.0, event->position().toPoint().x());
        event->accept();
        return;
    }
    event->ignore();
}

TPanel::TPanel(QWidget* parent) : QWidget(parent) {}

void TPanel::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (OnResize)
        OnResize(*this);
}

} // namespace kavrel
