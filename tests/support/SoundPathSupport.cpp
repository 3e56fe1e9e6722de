#include "tests/support/SoundPathSupport.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <QFile>

#include <csignal>
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
    m_process.start("parec", {"--latency-msec=20", "-d", QString(sink) + ".monitor", "--rate=44100",
                              "--channels=2", "--format=s16le", "--raw"});
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

namespace {

QString ServerScript()
{
    const QString chosen = qEnvironmentVariable("KAVREL_TEST_SERVER_SCRIPT");
    return chosen.isEmpty() ? QStringLiteral(KAVREL_SOURCE_DIR "/scripts/pulse-test-server.sh")
                            : chosen;
}

QProcessEnvironment WithoutTestServer()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("PULSE_SERVER");
    env.remove("KAVREL_PULSE_DIR");
    return env;
}

} // namespace

bool TPrivateServer::Start()
{
    QProcess server;
    server.setProcessEnvironment(WithoutTestServer());
    server.start("bash", {ServerScript(), "start"});
    if (!server.waitForFinished(30000) || server.exitCode() != 0) {
        m_errors = QString::fromLocal8Bit(server.readAllStandardError());
        return false;
    }
    const QString out = QString::fromLocal8Bit(server.readAllStandardOutput());
    const QString key = "KAVREL_PULSE_DIR='";
    qsizetype at = out.indexOf(key);
    if (at < 0) {
        m_errors = "no server folder in: " + out;
        return false;
    }
    at += key.size();
    m_dir = out.mid(at, out.indexOf('\'', at) - at);
    return true;
}

void TPrivateServer::Stop()
{
    if (m_dir.isEmpty()) {
        return;
    }
    if (qint64 pid = Pid(); pid > 0) {
        ::kill(static_cast<pid_t>(pid), SIGCONT);
    }
    QProcess stop;
    stop.setProcessEnvironment(WithoutTestServer());
    stop.start("bash", {ServerScript(), "stop", m_dir});
    stop.waitForFinished(20000);
    m_dir.clear();
}

qint64 TPrivateServer::Pid() const
{
    return ReadPid("pulse/pid");
}

qint64 TPrivateServer::PidOf(const QString& program) const
{
    return ReadPid(program + ".pid");
}

qint64 TPrivateServer::ReadPid(const QString& name) const
{
    QFile file(m_dir + "/" + name);
    if (m_dir.isEmpty() || !file.open(QIODevice::ReadOnly)) {
        return 0;
    }
    return file.readAll().trimmed().toLongLong();
}

QProcessEnvironment TPrivateServer::ClientEnvironment() const
{
    QProcessEnvironment env = WithoutTestServer();
    env.insert("XDG_RUNTIME_DIR", m_dir);
    env.insert("PULSE_SERVER", "unix:" + m_dir + "/pulse/native");
    return env;
}

} // namespace kavrel::testing_sound
