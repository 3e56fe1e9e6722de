#pragma once

// The loudness of a whole sound as broadcasters measure it (EBU R 128 through libebur128, the
// true peak through TTruePeak):
// integrated loudness, loudness range and true peak, for all channels together.

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

// The library refused a format or ran out of memory.
class ELoudnessError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Takes a sound block by block. Channels in the wave file's order: left, right, centre, LFE (left
// out, as the measure asks), left and right surround; further channels are left out. Raises
// ELoudnessError when the library refuses the format (a rate or channel count out of its range) or
// runs out of memory.
class TLoudnessMeter {
public:
    TLoudnessMeter(std::int32_t channels, std::int32_t rate);
    ~TLoudnessMeter();
    TLoudnessMeter(const TLoudnessMeter&) = delete;
    TLoudnessMeter& operator=(const TLoudnessMeter&) = delete;

    // Interleaved 16-bit values, whole frames.
    void Add(std::span<const std::int16_t> interleaved);
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
// The loudness of the file at path, read block by block; raises EWavError as ReadFile does.
TLoudness AnalyzeFileLoudness(const std::string& path);

// "Loudness: -16.7 LUFS : Range: 5.2 LU : True peak: -14.0 dBTP   ", one decimal; "-inf" for a
// level of silence. Ends in three blanks as LevelText's channels do.
std::string LoudnessText(const TLoudness& loudness);
// LoudnessText of AnalyzeLoudness(sound), or "Loudness: " and why it cannot be measured; nothing
// when progress stopped it.
std::optional<std::string> LoudnessText(const TWav& sound, const TLoudnessProgress& progress = {});
// The same for the file at path; raises EWavError as ReadFile does.
std::string FileLoudnessText(const std::string& path);

} // namespace kavrel
