#include "app/cli/NativeName.h"

namespace kavrel {

namespace {

// The length of the valid UTF-8 sequence at p, or 0 when p does not start one.
std::size_t SequenceLength(const unsigned char* p, std::size_t left)
{
    const unsigned c = p[0];
    if (c < 0x80)
        return 1;
    std::size_t n = 0;
    if (c >= 0xC2 && c <= 0xDF)
        n = 2;
    else if (c >= 0xE0 && c <= 0xEF)
        n = 3;
    else if (c >= 0xF0 && c <= 0xF4)
        n = 4;
    if (n == 0 || left < n)
        return 0;
    for (std::size_t i = 1; i < n; ++i)
        if ((p[i] & 0xC0u) != 0x80u)
            return 0;
    // Overlong forms, UTF-16 surrogates and code points past U+10FFFF are not valid.
    if ((c == 0xE0 && p[1] < 0xA0) || (c == 0xED && p[1] >= 0xA0) || (c == 0xF0 && p[1] < 0x90) ||
        (c == 0xF4 && p[1] >= 0x90))
        return 0;
    return n;
}

constexpr char16_t kEscapeBase = 0xDC00;

} // namespace

QString TextFromNative(std::string_view bytes)
{
    QString text;
    text.reserve(static_cast<qsizetype>(bytes.size()));
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t i = 0;
    while (i < bytes.size()) {
        std::size_t run = 0;
        while (i + run < bytes.size()) {
            const std::size_t n = SequenceLength(p + i + run, bytes.size() - i - run);
            if (n == 0)
                break;
            run += n;
        }
        if (run > 0) {
            text += QString::fromUtf8(bytes.data() + i, static_cast<qsizetype>(run));
            i += run;
        }
        if (i < bytes.size()) {
            text += QChar(static_cast<char16_t>(kEscapeBase + p[i]));
            ++i;
        }
    }
    return text;
}

std::string NativeName(const QString& text)
{
    std::string bytes;
    qsizetype runStart = 0;
    const auto flush = [&](qsizetype end) {
        if (end > runStart)
            bytes += text.mid(runStart, end - runStart).toUtf8().toStdString();
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = text.at(i).unicode();
        const bool escape = u >= kEscapeBase + 0x80 && u <= kEscapeBase + 0xFF &&
                            !(i > 0 && text.at(i - 1).isHighSurrogate());
        if (!escape)
            continue;
        flush(i);
        bytes += static_cast<char>(u - kEscapeBase);
        runStart = i + 1;
    }
    flush(text.size());
    return bytes;
}

} // namespace kavrel
