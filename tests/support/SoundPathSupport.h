#pragma once

// What the tests of the real sound path share: a Qt event loop to wait in, a recorder of the
// test sound server's monitor (sink "kavreltest", see scripts/pulse-test-server.sh), and a second
// private server of the same kind for tests that harm it.

#include <QByteArray>
#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>

#include <chrono>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

namespace kavrel::testing_sound {

using Clock = std::chrono::steady_clock;

// The test's one QCoreApplication, made on first use.
QCoreApplication& App();

// Runs the event loop until done() holds; false if timeoutMs passed first.
bool RunUntil(const std::function<bool()>& done, int timeoutMs);

// Runs the event loop for ms milliseconds.
void RunFor(int ms);

// Records the test sink's monitor with parec (44100 Hz, 2 channels, s16le), noting when each
// piece arrived.
class TMonitorRecorder {
public:
    // Starts parec on `sink`'s monitor and waits until it delivers: an idle null sink only
    // starts after a while, so play once this returns true.
    bool Start(const char* sink = "kavreltest");

    // Ends the recording; what is still in the pipe is kept.
    void Stop();

    // The recorded values, interleaved.
    std::vector<std::int16_t> Values() const;

    // When the recorded value at valueIndex arrived (time_point::max() if it never did).
    Clock::time_point ArrivalOf(std::size_t valueIndex) const;

private:
    void Read();

    QProcess m_process;
    QByteArray m_data;
    std::vector<std::pair<Clock::time_point, qint64>> m_arrivals;
};

// A private sound server of the kind the test command runs (KAVREL_TEST_SERVER_SCRIPT names its
// script; PulseAudio by default), started and stopped by the test itself.
class TPrivateServer {
public:
    ~TPrivateServer() { Stop(); }

    // Starts the server; false (with the script's errors in Errors()) if it did not come up.
    bool Start();
    // Lets a frozen server go on and stops it.
    void Stop();
    // PID of the process that serves the PulseAudio socket, 0 if unknown.
    qint64 Pid() const;
    // PID of a program the script started by that name ("pipewire"), 0 if it started none.
    qint64 PidOf(const QString& program) const;
    // The environment of a client of this server.
    QProcessEnvironment ClientEnvironment() const;
    const QString& Errors() const { return m_errors; }

private:
    qint64 ReadPid(const QString& name) const;

    QString m_dir;
    QString m_errors;
};

} // namespace kavrel::testing_sound
