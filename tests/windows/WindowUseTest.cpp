// The windows as a user meets them: results that can be read in full, titles that say what a
// window is, a recent list of files that opened, actions that are only there when they can work.

#include "WindowFixture.h"

#include "app/windows/TLevelsForm.h"
#include "app/windows/TResponsePlot.h"
#include "axes/qt/TAxis.h"
#include "menus/qt/TRecentFilesMenu.h"
#include "sound/EWavError.h"

#include <QAction>
#include <QCheckBox>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QSlider>

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

} // namespace
} // namespace kavrel::test
