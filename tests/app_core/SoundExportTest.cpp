// The export: normalisation of the filtered peak to 32764, the filter designed at the file's own
// rate, refusal of silent and empty sounds, cancelling, and the document's use of it.

#include "app/core/SoundExport.h"
#include "app/core/TSoundDocument.h"
#include "audio/testing/TFakeWaveOutDevice.h"
#include "audio/testing/TManualEventQueue.h"
#include "tests/app_core/TestSounds.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

using namespace kavrel;
using namespace kavrel::testing_sounds;

namespace {

TFilterSection Section(double gain, double poleF0, double poleBW, double zeroF0, double zeroBW,
                       double rate = 44100.0)
{
    TFilterSection s;
    s.SetUseF0BW(true);
    s.SetSampFreq(rate);
    s.SetGain(gain);
    s.SetPoleF0(poleF0);
    s.SetPoleBW(poleBW);
    s.SetZeroF0(zeroF0);
    s.SetZeroBW(zeroBW);
    return s;
}

// What the export must write, before the dither: each channel through its own cleared copy of
// the section at `rate`, divided by the largest |value| and times 32764.
struct TReference {
    std::vector<std::vector<double>> Values;
    double Peak = 0.0;
};

TReference Reference(const TWav& source, TFilterSection s, double rate)
{
    s.SetSampFreq(rate);
    TReference r;
    for (std::int32_t c = 0; c < source.Channels(); ++c) {
        s.Reset();
        std::vector<double> y;
        for (std::int16_t x : source.ChannelSamples(c)) {
            y.push_back(s.Process(x));
            r.Peak = std::max(r.Peak, std::fabs(y.back()));
        }
        r.Values.push_back(std::move(y));
    }
    for (auto& ch : r.Values)
        for (double& v : ch)
            v = v / r.Peak * 32764.0;
    return r;
}

// Largest |written − reference| over every sample.
double WorstError(const TWav& written, const TReference& ref)
{
    double worst = 0.0;
    for (std::int32_t c = 0; c < written.Channels(); ++c) {
        const auto got = written.ChannelSamples(c);
        for (std::size_t i = 0; i < got.size(); ++i)
            worst = std::max(worst, std::fabs(got[i] - ref.Values[static_cast<std::size_t>(c)][i]));
    }
    return worst;
}

int PeakOf(const TWav& w)
{
    int peak = 0;
    for (std::int32_t c = 0; c < w.Channels(); ++c)
        for (std::int16_t v : w.ChannelSamples(c))
            peak = std::max(peak, std::abs(static_cast<int>(v)));
    return peak;
}

std::string Contents(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

TEST(ExportFiltered, MapsTheFilteredPeakTo32764QuietOrLoud)
{
    struct Case {
        const char* name;
        int amplitude;
        double gain;
        bool amplified; // the filtered peak lies below 32764
    };
    for (const Case& k : {Case{"quiet", 300, 1.0, true}, Case{"loud", 32000, 3.0, false},
                          Case{"mono", 12000, 0.3162, true}}) {
        SCOPED_TRACE(k.name);
        TScratchFolder dir;
        const bool mono = std::string(k.name) == "mono";
        std::vector<std::vector<std::int16_t>> chans{Noise(30011, k.amplitude, 1)};
        if (!mono)
            chans.push_back(SineWave(30011, 120.0, 44100, k.amplitude));
        const TWav source = MakeWav(44100, chans);
        const TFilterSection filter = Section(k.gain, 100.0, 100.0, 1000.0, 1000.0);
        TWav scratch;
        TDitherRandom dither(3);
        ASSERT_TRUE(ExportFiltered(source, filter, scratch, dir.File("out.wav"), dither));
        EXPECT_EQ(scratch.Channels(), 0); // the scratch sound is cleared again

        TWav out;
        out.ReadFile(dir.File("out.wav"));
        ASSERT_EQ(out.Channels(), source.Channels());
        ASSERT_EQ(out.Length(), source.Length());
        EXPECT_EQ(out.SampleRate(), 44100);
        const TReference ref = Reference(source, filter, 44100.0);
        EXPECT_EQ(ref.Peak < 32764.0, k.amplified);
        EXPECT_LT(WorstError(out, ref), 1.5);
        EXPECT_GE(PeakOf(out), 32763);
        EXPECT_LE(PeakOf(out), 32765);
    }
}

TEST(ExportFiltered, DesignsTheFilterAtTheFilesOwnRate)
{
    TScratchFolder dir;
    const TWav source = MakeWav(48000, {Noise(24000, 8000, 2), Noise(24000, 8000, 3)});
    // Designed at 44100 Hz, as FilterSection1 is before any Play.
    const TFilterSection filter = Section(1.0, 150.0, 15.0, 2000.0, 400.0, 44100.0);
    TWav scratch;
    TDitherRandom dither;
    ASSERT_TRUE(ExportFiltered(source, filter, scratch, dir.File("out.wav"), dither));
    TWav out;
    out.ReadFile(dir.File("out.wav"));
    EXPECT_LT(WorstError(out, Reference(source, filter, 48000.0)), 1.5);
    // The comparison can tell the rates apart.
    EXPECT_GT(WorstError(out, Reference(source, filter, 44100.0)), 100.0);
}

TEST(ExportFiltered, FilteredPeakMatchesOneSectionPerChannelForAnyChannelCount)
{
    const TFilterSection filter = Section(2.0, 60.0, 6.0, 500.0, 250.0);
    for (int chans = 1; chans <= 5; ++chans) {
        std::vector<std::vector<std::int16_t>> data;
        for (int c = 0; c < chans; ++c)
            data.push_back(Noise(7001, 1000 * (c + 1), static_cast<unsigned>(c + 10)));
        const TWav source = MakeWav(44100, data);
        EXPECT_EQ(FilteredPeak(source, filter), Reference(source, filter, 44100.0).Peak) << chans;
    }
}

TEST(ExportFiltered, SilentOrEmptySoundWritesNothingAndKeepsTheTarget)
{
    TScratchFolder dir;
    const std::string target = dir.File("existing.wav");
    {
        std::ofstream keep(target, std::ios::binary);
        keep << "precious";
    }
    const TFilterSection filter = Section(1.0, 100.0, 100.0, 100.0, 100.0);
    struct Case {
        const char* name;
        TWav source;
    };
    const std::vector<Case> cases{
        {"silent",
         MakeWav(44100, {std::vector<std::int16_t>(5000, 0), std::vector<std::int16_t>(5000, 0)})},
        {"no samples", MakeWav(44100, {std::vector<std::int16_t>{}})},
        {"no sound", TWav()},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        TWav scratch;
        TDitherRandom dither;
        for (const std::string& path : {target, dir.File("new.wav")}) {
            try {
                ExportFiltered(k.source, filter, scratch, path, dither);
                ADD_FAILURE() << "no error";
            } catch (const EExportError& e) {
                EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
            }
        }
        EXPECT_EQ(Contents(target), "precious");
        EXPECT_FALSE(std::filesystem::exists(dir.File("new.wav")));
    }
    // A filter whose gain is 0 makes any sound silent.
    TWav scratch;
    TDitherRandom dither;
    EXPECT_THROW(ExportFiltered(MakeWav(44100, {Noise(100, 5000, 1)}),
                                Section(0.0, 100.0, 100.0, 100.0, 100.0), scratch, target, dither),
                 EExportError);
    EXPECT_EQ(Contents(target), "precious");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
}

TEST(ExportFiltered, CancelLeavesNoFileAndProgressRunsToOne)
{
    TScratchFolder dir;
    const TWav source = MakeWav(44100, {Noise(300000, 5000, 4), Noise(300000, 5000, 5)});
    const TFilterSection filter = Section(1.0, 100.0, 100.0, 100.0, 100.0);
    TWav scratch;
    TDitherRandom dither;
    for (double cancelAt : {0.1, 0.5, 0.9}) {
        SCOPED_TRACE(cancelAt);
        EXPECT_FALSE(ExportFiltered(source, filter, scratch, dir.File("cancelled.wav"), dither,
                                    [cancelAt](double f) { return f < cancelAt; }));
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 0);
        EXPECT_EQ(scratch.Channels(), 0);
    }
    std::vector<double> seen;
    ASSERT_TRUE(
        ExportFiltered(source, filter, scratch, dir.File("done.wav"), dither, [&seen](double f) {
            seen.push_back(f);
            return true;
        }));
    ASSERT_FALSE(seen.empty());
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_GE(seen.front(), 0.0);
    EXPECT_DOUBLE_EQ(seen.back(), 1.0);
    EXPECT_TRUE(std::filesystem::exists(dir.File("done.wav")));
}

TEST(ExportFiltered, UnwritableTargetRaisesTheWaveFileError)
{
    TScratchFolder dir;
    TWav scratch;
    TDitherRandom dither;
    EXPECT_THROW(ExportFiltered(MakeWav(44100, {Noise(1000, 5000, 1)}),
                                Section(1.0, 100.0, 100.0, 100.0, 100.0), scratch,
                                dir.File("no/such/folder/out.wav"), dither),
                 EWavError);
    EXPECT_EQ(scratch.Channels(), 0);
}

TEST(ExportFiltered, DitherNeverRepeatsItself)
{
    // Without a filter every value scales to exactly 32764, so what is written is the dither's
    // pattern alone (32763, 32764 or 32765); no stretch of it may come back later.
    TScratchFolder dir;
    TFilterSection none;
    none.SetFilterType(tfiltertype::ftnone);
    const std::size_t n = 300000;
    const TWav source = MakeWav(44100, {std::vector<std::int16_t>(n, 16382)});
    TWav scratch;
    TDitherRandom dither;
    ASSERT_TRUE(ExportFiltered(source, none, scratch, dir.File("out.wav"), dither));
    TWav out;
    out.ReadFile(dir.File("out.wav"));
    const auto v = out.ChannelSamples(0);
    for (std::size_t shift = 1024; shift < n / 2; shift *= 2) {
        std::size_t same = 0;
        for (std::size_t i = 0; i < 4096; ++i)
            same += v[i] == v[i + shift];
        EXPECT_LT(same, 3000U) << "the dither repeats after " << shift << " values";
    }
}

TEST(SoundDocumentExport, UsesFilterSection1AtTheSoundsRateAndLeavesTheSectionsAlone)
{
    TScratchFolder dir;
    TManualEventQueue queue;
    TSoundDocument doc(std::make_unique<TFakeWaveOutDevice>(), queue);
    EXPECT_THROW(doc.Export(dir.File("nothing.wav")), EExportError);

    doc.SourceWav() = MakeWav(22050, {Noise(20000, 7000, 6), Noise(20000, 7000, 7)});
    doc.FilterSection1().SetGain(0.5);
    doc.FilterSection1().SetPoleF0(400.0);
    doc.FilterSection1().SetPoleBW(40.0);
    doc.FilterSection2().SetGain(0.0); // not used by the export
    doc.SetUseFilter(false);
    doc.SetRawGain(0.0);
    const TFilterSection before = doc.FilterSection1();
    ASSERT_TRUE(doc.Export(dir.File("out.wav")));
    EXPECT_EQ(doc.FilterSection1().SampFreq(), before.SampFreq());
    EXPECT_EQ(doc.FilterSection1().a1(), before.a1());
    EXPECT_EQ(doc.ExportWav().Channels(), 0);
    TWav out;
    out.ReadFile(dir.File("out.wav"));
    EXPECT_LT(WorstError(out, Reference(doc.SourceWav(), before, 22050.0)), 1.5);
}

} // namespace

namespace {

// The export as one section per channel and one generator drawing through the channels in
// pairs (frame by frame, left then right), sample by sample: what the parallel export must
// reproduce bit for bit.
std::vector<std::vector<std::int16_t>> SerialExport(const TWav& source, TFilterSection s,
                                                    TDitherRandom& dither)
{
    s.SetSampFreq(source.SampleRate());
    double peak = 0.0;
    for (std::int32_t c = 0; c < source.Channels(); ++c) {
        s.Reset();
        for (std::int16_t x : source.ChannelSamples(c))
            peak = std::max(peak, std::fabs(s.Process(x)));
    }
    const double scale = ExportPeakTarget / peak;
    std::vector<std::vector<std::int16_t>> out(static_cast<std::size_t>(source.Channels()));
    for (std::int32_t c = 0; c < source.Channels(); c += 2) {
        const bool pair = c + 1 < source.Channels();
        TFilterSection fa = s;
        TFilterSection fb = s;
        fa.Reset();
        fb.Reset();
        for (std::int64_t i = 0; i < source.Length(); ++i) {
            out[static_cast<std::size_t>(c)].push_back(
                DitherTo16(fa.Process(source.Sample(c, i)) * scale, dither));
            if (pair)
                out[static_cast<std::size_t>(c) + 1].push_back(
                    DitherTo16(fb.Process(source.Sample(c + 1, i)) * scale, dither));
        }
    }
    return out;
}

TEST(ExportFiltered, WritesExactlyWhatOneSectionPerChannelGives)
{
    TScratchFolder dir;
    struct TCase {
        std::size_t chans;
        std::size_t frames;
        tfiltertype type;
        double gain;
    };
    // Long enough for several threads and whole vector blocks with a partial one after them;
    // short ones; every filter type; a gain that overflows some values to infinity.
    const TCase cases[] = {
        {2, 300000, tfiltertype::ftboth, 0.3162},
        {1, 300000, tfiltertype::ftboth, 2.0},
        {3, 140000, tfiltertype::ftboth, 1.0},
        {2, 5000, tfiltertype::ftboth, 1.0},
        {2, 70000, tfiltertype::ftpole, 0.5},
        {2, 70000, tfiltertype::ftzero, 0.5},
        {2, 70000, tfiltertype::ftnone, 0.5},
        {2, 140000, tfiltertype::ftboth, 1e306},
        // Channel counts whose output blocks must shrink to stay within the export's bound:
        // shorter blocks in the ring, and one block at a time (130000 frames are two of them).
        {20, 140000, tfiltertype::ftboth, 1.0},
        {70, 130000, tfiltertype::ftboth, 1.0},
    };
    // Every vector unit the export can pick gives the same bits.
    for (const char* simd : {"", "avx2", "base"})
        for (const TCase& k : cases) {
            if (*simd != '\0' && k.chans != 2)
                continue;
            ::setenv("KAVREL_SIMD", simd, 1);
            std::vector<std::vector<std::int16_t>> data;
            for (std::size_t c = 0; c < k.chans; ++c)
                data.push_back(Noise(k.frames, 12000, static_cast<unsigned>(c + 3)));
            const TWav source = MakeWav(48000, data);
            TFilterSection filter = Section(k.gain, 100.0, 100.0, 300.0, 30.0);
            filter.SetFilterType(k.type);
            TDitherRandom expectedDither(12345);
            const auto expected = SerialExport(source, filter, expectedDither);

            TWav scratch;
            TDitherRandom dither(12345);
            ASSERT_TRUE(ExportFiltered(source, filter, scratch, dir.File("exact.wav"), dither));
            TWav out;
            ASSERT_TRUE(out.ReadFile(dir.File("exact.wav")));
            ASSERT_EQ(out.Channels(), static_cast<std::int32_t>(k.chans));
            for (std::int32_t c = 0; c < out.Channels(); ++c) {
                const auto got = out.ChannelSamples(c);
                const auto& want = expected[static_cast<std::size_t>(c)];
                ASSERT_EQ(got.size(), want.size());
                std::size_t differ = 0;
                std::size_t firstDiffer = want.size();
                for (std::size_t i = 0; i < want.size(); ++i) {
                    differ += got[i] != want[i] ? 1 : 0;
                    if (got[i] != want[i] && firstDiffer == want.size())
                        firstDiffer = i;
                }
                EXPECT_EQ(differ, 0U) << "simd '" << simd << "', " << k.chans << " channels, type "
                                      << static_cast<int>(k.type) << ", channel " << c
                                      << ", from frame " << firstDiffer << " of " << k.frames;
            }
            // The document's generator goes on where the export left it.
            EXPECT_EQ(dither.Next(), expectedDither.Next());
        }
    ::unsetenv("KAVREL_SIMD");
}

} // namespace

namespace {

// Exporting straight from a file gives the bytes of loading it and exporting the sound.
TEST(ExportFilteredFile, WritesTheBytesOfLoadingAndExporting)
{
    TScratchFolder dir;
    const TFilterSection filter = Section(0.3162, 100.0, 100.0, 100.0, 100.0);
    for (const std::size_t chans : {1U, 2U, 3U}) {
        // 1200000 frames go round the write pass's rings of blocks.
        for (const std::size_t frames : {1U, 5000U, 400000U, 1200000U}) {
            std::vector<std::vector<std::int16_t>> data;
            for (std::size_t c = 0; c < chans; ++c)
                data.push_back(Noise(frames, 20000, static_cast<unsigned>(c + frames)));
            const std::string in = dir.File("in.wav");
            ASSERT_TRUE(MakeWav(22050, data).WriteFile(in));

            TWav loaded;
            ASSERT_TRUE(loaded.ReadFile(in));
            TWav scratch;
            TDitherRandom d1(99);
            ASSERT_TRUE(ExportFiltered(loaded, filter, scratch, dir.File("a.wav"), d1));
            TDitherRandom d2(99);
            std::vector<double> seen;
            ASSERT_TRUE(ExportFilteredFile(in, filter, dir.File("b.wav"), d2, [&seen](double f) {
                seen.push_back(f);
                return true;
            }));
            EXPECT_EQ(Contents(dir.File("a.wav")), Contents(dir.File("b.wav")))
                << chans << " channels, " << frames << " frames";
            EXPECT_EQ(d1.Next(), d2.Next());
            ASSERT_FALSE(seen.empty());
            EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
            EXPECT_DOUBLE_EQ(seen.back(), 1.0);
        }
    }
}

// Every other format too, read twice from the file, whatever length a header claims: none (an
// encoder writing FLAC into a pipe, a cut Ogg file), far more than the file holds, or 0.
TEST(ExportFilteredFile, EveryFormatAndAnyClaimedLengthGiveTheBytesOfTheLoadedSound)
{
    TScratchFolder dir;
    const TFilterSection filter = Section(0.3162, 100.0, 100.0, 100.0, 100.0);
    const std::string formats = std::string(KAVREL_SOURCE_DIR) + "/tests/sound/fixtures/formats/";
    std::vector<std::string> inputs;
    for (const char* name :
         {"pcm24-stereo.wav", "pcm16-stereo.aiff", "pcm16-stereo.caf", "pcm16-stereo.w64",
          "pcm16-stereo.rf64", "pcm24-stereo.flac", "tone-stereo.ogg", "tone-stereo.opus",
          "tone-stereo.mp3", "tone-cut-off.flac", "tone-cut-off.ogg", "tone-cut-off.opus",
          "tone-cut-off.mp3", "tone-granule-zero.ogg"})
        inputs.push_back(formats + name);
    TWav tone;
    ASSERT_TRUE(tone.ReadFile(formats + "tone-stereo.wav"));
    ASSERT_TRUE(tone.WriteFile(dir.File("tone.flac")));
    const std::string flac = Contents(dir.File("tone.flac"));
    for (const std::uint64_t claimed : {std::uint64_t{0}, std::uint64_t{1} << 34}) {
        // STREAMINFO's 36-bit frame count: the low half of byte 21 and bytes 22 to 25.
        std::string bytes = flac;
        bytes[21] = static_cast<char>((bytes[21] & 0xF0) | static_cast<int>(claimed >> 32));
        for (int i = 1; i < 5; ++i)
            bytes[static_cast<std::size_t>(21 + i)] =
                static_cast<char>((claimed >> (8 * (4 - i))) & 0xFF);
        inputs.push_back(dir.File("claims-" + std::to_string(claimed) + ".flac"));
        std::ofstream(inputs.back(), std::ios::binary) << bytes;
    }
    for (const std::string& in : inputs) {
        TWav loaded;
        ASSERT_TRUE(loaded.ReadFile(in)) << in;
        TWav scratch;
        TDitherRandom d1(5);
        ASSERT_TRUE(ExportFiltered(loaded, filter, scratch, dir.File("a.wav"), d1));
        TDitherRandom d2(5);
        std::string warning;
        ASSERT_TRUE(ExportFilteredFile(in, filter, dir.File("b.wav"), d2, {}, &warning)) << in;
        EXPECT_EQ(Contents(dir.File("a.wav")), Contents(dir.File("b.wav"))) << in;
        EXPECT_EQ(warning, loaded.ReadWarning()) << in;
    }
}

TEST(ExportFilteredFile, FailuresAndCancelLeaveTheTargetAlone)
{
    TScratchFolder dir;
    const TFilterSection filter = Section(1.0, 100.0, 100.0, 100.0, 100.0);
    const std::string target = dir.File("target.wav");
    {
        std::ofstream out(target, std::ios::binary);
        out << "precious";
    }
    TDitherRandom dither;
    EXPECT_THROW(ExportFilteredFile(dir.File("missing.wav"), filter, target, dither), EWavError);
    const std::string silent = dir.File("silent.wav");
    ASSERT_TRUE(MakeWav(44100, {std::vector<std::int16_t>(300000, 0)}).WriteFile(silent));
    EXPECT_THROW(ExportFilteredFile(silent, filter, target, dither), EExportError);
    const std::string empty = dir.File("empty.wav");
    ASSERT_TRUE(MakeWav(44100, {{}, {}}).WriteFile(empty));
    EXPECT_THROW(ExportFilteredFile(empty, filter, target, dither), EExportError);
    const std::string loud = dir.File("loud.wav");
    ASSERT_TRUE(MakeWav(44100, {Noise(300000, 9000, 1), Noise(300000, 9000, 2)}).WriteFile(loud));
    // Cancelled while reading, and while writing.
    for (const double at : {0.1, 0.6}) {
        EXPECT_FALSE(
            ExportFilteredFile(loud, filter, target, dither, [at](double f) { return f < at; }));
    }
    EXPECT_EQ(Contents(target), "precious");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 4);
}

// A region is written exactly as a sound of its frames alone, from the loaded sound and read
// from a file (the reads passing over the frames before it and stopping at its end).
TEST(ExportFilteredFile, ARegionGivesTheBytesOfASoundOfItsFramesAlone)
{
    TScratchFolder dir;
    const TFilterSection filter = Section(0.3162, 100.0, 100.0, 100.0, 100.0);
    const std::size_t frames = 400000;
    const std::vector<std::vector<std::int16_t>> data{Noise(frames, 20000, 7),
                                                      Noise(frames, 20000, 8)};
    const TWav whole = MakeWav(22050, data);
    ASSERT_TRUE(whole.WriteFile(dir.File("in.wav")));
    ASSERT_TRUE(whole.WriteFile(dir.File("in.flac")));
    for (const TFrameSpan span : {TFrameSpan{70001, 333333}, TFrameSpan{0, 1},
                                  TFrameSpan{399999, 400000}, TFrameSpan{5, 17}}) {
        SCOPED_TRACE(std::to_string(span.First) + " " + std::to_string(span.End));
        std::vector<std::vector<std::int16_t>> part;
        for (const auto& c : data)
            part.emplace_back(c.begin() + span.First, c.begin() + span.End);
        TWav scratch;
        TDitherRandom d0(4);
        ASSERT_TRUE(ExportFiltered(MakeWav(22050, part), filter, scratch, dir.File("0.wav"), d0));
        const std::string expected = Contents(dir.File("0.wav"));
        TDitherRandom d1(4);
        ASSERT_TRUE(ExportFiltered(whole, filter, scratch, dir.File("1.wav"), d1, {}, span));
        EXPECT_EQ(Contents(dir.File("1.wav")), expected);
        for (const char* in : {"in.wav", "in.flac"}) {
            TDitherRandom d2(4);
            ASSERT_TRUE(
                ExportFilteredFile(dir.File(in), filter, dir.File("2.wav"), d2, {}, nullptr, span));
            EXPECT_EQ(Contents(dir.File("2.wav")), expected) << in;
        }
    }
    // Past the end, or without frames: nothing is written.
    const std::string target = dir.File("target.wav");
    TDitherRandom dither;
    TWav scratch;
    for (const TFrameSpan span : {TFrameSpan{399999, 400001}, TFrameSpan{500000, 600000},
                                  TFrameSpan{10, 10}, TFrameSpan{-1, 10}}) {
        EXPECT_THROW(ExportFiltered(whole, filter, scratch, target, dither, {}, span),
                     EExportError);
        EXPECT_THROW(
            ExportFilteredFile(dir.File("in.flac"), filter, target, dither, {}, nullptr, span),
            EExportError);
    }
    EXPECT_FALSE(std::filesystem::exists(target));
}

} // namespace
