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

QColor TPaintBox::LineColor() const
{
    return m_lineColor.isValid() ? m_lineColor : palette().color(QPalette::Highlight);
}

void TPaintBox::SetLineColor(const QColor& color)
{
    m_lineColor = color;
    if (m_lineX >= 0)
        update(m_lineX, 0, 1, height());
}

QSize TPaintBox::DeviceSize() const
{
    const qreal ratio = devicePixelRatioF();
    return {qRound(width() * ratio), qRound(height() * ratio)};
}

void TPaintBox::Render()
{
    // The picture has the screen's own pixels; the owner draws in the box's coordinates, or in
    // device pixels through DeviceSize().
    if (m_image.size() != DeviceSize())
        m_image = QImage(DeviceSize(), QImage::Format_RGB32);
    m_image.setDevicePixelRatio(devicePixelRatioF());
    m_image.fill(palette().color(QPalette::Base));
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
    if (m_stale || m_image.size() != DeviceSize())
        Render();
    QPainter p(this);
    const QRect dirty = event->rect();
    p.setClipRect(dirty);
    p.drawImage(QPoint(0, 0), m_image);
    if (ShadeColumns) {
        const auto [first, end] = ShadeColumns(*this);
        if (end > first) {
            QColor shade = palette().color(QPalette::Highlight);
            shade.setAlpha(70);
            p.fillRect(QRectF(first, 0, end - first, height()), shade);
        }
    }
    if (m_lineX >= 0 && m_lineX >= dirty.left() && m_lineX <= dirty.right()) {
        // One screen pixel wide, at the left of the column.
        p.fillRect(QRectF(m_lineX, 0, 1.0 / devicePixelRatioF(), height()), LineColor());
    }
}

void TPaintBox::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        Invalidate();
}

void TPaintBox::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    m_stale = true;
}

void TPaintBox::mousePressEvent(QMouseEvent* event)
{
    m_modifiers = event->modifiers();
    if (OnMouseDown) {
        const QPoint pos = event->position().toPoint();
        OnMouseDown(*this, event->button(), pos.x(), pos.y());
    }
    event->accept();
}

void TPaintBox::mouseMoveEvent(QMouseEvent* event)
{
    m_modifiers = event->modifiers();
    if (OnMouseMove && event->buttons() != Qt::NoButton)
        OnMouseMove(*this, event->buttons(), event->position().toPoint().x());
    event->accept();
}

void TPaintBox::mouseReleaseEvent(QMouseEvent* event)
{
    m_modifiers = event->modifiers();
    if (OnMouseUp)
        OnMouseUp(*this, event->button(), event->position().toPoint().x());
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
