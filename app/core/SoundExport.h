#pragma once

// The export: the whole sound (or a region of it) through one filter section, normalised so that
// the filtered peak becomes 32764 before the dither. Two passes over the samples, first for the
// peak, then for the output; each channel starts from a cleared delay line.

#include "app/core/TDitherRandom.h"
#include "dsp/TFilterSection.h"
#include "sound/TFrameSpan.h"
#include "sound/TWav.h"

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>

namespace kavrel {

// The export cannot be done; what() says why, naming the file.
class EExportError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Called on the exporting thread with the fraction done (0 … 1); returning false cancels.
using TExportProgress = std::function<bool(double fraction)>;

// The filtered value that export normalisation maps to.
inline constexpr double ExportPeakTarget = 32764.0;

// Largest |filter(sample)| over every channel of source, each channel through filter from a
// cleared delay line. filter is used as given (its rate included). Returns a negative value when
// progress cancelled.
double FilteredPeak(const TWav& source, TFilterSection filter,
                    const TExportProgress& progress = {});

// Writes source through filter, designed at source's own rate, scaled so that the filtered peak
// becomes 32764 and dithered, into scratch and from there to path (a temporary file renamed over
// the target when complete); clears scratch afterwards. filter is a snapshot: the caller's
// sections are not touched. Raises EExportError when source holds no sound or its filtered sound
// is silent, and EWavError when the file cannot be written; path is then untouched and nothing
// is left behind. Returns false when progress cancelled. With a span only its frames are written,
// exactly as a sound of those frames alone would be (peak, delay lines and dither its own);
// EExportError when it holds no frames or reaches past the sound's end.
bool ExportFiltered(const TWav& source, TFilterSection filter, TWav& scratch,
                    const std::string& path, TDitherRandom& dither,
                    const TExportProgress& progress = {},
                    const std::optional<TFrameSpan>& span = std::nullopt);

// Reads the sound file at inPath and exports it as ExportFiltered does, to the same bits: a
// regular file is read twice, first for the filtered peak, then for the output, and never held
// in memory (a few blocks, and the filter's state every few thousand frames); anything else (a
// pipe) is loaded first. Raises EWavError for a file that cannot be read or written, EExportError
// as ExportFiltered does and when the file changes between the reads; outPath is then untouched.
// Returns false when progress cancelled. When given, warning receives TWav::ReadWarning's text for
// inPath. Running out of memory raises EExportError naming outPath ("not enough memory"). A span
// is written as ExportFiltered writes it; the reads pass over the frames before it and stop at
// its end.
bool ExportFilteredFile(const std::string& inPath, TFilterSection filter,
                        const std::string& outPath, TDitherRandom& dither,
                        const TExportProgress& progress = {}, std::string* warning = nullptr,
                        const std::optional<TFrameSpan>& span = std::nullopt);

} // namespace kavrel
