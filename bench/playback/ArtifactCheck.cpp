// What a control change adds to the sound: a 500 Hz tone plays through the main window on the
// default output while the filter controls' sliders are swept and "Use filter" is toggled; a
// recording of the output's monitor (`playback_check record`) then goes through a notch at
// 500 Hz, x[n] - 2·cos(w)·x[n-1] + x[n-2], which takes the tone away and leaves every step.
//
//   artifact_check play TIMING
//       Plays the tone and moves the controls, writing one line "span NAME START_NS END_NS" per
//       sweep (monotonic clock) to TIMING. Needs a sound server; run it offscreen.
//   artifact_check analyze RAW T0 TIMING
//       For each span of a 44100 Hz stereo recording RAW whose first frame was heard at T0, the
//       largest notch residual against the tone's amplitude there; for each line "gaps NAME
//       START_NS END_NS" only the dropouts. Fails on a residual over the goal or such a dropout.

#include "app/core/ControlMapping.h"
#include "app/core/TSoundDocument.h"
#include "app/windows/TForm18.h"
#include "app/windows/TForm19.h"
#include "dsp/TFilterSection.h"
#include "sound/TWav.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSlider>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iostream>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

using namespace kavrel;

namespace {

constexpr int Rate = 44100;
constexpr int Chans = 2;
constexpr double ToneHz = 500.0;
// The gains bring the tone to about Loud at the output. The gain sweeps play it from a file at
// Loud / 10, so that +20 dB does not clip; the filter sweeps from one at Loud, so that what the
// filter makes of the file's rounding stays far below the goal.
constexpr double Loud = 8000.0;
constexpr double QuietTone = Loud / 10.0;
// Goal: the largest residual at most this fraction of the tone's amplitude.
constexpr double Goal = 0.01;
// A change is heard this much later at most (the ring, the server, the filter's ringing).
constexpr double HeardWithin = 0.3;

long long NowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Runs the event loop for ms milliseconds, sleeping while there is nothing to do.
void Settle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Slider positions, in the filter controls' order: raw gain, filter gain, pole f0, pole Q, zero
// f0, zero Q.
using TPositions = std::array<int, 6>;
constexpr std::array<TSliderRange, 6> Ranges{GainSliderRange, GainSliderRange, F0SliderRange,
                                             QSliderRange,    F0SliderRange,   QSliderRange};
constexpr std::array<const char*, 6> Names{"Raw gain", "Filtered gain", "Pole f0",
                                           "Pole Q",   "Zero f0",       "Zero Q"};
// 500 Hz on an f0 slider.
constexpr int F0AtTone = 85;

// Writes a stereo tone of `amplitude` at 44100 Hz to path.
void WriteTone(const std::string& path, double amplitude)
{
    TWav w;
    w.SetSampleRate(Rate);
    w.SetChannels(Chans);
    const std::int64_t frames = 10 * Rate; // whole periods, so the loop has no seam
    w.SetLength(frames);
    for (std::int64_t f = 0; f < frames; ++f) {
        const double phase = 2.0 * std::numbers::pi * ToneHz * static_cast<double>(f) / Rate;
        const auto v = static_cast<std::int16_t>(std::lround(amplitude * std::sin(phase)));
        for (int c = 0; c < Chans; ++c)
            w.SetSample(c, f, v);
    }
    w.WriteFile(path);
}

// |H(500 Hz)| of the filter the positions give, without its gain.
double ToneResponse(const TPositions& p)
{
    TFilterSection s;
    s.SetUseF0BW(true);
    s.SetSampFreq(Rate);
    const double pf0 = F0FromSlider(p[2]);
    const double zf0 = F0FromSlider(p[4]);
    s.SetPoleF0(pf0);
    s.SetPoleBW(pf0 / QFromSlider(p[3]));
    s.SetZeroF0(zf0);
    s.SetZeroBW(zf0 / QFromSlider(p[5]));
    return std::abs(s.Response(ToneHz));
}

// The filter gain position that keeps a tone at Loud at or below it while slider `swept` runs over
// its range.
int FittingGain(TPositions p, std::size_t swept)
{
    double most = 0.0;
    for (int v = Ranges[swept].Min; v <= Ranges[swept].Max; ++v) {
        p[swept] = v;
        most = std::max(most, ToneResponse(p));
    }
    const double db = std::floor(20.0 * std::log10(1.0 / most));
    return static_cast<int>(std::clamp(db, -40.0, 20.0));
}

int Play(const std::string& timingFile)
{
    QTemporaryDir dir;
    const std::string quiet = QDir(dir.path()).filePath("quiet.wav").toStdString();
    const std::string loud = QDir(dir.path()).filePath("loud.wav").toStdString();
    WriteTone(quiet, QuietTone);
    WriteTone(loud, Loud);

    TForm18 form;
    TForm19 controls;
    form.SetForm19(&controls);
    form.show();
    Settle(200);
    form.LoadSoundFile(QString::fromStdString(quiet));
    const std::array<QSlider*, 6> sliders{controls.rawgaintrack(), controls.gaintrack(),
                                          controls.pf0track(),     controls.pqtrack(),
                                          controls.zf0track(),     controls.zqtrack()};
    const auto setAll = [&](const TPositions& p, bool useFilter) {
        for (std::size_t i = 0; i < sliders.size(); ++i)
            sliders[i]->setValue(p[i]);
        if (form.usefilteraction()->isChecked() != useFilter)
            form.usefilteraction()->trigger();
    };
    const TPositions initial{GainSliderRange.Initial, GainSliderRange.Initial,
                             F0SliderRange.Initial,   QSliderRange.Initial,
                             F0SliderRange.Initial,   QSliderRange.Initial};
    // The raw path brings the quiet tone to Loud.
    TPositions loudRaw = initial;
    loudRaw[0] = GainSliderRange.Max;
    setAll(loudRaw, false);
    form.playaction()->trigger();
    if (!form.Document().Playing()) {
        std::cerr << "artifact_check: the sound does not play\n";
        return 1;
    }
    std::ofstream timing(timingFile);
    const auto span = [&](const std::string& name, const std::function<void()>& action) {
        Settle(800);
        const long long start = NowNs();
        action();
        timing << "span " << name << ' ' << start << ' ' << NowNs() << '\n';
        Settle(static_cast<int>(HeardWithin * 1000) + 200);
    };
    span("nothing moves", [] { Settle(1000); });
    for (std::size_t s = 0; s < Ranges.size(); ++s) {
        TPositions p = loudRaw;
        // The pole's Q is swept with the pole on the tone, the zero's where the tone passes.
        if (s == 3)
            p[2] = F0AtTone;
        if (s == 2) {
            // Same rate and channels: the playback goes on with it.
            form.LoadSoundFile(QString::fromStdString(loud));
            loudRaw[0] = 0;
        }
        if (s > 1)
            p = {loudRaw[0], FittingGain(p, s), p[2], p[3], p[4], p[5]};
        p[s] = Ranges[s].Min;
        setAll(p, s != 0);
        span(Names[s], [&] {
            QElapsedTimer t;
            t.start();
            const TSliderRange r = Ranges[s];
            // As a hand drags it: the slider follows the mouse's events, about 100 a second.
            while (sliders[s]->value() < r.Max) {
                const double done = std::min(static_cast<double>(t.elapsed()) / 1000.0, 1.0);
                sliders[s]->setValue(r.Min + static_cast<int>(std::lround(done * (r.Max - r.Min))));
                Settle(10);
            }
        });
    }
    // Raw: the tone at Loud; filtered: a deep notch on it.
    TPositions toggled = loudRaw;
    toggled[1] = 0;
    toggled[4] = F0AtTone;
    toggled[5] = QSliderRange.Max;
    setAll(toggled, false);
    span("10 Use filter toggles", [&] {
        for (int i = 0; i < 10; ++i) {
            form.usefilteraction()->trigger();
            Settle(150);
        }
    });
    form.playaction()->trigger();
    Settle(200);
    form.SetForm19(nullptr);
    return 0;
}

int Analyze(const std::string& raw, double t0, const std::string& timingFile)
{
    std::ifstream in(raw, std::ios::binary | std::ios::ate);
    std::vector<std::int16_t> samples(static_cast<std::size_t>(in.tellg()) / 2);
    in.seekg(0);
    in.read(reinterpret_cast<char*>(samples.data()),
            static_cast<std::streamsize>(samples.size() * 2));
    const auto n = static_cast<std::int64_t>(samples.size()) / Chans;
    const auto at = [&](std::int64_t k, int c) {
        return static_cast<double>(samples[static_cast<std::size_t>(k * Chans + c)]);
    };
    const double twoCos = 2.0 * std::cos(2.0 * std::numbers::pi * ToneHz / Rate);
    // A dropout (a stretch of silence in the tone) is the sound path's, not a control's: its
    // frames are marked, left out of the residual and counted apart.
    constexpr std::int64_t MinGap = 8;
    std::vector<bool> gap(static_cast<std::size_t>(n), false);
    for (std::int64_t k = 0; k < n;) {
        std::int64_t e = k;
        while (e < n && at(e, 0) == 0.0 && at(e, 1) == 0.0)
            ++e;
        if (e - k >= MinGap)
            std::fill(gap.begin() + k, gap.begin() + std::min(e + 2, n), true);
        k = std::max(e, k + 1);
    }
    const auto frameAt = [&](double ns) {
        return std::clamp<std::int64_t>(std::llround((ns - t0) * Rate / 1e9), 2, n);
    };
    std::ifstream timing(timingFile);
    std::string line;
    bool allWithin = true;
    bool headed = false;
    while (std::getline(timing, line)) {
        const std::size_t last = line.find_last_of(' ');
        const std::size_t middle = line.find_last_of(' ', last - 1);
        const std::size_t first = line.find(' ');
        const std::string kind = line.substr(0, first);
        const std::string name = line.substr(first + 1, middle - first - 1);
        const double start = std::stod(line.substr(middle + 1, last - middle - 1));
        const double end = std::stod(line.substr(last + 1));
        const std::int64_t k0 = frameAt(start);
        const std::int64_t k1 = frameAt(end + HeardWithin * 1e9);
        double residual = 0.0;
        std::int64_t where = k0;
        int gaps = 0;
        std::int64_t longest = 0;
        for (std::int64_t k = k0, run = 0; k < k1; ++k) {
            run = gap[static_cast<std::size_t>(k)] ? run + 1 : 0;
            gaps += run == 1;
            longest = std::max(longest, run);
        }
        if (kind != "gaps" && !headed) {
            std::printf("largest residual of a %.0f Hz notch against the tone's amplitude (goal: "
                        "at most 1/%.0f of it)\n",
                        ToneHz, 1.0 / Goal);
            headed = true;
        }
        if (kind == "gaps") {
            std::printf("%s: %d dropouts, the longest %.1f ms\n", name.c_str(), gaps,
                        static_cast<double>(longest) * 1000.0 / Rate);
            allWithin = allWithin && gaps == 0;
            continue;
        }
        double amplitude = 0.0;
        constexpr std::int64_t Window = Rate / 100;
        for (int c = 0; c < Chans; ++c) {
            for (std::int64_t k = k0; k < k1; ++k) {
                if (gap[static_cast<std::size_t>(k)])
                    continue;
                const double r = std::fabs(at(k, c) - twoCos * at(k - 1, c) + at(k - 2, c));
                if (r > residual) {
                    residual = r;
                    where = k;
                }
            }
            // The tone's amplitude: √2 × its RMS over 10 ms, the largest in the span.
            for (std::int64_t w = k0; w + Window <= k1; w += Window) {
                double squares = 0.0;
                for (std::int64_t k = w; k < w + Window; ++k)
                    squares += at(k, c) * at(k, c);
                amplitude =
                    std::max(amplitude, std::sqrt(2.0 * squares / static_cast<double>(Window)));
            }
        }
        const bool within = residual <= Goal * amplitude;
        allWithin = allWithin && within;
        std::printf("%-22s residual %7.1f at %6.3f s, tone %7.1f: 1/%-7.0f %s", name.c_str(),
                    residual, static_cast<double>(where) / Rate, amplitude,
                    residual > 0.0 ? amplitude / residual : INFINITY,
                    within ? "within the goal" : "OVER THE GOAL");
        std::printf(gaps > 0 ? " (and %d dropouts)\n" : "\n", gaps);
    }
    return allWithin ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> a(argv + 1, argv + argc);
    try {
        if (a.size() == 2 && a[0] == "play") {
            QApplication app(argc, argv);
            return Play(a[1]);
        }
        if (a.size() == 4 && a[0] == "analyze")
            return Analyze(a[1], std::stod(a[2]), a[3]);
    } catch (const std::exception& e) {
        std::cerr << "artifact_check: " << e.what() << "\n";
        return 1;
    }
    std::cerr << "usage: artifact_check play TIMING | analyze RAW T0 TIMING (see the source)\n";
    return 2;
}
