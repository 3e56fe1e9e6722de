#pragma once
// A label for a short line of plain text that changes many times a second, such as the play
// position. Text made of printable ASCII alone is drawn from glyphs looked up once per character
// and font, which spares the text layout and shaping a label does on every paint; any other text
// is drawn as a plain label draws it.

#include <QLabel>
#include <QRawFont>

#include <array>

namespace kavrel {

class TReadoutLabel : public QLabel {
public:
    explicit TReadoutLabel(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    struct TGlyph {
        quint32 index = 0;
        qreal advance = 0;
        bool known = false;
    };
    // False when some character has no glyph of its own in the font.
    bool GlyphsOf(const QString& text, QList<quint32>& indexes, QList<QPointF>& positions);

    QRawFont m_raw;
    bool m_rawValid = false;
    std::array<TGlyph, 128> m_glyphs{};
};

} // namespace kavrel
