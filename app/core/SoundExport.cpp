#include "app/core/SoundExport.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <span>

namespace kavrel {

namespace {

// Progress is reported every this many frames of a pass.
constexpr std::int64_t ProgressStride = 1 << 16;

// Maps the fraction of one stage onto [begin, end] of the whole export.
struct TStage {
    const TExportProgress* Progress;
    double Begin;
    double End;

    bool Report(double fraction) const
    {
        if (Progress == nullptr || !*Progress)
            return true;
        return (*Progress)(Begin + (End - Begin) * fraction);
    }
};

// The channels run in pairs, each with its own copy of the section, so that the two delay lines
// advance side by side; per channel the values are exactly those of one section from a cleared
// delay line.
template <typename Body>
bool ForEachPair(const TWav& source, const TFilterSection& filter, const TStage& stage, Body body)
{
    const std::int32_t channels = source.Channels();
    const std::int64_t length = source.Length();
    const double total = static_cast<double>(channels) * static_cast<double>(length);
    double done = 0.0;
    for (std::int32_t c = 0; c < channels; c += 2) {
        const bool pair = c + 1 < channels;
        TFilterSection fa = filter;
        TFilterSection fb = filter;
        fa.Reset();
        fb.Reset();
        for (std::int64_t start = 0; start < length; start += ProgressStride) {
            const std::int64_t end = std::min(length, start + ProgressStride);
            body(c, pair, fa, fb, start, end);
            done += static_cast<double>((end - start) * (pair ? 2 : 1));
            if (!stage.Report(total > 0.0 ? done / total : 1.0))
                return false;
        }
    }
    return true;
}

double PeakOf(const TWav& source, const TFilterSection& filter, const TStage& stage)
{
    double peak = 0.0;
    const bool completed =
        ForEachPair(source, filter, stage,
                    [&](std::int32_t c, bool pair, TFilterSection& fa, TFilterSection& fb,
                        std::int64_t start, std::int64_t end) {
                        const std::span<const std::int16_t> a = source.ChannelSamples(c);
                        double pa = peak;
                        if (pair) {
                            const std::span<const std::int16_t> b = source.ChannelSamples(c + 1);
                            double pb = peak;
                            for (std::int64_t i = start; i < end; ++i) {
                                const auto k = static_cast<std::size_t>(i);
                                pa = std::max(pa, std::fabs(fa.Process(static_cast<double>(a[k]))));
                                pb = std::max(pb, std::fabs(fb.Process(static_cast<double>(b[k]))));
                            }
                            pa = std::max(pa, pb);
                        } else {
                            for (std::int64_t i = start; i < end; ++i) {
                                const auto k = static_cast<std::size_t>(i);
                                pa = std::max(pa, std::fabs(fa.Process(static_cast<double>(a[k]))));
                            }
                        }
                        peak = pa;
                    });
    return completed ? peak : -1.0;
}

bool WriteScaled(const TWav& source, const TFilterSection& filter, double peak, TWav& out,
                 TDitherRandom& dither, const TStage& stage)
{
    // y ÷ peak × 32764 as one multiplication: the two differ at most in the last bit of a
    // double, far below what the dither and the rounding can tell apart.
    const double scale = ExportPeakTarget / peak;
    return ForEachPair(source, filter, stage,
                       [&](std::int32_t c, bool pair, TFilterSection& fa, TFilterSection& fb,
                           std::int64_t start, std::int64_t end) {
                           const std::int16_t* a = source.ChannelSamples(c).data();
                           std::int16_t* oa = out.MutableChannelSamples(c).data();
                           const auto from = static_cast<std::size_t>(start);
                           const auto to = static_cast<std::size_t>(end);
                           // A local generator stays in registers through the loop.
                           TDitherRandom random = dither;
                           if (pair) {
                               const std::int16_t* b = source.ChannelSamples(c + 1).data();
                               std::int16_t* ob = out.MutableChannelSamples(c + 1).data();
                               for (std::size_t i = from; i < to; ++i) {
                                   const double ya = fa.Process(static_cast<double>(a[i]));
                                   const double yb = fb.Process(static_cast<double>(b[i]));
                                   oa[i] = DitherTo16(ya * scale, random);
                                   ob[i] = DitherTo16(yb * scale, random);
                               }
                           } else {
                               for (std::size_t i = from; i < to; ++i)
                                   oa[i] = DitherTo16(fa.Process(static_cast<double>(a[i])) * scale,
                                                      random);
                           }
                           dither = random;
                       });
}

// Empties the scratch sound however the export ends.
struct TClearOnExit {
    TWav& Wav;
    ~TClearOnExit() { Wav.Clear(); }
};

} // namespace

double FilteredPeak(const TWav& source, TFilterSection filter, const TExportProgress& progress)
{
    return PeakOf(source, filter, TStage{&progress, 0.0, 1.0});
}

bool ExportFiltered(const TWav& source, TFilterSection filter, TWav& scratch,
                    const std::string& path, TDitherRandom& dither, const TExportProgress& progress)
{
    if (source.Channels() <= 0)
        throw EExportError(path + ": not written: no sound is loaded");
    filter.SetSampFreq(static_cast<double>(source.SampleRate()));

    const double peak = PeakOf(source, filter, TStage{&progress, 0.0, 0.4});
    if (peak < 0.0)
        return false;
    if (!(peak > 0.0))
        throw EExportError(path + ": not written: the filtered sound is silent");

    TClearOnExit clear{scratch};
    scratch.Clear();
    scratch.SetSampleRate(source.SampleRate());
    scratch.SetChannels(source.Channels());
    scratch.SetLength(source.Length());
    if (!WriteScaled(source, filter, peak, scratch, dither, TStage{&progress, 0.4, 0.8}))
        return false;

    const TStage writing{&progress, 0.8, 1.0};
    return scratch.WriteFile(path, [&writing](double f) { return writing.Report(f); });
}

} // namespace kavrel
