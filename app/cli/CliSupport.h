#pragma once

#include <QCommandLineParser>
#include <QString>
#include <QStringList>

#include <optional>
#include <string>

namespace kavrel::cli {

// Writes "kavrel: <message>" and a newline to stderr.
void PrintError(const QString& message);

// The file name a user typed for a file to write; raises std::runtime_error for an empty one
// (which would otherwise mean "the file read").
std::string OutputFileName(const QString& typed);

// Writes "kavrel: <file>: warning: <text>" to stderr when text is not empty.
void PrintWarning(const std::string& file, const std::string& text);

// Parses `args` with `parser` and checks that the positional arguments number between
// minPositional and maxPositional. On a usage error prints it with the command's help and
// returns the usage exit code; on --help prints the help and returns 0; otherwise nullopt.
std::optional<int> ParseCommand(QCommandLineParser& parser, const QStringList& args,
                                qsizetype minPositional, qsizetype maxPositional);

}  // namespace kavrel::cli
