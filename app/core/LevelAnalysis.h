#pragma once

// The levels of a sound as "Analyze" reports them: per channel the RMS and the peak as fractions
// of full scale (32768), and the text of the status bar.

#include "sound/TWav.h"

#include <string>
#include <vector>

namespace kavrel {

struct TChannelLevels {
    double Rms = 0.0;  // root mean square of |s ÷ 32768|; 0 for an empty channel
    double Peak = 0.0; // largest |s ÷ 32768|
};

std::vector<TChannelLevels> AnalyzeLevels(const TWav& sound);

// 20·log10(ratio) with two decimals and "." as the decimal point ("-3.01", "0.00"); "-inf" when
// ratio is 0 or not a number.
std::string FormatLevelDb(double ratio);

// "Ch 0: RMS=-3.01 dB : Peak=0.00 dB : Crest=3.01 dB   " for each channel in turn; a channel
// without signal shows "-inf" figures. "No sound loaded" when sound has no channels.
std::string LevelText(const TWav& sound);

} // namespace kavrel
