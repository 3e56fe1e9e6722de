// Opening a long sound in the main window: how long it takes, and what the sound output makes of
// it while something plays (scripts/bench-window-load.sh runs both and records the output).
//   bench_window_load open FILE RUNS
//       Opens FILE RUNS times with nothing playing; prints each time and the median in seconds.
//   bench_window_load play TONE FILE TIMING
//       Plays TONE (a steady tone, no silence in it) for 2 s alone, then opens FILE twice while
//       it plays and plays on for a second; writes "gaps NAME START_NS END_NS" (monotonic clock)
//       for both to TIMING, for `artifact_check analyze` to count the dropouts of a recording
//       of the output. Prints the longest stall of the UI thread in each.
// Needs a sound server for play; run it with QT_QPA_PLATFORM=offscreen or on a display.

#include "app/core/TSoundDocument.h"
#include "app/windows/ErrorReport.h"
#include "app/windows/TForm18.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

using namespace kavrel;

namespace {

void Settle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// The UI thread's time on a processor and waiting for one (ms), from the scheduler's counters.
std::pair<double, double> ThreadSchedMs()
{
    std::ifstream in("/proc/thread-self/schedstat");
    long long ran = 0;
    long long waited = 0;
    in >> ran >> waited;
    return {static_cast<double>(ran) / 1e6, static_cast<double>(waited) / 1e6};
}

// The longest time between two ticks of a 1 ms timer on the UI thread while it runs, and how
// much of it the thread ran and waited for a processor (the rest it was blocked).
class TStallWatch {
public:
    TStallWatch()
    {
        m_timer.setInterval(1);
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const double gap = static_cast<double>(m_since.nsecsElapsed()) / 1e6;
            m_since.start();
            const auto [ran, waited] = ThreadSchedMs();
            if (gap > m_longest) {
                m_longest = gap;
                m_ran = ran - m_at.first;
                m_waited = waited - m_at.second;
            }
            m_at = {ran, waited};
        });
        m_at = ThreadSchedMs();
        m_since.start();
        m_timer.start();
    }
    void Print() const
    {
        std::printf("longest UI stall %.0f ms: running %.0f ms, waiting for a processor %.0f ms, "
                    "blocked %.0f ms\n",
                    m_longest, m_ran, m_waited, m_longest - m_ran - m_waited);
    }

private:
    QTimer m_timer;
    QElapsedTimer m_since;
    std::pair<double, double> m_at;
    double m_longest = 0;
    double m_ran = 0;
    double m_waited = 0;
};

long long NowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int Open(const QString& file, int runs)
{
    TForm18 form;
    form.resize(800, 500);
    form.show();
    Settle(200);
    std::vector<double> seconds;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        form.LoadSoundFile(file);
        seconds.push_back(static_cast<double>(t.nsecsElapsed()) / 1e9);
        std::printf("open %d: %.3f s\n", i + 1, seconds.back());
        std::fflush(stdout);
        Settle(300);
    }
    std::sort(seconds.begin(), seconds.end());
    std::printf("median %.3f s\n", seconds[seconds.size() / 2]);
    return 0;
}

int Play(const QString& tone, const QString& file, const std::string& timingFile)
{
    TForm18 form;
    form.resize(800, 500);
    form.show();
    Settle(200);
    form.LoadSoundFile(tone);
    form.playaction()->trigger();
    if (!form.Document().Playing()) {
        std::cerr << "bench_window_load: the sound does not play\n";
        return 1;
    }
    Settle(1000);
    // The same time with nothing else, to tell the opening's dropouts from the machine's.
    const long long calm = NowNs();
    {
        const TStallWatch watch;
        Settle(2000);
        std::printf("playing alone: ");
        watch.Print();
    }
    std::ofstream timing(timingFile);
    timing << "gaps playing alone " << calm << ' ' << NowNs() << '\n';
    const long long start = NowNs();
    QElapsedTimer t;
    t.start();
    {
        // Twice: the second time the sound given up is the long one.
        const TStallWatch watch;
        form.LoadSoundFile(file);
        std::printf("opened while playing in %.3f s", static_cast<double>(t.nsecsElapsed()) / 1e9);
        t.start();
        form.LoadSoundFile(file);
        std::printf(", again in %.3f s; ", static_cast<double>(t.nsecsElapsed()) / 1e9);
        Settle(1000);
        watch.Print();
    }
    timing << "gaps opening while playing " << start << ' ' << NowNs() << '\n';
    // On until the recording's span is over.
    Settle(1000);
    form.playaction()->trigger();
    Settle(200);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    // A failure ends the run rather than waiting in a message box.
    SetErrorSink([](QWidget*, const QString& message) {
        std::cerr << "bench_window_load: " << message.toStdString() << "\n";
        std::exit(1);
    });
    const std::vector<std::string> a(argv + 1, argv + argc);
    if (a.size() == 3 && a[0] == "open")
        return Open(QString::fromStdString(a[1]), std::max(1, std::stoi(a[2])));
    if (a.size() == 4 && a[0] == "play")
        return Play(QString::fromStdString(a[1]), QString::fromStdString(a[2]), a[3]);
    std::cerr << "usage: bench_window_load open FILE RUNS | play TONE FILE TIMING\n";
    return 2;
}
