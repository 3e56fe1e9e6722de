#pragma once

#include <QCommandLineParser>
#include <QString>
#include <QStringList>

#include <optional>

namespace kavrel::cli {

// Writes "kavrel: <message>" and a newline to stderr.
void PrintError(const QString& message);

// Parses `args` with `parser` and checks that the positional arguments number between
// minPositional and maxPositional. On a usage error prints it with the command's help and
// returns the usage exit code; on --help prints the help and returns 0; otherwise nullopt.
std::optional<int> ParseCommand(QCommandLineParser& parser, const QStringList& args,
                                qsizetype minPositional, qsizetype maxPositional);

}  // namespace kavrel::cli
