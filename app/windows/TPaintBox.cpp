#include "app/windows/TPaintBox.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QWheelEvent>

namespace kavrel {

TPaintBox::TPaintBox(QWidget* parent) : QWidget(parent)
{
    // The kept picture covers every pixel.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TPaintBox::Invalidate()
{
    m_stale = true;
    update();
}

void TPaintBox::SetLineX(int x)
{
    if (x < 0)
        x = -1;
    if (x == m_lineX)
        return;
    if (m_lineX >= 0)
        update(m_lineX, 0, 1, height());
    m_lineX = x;
    if (m_lineX >= 0)
        update(m_lineX, 0, 1, height());
}

void TPaintBox::SetLineColor(const QColor& color)
{
    m_lineColor = color;
    if (m_lineX >= 0)
        update(m_lineX, 0, 1, height());
}

void TPaintBox::Render()
{
    // One image pixel per column: the plots follow the time axis pixel by pixel.
    if (m_image.size() != size())
        m_image = QImage(size(), QImage::Format_RGB32);
    m_image.fill(Qt::white);
    if (!m_image.isNull() && OnPaint) {
        QPainter p(&m_image);
        p.setFont(font());
        OnPaint(*this, p);
    }
    ++m_renderCount;
    m_stale = false;
}

void TPaintBox::paintEvent(QPaintEvent* event)
{
    if (m_stale || m_image.size() != size())
        Render();
    QPainter p(this);
    const QRect dirty = event->rect();
    p.drawImage(dirty, m_image, dirty);
    if (m_lineX >= 0 && m_lineX >= dirty.left() && m_lineX <= dirty.right())
        p.fillRect(m_lineX, 0, 1, height(), m_lineColor);
}

void TPaintBox::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    m_stale = true;
}

void TPaintBox::mousePressEvent(QMouseEvent* event)
{
    if (OnMouseDown) {
        const QPoint pos = event->position().toPoint();
        OnMouseDown(*this, event->button(), pos.x(), pos.y());
    }
    event->accept();
}

void TPaintBox::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (!OnDoubleClick) {
        mousePressEvent(event);
        return;
    }
    OnDoubleClick(*this);
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
