// The meters and the spectrum follow what the device plays, not what the feed fills, as the
// blocks are fed.

#include "WindowFixture.h"

#include "app/windows/TFrequencyForm.h"
#include "app/windows/TLevelMeterView.h"
#include "app/windows/TListeningTools.h"
#include "app/windows/TPlayCursor.h"
#include "axes/qt/TAxis.h"

#include <QAction>
#include <QSlider>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>
#include <utility>

namespace kavrel::test {
namespace {

TEST_F(WindowFixture, MetersAndSpectrumShowTheSoundBeingHeard)
{
    // A -6 dBFS tone of 1 kHz, then silence: what is filled runs a ring ahead of what is heard.
    const double amplitude = 32768.0 * std::pow(10.0, -6.0 / 20.0);
    const std::int64_t toneFrames = 48000;
    WriteWave(Path("tone.wav"), 2, 48000, 2 * toneFrames, [&](int, std::int64_t i) {
        return static_cast<std::int16_t>(
            i < toneFrames ? std::lround(amplitude * std::sin(2 * M_PI * 1000.0 *
                                                              static_cast<double>(i) / 48000.0))
                           : 0);
    });
    Show();
    m_form19->show();
    m_form19->rawgaintrack()->setValue(0); // what is heard is the file's own level
    m_form18->LoadSoundFile(Path("tone.wav"));
    auto* tools = m_form18->findChild<TListeningTools*>();
    ASSERT_NE(tools, nullptr);
    ASSERT_NE(tools->Meters(), nullptr);
    tools->SpectrumAction()->trigger();
    ASSERT_NE(tools->SpectrumForm(), nullptr);
    EXPECT_TRUE(tools->SpectrumForm()->isVisible());
    m_form18->playaction()->trigger();

    const auto playUntil = [&](std::int64_t frame) {
        while (Doc().MPCPlay1().PlayedFrames() < frame) {
            ASSERT_TRUE(m_device->CompleteNext());
            QApplication::processEvents();
            tools->Follow();
        }
    };
    // The last tone blocks are heard while silence is being filled.
    playUntil(toneFrames - 2000);
    for (int c = 0; c < 2; ++c) {
        const TMeterReading r = tools->Meters()->Readings().at(static_cast<std::size_t>(c));
        EXPECT_NEAR(r.PeakDb, -6.0, 0.1);
        EXPECT_NEAR(r.RmsDb, -9.0, 0.1);
    }
    const auto& spectrum = tools->SpectrumForm()->Spectrum();
    ASSERT_FALSE(spectrum.empty());
    const auto peak = std::max_element(spectrum.begin(), spectrum.end(),
                                       [](const auto& a, const auto& b) { return a.Db < b.Db; });
    EXPECT_NEAR(peak->Hz, 1000.0, 48000.0 / 4096);
    EXPECT_EQ(tools->Meters()->Overloads(), 0);
    // In silence the peak falls at once, the hold stays on the tone.
    playUntil(toneFrames + 4800);
    EXPECT_LT(tools->Meters()->Readings()[0].PeakDb, -80.0);
    EXPECT_NEAR(tools->Meters()->Readings()[0].HoldDb, -6.0, 0.1);
    m_form18->playaction()->trigger();
}

// Without timers of their own, the play line and the meters follow as the blocks are fed; the
// meters also while their window is hidden, less often.
TEST_F(WindowFixture, PlayLineAndMetersFollowTheBlocksFed)
{
    WriteWave(Path("saw.wav"), 2, 48000, 48000,
              [](int, std::int64_t i) { return static_cast<std::int16_t>(i % 100 * 100); });
    Show();
    m_form18->LoadSoundFile(Path("saw.wav"));
    auto* tools = m_form18->findChild<TListeningTools*>();
    ASSERT_NE(tools, nullptr);
    // Each pass at a level of its own, so that a pass whose meters stood still shows.
    for (const auto& [shown, gainDb] : {std::pair{false, 0}, std::pair{true, -20}}) {
        SCOPED_TRACE(shown ? "meters shown" : "meters hidden");
        m_form19->setVisible(shown);
        m_form19->rawgaintrack()->setValue(gainDb);
        const int wait = shown ? std::max(TListeningTools::Interval, TPlayCursor::HeardInterval)
                               : TListeningTools::UnseenInterval;
        m_form18->playaction()->trigger();
        for (int i = 0; i < 3; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(wait + 5));
            ASSERT_TRUE(m_device->CompleteNext());
            QApplication::processEvents();
            EXPECT_GT(Doc().HeardPos(), 0);
            EXPECT_DOUBLE_EQ(m_form18->taxis()->MarkerValue(), Doc().HeardPos() / 48000.0) << i;
        }
        EXPECT_NEAR(tools->Meters()->Readings().at(0).PeakDb,
                    20.0 * std::log10(9900.0 / 32768.0) + gainDb, 0.1);
        m_form18->playaction()->trigger();
    }
}

} // namespace
} // namespace kavrel::test
