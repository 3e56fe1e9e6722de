#pragma once

// Runs the kavrel executable as the user would and collects what it says. For the tests of the
// command-line tool; any test file of this folder may use it.

#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace kavrel::test {

struct TCliResult {
    int exitCode = -1;
    QString out;
    QString err;
};

// Runs `kavrel args...` and waits up to `timeoutMs` for it to end.
inline TCliResult RunKavrel(const QStringList& args, int timeoutMs = 60000)
{
    if (QCoreApplication::instance() == nullptr) {
        static int argc = 1;
        static char name[] = "test_cli";
        static char* argv[] = {name, nullptr};
        new QCoreApplication(argc, argv); // lives until the test program ends
    }
    QProcess process;
    process.start(QStringLiteral(KAVREL_EXE), args);
    TCliResult result;
    if (!process.waitForStarted(timeoutMs) || !process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        result.err = QStringLiteral("kavrel did not finish: ") + process.errorString();
        return result;
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    result.err = QString::fromLocal8Bit(process.readAllStandardError());
    return result;
}

// A committed wave fixture of the sound library's tests.
inline QString Fixture(const char* name)
{
    return QString(KAVREL_SOURCE_DIR) + "/tests/sound/fixtures/" + name;
}

// The whole file, or "<missing>" when it cannot be read.
inline QByteArray Contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

} // namespace kavrel::test
