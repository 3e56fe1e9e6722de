#pragma once

// The levels of a sound as "Analyze" reports them: per channel the RMS and the peak as fractions
// of full scale (32768), and the text of the status bar.

#include "sound/TWav.h"
#include "sound/TWavScan.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace kavrel {

struct TChannelLevels {
    double Rms = 0.0;  // root mean square of |s ÷ 32768|; 0 for an empty channel
    double Peak = 0.0; // largest |s ÷ 32768|
};

std::vector<TChannelLevels> AnalyzeLevels(const TWav& sound);

// Told each block of a file's interleaved values after its levels are summed, and the format.
using TLevelBlockSink =
    std::function<void(const TWavScanFormat& format, std::span<const std::int16_t> interleaved)>;

// Where the next values of a file may be read to, as TWavBlockPlace has it, and the format.
using TLevelBlockPlace =
    std::function<std::span<std::int16_t>(const TWavScanFormat& format, std::size_t values)>;

// The levels of the wave file at path, read block by block without loading the sound: the same
// figures as AnalyzeLevels of what ReadFile loads. Raises EWavError as ReadFile does. When given,
// warning receives TWav::ReadWarning's text for the file, and alsoEach every block, for other
// measures in the same read; placeEach says where a wave file's blocks are read to, as
// ScanWavFile's place does, so that alsoEach is handed values already where it keeps them.
std::vector<TChannelLevels> AnalyzeFileLevels(const std::string& path,
                                              std::string* warning = nullptr,
                                              const TLevelBlockSink& alsoEach = {},
                                              const TLevelBlockPlace& placeEach = {});

// value with `decimals` decimals and "." as the decimal point, "-0.0" written "0.0"; "-inf" (or
// "inf") when it is not finite.
std::string FormatFixed(double value, int decimals);

// 20·log10(ratio) with two decimals and "." as the decimal point ("-3.01", "0.00"); "-inf" when
// ratio is 0 or not a number.
std::string FormatLevelDb(double ratio);

// "Ch 0: RMS=-3.01 dB : Peak=0.00 dB : Crest=3.01 dB   " for each channel in turn; a channel
// without signal shows "-inf" figures. "No sound loaded" when sound has no channels.
std::string LevelText(const TWav& sound);
// The same text for levels as AnalyzeLevels or AnalyzeFileLevels return them.
std::string LevelText(const std::vector<TChannelLevels>& levels);

} // namespace kavrel
