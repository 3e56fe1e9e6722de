// The waveform plots as the window draws them from the summaries, against a rendering by the
// direct scan of every sample; and the play-position line over them.

#include "WindowFixture.h"
#include "app/core/PositionText.h"

#include "app/windows/TPaintBox.h"
#include "app/windows/TPlayCursor.h"
#include "axes/qt/TAxis.h"

#include <QImage>
#include <QPainter>
#include <QTest>

#include <chrono>
#include <random>
#include <thread>

namespace kavrel::test {
namespace {

// The plot by the plain algorithm: for each column the samples from round(rate × t(x)) to
// round(rate × t(x+1)), their extremes from 32768 / -32768, a line from the maximum's row down to
// the minimum's, and a stop at the first column that reaches outside the sound.
QImage DirectScanPlot(const TWav& wav, int channel, const TAxis& taxis, const TAxis& amplitude,
                      QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    if (channel >= wav.Channels() || taxis.width() < 2)
        return image;
    QPainter p(&image);
    const auto samples = wav.ChannelSamples(channel);
    const double last = static_cast<double>(samples.size()) - 1;
    for (int x = 0; x <= taxis.width() - 2; ++x) {
        const double v0 = std::nearbyint(wav.SampleRate() * taxis.PixelToValue(x));
        const double v1 = std::nearbyint(wav.SampleRate() * taxis.PixelToValue(x + 1));
        if (!(v0 >= 0 && v0 <= last && v1 >= 0 && v1 <= last))
            break;
        std::int32_t mn = 32768;
        std::int32_t mx = -32768;
        for (auto i = static_cast<std::size_t>(v0); i <= static_cast<std::size_t>(v1); ++i) {
            mn = std::min<std::int32_t>(mn, samples[i]);
            mx = std::max<std::int32_t>(mx, samples[i]);
        }
        const int top = amplitude.ValueToPixel(mx / 32768.0);
        const int end = amplitude.ValueToPixel(mn / 32768.0) + 1;
        p.fillRect(x, top, 1, end - top, Qt::black);
    }
    return image;
}

// A sound whose extremes change from column to column at every zoom: a random walk with a spike of
// random height on each side of every 256-sample boundary, where the summaries' blocks meet.
std::int16_t Walk(int channel, std::int64_t frame)
{
    static std::vector<std::int16_t> walk[2];
    std::vector<std::int16_t>& w = walk[channel];
    if (w.empty()) {
        std::mt19937 rng(static_cast<unsigned>(channel + 1));
        std::uniform_int_distribution<int> step(-60, 60);
        std::uniform_int_distribution<int> spike(-12000, 12000);
        w.resize(5'000'000);
        int v = 0;
        for (std::size_t i = 0; i < w.size(); ++i) {
            v = std::clamp(v + step(rng), -20000, 20000);
            const bool edge = i % 256 == 0 || i % 256 == 255;
            w[i] = static_cast<std::int16_t>(edge ? v + spike(rng) : v);
        }
    }
    return w[static_cast<std::size_t>(frame) % w.size()];
}

class WaveformPlot : public WindowFixture {
protected:
    // What the plot box draws under the play-position line.
    static QImage Picture(TPaintBox& box)
    {
        box.grab();
        return box.KeptImage().convertToFormat(QImage::Format_RGB32);
    }
};

TEST_F(WaveformPlot, SummariesDrawThePixelsOfTheDirectScanOnRandomZooms)
{
    const QString file = Path("walk.wav");
    WriteWave(file, 2, 8000, 4'800'000, Walk); // ten minutes
    Show(900, 500);
    m_form18->LoadSoundFile(file);
    const TWav& wav = Doc().SourceWav();
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> unit(0, 1);
    for (int trial = 0; trial < 25; ++trial) {
        if (trial % 5 == 4)
            m_form18->resize(500 + static_cast<int>(unit(rng) * 1000), 400);
        const double span = wav.Duration() * std::pow(10.0, -5.0 * unit(rng)) * 1.1;
        const double lo = (wav.Duration() - span / 2) * unit(rng);
        m_form18->taxis()->SetRange(lo, lo + span);
        QApplication::processEvents();
        for (int channel : {0, 1}) {
            TPaintBox& box = channel == 0 ? *m_form18->PaintBox1() : *m_form18->PaintBox2();
            TAxis& amplitude = channel == 0 ? *m_form18->Axis1() : *m_form18->Axis2();
            const QImage expected =
                DirectScanPlot(wav, channel, *m_form18->taxis(), amplitude, box.size());
            ASSERT_EQ(Picture(box), expected)
                << "trial " << trial << " channel " << channel << " range " << lo << " … "
                << lo + span << " width " << box.width();
        }
    }
}

TEST_F(WaveformPlot, MonoLeavesTheLowerPlotWhite)
{
    const QString file = Path("mono.wav");
    WriteWave(file, 1, 8000, 80'000, Walk);
    Show();
    m_form18->LoadSoundFile(file);
    m_form18->Axis1()->SetRange(-0.5, 0.5);
    QApplication::processEvents();
    TPaintBox& upper = *m_form18->PaintBox1();
    TPaintBox& lower = *m_form18->PaintBox2();
    EXPECT_EQ(Picture(upper), DirectScanPlot(Doc().SourceWav(), 0, *m_form18->taxis(),
                                             *m_form18->Axis1(), upper.size()));
    QImage white(lower.size(), QImage::Format_RGB32);
    white.fill(Qt::white);
    EXPECT_EQ(Picture(lower), white);
}

class PlayLine : public WindowFixture {
protected:
    void SetUp() override
    {
        WindowFixture::SetUp();
        const QString file = Path("stereo.wav");
        WriteWave(file, 2, 8000, 80'000, Sine); // ten seconds
        Show(800, 420);
        m_form18->LoadSoundFile(file);
        QApplication::processEvents();
    }

    TPaintBox& Box(int i) { return i == 0 ? *m_form18->PaintBox1() : *m_form18->PaintBox2(); }

    // Whether column x of the box shows the line from top to bottom, and every other column is
    // the kept picture of the waveform.
    static bool ShowsLineAt(TPaintBox& box, int x)
    {
        const QImage shown = box.grab().toImage().convertToFormat(QImage::Format_RGB32);
        const QImage kept = box.KeptImage().convertToFormat(QImage::Format_RGB32);
        for (int y = 0; y < shown.height(); ++y)
            for (int c = 0; c < shown.width(); ++c) {
                const QRgb want = c == x ? box.LineColor().rgb() : kept.pixel(c, y);
                if (shown.pixel(c, y) != want)
                    return false;
            }
        return true;
    }
};

TEST_F(PlayLine, ShowsAcrossBothPlotsWhilePlayingAndWherePlayStartsWhenStopped)
{
    for (int i : {0, 1}) {
        EXPECT_EQ(Box(i).LineX(), 0);
        EXPECT_TRUE(ShowsLineAt(Box(i), 0));
    }
    QTest::mouseClick(m_form18->PaintBox1(), Qt::LeftButton, {}, QPoint(200, 20));
    for (int i : {0, 1})
        EXPECT_TRUE(ShowsLineAt(Box(i), 200)) << "a click while stopped shows where Play starts";
    m_form18->playaction()->trigger();
    ASSERT_TRUE(Doc().Playing());
    // The player took its first blocks at once, none heard yet: the line stands where playing
    // starts, at the time axis marker.
    QApplication::processEvents();
    const int marker = m_form18->taxis()->MarkerPixel();
    EXPECT_NEAR(marker, 200, 1);
    for (int i : {0, 1}) {
        EXPECT_EQ(Box(i).LineX(), marker);
        EXPECT_TRUE(ShowsLineAt(Box(i), marker));
    }
    m_form18->playaction()->trigger();
    const int next = m_form18->taxis()->ValueToPixel(Doc().PlayPos() / 8000.0);
    EXPECT_GE(next, marker);
    for (int i : {0, 1}) {
        EXPECT_EQ(Box(i).LineX(), next);
        EXPECT_TRUE(ShowsLineAt(Box(i), next));
    }
}

TEST_F(PlayLine, FollowsTheTimeAxisMarkerWithoutRedrawingTheWaveform)
{
    m_form18->playaction()->trigger();
    ASSERT_TRUE(Doc().Playing());
    QApplication::processEvents();
    const int renders = Box(0).RenderCount() + Box(1).RenderCount();
    int previous = Box(0).LineX();
    int moves = 0;
    for (int i = 0; i < 30; ++i) {
        m_device->CompleteQueued();
        QApplication::processEvents();
        m_form18->ShowHeardPosition();
        const int marker = m_form18->taxis()->MarkerPixel();
        EXPECT_EQ(Box(0).LineX(), marker);
        EXPECT_EQ(Box(1).LineX(), marker);
        moves += Box(0).LineX() != previous;
        previous = Box(0).LineX();
    }
    EXPECT_GT(moves, 5);
    EXPECT_TRUE(ShowsLineAt(Box(1), previous));
    EXPECT_EQ(Box(0).RenderCount() + Box(1).RenderCount(), renders);
    // The readout's text follows at most every ReadoutInterval ms while playing (half that
    // when the line moves with it, in the same repaint).
    const auto heardText = [&] { return PositionText(Doc().HeardPos() / 8000.0, 10.0); };
    std::this_thread::sleep_for(std::chrono::milliseconds(TPlayCursor::ReadoutInterval + 5));
    m_form18->ShowHeardPosition();
    EXPECT_EQ(m_form18->PositionReadout().toStdString(), heardText());
    m_device->CompleteQueued();
    QApplication::processEvents();
    m_form18->ShowHeardPosition();
    EXPECT_NE(m_form18->PositionReadout().toStdString(), heardText());
    std::this_thread::sleep_for(std::chrono::milliseconds(TPlayCursor::ReadoutInterval + 5));
    m_form18->ShowHeardPosition();
    EXPECT_EQ(m_form18->PositionReadout().toStdString(), heardText());
    m_form18->playaction()->trigger();
    // Stopped where it was heard: the readout shows where Play goes on.
    EXPECT_GT(Doc().PlayPos(), 0);
    EXPECT_EQ(m_form18->PositionReadout().toStdString(),
              PositionText(Doc().PlayPos() / 8000.0, 10.0));
}

TEST_F(PlayLine, ClickWhilePlayingMovesItWhenTheClickedTimeIsHeard)
{
    m_form18->playaction()->trigger();
    QApplication::processEvents();
    const int renders = Box(0).RenderCount() + Box(1).RenderCount();
    const int before = Box(0).LineX();
    QTest::mouseClick(m_form18->PaintBox2(), Qt::LeftButton, {}, QPoint(321, 20));
    const double t = m_form18->taxis()->PixelToValue(321);
    EXPECT_EQ(Doc().PlayPos(), static_cast<std::int32_t>(std::nearbyint(8000 * t)));
    m_form18->ShowHeardPosition();
    EXPECT_EQ(Box(0).LineX(), before);
    // The blocks queued before the click are heard, then the first one from the click.
    m_device->CompleteQueued();
    QApplication::processEvents();
    m_device->CompleteNext();
    QApplication::processEvents();
    m_form18->ShowHeardPosition();
    for (int i : {0, 1}) {
        EXPECT_NEAR(Box(i).LineX(), 321, 1);
        EXPECT_TRUE(ShowsLineAt(Box(i), Box(i).LineX()));
    }
    EXPECT_EQ(m_form18->taxis()->MarkerPixel(), Box(0).LineX());
    EXPECT_EQ(Box(0).RenderCount() + Box(1).RenderCount(), renders);
    m_form18->playaction()->trigger();
}

TEST_F(PlayLine, FollowsAZoomAndHidesOutsideTheRange)
{
    QTest::mouseClick(m_form18->PaintBox1(), Qt::LeftButton, {}, QPoint(400, 20));
    m_form18->playaction()->trigger();
    const double t = Doc().HeardPos() / 8000.0;
    m_form18->taxis()->SetRange(t - 1, t + 3);
    QApplication::processEvents();
    EXPECT_EQ(Box(0).LineX(), m_form18->taxis()->ValueToPixel(t));
    m_form18->taxis()->SetRange(t + 1, t + 2);
    QApplication::processEvents();
    for (int i : {0, 1}) {
        EXPECT_EQ(Box(i).LineX(), -1);
        EXPECT_TRUE(ShowsLineAt(Box(i), -1));
    }
    m_form18->playaction()->trigger();
}

} // namespace
} // namespace kavrel::test
