// The windows as a user meets them: results read in full, titles that say what a window is, a
// recent list of files that opened, views that can always be brought back.

#include "WindowFixture.h"

#include "app/core/ControlMapping.h"
#include "app/windows/TFilterSettingsActions.h"
#include "app/windows/TLevelsForm.h"
#include "app/windows/TPaintBox.h"
#include "app/windows/TResponsePlot.h"
#include "axes/qt/TAxis.h"
#include "menus/qt/TRecentFilesMenu.h"
#include "sound/EWavError.h"

#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QScrollArea>
#include <QSlider>
#include <QTest>

namespace kavrel::test {
namespace {

class WindowUse : public WindowFixture {
protected:
    // Ten seconds of stereo, loaded into the shown window.
    void LoadTen()
    {
        WriteWave(Path("ten.wav"), 2, 8000, 80'000, Sine);
        Show(800, 420);
        m_form18->LoadSoundFile(Path("ten.wav"));
        QApplication::processEvents();
    }

    TAxis& Time() { return *m_form18->taxis(); }

    void PlayBlocks(int count)
    {
        for (int i = 0; i < count; ++i) {
            m_device->CompleteQueued();
            QApplication::processEvents();
            m_form18->ShowHeardPosition();
        }
    }
};

TEST_F(WindowUse, AnalyzeOfFourChannelsCanBeReadInFull)
{
    Show();
    WriteWave(Path("four.wav"), 4, 8000, 800, [](int c, std::int64_t i) {
        return static_cast<std::int16_t>((i % 2 ? 1 : -1) * 4000 * (c + 1));
    });
    m_form18->LoadSoundFile(Path("four.wav"));
    m_form18->Analyzeaction()->trigger();
    EXPECT_EQ(m_form18->StatusToolTip(), m_form18->StatusText());
    TLevelsForm* levels = m_form18->LevelsForm();
    ASSERT_NE(levels, nullptr);
    EXPECT_TRUE(levels->isVisible() && !levels->isModal());
    const QStringList lines = levels->Lines();
    ASSERT_EQ(lines.size(), 5) << lines.join('|').toStdString();
    EXPECT_EQ(lines[0], "Ch 0: RMS=-18.27 dB : Peak=-18.27 dB : Crest=0.00 dB");
    EXPECT_EQ(lines[3], "Ch 3: RMS=-6.23 dB : Peak=-6.23 dB : Crest=0.00 dB");
    // A tenth of a second is too short to have a loudness; its true peak lies above the samples.
    EXPECT_TRUE(lines[4].startsWith("Loudness: -inf LUFS : Range: 0.0 LU : True peak: "))
        << lines[4].toStdString();
}

TEST_F(WindowUse, LoadsAndSavesAsTheUserExpects)
{
    Show();
    m_form19->show();
    EXPECT_FALSE(m_form18->saveaction()->isEnabled()) << "nothing to save yet";
    WriteWave(Path("good.wav"), 2, 8000, 800, Sine);
    m_form18->LoadSoundFile(Path("good.wav"));
    EXPECT_TRUE(m_form18->saveaction()->isEnabled());
    EXPECT_EQ(m_form18->windowTitle(), "good.wav - Kavrel");
    // Qt appends the application's display name to every title: no file name may go there.
    EXPECT_FALSE(QGuiApplication::applicationDisplayName().contains("good.wav"));
    EXPECT_EQ(m_form19->windowTitle(), "Filter controls");

    TRecentFiles& recent = m_form18->RecentFiles1();
    const std::string good = recent.Slot(1);
    QFile(Path("empty.wav")).open(QIODevice::WriteOnly);
    for (const QString& bad : {Path("empty.wav"), Path("missing.wav")})
        EXPECT_THROW(m_form18->LoadSoundFile(bad), EWavError);
    EXPECT_EQ(recent.Slot(1), good) << "files that failed to open stay out of the list";
    EXPECT_TRUE(recent.Slot(2).empty());
    EXPECT_TRUE(m_form18->RecentFilesMenu().BarAction()->text().isEmpty());

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
    EXPECT_FALSE(m_form19->redledimage()->isVisible());
    EXPECT_TRUE(m_form19->greenledimage()->isVisible());
}

TEST_F(WindowUse, FilterControlsStayReadableSmallAndUseALargeSize)
{
    m_form19->show();
    m_form18->ApplyControls();
    QApplication::processEvents();
    const QSize track = m_form19->rawgaintrack()->size();
    const QSize plot = m_form19->ResponsePlot()->size();
    m_form19->resize(1200, 1000);
    QApplication::processEvents();
    EXPECT_GT(m_form19->rawgaintrack()->width(), track.width() + 400);
    EXPECT_GT(m_form19->ResponsePlot()->height(), plot.height() + 300);

    // Smaller than its controls need, the window scrolls them.
    m_form19->resize(10, 10);
    QApplication::processEvents();
    EXPECT_EQ(m_form19->size(), m_form19->minimumSize());
    const QWidget* content = m_form19->findChild<QScrollArea*>()->widget();
    for (QWidget* w : std::initializer_list<QWidget*>{m_form19->zqtrack(), m_form19->gainlabel(),
                                                      m_form19->notenamesbox()}) {
        EXPECT_TRUE(content->rect().contains(QRect(w->mapTo(content, QPoint()), w->size())))
            << w->objectName().toStdString();
        EXPECT_GE(w->width(), w->sizeHint().width()) << w->objectName().toStdString();
    }
}

TEST_F(WindowUse, PlotsFollowADragBeforeTheButtonIsReleased)
{
    LoadTen();
    const int renders = m_form18->PaintBox1()->RenderCount();
    const QPointF to(Time().width() / 2 + 60, 10);
    QTest::mousePress(&Time(), Qt::LeftButton, {}, QPoint(Time().width() / 2, 10));
    QMouseEvent move(QEvent::MouseMove, to, Time().mapToGlobal(to), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(&Time(), &move);
    QApplication::processEvents();
    EXPECT_LT(Time().HiValue(), 10);
    EXPECT_GT(m_form18->PaintBox1()->RenderCount(), renders);
    QTest::mouseRelease(&Time(), Qt::LeftButton, {}, to.toPoint());
}

// An amplitude axis zooms when an end is dragged away from the other and scrolls when its middle
// is dragged, never past its limits; "Show all" brings it back.
TEST_F(WindowUse, AmplitudeAxesZoomAndScrollByMouseWithinTheirLimits)
{
    LoadTen();
    for (TAxis* axis : {m_form18->Axis1(), m_form18->Axis2()}) {
        TPaintBox* box = axis == m_form18->Axis1() ? m_form18->PaintBox1() : m_form18->PaintBox2();
        const int renders = box->RenderCount();
        const auto drag = [&](int fromY, int toY) {
            QTest::mousePress(axis, Qt::LeftButton, {}, QPoint(20, fromY));
            const QPointF to(20, toY);
            QMouseEvent move(QEvent::MouseMove, to, axis->mapToGlobal(to), Qt::NoButton,
                             Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(axis, &move);
            QTest::mouseRelease(axis, Qt::LeftButton, {}, to.toPoint());
        };
        // The top third holds the high end: pulled up, away from the low end, it zooms in.
        const int h = axis->height();
        drag(h / 4, 0);
        QApplication::processEvents();
        const double hi = axis->HiValue();
        EXPECT_LT(hi, 1.0);
        EXPECT_EQ(axis->LoValue(), -1.0);
        EXPECT_GT(box->RenderCount(), renders);
        // The middle dragged far down would raise both ends past the top: they stay within.
        drag(h / 2, h * 10);
        EXPECT_EQ(axis->HiValue(), 1.0);
        EXPECT_NEAR(axis->LoValue(), 1.0 - (hi + 1.0), 1e-12) << "the width is kept";
    }
    m_form18->showallaction()->trigger();
    for (TAxis* axis : {m_form18->Axis1(), m_form18->Axis2()}) {
        EXPECT_EQ(axis->LoValue(), -1.0);
        EXPECT_EQ(axis->HiValue(), 1.0);
        EXPECT_TRUE(axis->AllowDoubleClick());
    }
}

TEST_F(WindowUse, ZoomedRangePagesWithPlaybackUntilTheUserZooms)
{
    LoadTen();
    Time().SetRange(0, 1);
    m_form18->playaction()->trigger();
    ASSERT_TRUE(m_form18->FollowPlayback());
    // Each round hears the ring, 0.1 s at 8000 Hz: the line leaves 0..1 s after ten.
    PlayBlocks(12);
    EXPECT_GT(Time().LoValue(), 0.5);
    EXPECT_NEAR(Time().HiValue() - Time().LoValue(), 1.0, 1e-9);
    EXPECT_GE(m_form18->PaintBox1()->LineX(), 0) << "the line is in view";

    QWheelEvent wheel(QPointF(300, 20), QPointF(300, 20), QPoint(), QPoint(0, 120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(m_form18->PaintBox1(), &wheel);
    const double lo = Time().LoValue();
    PlayBlocks(6);
    EXPECT_EQ(Time().LoValue(), lo) << "the user's zoom ends following";
    m_form18->playaction()->trigger();
}

TEST_F(WindowUse, WindowsComeBackWhereTheyWere)
{
    for (const bool filterShown : {true, false}) {
        m_form18->show();
        m_form18->setGeometry(120, 90, 700, 480);
        m_form19->move(300, 200);
        m_form19->setVisible(filterShown);
        QApplication::processEvents();
        const QSize size = m_form18->size();
        const QPoint place = m_form19->pos();
        m_form18->close();
        Destroy();
        Create();
        m_form18->show();
        QApplication::processEvents();
        EXPECT_EQ(m_form18->size(), size);
        EXPECT_EQ(m_form19->isVisible(), filterShown);
        EXPECT_EQ(m_form19->pos(), place);
    }
}

} // namespace
} // namespace kavrel::test

namespace kavrel::test {
namespace {

// A setting kept in a file comes back on every slider; a bad file is named and moves none.
TEST_F(WindowUse, FilterSettingsAreKeptAndRecalled)
{
    Show();
    auto* actions = m_form18->findChild<TFilterSettingsActions*>();
    ASSERT_NE(actions, nullptr);
    const QList<QAction*> items = m_form18->findChild<QMenu*>("File1")->actions();
    EXPECT_TRUE(items.contains(actions->SaveAction()) && items.contains(actions->LoadAction()));
    const std::vector<QSlider*> tracks{m_form19->rawgaintrack(), m_form19->gaintrack(),
                                       m_form19->pf0track(),     m_form19->pqtrack(),
                                       m_form19->zf0track(),     m_form19->zqtrack()};
    const auto positions = [&] {
        std::vector<int> p;
        for (const QSlider* t : tracks)
            p.push_back(t->value());
        return p;
    };
    const std::vector<int> kept{-3, 7, 20, 35, 80, -45};
    for (std::size_t i = 0; i < tracks.size(); ++i)
        tracks[i]->setValue(kept[i]);
    ASSERT_TRUE(actions->SaveTo(Path("kept.zelfile")));
    for (QSlider* t : tracks)
        t->setValue(t->minimum());
    ASSERT_TRUE(actions->LoadFrom(Path("kept.zelfile")));
    EXPECT_EQ(positions(), kept);
    EXPECT_NEAR(Doc().FilterSection1().PoleF0(), F0FromSlider(20), 1e-9);

    QFile junk(Path("junk.zelfile"));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("ZEL1 but nothing else");
    junk.close();
    for (QSlider* t : tracks)
        t->setValue(t->maximum());
    const std::vector<int> before = positions();
    EXPECT_FALSE(actions->LoadFrom(Path("junk.zelfile")));
    EXPECT_EQ(positions(), before);
    ASSERT_EQ(m_errors.size(), 1);
    EXPECT_TRUE(m_errors.takeFirst().startsWith(Path("junk.zelfile") + ": "));
}

} // namespace
} // namespace kavrel::test
