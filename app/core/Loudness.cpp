#include "app/core/Loudness.h"

#include "app/core/LevelAnalysis.h"
#include "app/core/TruePeak.h"

#include "sound/TWavScan.h"

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <vector>

namespace kavrel {

namespace {

// The true peak is measured by TTruePeak: the library's own costs four times the rest.
constexpr int Modes = EBUR128_MODE_I | EBUR128_MODE_LRA;
// Frames handed to the library at a time when a loaded sound is interleaved for it.
constexpr std::size_t InterleaveFrames = 16384;

} // namespace

struct TLoudnessMeter::TState {
    ebur128_state* st = nullptr;
    std::unique_ptr<TTruePeak> truePeak;
    ~TState()
    {
        if (st != nullptr)
            ebur128_destroy(&st);
    }
};

TLoudnessMeter::TLoudnessMeter(std::int32_t channels, std::int32_t rate)
    : m_state(std::make_unique<TState>()), m_channels(channels)
{
    if (channels > 0 && rate > 0)
        m_state->st =
            ebur128_init(static_cast<unsigned>(channels), static_cast<unsigned long>(rate), Modes);
    if (m_state->st != nullptr)
        m_state->truePeak = std::make_unique<TTruePeak>(channels, rate);
    if (m_state->st == nullptr)
        throw ELoudnessError("cannot be measured at " + std::to_string(rate) + " Hz with " +
                             std::to_string(channels) + " channels");
}

TLoudnessMeter::~TLoudnessMeter() = default;

void TLoudnessMeter::Add(std::span<const std::int16_t> interleaved)
{
    const std::size_t frames = interleaved.size() / static_cast<std::size_t>(m_channels);
    if (frames == 0)
        return;
    if (ebur128_add_frames_short(m_state->st, interleaved.data(), frames) != EBUR128_SUCCESS)
        throw ELoudnessError("Loudness measurement ran out of memory");
    m_state->truePeak->Add(interleaved.first(frames * static_cast<std::size_t>(m_channels)));
}

TLoudness TLoudnessMeter::Result() const
{
    TLoudness r;
    double value = 0.0;
    r.Integrated = ebur128_loudness_global(m_state->st, &value) == EBUR128_SUCCESS
                       ? value
                       : -std::numeric_limits<double>::infinity();
    r.Range = ebur128_loudness_range(m_state->st, &value) == EBUR128_SUCCESS ? value : 0.0;
    r.TruePeak = m_state->truePeak->Peak();
    return r;
}

std::optional<TLoudness> AnalyzeLoudness(const TWav& sound, const TLoudnessProgress& progress)
{
    const std::int32_t channels = sound.Channels();
    if (channels <= 0 || sound.Length() <= 0)
        return TLoudness{-std::numeric_limits<double>::infinity(), 0.0, 0.0};
    TLoudnessMeter meter(channels, sound.SampleRate());
    const auto n = static_cast<std::size_t>(channels);
    const auto length = static_cast<std::size_t>(sound.Length());
    std::vector<std::int16_t> block(InterleaveFrames * n);
    for (std::size_t start = 0; start < length; start += InterleaveFrames) {
        const std::size_t frames = std::min(InterleaveFrames, length - start);
        for (std::size_t c = 0; c < n; ++c) {
            const std::span<const std::int16_t> s =
                sound.ChannelSamples(static_cast<std::int32_t>(c)).subspan(start, frames);
            for (std::size_t f = 0; f < frames; ++f)
                block[f * n + c] = s[f];
        }
        meter.Add(std::span<const std::int16_t>(block).first(frames * n));
        if (progress &&
            !progress(static_cast<double>(start + frames) / static_cast<double>(length)))
            return std::nullopt;
    }
    return meter.Result();
}

TLoudness AnalyzeFileLoudness(const std::string& path)
{
    TWavScanFormat format;
    std::unique_ptr<TLoudnessMeter> meter;
    bool truncated = false;
    ScanWavFile(
        path, format,
        [&](std::span<const std::int16_t> block) {
            if (!meter)
                meter = std::make_unique<TLoudnessMeter>(format.Channels, format.SampleRate);
            meter->Add(block);
        },
        truncated);
    if (!meter)
        return {-std::numeric_limits<double>::infinity(), 0.0, 0.0};
    return meter->Result();
}

std::string LoudnessText(const TLoudness& loudness)
{
    const double peakDb =
        loudness.TruePeak > 0.0 ? 20.0 * std::log10(loudness.TruePeak) : -HUGE_VAL;
    return "Loudness: " + FormatFixed(loudness.Integrated, 1) +
           " LUFS : Range: " + FormatFixed(loudness.Range, 1) +
           " LU : True peak: " + FormatFixed(peakDb, 1) + " dBTP   ";
}

namespace {

template <class TMeasure> std::optional<std::string> MeasuredText(const TMeasure& measure)
{
    try {
        const std::optional<TLoudness> loudness = measure();
        if (!loudness)
            return std::nullopt;
        return LoudnessText(*loudness);
    } catch (const ELoudnessError& e) {
        return std::string("Loudness: ") + e.what() + "   ";
    }
}

} // namespace

std::optional<std::string> LoudnessText(const TWav& sound, const TLoudnessProgress& progress)
{
    return MeasuredText([&] { return AnalyzeLoudness(sound, progress); });
}

std::string FileLoudnessText(const std::string& path)
{
    return MeasuredText([&] { return std::optional<TLoudness>(AnalyzeFileLoudness(path)); })
        .value();
}

} // namespace kavrel
