#include "app/cli/CliSpan.h"

#include <cmath>

namespace kavrel::cli {

namespace {

double Seconds(const QCommandLineParser& parser, const QCommandLineOption& option)
{
    const QString text = parser.value(option);
    bool ok = false;
    const double v = text.toDouble(&ok);
    if (!ok || !std::isfinite(v) || v < 0.0)
        throw ESpanError(QString("--%1: '%2' is not a number of seconds from 0 on")
                             .arg(option.names().constFirst(), text)
                             .toStdString());
    return v;
}

// Thrown by the probe's sink to end the read at the first block.
struct TProbed {};

} // namespace

std::optional<TSecondsSpan> SpanFromOptions(const QCommandLineParser& parser,
                                            const TSpanOptions& options)
{
    if (!parser.isSet(options.Start) && !parser.isSet(options.End))
        return std::nullopt;
    TSecondsSpan span;
    if (parser.isSet(options.Start)) {
        span.Start = Seconds(parser, options.Start);
        span.StartText = parser.value(options.Start);
    }
    if (parser.isSet(options.End)) {
        span.End = Seconds(parser, options.End);
        span.EndText = parser.value(options.End);
        if (!(span.Start < *span.End))
            throw ESpanError(QString("--start: %1 is not before --end %2")
                                 .arg(span.StartText, span.EndText)
                                 .toStdString());
    }
    return span;
}

TFrameSpan SpanFrames(const TSecondsSpan& span, std::int32_t rate, std::int64_t frames)
{
    const double length = static_cast<double>(frames);
    const QString soundEnd =
        QString("the sound's end (%1 s)").arg(rate > 0 ? length / rate : 0.0, 0, 'f', 3);
    const double first = std::nearbyint(span.Start * rate);
    if (!(first < length))
        throw ESpanError(
            QString("--start: %1 is at or past %2").arg(span.StartText, soundEnd).toStdString());
    double end = length;
    if (span.End) {
        end = std::nearbyint(*span.End * rate);
        if (end > length)
            throw ESpanError(
                QString("--end: %1 is past %2").arg(span.EndText, soundEnd).toStdString());
        if (!(first < end))
            throw ESpanError(QString("--end: %1 leaves no frame after --start %2 at %3 Hz")
                                 .arg(span.EndText, span.StartText)
                                 .arg(rate)
                                 .toStdString());
    }
    return {static_cast<std::int64_t>(first), static_cast<std::int64_t>(end)};
}

TWavScanFormat ProbeFormat(const std::string& path)
{
    TWavScanFormat format;
    bool truncated = false;
    try {
        ScanWavFile(
            path, format, [](std::span<const std::int16_t>) { throw TProbed{}; }, truncated);
    } catch (const TProbed&) {
    }
    return format;
}

} // namespace kavrel::cli
