#pragma once

// --start and --end: the part of a sound file a command takes, in seconds, and its frames once
// the file's rate and length are known.

#include "sound/TFrameSpan.h"
#include "sound/TWavScan.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

namespace kavrel::cli {

// A value of --start or --end that cannot be used; what() names the option and the value.
class ESpanError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct TSpanOptions {
    QCommandLineOption Start{"start", "Take the sound from S seconds on (default: its start).",
                             "S"};
    QCommandLineOption End{"end", "Take the sound up to S seconds (default: its end).", "S"};

    void AddTo(QCommandLineParser& parser) const { parser.addOptions({Start, End}); }
};

// The span the options give, as typed: the values and their text.
struct TSecondsSpan {
    double Start = 0.0;
    std::optional<double> End;
    QString StartText = "0";
    QString EndText;
};

// None when neither option is given. Raises ESpanError for a value that is not a number of
// seconds of at least 0, and when --start is not before --end.
std::optional<TSecondsSpan> SpanFromOptions(const QCommandLineParser& parser,
                                            const TSpanOptions& options);

// The frames of span in a sound of `frames` frames at `rate` Hz: round(rate × seconds), the
// sound's end without --end. Raises ESpanError when the span reaches past the sound's end or
// holds no frame.
TFrameSpan SpanFrames(const TSecondsSpan& span, std::int32_t rate, std::int64_t frames);

// The format of the sound file at path as far as its header and first block tell it (the frames
// as its header counts them, -1 when it does not); raises EWavError as the read does. For a
// regular file only: a pipe would lose what is read.
TWavScanFormat ProbeFormat(const std::string& path);

} // namespace kavrel::cli
