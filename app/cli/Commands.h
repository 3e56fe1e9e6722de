#pragma once

#include <QStringList>

// One function per sub-command. `args` is the whole command line, program name first, then the
// sub-command's name, then its own arguments (as QCommandLineParser expects it). Each returns an
// exit code of Cli.h. Runs inside a QCoreApplication.

namespace kavrel::cli {

int RunInfo(const QStringList& args);
int RunConvert(const QStringList& args);
int RunAnalyze(const QStringList& args);
int RunExport(const QStringList& args);
int RunPlay(const QStringList& args);
int RunDevices(const QStringList& args);

}  // namespace kavrel::cli
