#include "app/windows/Pictures.h"

#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <functional>

// Toolbar images are drawn on a 16-unit grid with lines on half-pixel centres, so that a 1-pixel
// pen lands on whole pixels at 1× and on pairs of pixels at 2×.

namespace kavrel {

namespace {

using TDraw = std::function<void(QPainter&)>;

QPixmap Render(int logicalWidth, int logicalHeight, qreal ratio, const TDraw& draw)
{
    QPixmap pm(qRound(logicalWidth * ratio), qRound(logicalHeight * ratio));
    pm.fill(Qt::transparent);
    pm.setDevicePixelRatio(ratio);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing, true);
    draw(p);
    return pm;
}

QPen Outline(const QColor& c)
{
    QPen pen(c, 1.0);
    pen.setJoinStyle(Qt::MiterJoin);
    pen.setCapStyle(Qt::SquareCap);
    return pen;
}

void DrawOpen(QPainter& p)
{
    // A folder with its lid opened forward.
    p.setPen(Outline(QColor(0x80, 0x60, 0x10)));
    p.setBrush(QColor(0xf0, 0xc8, 0x50));
    QPainterPath back;
    back.moveTo(1.5, 3.5);
    back.lineTo(5.5, 3.5);
    back.lineTo(6.5, 4.5);
    back.lineTo(12.5, 4.5);
    back.lineTo(12.5, 13.5);
    back.lineTo(1.5, 13.5);
    back.closeSubpath();
    p.drawPath(back);
    p.setBrush(QColor(0xff, 0xe0, 0x80));
    QPainterPath lid;
    lid.moveTo(1.5, 13.5);
    lid.lineTo(4.5, 7.5);
    lid.lineTo(15.5, 7.5);
    lid.lineTo(12.5, 13.5);
    lid.closeSubpath();
    p.drawPath(lid);
}

void DrawPlay(QPainter& p)
{
    p.setPen(Outline(QColor(0x10, 0x60, 0x10)));
    p.setBrush(QColor(0x30, 0xb0, 0x30));
    QPainterPath tri;
    tri.moveTo(4.5, 2.5);
    tri.lineTo(13.5, 8.0);
    tri.lineTo(4.5, 13.5);
    tri.closeSubpath();
    p.drawPath(tri);
}

void DrawShowFilter(QPainter& p)
{
    // Three sliders with their knobs.
    p.setPen(Outline(QColor(0x40, 0x40, 0x40)));
    for (int i = 0; i < 3; ++i) {
        const qreal y = 2.5 + 5 * i;
        p.drawLine(QPointF(1.5, y), QPointF(14.5, y));
    }
    p.setBrush(QColor(0x40, 0x70, 0xd0));
    p.setPen(Outline(QColor(0x10, 0x30, 0x80)));
    const qreal knobLefts[3] = {8.5, 3.5, 10.5};
    for (int i = 0; i < 3; ++i)
        p.drawRect(QRectF(knobLefts[i], 0.5 + 5 * i, 3, 4));
}

void DrawUseFilter(QPainter& p)
{
    // A resonance curve over a baseline: the filter switched into the signal.
    p.setPen(Outline(QColor(0x60, 0x60, 0x60)));
    p.drawLine(QPointF(0.5, 14.5), QPointF(15.5, 14.5));
    QPen curve(QColor(0xc0, 0x20, 0x20), 1.5);
    curve.setCapStyle(Qt::RoundCap);
    p.setPen(curve);
    p.setBrush(Qt::NoBrush);
    QPainterPath path;
    path.moveTo(0.5, 11.5);
    path.cubicTo(5.0, 11.5, 6.0, 2.0, 8.0, 2.0);
    path.cubicTo(10.0, 2.0, 11.0, 11.5, 15.5, 11.5);
    p.drawPath(path);
}

void DrawSave(QPainter& p)
{
    // A diskette.
    p.setPen(Outline(QColor(0x10, 0x20, 0x60)));
    p.setBrush(QColor(0x30, 0x50, 0xb0));
    QPainterPath body;
    body.moveTo(1.5, 1.5);
    body.lineTo(12.5, 1.5);
    body.lineTo(14.5, 3.5);
    body.lineTo(14.5, 14.5);
    body.lineTo(1.5, 14.5);
    body.closeSubpath();
    p.drawPath(body);
    p.setBrush(Qt::white);
    p.drawRect(QRectF(3.5, 1.5, 8, 5));
    p.setBrush(QColor(0xc0, 0xc0, 0xc0));
    p.drawRect(QRectF(3.5, 9.5, 9, 5));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x10, 0x20, 0x60));
    p.drawRect(QRectF(8, 2.5, 2, 3));
}

void DrawAnalyze(QPainter& p)
{
    // A level meter: bars rising from green to red.
    const QColor colours[4] = {QColor(0x30, 0xa0, 0x30), QColor(0x30, 0xa0, 0x30),
                               QColor(0xe0, 0xb0, 0x20), QColor(0xd0, 0x30, 0x20)};
    const int heights[4] = {5, 8, 11, 14};
    for (int i = 0; i < 4; ++i) {
        p.setPen(Outline(colours[i].darker(160)));
        p.setBrush(colours[i]);
        p.drawRect(QRectF(0.5 + 4 * i, 15.5 - heights[i], 3, heights[i]));
    }
}

const TDraw& Drawer(int index)
{
    static const TDraw drawers[6] = {DrawOpen,      DrawPlay, DrawShowFilter,
                                     DrawUseFilter, DrawSave, DrawAnalyze};
    return drawers[index];
}

} // namespace

QIcon ToolbarIcon(int index)
{
    QIcon icon;
    if (index < 0 || index > 5)
        return icon;
    for (qreal ratio : {1.0, 2.0})
        icon.addPixmap(Render(16, 16, ratio, Drawer(index)));
    return icon;
}

QPixmap LampPixmap(bool red, qreal devicePixelRatio)
{
    const QColor lit = red ? QColor(0xff, 0x30, 0x20) : QColor(0x30, 0xe0, 0x30);
    const QColor deep = red ? QColor(0x80, 0x08, 0x00) : QColor(0x08, 0x60, 0x08);
    return Render(37, 34, devicePixelRatio, [&](QPainter& p) {
        const QPointF centre(18.5, 17.0);
        const qreal radius = 14.5;
        p.setPen(QPen(QColor(0x50, 0x50, 0x50), 2.0));
        p.setBrush(QColor(0xb0, 0xb0, 0xb0));
        p.drawEllipse(centre, radius + 1.0, radius + 1.0);
        QRadialGradient glow(centre - QPointF(4, 4), radius * 1.4);
        glow.setColorAt(0.0, lit.lighter(150));
        glow.setColorAt(0.45, lit);
        glow.setColorAt(1.0, deep);
        p.setPen(Qt::NoPen);
        p.setBrush(glow);
        p.drawEllipse(centre, radius - 1.0, radius - 1.0);
        p.setBrush(QColor(255, 255, 255, 150));
        p.drawEllipse(QPointF(13.5, 11.5), 4.0, 2.8);
    });
}

QPixmap AppIconPixmap(int size)
{
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.scale(size / 64.0, size / 64.0);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x20, 0x30, 0x50));
    p.drawRoundedRect(QRectF(2, 2, 60, 60), 10, 10);
    // A waveform and the filter's resonance over it.
    QPen wave(QColor(0x80, 0xd0, 0xff), 3.0);
    wave.setCapStyle(Qt::RoundCap);
    p.setPen(wave);
    const qreal amps[13] = {4, 10, 6, 16, 9, 20, 12, 18, 8, 14, 5, 9, 3};
    for (int i = 0; i < 13; ++i) {
        const qreal x = 8 + 4 * i;
        p.drawLine(QPointF(x, 36 - amps[i]), QPointF(x, 36 + amps[i]));
    }
    QPen curve(QColor(0xff, 0x70, 0x40), 3.5);
    curve.setCapStyle(Qt::RoundCap);
    p.setPen(curve);
    p.setBrush(Qt::NoBrush);
    QPainterPath path;
    path.moveTo(6, 54);
    path.cubicTo(24, 54, 26, 12, 32, 12);
    path.cubicTo(38, 12, 40, 54, 58, 54);
    p.drawPath(path);
    return pm;
}

QIcon AppIcon()
{
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(AppIconPixmap(size));
    return icon;
}

} // namespace kavrel
