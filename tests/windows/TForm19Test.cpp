#include "WindowFixture.h"

#include "app/core/ControlMapping.h"

#include <QAction>
#include <QLabel>
#include <QLocale>
#include <QSlider>
#include <QTest>

#include <cmath>

namespace kavrel::test {
namespace {

using TForm19Test = WindowFixture;

TEST_F(TForm19Test, SlidersAsTheWindowIsCreated)
{
    EXPECT_EQ(m_form19->windowTitle(), "Filter controls");
    EXPECT_EQ(m_form19->size(), QSize(TForm19::ClientWidth, TForm19::ClientHeight));
    struct Want {
        QSlider* track;
        int min, max, tick, pos;
    };
    const Want wants[] = {
        {m_form19->rawgaintrack(), -40, 20, 5, -10}, {m_form19->gaintrack(), -40, 20, 5, -10},
        {m_form19->pf0track(), 0, 100, 10, 50},      {m_form19->pqtrack(), -100, 100, 10, 0},
        {m_form19->zf0track(), 0, 100, 10, 50},      {m_form19->zqtrack(), -100, 100, 10, 0},
    };
    int lastTop = -1;
    for (const Want& w : wants) {
        EXPECT_EQ(w.track->minimum(), w.min) << w.track->objectName().toStdString();
        EXPECT_EQ(w.track->maximum(), w.max);
        EXPECT_EQ(w.track->tickInterval(), w.tick);
        EXPECT_EQ(w.track->tickPosition(), QSlider::TicksBothSides);
        EXPECT_EQ(w.track->value(), w.pos);
        EXPECT_EQ(w.track->width(), TForm19::TrackWidth);
        EXPECT_GT(w.track->y(), lastTop);
        lastTop = w.track->y();
    }
}

TEST_F(TForm19Test, InitialPositionsGiveTheFormValues)
{
    m_form18->ApplyControls();
    const TFilterSection& s1 = Doc().FilterSection1();
    EXPECT_NEAR(Doc().RawGain(), 0.316227766, 1e-9);
    EXPECT_NEAR(s1.Gain(), 0.316227766, 1e-9);
    EXPECT_NEAR(s1.PoleF0(), 100, 1e-9);
    EXPECT_NEAR(s1.PoleBW(), 100, 1e-9);
    EXPECT_NEAR(s1.ZeroF0(), 100, 1e-9);
    EXPECT_NEAR(s1.ZeroBW(), 100, 1e-9);
    EXPECT_EQ(m_form19->rawgainlabel()->text(), "Raw gain: 0.3162");
    EXPECT_EQ(m_form19->gainlabel()->text(), "Filtered gain: 0.3162");
    EXPECT_EQ(m_form19->polef0label()->text(), "Pole f0: 100");
    EXPECT_EQ(m_form19->poleqlabel()->text(), "Pole Q: 1");
    EXPECT_EQ(m_form19->zerof0label()->text(), "Zero f0: 100");
    EXPECT_EQ(m_form19->zeroqlabel()->text(), "Zero Q: 1");
}

TEST_F(TForm19Test, EndPositionsAndTheSecondSectionFollows)
{
    m_form19->rawgaintrack()->setValue(20);
    m_form19->gaintrack()->setValue(-40);
    m_form19->pf0track()->setValue(0);
    m_form19->pqtrack()->setValue(-100);
    m_form19->zf0track()->setValue(100);
    m_form19->zqtrack()->setValue(100);
    const TFilterSection& s1 = Doc().FilterSection1();
    const TFilterSection& s2 = Doc().FilterSection2();
    EXPECT_NEAR(Doc().RawGain(), 10, 1e-12);
    EXPECT_NEAR(s1.Gain(), 0.01, 1e-12);
    EXPECT_NEAR(s1.PoleF0(), 10, 1e-12);
    EXPECT_NEAR(s1.PoleBW(), 100, 1e-9); // Q 0.1: ten times f0
    EXPECT_NEAR(s1.ZeroF0(), 1000, 1e-9);
    EXPECT_NEAR(s1.ZeroBW(), 100, 1e-9);
    for (auto get : {&TFilterSection::Gain, &TFilterSection::PoleF0, &TFilterSection::PoleBW,
                     &TFilterSection::ZeroF0, &TFilterSection::ZeroBW})
        EXPECT_EQ((s2.*get)(), (s1.*get)());
    EXPECT_EQ(m_form19->rawgainlabel()->text(), "Raw gain: 10");
    EXPECT_EQ(m_form19->gainlabel()->text(), "Filtered gain: 0.01");
    EXPECT_EQ(m_form19->polef0label()->text(), "Pole f0: 10");
    EXPECT_EQ(m_form19->poleqlabel()->text(), "Pole Q: 0.1");
    EXPECT_EQ(m_form19->zerof0label()->text(), "Zero f0: 1000");
    EXPECT_EQ(m_form19->zeroqlabel()->text(), "Zero Q: 10");
}

TEST_F(TForm19Test, SliderSetWhileUpdatingChangesNothing)
{
    m_form18->ApplyControls();
    const double raw = Doc().RawGain();
    const double f0 = Doc().FilterSection1().PoleF0();
    const QString label = m_form19->rawgainlabel()->text();
    m_form18->SetUpdating(true);
    m_form19->rawgaintrack()->setValue(15);
    m_form19->pf0track()->setValue(90);
    EXPECT_EQ(Doc().RawGain(), raw);
    EXPECT_EQ(Doc().FilterSection1().PoleF0(), f0);
    EXPECT_EQ(m_form19->rawgainlabel()->text(), label);
    m_form18->SetUpdating(false);
    m_form19->rawgaintrack()->setValue(14);
    EXPECT_NEAR(Doc().RawGain(), std::pow(10.0, 14 / 20.0), 1e-12);
    EXPECT_NEAR(Doc().FilterSection1().PoleF0(), F0FromSlider(90), 1e-9);
}

TEST_F(TForm19Test, LabelsFollowTheWindowsLocale)
{
    m_form19->setLocale(QLocale(QLocale::German, QLocale::Germany));
    m_form18->ApplyControls();
    EXPECT_EQ(m_form19->rawgainlabel()->text(), "Raw gain: 0,3162");
    EXPECT_EQ(m_form19->polef0label()->text(), "Pole f0: 100");
}

TEST_F(TForm19Test, PlayShortcutWorksFromTheFilterControls)
{
    EXPECT_TRUE(m_form19->actions().contains(m_form18->playaction()));
    EXPECT_EQ(m_form19->actions().value(0)->shortcut(), QKeySequence(Qt::Key_F9));
}

TEST_F(TForm19Test, KeysOpenAndCloseItAndTheFocusedSliderIsFramed)
{
    EXPECT_EQ(m_form18->showfilteraction()->shortcut(), QKeySequence("Ctrl+F"));
    m_form18->showfilteraction()->trigger();
    QApplication::processEvents();
    ASSERT_TRUE(m_form19->isVisible());

    QSlider* track = m_form19->pqtrack();
    const QImage plain = track->grab().toImage();
    track->setFocus();
    QApplication::processEvents();
    ASSERT_TRUE(track->hasFocus());
    const QImage framed = track->grab().toImage();
    const QColor highlight = track->palette().color(QPalette::Highlight);
    EXPECT_NE(QColor(plain.pixel(1, 1)), highlight);
    EXPECT_EQ(QColor(framed.pixel(1, 1)), highlight);

    QTest::keyClick(track, Qt::Key_Escape);
    EXPECT_FALSE(m_form19->isVisible());
}

TEST_F(TForm19Test, LampsShowBothAtFirstThenOneAfterEachBlock)
{
    m_form19->show();
    QLabel* red = m_form19->redledimage();
    QLabel* green = m_form19->greenledimage();
    EXPECT_TRUE(red->isVisible());
    EXPECT_TRUE(green->isVisible());
    EXPECT_EQ(red->geometry(), green->geometry());
    EXPECT_EQ(red->size(), QSize(37, 34));
    const QObjectList& order = red->parentWidget()->children();
    EXPECT_GT(order.indexOf(green), order.indexOf(red)) << "green must lie on top";

    Show();
    WriteWave(Path("loud.wav"), 2, 8000, 40000, [](int, std::int64_t i) {
        return static_cast<std::int16_t>(i % 2 ? 30000 : -30000);
    });
    m_form18->LoadSoundFile(Path("loud.wav"));
    m_form19->rawgaintrack()->setValue(20);
    m_form18->playaction()->trigger();
    QApplication::processEvents();
    ASSERT_TRUE(Doc().Playing());
    EXPECT_TRUE(red->isVisible());
    EXPECT_FALSE(green->isVisible());

    // Quieter: the blocks that follow are within range. The buffers in flight were filled loud.
    m_form19->rawgaintrack()->setValue(-40);
    for (int i = 0; i < 3 * TSoundDocument::Buffers; ++i) {
        m_device->CompleteQueued();
        QApplication::processEvents();
    }
    EXPECT_FALSE(red->isVisible());
    EXPECT_TRUE(green->isVisible());
    m_form18->playaction()->trigger();
    QApplication::processEvents();
}

} // namespace
} // namespace kavrel::test
