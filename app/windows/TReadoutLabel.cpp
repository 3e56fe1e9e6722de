#include "app/windows/TReadoutLabel.h"

#include <QEvent>
#include <QGlyphRun>
#include <QPainter>
#include <QStyle>

namespace kavrel {

TReadoutLabel::TReadoutLabel(QWidget* parent) : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    // Opaque, in the window's own colour: a new text repaints this label alone, not the status
    // bar and the window beneath it as well.
    setAutoFillBackground(true);
}

void TReadoutLabel::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange) {
        m_rawValid = false;
        m_glyphs = {};
    }
    QLabel::changeEvent(event);
}

bool TReadoutLabel::GlyphsOf(const QString& text, QList<quint32>& indexes,
                             QList<QPointF>& positions)
{
    if (!m_rawValid) {
        m_raw = QRawFont::fromFont(font());
        m_rawValid = true;
    }
    if (!m_raw.isValid()) {
        return false;
    }
    indexes.reserve(text.size());
    positions.reserve(text.size());
    qreal x = 0;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x20 || u >= 0x7F) {
            return false;
        }
        TGlyph& glyph = m_glyphs[u];
        if (!glyph.known) {
            const QChar one[1] = {c};
            quint32 index = 0;
            int count = 1;
            if (!m_raw.glyphIndexesForChars(one, 1, &index, &count) || count != 1) {
                return false;
            }
            QPointF advance;
            m_raw.advancesForGlyphIndexes(&index, &advance, 1, QRawFont::KernedAdvances);
            glyph = {index, advance.x(), true};
        }
        if (glyph.index == 0 && u != ' ') {
            return false; // the font has no glyph of its own: leave it to the label's fallback
        }
        indexes.push_back(glyph.index);
        positions.push_back({x, 0});
        x += glyph.advance;
    }
    return true;
}

void TReadoutLabel::paintEvent(QPaintEvent* event)
{
    const QString shown = text();
    QList<quint32> indexes;
    QList<QPointF> positions;
    if (indent() > 0 || margin() != 0 || wordWrap() || layoutDirection() == Qt::RightToLeft ||
        !GlyphsOf(shown, indexes, positions)) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter painter(this);
    drawFrame(&painter);
    if (indexes.isEmpty()) {
        return;
    }
    const QRect area = contentsRect();
    const qreal width = positions.back().x() + m_glyphs[shown.back().unicode()].advance;
    const Qt::Alignment align = QStyle::visualAlignment(layoutDirection(), alignment());
    qreal left = area.left();
    if (align & Qt::AlignRight) {
        left = area.right() + 1 - width;
    } else if (align & Qt::AlignHCenter) {
        left = area.left() + (area.width() - width) / 2;
    }
    const QFontMetrics metrics = fontMetrics();
    qreal baseline = area.top() + metrics.ascent();
    if (align & Qt::AlignBottom) {
        baseline = area.bottom() + 1 - metrics.descent();
    } else if (align & Qt::AlignVCenter) {
        baseline = area.top() + (area.height() - metrics.height()) / 2.0 + metrics.ascent();
    }
    // Whole pixels, as a label places its text.
    const QPointF origin(qRound(left), qRound(baseline));
    for (QPointF& p : positions) {
        p += origin;
    }
    QGlyphRun run;
    run.setRawFont(m_raw);
    run.setGlyphIndexes(indexes);
    run.setPositions(positions);
    painter.setPen(palette().color(foregroundRole()));
    painter.drawGlyphRun(QPointF(0, 0), run);
}

} // namespace kavrel
