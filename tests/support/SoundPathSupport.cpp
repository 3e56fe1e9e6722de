#include "tests/support/SoundPathSupport.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <cstring>

namespace kavrel::testing_sound {

QCoreApplication& App()
{
    static int argc = 1;
    static char name[] = "kavrel_sound_test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

bool RunUntil(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    QTimer wake;
    wake.start(10);
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

void RunFor(int ms)
{
    RunUntil([] { return false; }, ms);
}

bool TMonitorRecorder::Start(const char* sink)
{
    QObject::connect(&m_process, &QProcess::readyReadStandardOutput, [this] { Read(); });
    m_process.start("parec", {"--latency-msec=20", "-d", QString(sink) + ".monitor",
                              "--rate=44100", "--channels=2", "--format=s16le", "--raw"});
    if (!m_process.waitForStarted(5000))
        return false;
    return RunUntil([this] { return !m_data.isEmpty(); }, 10000);
}

void TMonitorRecorder::Stop()
{
    m_process.terminate();
    m_process.waitForFinished(5000);
    Read();
}

std::vector<std::int16_t> TMonitorRecorder::Values() const
{
    std::vector<std::int16_t> values(static_cast<std::size_t>(m_data.size()) / 2);
    std::memcpy(values.data(), m_data.data(), values.size() * 2);
    return values;
}

Clock::time_point TMonitorRecorder::ArrivalOf(std::size_t valueIndex) const
{
    const auto byte = static_cast<qint64>(valueIndex) * 2;
    for (const auto& [when, end] : m_arrivals) {
        if (end > byte)
            return when;
    }
    return Clock::time_point::max();
}

void TMonitorRecorder::Read()
{
    const QByteArray more = m_process.readAllStandardOutput();
    if (!more.isEmpty()) {
        m_data += more;
        m_arrivals.emplace_back(Clock::now(), m_data.size());
    }
}

} // namespace kavrel::testing_sound
