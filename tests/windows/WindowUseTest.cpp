// The windows as a user meets them: results that can be read in full, titles that say what a
// window is, a recent list of files that opened, actions that are only there when they can work.

#include "WindowFixture.h"

#include "app/windows/TLevelsForm.h"
#include "app/windows/TPaintBox.h"
#include "app/windows/TResponsePlot.h"
#include "axes/qt/TAxis.h"
#include "menus/qt/TRecentFilesMenu.h"
#include "sound/EWavError.h"

#include <QAction>
#include <QCheckBox>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QSlider>
#include <QTest>

namespace kavrel::test {
namespace {

using WindowUse = WindowFixture;

TEST_F(WindowUse, AnalyzeOfFourChannelsCanBeReadInFull)
{
    Show();
    WriteWave(Path("four.wav"), 4, 8000, 800, [](int c, std::int64_t i) {
        return static_cast<std::int16_t>((i % 2 ? 1 : -1) * 4000 * (c + 1));
    });
    m_form18->LoadSoundFile(Path("four.wav"));
    m_form18->Analyzeaction()->trigger();
    const QString text = m_form18->StatusText();
    EXPECT_TRUE(text.contains("Ch 3:")) << text.toStdString();
    EXPECT_EQ(m_form18->StatusToolTip(), text);
    TLevelsForm* levels = m_form18->LevelsForm();
    ASSERT_NE(levels, nullptr);
    EXPECT_TRUE(levels->isVisible());
    EXPECT_FALSE(levels->isModal());
    EXPECT_EQ(levels->windowTitle(), "Levels");
    const QStringList lines = levels->Lines();
    ASSERT_EQ(lines.size(), 4) << lines.join('|').toStdString();
    for (int c = 0; c < 4; ++c) {
        EXPECT_TRUE(lines[c].startsWith(QString("Ch %1: RMS=").arg(c))) << lines[c].toStdString();
        EXPECT_TRUE(lines[c].endsWith(" dB")) << lines[c].toStdString();
    }
    // Channel 3 is four times channel 0: 12.04 dB louder.
    EXPECT_TRUE(lines[0].contains("Peak=-18.27 dB")) << lines[0].toStdString();
    EXPECT_TRUE(lines[3].contains("Peak=-6.23 dB")) << lines[3].toStdString();

    // A second Analyze refreshes the same window.
    WriteWave(Path("mono.wav"), 1, 8000, 800, [](int, std::int64_t) { return 16384; });
    m_form18->LoadSoundFile(Path("mono.wav"));
    m_form18->Analyzeaction()->trigger();
    EXPECT_EQ(m_form18->LevelsForm(), levels);
    EXPECT_EQ(levels->Lines().size(), 1);
}

TEST_F(WindowUse, OnlyTheMainWindowsCaptionNamesTheFile)
{
    Show();
    m_form19->show();
    const QString displayName = QGuiApplication::applicationDisplayName();
    WriteWave(Path("take.wav"), 2, 8000, 800, Sine);
    m_form18->LoadSoundFile(Path("take.wav"));
    EXPECT_EQ(m_form18->windowTitle(), "take.wav - Kavrel");
    // Qt appends the display name to every window's title; a file name there would reach them all.
    EXPECT_EQ(QGuiApplication::applicationDisplayName(), displayName);
    EXPECT_FALSE(displayName.contains("take.wav"));
    EXPECT_EQ(m_form19->windowTitle(), "Filter controls");
    EXPECT_EQ(m_form18->taxis()->LimitForm().windowTitle(), "Axis limits");
}

TEST_F(WindowUse, RecentListTakesOnlyFilesThatOpened)
{
    Show();
    TRecentFiles& recent = m_form18->RecentFiles1();
    WriteWave(Path("good.wav"), 2, 8000, 800, Sine);
    m_form18->LoadSoundFile(Path("good.wav"));
    const std::string good = recent.Slot(1);
    EXPECT_EQ(QFileInfo(QString::fromStdString(good)).fileName(), "good.wav");

    QFile empty(Path("empty.wav"));
    ASSERT_TRUE(empty.open(QIODevice::WriteOnly));
    empty.close();
    for (const QString& bad : {Path("empty.wav"), Path("missing.wav")})
        EXPECT_THROW(m_form18->LoadSoundFile(bad), EWavError) << bad.toStdString();
    EXPECT_EQ(recent.Slot(1), good);
    EXPECT_TRUE(recent.Slot(2).empty());
    // The separator above the list is a plain line, with no text of its own to draw.
    QAction* bar = m_form18->RecentFilesMenu().BarAction();
    EXPECT_TRUE(bar->isSeparator());
    EXPECT_TRUE(bar->text().isEmpty());
}

TEST_F(WindowUse, SaveWaitsForASoundAndSaysWhereItWrote)
{
    Show();
    EXPECT_FALSE(m_form18->saveaction()->isEnabled());
    WriteWave(Path("in.wav"), 2, 8000, 800, Sine);
    m_form18->LoadSoundFile(Path("in.wav"));
    EXPECT_TRUE(m_form18->saveaction()->isEnabled());
    ASSERT_TRUE(m_form18->ExportSoundFile(Path("out.wav")));
    EXPECT_EQ(m_form18->StatusText(), "Saved " + QFileInfo(Path("out.wav")).absoluteFilePath());
}

TEST_F(WindowUse, LampTurnsGreenWhenPlaybackStops)
{
    Show();
    m_form19->show();
    WriteWave(Path("loud.wav"), 2, 8000, 40000, [](int, std::int64_t i) {
        return static_cast<std::int16_t>(i % 2 ? 30000 : -30000);
    });
    m_form18->LoadSoundFile(Path("loud.wav"));
    m_form19->rawgaintrack()->setValue(20);
    m_form18->playaction()->trigger();
    QApplication::processEvents();
    ASSERT_TRUE(m_form19->redledimage()->isVisible());
    m_form18->playaction()->trigger();
    QApplication::processEvents();
    EXPECT_FALSE(Doc().Playing());
    EXPECT_FALSE(m_form19->redledimage()->isVisible());
    EXPECT_TRUE(m_form19->greenledimage()->isVisible());
}

TEST_F(WindowUse, FilterControlsStayReadableAtTheirSmallestAndUseALargeSize)
{
    m_form19->show();
    QApplication::processEvents();
    const int plotHeight = m_form19->ResponsePlot()->height();
    const int trackWidth = m_form19->rawgaintrack()->width();
    m_form19->resize(1200, 1000);
    QApplication::processEvents();
    EXPECT_GT(m_form19->rawgaintrack()->width(), trackWidth + 400);
    EXPECT_GT(m_form19->ResponsePlot()->height(), plotHeight + 300);

    m_form19->resize(10, 10);
    QApplication::processEvents();
    EXPECT_EQ(m_form19->size(), m_form19->minimumSize());
    m_form18->ApplyControls();
    const QRect inside = m_form19->rect();
    for (QWidget* w : {static_cast<QWidget*>(m_form19->rawgaintrack()),
                       static_cast<QWidget*>(m_form19->zqtrack()),
                       static_cast<QWidget*>(m_form19->gainlabel()),
                       static_cast<QWidget*>(m_form19->OverloadText()),
                       static_cast<QWidget*>(m_form19->notenamesbox())}) {
        const QRect at(w->mapTo(m_form19.get(), QPoint(0, 0)), w->size());
        EXPECT_TRUE(inside.contains(at)) << w->objectName().toStdString();
        EXPECT_GE(w->width(), w->minimumSizeHint().width()) << w->objectName().toStdString();
    }
    EXPECT_GE(m_form19->gainlabel()->width(), m_form19->gainlabel()->sizeHint().width());
    EXPECT_GE(m_form19->ResponsePlot()->height(), 100);
}

class WindowView : public WindowFixture {
protected:
    void SetUp() override
    {
        WindowFixture::SetUp();
        WriteWave(Path("ten.wav"), 2, 8000, 80'000, Sine); // ten seconds
        Show(800, 420);
        m_form18->LoadSoundFile(Path("ten.wav"));
        QApplication::processEvents();
    }

    TAxis& Time() { return *m_form18->taxis(); }

    // Turns the wheel over the upper plot: positive notches zoom in.
    void Wheel(int notches)
    {
        QWheelEvent wheel(QPointF(300, 20), QPointF(300, 20), QPoint(), QPoint(0, 120 * notches),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(m_form18->PaintBox1(), &wheel);
    }

    void PlayBlocks(int count)
    {
        for (int i = 0; i < count; ++i) {
            m_device->CompleteQueued();
            QApplication::processEvents();
        }
    }
};

TEST_F(WindowView, PlotsFollowADragBeforeTheButtonIsReleased)
{
    TAxis& t = Time();
    const int renders = m_form18->PaintBox1()->RenderCount();
    QTest::mousePress(&t, Qt::LeftButton, {}, QPoint(t.width() / 2, 10));
    QMouseEvent move(QEvent::MouseMove, QPointF(t.width() / 2 + 60, 10),
                     t.mapToGlobal(QPointF(t.width() / 2 + 60, 10)), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(&t, &move);
    QApplication::processEvents();
    EXPECT_LT(t.HiValue(), 10) << "a middle drag to the right lowers the range";
    EXPECT_GT(m_form18->PaintBox1()->RenderCount(), renders);
    EXPECT_GT(m_form18->PaintBox2()->RenderCount(), 0);
    QTest::mouseRelease(&t, Qt::LeftButton, {}, QPoint(t.width() / 2 + 60, 10));
}

TEST_F(WindowView, ShowAllFromTheMenuOrADoubleClick)
{
    for (int way = 0; way < 2; ++way) {
        Wheel(3);
        m_form18->Axis1()->SetRange(-0.25, 0.5);
        m_form18->Axis2()->SetRange(-0.5, 0.25);
        if (way == 0)
            m_form18->showallaction()->trigger();
        else
            QTest::mouseDClick(m_form18->PaintBox2(), Qt::LeftButton, {}, QPoint(100, 20));
        EXPECT_EQ(Time().LoValue(), 0) << way;
        EXPECT_EQ(Time().HiValue(), 10) << way;
        for (TAxis* a : {m_form18->Axis1(), m_form18->Axis2()}) {
            EXPECT_EQ(a->LoValue(), -1) << way;
            EXPECT_EQ(a->HiValue(), 1) << way;
        }
    }
    EXPECT_EQ(m_form18->showallaction()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_0));
}

TEST_F(WindowView, ZoomedRangePagesWithPlaybackUntilTheUserZooms)
{
    Time().SetRange(0, 1);
    m_form18->playaction()->trigger();
    ASSERT_TRUE(Doc().Playing());
    EXPECT_TRUE(m_form18->FollowPlayback());
    // Blocks of 4096 frames at 8000 Hz: the line leaves 0..1 s within a few blocks.
    PlayBlocks(4);
    EXPECT_GT(Time().LoValue(), 0.5);
    EXPECT_NEAR(Time().HiValue() - Time().LoValue(), 1.0, 1e-9);
    EXPECT_GE(m_form18->PaintBox1()->LineX(), 0) << "the line is in view";

    Wheel(1);
    EXPECT_FALSE(m_form18->FollowPlayback());
    const double lo = Time().LoValue();
    PlayBlocks(6);
    EXPECT_EQ(Time().LoValue(), lo);
    m_form18->playaction()->trigger();
    // Play again follows again.
    m_form18->playaction()->trigger();
    EXPECT_TRUE(m_form18->FollowPlayback());
    m_form18->playaction()->trigger();
}

TEST_F(WindowView, KeysOfAnAudioEditor)
{
    m_form18->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_form18.get()));
    QTest::keyClick(m_form18.get(), Qt::Key_Space);
    EXPECT_TRUE(Doc().Playing());
    QTest::keyClick(m_form18.get(), Qt::Key_F);
    EXPECT_TRUE(Doc().UseFilter());
    QTest::keyClick(m_form18.get(), Qt::Key_Space);
    EXPECT_FALSE(Doc().Playing());
    QTest::keyClick(m_form18.get(), Qt::Key_L, Qt::ControlModifier);
    ASSERT_NE(m_form18->LevelsForm(), nullptr);
    EXPECT_EQ(m_form18->LevelsForm()->Lines().size(), 2);
    EXPECT_TRUE(m_form18->usefilteraction()->toolTip().endsWith("(F)"));
}

TEST_F(WindowUse, WindowsComeBackWhereTheyWere)
{
    m_form18->show();
    m_form18->setGeometry(120, 90, 700, 480);
    m_form19->show();
    m_form19->move(300, 200);
    QApplication::processEvents();
    const QSize size = m_form18->size();
    const QPoint place = m_form19->pos();
    m_form18->close();
    Destroy();

    Create();
    m_form18->show();
    QApplication::processEvents();
    EXPECT_EQ(m_form18->size(), size);
    EXPECT_TRUE(m_form19->isVisible());
    EXPECT_EQ(m_form19->pos(), place);
    m_form19->hide();
    m_form18->close();
    Destroy();

    Create();
    m_form18->show();
    QApplication::processEvents();
    EXPECT_FALSE(m_form19->isVisible()) << "hidden at the close, hidden at the start";
}

} // namespace
} // namespace kavrel::test
