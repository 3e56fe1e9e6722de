// The region in the main window: drag, Shift+click, click, "[" and "]", its shading, the readout,
// the loop it gives the document and its export.

#include "WindowFixture.h"

#include "app/core/PositionText.h"

#include "app/windows/TPaintBox.h"
#include "app/windows/TPlotSelection.h"
#include "axes/qt/TAxis.h"

#include <QAbstractButton>
#include <QAction>
#include <QLabel>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

using namespace kavrel;
using namespace kavrel::test;

namespace {

class PlotSelectionTest : public WindowFixture {
protected:
    // The sound's frame at column x, as a click there gives it.
    std::int64_t FrameAt(int x) const
    {
        return std::llround(8000 * m_form18->taxis()->PixelToValue(x));
    }
    QString Readout() const { return m_form18->findChild<QLabel*>("StatusBar1Panel1")->text(); }
    // Whether column x of the upper plot, as shown, has the shade's colour in its top row.
    bool Shaded(int x) const
    {
        const QImage shown = m_form18->PaintBox1()->grab().toImage();
        return shown.pixelColor(x, 0) != m_form18->PaintBox1()->palette().color(QPalette::Base);
    }
};

TEST_F(PlotSelectionTest, DragShiftClickAndClickSelectAndClearTheRegion)
{
    Show(800, 500);
    WriteWave(Path("tone.wav"), 2, 8000, 16000, [](int, std::int64_t) { return 0; });
    m_form18->LoadSoundFile(Path("tone.wav"));
    TPaintBox* box = m_form18->PaintBox2();
    Doc().SetPlayPos(77);

    QTest::mousePress(box, Qt::LeftButton, {}, QPoint(100, 10));
    QTest::mouseMove(box, QPoint(300, 10));
    QTest::mouseRelease(box, Qt::LeftButton, {}, QPoint(300, 10));
    EXPECT_EQ(Doc().Loop(), (TFrameSpan{FrameAt(100), FrameAt(300)}));
    EXPECT_EQ(Doc().PlayPos(), 77); // a drag does not move the play position
    EXPECT_TRUE(Readout().endsWith(
        QString::fromStdString(RegionText(static_cast<double>(FrameAt(100)) / 8000.0,
                                          static_cast<double>(FrameAt(300)) / 8000.0, 2.0))))
        << Readout().toStdString();
    EXPECT_TRUE(Shaded(200));
    EXPECT_FALSE(Shaded(50));
    EXPECT_FALSE(Shaded(400));

    QTest::mouseClick(box, Qt::LeftButton, Qt::ShiftModifier, QPoint(400, 10));
    EXPECT_EQ(Doc().Loop(), (TFrameSpan{FrameAt(100), FrameAt(400)}));
    EXPECT_TRUE(Shaded(350));

    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(500, 10));
    EXPECT_FALSE(Doc().Loop());
    EXPECT_EQ(Doc().PlayPos(), FrameAt(500));
    EXPECT_FALSE(Shaded(200));
    EXPECT_FALSE(Readout().contains('['));
}

TEST_F(PlotSelectionTest, BracketsSetTheRegionAtThePositionHeardAndSaveWritesIt)
{
    Show(800, 500);
    WriteWave(Path("tone.wav"), 2, 8000, 16000, Sine);
    m_form18->LoadSoundFile(Path("tone.wav"));
    const TPlotSelection& selection = *m_form18->PlotSelection();
    EXPECT_FALSE(selection.ClearAction()->isEnabled());
    EXPECT_EQ(selection.StartAction()->shortcut(), QKeySequence("["));
    EXPECT_EQ(selection.EndAction()->shortcut(), QKeySequence("]"));
    Doc().SetPlayPos(4000);
    selection.StartAction()->trigger();
    EXPECT_EQ(Doc().Loop(), (TFrameSpan{4000, 16000}));
    Doc().SetPlayPos(6000);
    selection.EndAction()->trigger();
    EXPECT_EQ(Doc().Loop(), (TFrameSpan{4000, 6000}));
    EXPECT_TRUE(Readout().endsWith("[0:00.500 - 0:00.750]")) << Readout().toStdString();
    EXPECT_TRUE(selection.ClearAction()->isEnabled());

    ASSERT_TRUE(m_form18->ExportSoundFile(Path("region.wav"), Doc().Loop()));
    TWav saved;
    ASSERT_TRUE(saved.ReadFile(QFile::encodeName(Path("region.wav")).toStdString()));
    EXPECT_EQ(saved.Length(), 2000);

    // Play loops it from its start; a new sound has none.
    m_form18->playaction()->trigger();
    EXPECT_EQ(Doc().HeardPos(), 4000);
    m_form18->playaction()->trigger();
    m_form18->LoadSoundFile(Path("tone.wav"));
    EXPECT_FALSE(Doc().Loop());
    EXPECT_FALSE(selection.Selection().Span());
}

// Save asks only while a region is set: the whole sound by default, the region, or nothing.
TEST_F(PlotSelectionTest, SaveOffersTheRegionOrTheWholeSound)
{
    Show(800, 500);
    WriteWave(Path("tone.wav"), 2, 8000, 16000, Sine);
    m_form18->LoadSoundFile(Path("tone.wav"));
    TPlotSelection& selection = *m_form18->PlotSelection();
    using Answer = std::optional<std::optional<TFrameSpan>>;
    EXPECT_EQ(selection.AskSaveSpan(), Answer(std::optional<TFrameSpan>()));
    Doc().SetPlayPos(4000);
    selection.StartAction()->trigger();
    // Presses `key` in the question box, or clicks its "Region" button.
    const auto answer = [&](std::optional<int> key) {
        QTimer::singleShot(0, [key] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            if (key) {
                QTest::keyClick(box, static_cast<Qt::Key>(*key));
                return;
            }
            for (QAbstractButton* b : box->buttons())
                if (b->text() == "Region")
                    b->click();
        });
        return selection.AskSaveSpan();
    };
    EXPECT_EQ(answer(Qt::Key_Return), Answer(std::optional<TFrameSpan>()));
    EXPECT_EQ(answer(std::nullopt), Answer(TFrameSpan{4000, 16000}));
    EXPECT_EQ(answer(Qt::Key_Escape), Answer());
}

} // namespace
