// The windows at the screen's scale and in the palette's colours. The tests hold at any scale;
// CTest runs them once more with QT_SCALE_FACTOR=2 and with 1.5.

#include "WindowFixture.h"

#include "app/windows/Palettes.h"
#include "app/windows/TPaintBox.h"
#include "app/windows/TReadoutLabel.h"
#include "axes/qt/TAxis.h"

#include <QPalette>
#include <QScreen>

namespace kavrel::test {
namespace {

class ScreenScale : public WindowFixture {
protected:
    void LoadStereo()
    {
        const QString file = Path("stereo.wav");
        WriteWave(file, 2, 8000, 16'000, Sine);
        Show(800, 420);
        m_form18->LoadSoundFile(file);
        QApplication::processEvents();
    }
};

TEST_F(ScreenScale, PlotsAndAxesHaveTheScreensPixelsAndThinLines)
{
    LoadStereo();
    const qreal ratio = m_form18->devicePixelRatioF();
    const TPaintBox& box = *m_form18->PaintBox1();
    EXPECT_EQ(box.KeptImage().size(), box.DeviceSize());
    EXPECT_EQ(box.DeviceSize(), QSize(qRound(box.width() * ratio), qRound(box.height() * ratio)));

    // Each tick mark of the time axis is one screen pixel wide: count the columns of the
    // mark's row that differ from the background.
    const TAxis& taxis = *m_form18->taxis();
    const QImage axis = taxis.KeptImage();
    ASSERT_EQ(axis.size(), taxis.DeviceSize());
    const int pixel = taxis.ValueToPixel(1.0);
    const int column = qRound(pixel * ratio);
    const QRgb background = axis.pixel(column + qCeil(ratio) + 1, 1);
    int marked = 0;
    for (int x = column - 3; x <= column + 3; ++x)
        marked += axis.pixel(x, 1) != background ? 1 : 0;
    EXPECT_EQ(marked, 1) << "at ratio " << ratio;
}

TEST_F(ScreenScale, FilterControlsOpenInsideTheScreen)
{
    m_form19->show();
    QApplication::processEvents();
    const QRect area = m_form19->screen()->availableGeometry();
    EXPECT_TRUE(area.contains(m_form19->geometry()))
        << area.width() << "x" << area.height() << " screen";
    m_form19->hide();
}

TEST_F(ScreenScale, DarkPaletteGivesDarkPlotsWithLightWaves)
{
    const QPalette light = QApplication::palette();
    ASSERT_TRUE(UsePalette("dark"));
    EXPECT_FALSE(UsePalette("purple"));
    LoadStereo();
    const QImage plot = m_form18->PaintBox1()->KeptImage();
    const QColor base = QApplication::palette().color(QPalette::Base);
    const QColor ink = QApplication::palette().color(QPalette::Text);
    EXPECT_EQ(QColor(plot.pixel(plot.width() - 1, 0)), base);
    int inked = 0;
    for (int x = 0; x < plot.width(); ++x)
        inked += QColor(plot.pixel(x, plot.height() / 2)) == ink ? 1 : 0;
    EXPECT_GT(inked, plot.width() / 2) << "the wave crosses the middle row in the text colour";
    const QImage axis = m_form18->Axis1()->KeptImage();
    EXPECT_EQ(QColor(axis.pixel(0, axis.height() - 1)),
              QApplication::palette().color(QPalette::Button));
    QApplication::setPalette(light);
}

// The bounds of what differs from the top left pixel, in device pixels.
QRect InkBounds(const QImage& image)
{
    QRect bounds;
    const QRgb paper = image.pixel(0, 0);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != paper)
                bounds |= QRect(x, y, 1, 1);
    return bounds;
}

TEST_F(ScreenScale, ReadoutDrawsItsTextWhereALabelDoes)
{
    // The readout draws ASCII from glyphs of its own: in the same place as a label, within a
    // pixel; other text it leaves to the label, pixel for pixel.
    const struct {
        QString text;
        Qt::Alignment align;
        bool own;
    } cases[] = {
        {"00:01:03.852 / 00:05:00.000", Qt::AlignRight | Qt::AlignVCenter, true},
        {"0:00.100 [0:00.000 - 0:01.000]", Qt::AlignLeft | Qt::AlignVCenter, true},
        {"12:34", Qt::AlignHCenter | Qt::AlignBottom, true},
        {QString::fromUtf8("\u22120:01.5 \u00e9"), Qt::AlignRight | Qt::AlignVCenter, false},
    };
    for (const auto& c : cases) {
        QLabel label;
        TReadoutLabel readout;
        for (QLabel* each : {&label, static_cast<QLabel*>(&readout)}) {
            each->setAlignment(c.align);
            each->setText(c.text);
            each->setFixedSize(400, 26);
        }
        const QImage expected = label.grab().toImage();
        const QImage drawn = readout.grab().toImage();
        const QRect want = InkBounds(expected);
        const QRect got = InkBounds(drawn);
        ASSERT_FALSE(got.isEmpty()) << c.text.toStdString();
        if (!c.own) {
            EXPECT_EQ(drawn, expected) << c.text.toStdString();
            continue;
        }
        const int slack = qCeil(readout.devicePixelRatioF());
        EXPECT_LE((got.topLeft() - want.topLeft()).manhattanLength(), 2 * slack)
            << c.text.toStdString();
        EXPECT_LE((got.bottomRight() - want.bottomRight()).manhattanLength(), 2 * slack)
            << c.text.toStdString();
    }
}

} // namespace
} // namespace kavrel::test
