// The longest stall of the UI thread while a sound plays: a 1 ms timer notes the longest time
// between two of its ticks during each of the user's actions, and how much of it the thread ran
// (on a busy machine the rest is time spent waiting for a processor). The sound output is the
// program's own (a sound server must be running; scripts/pulse-test-server.sh gives one).
//   bench_ui_stall [MINUTES]     (default 60: the file that is opened, analysed and saved)
// Run it with QT_QPA_PLATFORM=offscreen or on a display.

#include "app/core/TSoundDocument.h"
#include "app/windows/TForm18.h"
#include "app/windows/TForm19.h"
#include "axes/qt/TAxis.h"
#include "sound/TWav.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include <time.h>

using namespace kavrel;

namespace {

// A stereo sound of `seconds` at 44100 Hz: a slow sine with a little noise.
void WriteSound(const std::string& path, double seconds)
{
    TWav w;
    w.SetSampleRate(44100);
    w.SetChannels(2);
    const auto frames = static_cast<std::int64_t>(seconds * 44100);
    w.SetLength(frames);
    std::uint32_t r = 1;
    for (std::int64_t f = 0; f < frames; ++f) {
        r = r * 1664525U + 1013904223U;
        const double s = 12000.0 * std::sin(static_cast<double>(f) * 0.0123);
        const auto v = static_cast<std::int16_t>(s + static_cast<double>(r >> 22) - 512.0);
        w.SetSample(0, f, v);
        w.SetSample(1, f, static_cast<std::int16_t>(-v));
    }
    w.WriteFile(path);
}

class TStallMonitor {
public:
    TStallMonitor()
    {
        m_timer.setInterval(1);
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const qint64 gap = m_since.restart();
            const double cpu = ThreadCpuMs();
            if (gap > m_longest) {
                m_longest = gap;
                m_longestBusy = cpu - m_cpuAt;
            }
            m_cpuAt = cpu;
        });
    }
    // Runs action with the events going on before and after; the longest gap in ms.
    qint64 Measure(const std::function<void()>& action)
    {
        Settle(50);
        m_longest = 0;
        m_longestBusy = 0;
        m_cpuAt = ThreadCpuMs();
        m_since.start();
        m_timer.start();
        action();
        Settle(100);
        m_timer.stop();
        return m_longest;
    }
    static void Settle(int ms)
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms)
            QApplication::processEvents(QEventLoop::AllEvents, 5);
    }

    // How much of the longest gap the UI thread ran (the rest it waited for a processor).
    double LongestBusy() const { return m_longestBusy; }

private:
    static double ThreadCpuMs()
    {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
    }

    QTimer m_timer;
    QElapsedTimer m_since;
    qint64 m_longest = 0;
    double m_longestBusy = 0;
    double m_cpuAt = 0;
};

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const double minutes = argc > 1 ? std::stod(argv[1]) : 60.0;
    QTemporaryDir dir;
    const std::string shortFile = QDir(dir.path()).filePath("short.wav").toStdString();
    const std::string longFile = QDir(dir.path()).filePath("long.wav").toStdString();
    WriteSound(shortFile, 8.0);
    WriteSound(longFile, minutes * 60.0);

    TForm18 form;
    form.resize(800, 500);
    form.show();
    TStallMonitor::Settle(200);
    form.LoadSoundFile(QString::fromStdString(shortFile));
    form.playaction()->trigger();
    if (!form.Document().Playing()) {
        std::fprintf(stderr, "bench_ui_stall: the sound does not play\n");
        return 1;
    }
    const TSoundDocument::TRing ring = TSoundDocument::RingFor(44100, 2);
    std::printf("ring: %d blocks of %d values = %.0f ms; half of it: %.0f ms\n", ring.buffers,
                ring.chunkSamples, ring.buffers * ring.chunkSamples / 88.2,
                ring.buffers * ring.chunkSamples / 176.4);

    TStallMonitor monitor;
    const auto report = [&](const char* what, const std::function<void()>& action) {
        const qint64 longest = monitor.Measure(action);
        std::printf("%-40s longest stall %4lld ms (UI thread running %3.0f ms of it)\n", what,
                    static_cast<long long>(longest), monitor.LongestBusy());
        std::fflush(stdout);
    };
    report("playing, nothing else", [] { TStallMonitor::Settle(1000); });
    TForm19 controls;
    form.SetForm19(&controls);
    controls.show();
    report("playing, meters and spectrum open", [&] {
        form.findChild<QAction*>("spectrumaction")->trigger();
        TStallMonitor::Settle(2000);
    });
    char what[64];
    std::snprintf(what, sizeof what, "open a %.0f-minute stereo file", minutes);
    report(what, [&] { form.LoadSoundFile(QString::fromStdString(longFile)); });
    report("Analyze", [&] { form.Analyzeaction()->trigger(); });
    report("save through the filter",
           [&] { form.ExportSoundFile(QDir(dir.path()).filePath("saved.wav")); });
    report("drag the time axis (60 steps)", [&] {
        TAxis& t = *form.taxis();
        for (int i = 0; i < 60; ++i) {
            t.SetRange(i * 5.0, i * 5.0 + 600.0);
            QApplication::processEvents();
        }
    });
    report("drag an amplitude axis (60 steps)", [&] {
        for (int i = 0; i < 60; ++i) {
            form.Axis1()->SetRange(-1.0 + i * 0.01, 1.0 - i * 0.01);
            QApplication::processEvents();
        }
    });
    report("resize the window (30 sizes)", [&] {
        for (int i = 0; i < 30; ++i) {
            form.resize(600 + i * 20, 400 + i * 10);
            QApplication::processEvents();
        }
    });
    form.playaction()->trigger();
    form.SetForm19(nullptr);
    return 0;
}
