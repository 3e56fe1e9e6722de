// The filter's response curve on the filter controls window: its values against the analytic
// response of the pole and zero the sliders set, redrawn as a slider moves, at the sound's rate,
// with the centre frequencies marked and note names on request.

#include "WindowFixture.h"

#include "app/windows/TPaintBox.h"
#include "app/windows/TResponsePlot.h"
#include "axes/qt/TAxis.h"

#include <QCheckBox>
#include <QRegularExpression>
#include <QSlider>

#include <complex>
#include <numbers>

namespace kavrel::test {
namespace {

// |H| in dB of the pole pair and zero pair placed by centre frequency and bandwidth, each
// scaled to unity at 0 Hz, times the gain.
double AnalyticDb(double fs, double poleF0, double poleBW, double zeroF0, double zeroBW,
                  double gain, double hz)
{
    using C = std::complex<double>;
    const double pi = std::numbers::pi;
    const C z = std::polar(1.0, 2 * pi * hz / fs);
    const auto pair = [&](double f0, double bw, C at) {
        const C r = std::polar(std::exp(-pi * bw / fs), 2 * pi * f0 / fs);
        return (at - r) * (at - std::conj(r));
    };
    const C h = pair(zeroF0, zeroBW, z) / pair(zeroF0, zeroBW, 1.0) /
                (pair(poleF0, poleBW, z) / pair(poleF0, poleBW, 1.0));
    return 20 * std::log10(gain * std::abs(h));
}

class ResponsePlotTest : public WindowFixture {
protected:
    TResponsePlot& Plot() { return *m_form19->ResponsePlot(); }

    // The curve against the response of what the sliders show, at rate fs.
    void ExpectAnalytic(double fs, double poleF0, double poleQ, double zeroF0, double zeroQ,
                        double gainDb)
    {
        const auto& curve = Plot().Curve();
        ASSERT_EQ(static_cast<int>(curve.size()), Plot().Plot()->width());
        EXPECT_DOUBLE_EQ(curve.front().Hz, 10.0);
        EXPECT_DOUBLE_EQ(curve.back().Hz, fs / 2);
        for (std::size_t k = 0; k < curve.size(); k += curve.size() / 7)
            EXPECT_NEAR(curve[k].Db,
                        AnalyticDb(fs, poleF0, poleF0 / poleQ, zeroF0, zeroF0 / zeroQ,
                                   std::pow(10.0, gainDb / 20), curve[k].Hz),
                        1e-6)
                << curve[k].Hz << " Hz";
    }
};

TEST_F(ResponsePlotTest, SlidersAtRestGiveTheirResponse)
{
    Show();
    // Filtered gain -10 dB, pole and zero at 100 Hz with Q 1, before any sound at 44.1 kHz.
    ExpectAnalytic(44100, 100, 1, 100, 1, -10);
    EXPECT_DOUBLE_EQ(Plot().FrequencyAxis()->LoValue(), 10.0);
    EXPECT_DOUBLE_EQ(Plot().FrequencyAxis()->HiValue(), 22050.0);
    EXPECT_TRUE(Plot().FrequencyAxis()->Logarithmic());
    EXPECT_FALSE(Plot().DbAxis()->Logarithmic());
}

TEST_F(ResponsePlotTest, EachSliderMoveRedrawsTheCurve)
{
    Show();
    m_form19->pf0track()->setValue(100); // pole at 1000 Hz
    ExpectAnalytic(44100, 1000, 1, 100, 1, -10);
    m_form19->pqtrack()->setValue(100); // pole Q 10
    ExpectAnalytic(44100, 1000, 10, 100, 1, -10);
    m_form19->zf0track()->setValue(25); // zero at 10^1.5 Hz
    m_form19->zqtrack()->setValue(-50); // zero Q 10^-0.5
    m_form19->gaintrack()->setValue(6);
    ExpectAnalytic(44100, 1000, 10, std::pow(10.0, 1.5), std::pow(10.0, -0.5), 6);

    // The dB axis holds the curve's top and up to 120 dB below it, in whole steps of 10 dB.
    double lo = 1e9;
    double hi = -1e9;
    for (const TResponsePoint& p : Plot().Curve()) {
        lo = std::min(lo, p.Db);
        hi = std::max(hi, p.Db);
    }
    EXPECT_LE(Plot().DbAxis()->LoValue(), std::max(lo, Plot().DbAxis()->HiValue() - 120));
    EXPECT_GE(Plot().DbAxis()->HiValue(), hi);
    EXPECT_EQ(std::fmod(Plot().DbAxis()->HiValue(), 10.0), 0.0);
}

TEST_F(ResponsePlotTest, FollowsTheLoadedSoundsRate)
{
    Show();
    WriteWave(Path("tone.wav"), 1, 8000, 8000, Sine);
    m_form18->LoadSoundFile(Path("tone.wav"));
    EXPECT_DOUBLE_EQ(Plot().FrequencyAxis()->HiValue(), 4000.0);
    ExpectAnalytic(8000, 100, 1, 100, 1, -10);
    // The playing sections are not touched by the plot.
    EXPECT_DOUBLE_EQ(Doc().FilterSection1().SampFreq(), 44100.0);
}

// The picture shows the curve through each column's row of its value, and the centre frequencies
// as dashed lines in the pole's and the zero's colour; it follows each slider move.
TEST_F(ResponsePlotTest, DrawsTheCurveAndMarksPoleAndZero)
{
    Show();
    m_form19->show();
    QApplication::processEvents();
    TPaintBox& box = *Plot().Plot();
    const TAxis& f = *Plot().FrequencyAxis();
    for (int setting = 0; setting < 2; ++setting) {
        m_form19->pf0track()->setValue(setting == 0 ? 80 : 40);
        m_form19->zf0track()->setValue(setting == 0 ? 20 : 90);
        m_form19->pqtrack()->setValue(setting == 0 ? 50 : -30);
        const QImage image = box.grab().toImage();
        const auto columnHas = [&](int x, auto test) {
            for (int y = 0; y < image.height(); ++y)
                if (test(image.pixelColor(x, y)))
                    return true;
            return false;
        };
        const int pole = f.ValueToPixel(Doc().FilterSection1().PoleF0());
        const int zero = f.ValueToPixel(Doc().FilterSection1().ZeroF0());
        EXPECT_TRUE(columnHas(pole, [](QColor c) { return c.red() > 150 && c.blue() < 100; }));
        EXPECT_TRUE(columnHas(zero, [](QColor c) { return c.blue() > 150 && c.red() < 100; }));
        const auto& curve = Plot().Curve();
        for (int x : {5, image.width() / 3, image.width() / 2, image.width() - 5}) {
            const int row = Plot().DbAxis()->ValueToPixel(curve[static_cast<std::size_t>(x)].Db);
            EXPECT_EQ(image.pixelColor(x, row), QColor(Qt::black))
                << "setting " << setting << " column " << x;
        }
    }
}

TEST_F(ResponsePlotTest, NoteNamesOnRequest)
{
    Show();
    m_form19->show();
    QApplication::processEvents();
    TAxis& f = *Plot().FrequencyAxis();
    m_form19->notenamesbox()->setChecked(true);
    EXPECT_TRUE(f.MusicScale());
    QStringList labels;
    for (int i = 0; i < f.TickCount(); ++i)
        labels << f.TickLabel(i);
    EXPECT_TRUE(labels.contains("A4")) << labels.join(",").toStdString();
    for (const QString& label : labels)
        EXPECT_TRUE(label.isEmpty() ||
                    QRegularExpression("^[A-G]-?[0-9]+$").match(label).hasMatch())
            << label.toStdString();
    m_form19->notenamesbox()->setChecked(false);
    EXPECT_FALSE(f.MusicScale());
    labels.clear();
    for (int i = 0; i < f.TickCount(); ++i)
        labels << f.TickLabel(i);
    EXPECT_TRUE(labels.contains("100") || labels.contains("1000"));
}

} // namespace
} // namespace kavrel::test
