#pragma once

// The loudness of a whole sound as broadcasters measure it (EBU R 128: the K-weighting, the gated
// 400 ms blocks and the 3 s windows of the range through TKWeighting, the true peak through
// TTruePeak): integrated loudness, loudness range and true peak, for all channels together.

#include "sound/TWav.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>

namespace kavrel {

struct TLoudness {
    double Integrated = 0.0; // LUFS; -infinity for silence or a sound shorter than 400 ms
    double Range = 0.0;      // LU
    double TruePeak = 0.0;   // the largest over the channels, as a fraction of full scale
};

// A format the measure does not take, or no memory for it.
class ELoudnessError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Takes a sound block by block. Channels in the wave file's order: left, right, centre, LFE (left
// out, as the measure asks), left and right surround; four channels are left, right and the
// surrounds, five those with the centre; further channels are left out. Raises
// ELoudnessError for a format the measure does not take (no channels or more than 64, a rate
// below 16 Hz or above 2822400 Hz) or when it runs out of memory. The filtering and the true peak
// run on two threads of the meter's own while the caller goes on.
class TLoudnessMeter {
public:
    TLoudnessMeter(std::int32_t channels, std::int32_t rate);
    ~TLoudnessMeter();
    TLoudnessMeter(const TLoudnessMeter&) = delete;
    TLoudnessMeter& operator=(const TLoudnessMeter&) = delete;

    // Interleaved 16-bit values, whole frames; copied, so the span may go once Add returns. A
    // span that Place gave, or its start, is taken where it lies.
    void Add(std::span<const std::int16_t> interleaved);
    // Room for the next values in the meter's own queue: whole frames, at least one and at most
    // values (whole frames too). Written there and handed to Add, they are not copied again.
    std::span<std::int16_t> Place(std::size_t values);
    // Waits for every block added to be measured; no Add after it.
    TLoudness Result() const;

private:
    struct TState;
    std::unique_ptr<TState> m_state;
    std::int32_t m_channels;
};

// Told the fraction done (0 … 1) now and then; false stops the measure.
using TLoudnessProgress = std::function<bool(double fraction)>;

// The loudness of a loaded sound; all zero figures but Integrated = -infinity when it is empty.
// Nothing when progress stopped it.
std::optional<TLoudness> AnalyzeLoudness(const TWav& sound, const TLoudnessProgress& progress = {});

// "Loudness: -16.7 LUFS : Range: 5.2 LU : True peak: -14.0 dBTP   ", one decimal; "-inf" for a
// level of silence. Ends in three blanks as LevelText's channels do.
std::string LoudnessText(const TLoudness& loudness);
// LoudnessText of AnalyzeLoudness(sound), or "Loudness: " and why it cannot be measured; nothing
// when progress stopped it.
std::optional<std::string> LoudnessText(const TWav& sound, const TLoudnessProgress& progress = {});
// LevelText of the file's levels and a line break, then the loudness's line as LoudnessText gives
// it and a line break, from one read of the file at path. Raises EWavError as ReadFile does. When
// given, warning receives TWav::ReadWarning's text for the file.
std::string FileAnalysisText(const std::string& path, std::string* warning = nullptr);

} // namespace kavrel
