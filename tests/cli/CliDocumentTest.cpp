// kavrel analyze and kavrel export, run as the user runs them: the exact level text, the
// normalised filtered copy, the values taken from the stored settings or the sliders' initial
// positions, and the failures.

#include "tests/cli/CliRunner.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <numbers>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kavrel {
namespace {

using test::RunKavrel;
using test::TCliResult;

void PutLE(QByteArray& out, std::uint64_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.append(static_cast<char>((v >> (8 * i)) & 0xff));
}

// A 16-bit PCM wave file of the given channels.
void WriteWav(const QString& path, int rate, const std::vector<std::vector<std::int16_t>>& chans)
{
    const std::size_t frames = chans.at(0).size();
    const auto data = static_cast<std::uint64_t>(frames * chans.size() * 2);
    QByteArray b("RIFF");
    PutLE(b, 36 + data, 4);
    b.append("WAVEfmt ");
    PutLE(b, 16, 4);
    PutLE(b, 1, 2);
    PutLE(b, chans.size(), 2);
    PutLE(b, static_cast<std::uint64_t>(rate), 4);
    PutLE(b, static_cast<std::uint64_t>(rate) * chans.size() * 2, 4);
    PutLE(b, chans.size() * 2, 2);
    PutLE(b, 16, 2);
    b.append("data");
    PutLE(b, data, 4);
    for (std::size_t f = 0; f < frames; ++f)
        for (const auto& c : chans)
            PutLE(b, static_cast<std::uint16_t>(c[f]), 2);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(b);
}

struct TPcm {
    int channels = 0;
    int rate = 0;
    std::vector<std::int16_t> values; // interleaved
};

// Reads a file as kavrel writes it: the 44-byte header, then the samples.
std::optional<TPcm> ReadWav(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray b = file.readAll();
    if (b.size() < 44 || !b.startsWith("RIFF") || b.mid(8, 8) != "WAVEfmt ")
        return std::nullopt;
    auto u = [&b](int at, int n) {
        std::uint32_t v = 0;
        for (int i = 0; i < n; ++i)
            v |= static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + i])) << (8 * i);
        return v;
    };
    TPcm pcm;
    pcm.channels = static_cast<int>(u(22, 2));
    pcm.rate = static_cast<int>(u(24, 4));
    const std::uint32_t bytes = u(40, 4);
    for (std::uint32_t i = 0; i + 1 < bytes && 44 + i + 1 < static_cast<std::uint32_t>(b.size());
         i += 2)
        pcm.values.push_back(static_cast<std::int16_t>(u(44 + static_cast<int>(i), 2)));
    return pcm;
}

std::vector<std::int16_t> Sine(std::size_t n, double f, double rate, double amplitude)
{
    std::vector<std::int16_t> v(n);
    for (std::size_t i = 0; i < n; ++i)
        v[i] = static_cast<std::int16_t>(std::lround(
            amplitude * std::sin(2 * std::numbers::pi * f * static_cast<double>(i) / rate)));
    return v;
}

std::vector<std::int16_t> Noise(std::size_t n, int amplitude, std::uint32_t seed)
{
    std::vector<std::int16_t> v(n);
    std::uint32_t x = seed * 2654435761U + 1;
    for (auto& s : v) {
        x = x * 1664525U + 1013904223U;
        s = static_cast<std::int16_t>(static_cast<int>(x >> 16) % (2 * amplitude + 1) - amplitude);
    }
    return v;
}

// The 80-bit extended form of a normal double, as the settings file stores floating point.
QByteArray Extended(double v)
{
    std::uint64_t bits;
    std::memcpy(&bits, &v, 8);
    const std::uint64_t sign = bits >> 63;
    const auto exponent = static_cast<std::int64_t>((bits >> 52) & 0x7ff);
    const std::uint64_t mantissa = ((bits & ((1ULL << 52) - 1)) | (1ULL << 52)) << 11;
    QByteArray out;
    PutLE(out, mantissa, 8);
    PutLE(out, (sign << 15) | static_cast<std::uint64_t>(exponent - 1023 + 16383), 2);
    return out;
}

void PutText(QByteArray& out, const QByteArray& text)
{
    PutLE(out, static_cast<std::uint64_t>(text.size()), 4);
    out.append(text);
}

// A settings file holding the given keys of section "Settings".
void WriteSettings(const QString& path, const std::vector<std::pair<const char*, double>>& values)
{
    QByteArray b("ZEL1");
    PutText(b, "");
    PutText(b, "0.0");
    PutText(b, "Kavrel");
    PutText(b, "0.0.0.2");
    PutLE(b, values.size(), 4);
    for (const auto& [key, value] : values) {
        PutText(b, "Settings");
        PutText(b, key);
        PutLE(b, 12, 4);
        PutText(b, Extended(value));
    }
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(b);
}

QString Num(double v)
{
    return QString::number(v, 'g', 17);
}

// Each test has a configuration folder of its own, so no stored settings of the user count.
class CliDocument : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        const char* old = std::getenv("XDG_CONFIG_HOME");
        if (old != nullptr)
            m_oldConfig = old;
        ::setenv("XDG_CONFIG_HOME", qPrintable(m_dir.filePath("config")), 1);
        QDir().mkpath(m_dir.filePath("config"));
    }
    void TearDown() override
    {
        if (m_oldConfig)
            ::setenv("XDG_CONFIG_HOME", m_oldConfig->c_str(), 1);
        else
            ::unsetenv("XDG_CONFIG_HOME");
    }

    QString File(const char* name) const { return m_dir.filePath(name); }
    QString SettingsFile() const
    {
        QDir().mkpath(m_dir.filePath("config/MorvaneData/Kavrel/0.0.0.2"));
        return m_dir.filePath("config/MorvaneData/Kavrel/0.0.0.2/Kavrelsettings.zelfile");
    }

    // A stereo test file: noise on the left, a sine on the right.
    QString Source()
    {
        const QString path = File("in.wav");
        WriteWav(path, 48000, {Noise(48000, 6000, 1), Sine(48000, 250.0, 48000.0, 9000.0)});
        return path;
    }

    // Exports Source() with args to out; the written file's samples.
    std::vector<std::int16_t> Export(const QString& out, const QStringList& args = {})
    {
        const TCliResult r = RunKavrel(QStringList{"export", Source(), out} + args);
        EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
        EXPECT_EQ(r.err.toStdString(), "");
        const auto pcm = ReadWav(out);
        EXPECT_TRUE(pcm.has_value()) << out.toStdString();
        return pcm ? pcm->values : std::vector<std::int16_t>{};
    }

    QTemporaryDir m_dir;
    std::optional<std::string> m_oldConfig;
};

TEST_F(CliDocument, VersionIsTheProjectsAndPalettesAreChecked)
{
    const TCliResult version = RunKavrel({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out.toStdString(), "kavrel " KAVREL_TEST_VERSION "\n");
    // No window opens for a palette that does not exist.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const TCliResult palette = RunKavrel({"--palette", "purple"});
    qunsetenv("QT_QPA_PLATFORM");
    EXPECT_EQ(palette.exitCode, 2);
    EXPECT_NE(palette.err.indexOf("--palette"), -1) << palette.err.toStdString();
}

TEST_F(CliDocument, AnalyzePrintsTheLevelTextThenTheLoudness)
{
    const double amplitude = 32768.0 * std::pow(10.0, -6.0 / 20.0);
    WriteWav(File("levels.wav"), 48000,
             {Sine(48000, 1000.0, 48000.0, amplitude), std::vector<std::int16_t>(48000, 0)});
    const TCliResult r = RunKavrel({"analyze", File("levels.wav")});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out.toStdString(),
              "Ch 0: RMS=-9.01 dB : Peak=-6.00 dB : Crest=3.01 dB   "
              "Ch 1: RMS=-inf dB : Peak=-inf dB : Crest=-inf dB   \n"
              "Loudness: -9.0 LUFS : Range: 0.0 LU : True peak: -6.0 dBTP   \n");
    EXPECT_EQ(r.err.toStdString(), "");
}

TEST_F(CliDocument, AnalyzeAndExportNameTheFileThatFails)
{
    for (const QStringList& args : {QStringList{"analyze", File("missing.wav")},
                                    QStringList{"export", File("missing.wav"), File("out.wav")}}) {
        const TCliResult r = RunKavrel(args);
        EXPECT_EQ(r.exitCode, 1) << args.join(' ').toStdString();
        EXPECT_TRUE(r.err.contains(File("missing.wav"))) << r.err.toStdString();
        EXPECT_FALSE(QFile::exists(File("out.wav")));
    }
    for (const QStringList& args :
         {QStringList{"analyze"}, QStringList{"export", Source()},
          QStringList{"export", Source(), File("o.wav"), "--pole-q", "0"},
          QStringList{"export", Source(), File("o.wav"), "--zero-f0", "x"}}) {
        EXPECT_EQ(RunKavrel(args).exitCode, 2) << args.join(' ').toStdString();
        EXPECT_FALSE(QFile::exists(File("o.wav")));
    }
}

TEST_F(CliDocument, ExportNormalisesTheFilteredPeakTo32764)
{
    const auto values = Export(File("out.wav"), {"--pole-f0", "400", "--pole-q", "4"});
    const auto pcm = ReadWav(File("out.wav"));
    ASSERT_TRUE(pcm);
    EXPECT_EQ(pcm->channels, 2);
    EXPECT_EQ(pcm->rate, 48000);
    ASSERT_EQ(values.size(), 96000U);
    int peak = 0;
    for (std::int16_t v : values)
        peak = std::max(peak, std::abs(static_cast<int>(v)));
    EXPECT_GE(peak, 32763);
    EXPECT_LE(peak, 32765);
}

TEST_F(CliDocument, FlacInAndOutGiveTheSameSamplesAsWaveFiles)
{
    const QStringList options{"--pole-f0", "400", "--pole-q", "4"};
    const std::vector<std::int16_t> wave = Export(File("out.wav"), options);
    ASSERT_EQ(RunKavrel({"convert", Source(), File("in.flac")}).exitCode, 0);
    EXPECT_EQ(RunKavrel({"analyze", File("in.flac")}).out, RunKavrel({"analyze", Source()}).out);
    // A FLAC source exported to FLAC: decoded, the very samples of the wave route.
    const TCliResult r =
        RunKavrel(QStringList{"export", File("in.flac"), File("out.flac")} + options);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    ASSERT_EQ(RunKavrel({"convert", File("out.flac"), File("back.wav")}).exitCode, 0);
    const auto back = ReadWav(File("back.wav"));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->values, wave);
}

// --start and --end: export and convert take the frames between, as a file of those frames
// alone would give; values out of range are refused, naming the option and the value.
TEST_F(CliDocument, StartAndEndTakeARegionAndRefuseValuesOutOfRange)
{
    const QString source = Source();
    const std::vector<std::int16_t> left = Noise(48000, 6000, 1);
    const std::vector<std::int16_t> right = Sine(48000, 250.0, 48000.0, 9000.0);
    WriteWav(File("part.wav"), 48000,
             {{left.begin() + 12000, left.begin() + 24000},
              {right.begin() + 12000, right.begin() + 24000}});
    ASSERT_EQ(RunKavrel({"export", File("part.wav"), File("whole.wav")}).exitCode, 0);
    const TCliResult r =
        RunKavrel({"export", source, File("region.wav"), "--start", "0.25", "--end", "0.5"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(test::Contents(File("region.wav")), test::Contents(File("whole.wav")));
    ASSERT_EQ(RunKavrel({"convert", source, File("tail.wav"), "--start", "0.75"}).exitCode, 0);
    const auto tail = ReadWav(File("tail.wav"));
    ASSERT_TRUE(tail);
    ASSERT_EQ(tail->values.size(), 2U * 12000U);
    EXPECT_EQ(tail->values[0], left[36000]);
    EXPECT_EQ(tail->values.back(), right.back());

    struct Case {
        QStringList args;
        const char* says;
    };
    for (const Case& c : {Case{{"export", "--start", "1"}, "--start: 1 is at or past"},
                          Case{{"export", "--end", "1.5"}, "--end: 1.5 is past"},
                          Case{{"export", "--start", "0.5", "--end", "0.5"},
                               "--start: 0.5 is not before --end 0.5"},
                          Case{{"convert", "--start", "-1"}, "--start: '-1' is not"},
                          Case{{"convert", "--end", "3"}, "--end: 3 is past"},
                          Case{{"convert", "--end", "x"}, "--end: 'x' is not"}}) {
        QStringList args = c.args;
        args.insert(1, source);
        args.insert(2, File("o.wav"));
        const TCliResult refused = RunKavrel(args);
        EXPECT_EQ(refused.exitCode, 2) << args.join(' ').toStdString();
        EXPECT_TRUE(refused.err.contains(c.says)) << refused.err.toStdString();
        EXPECT_FALSE(QFile::exists(File("o.wav")));
    }
}

TEST_F(CliDocument, ExportOfASilentFileWritesNothing)
{
    WriteWav(File("silent.wav"), 44100, {std::vector<std::int16_t>(1000, 0)});
    QFile keep(File("keep.wav"));
    ASSERT_TRUE(keep.open(QIODevice::WriteOnly));
    keep.write("precious");
    keep.close();
    const TCliResult r = RunKavrel({"export", File("silent.wav"), File("keep.wav")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("silent")) << r.err.toStdString();
    QFile check(File("keep.wav"));
    ASSERT_TRUE(check.open(QIODevice::ReadOnly));
    EXPECT_EQ(check.readAll(), QByteArray("precious"));
}

TEST_F(CliDocument, ValuesNotGivenComeFromTheSlidersInitialPositions)
{
    // The dither is seeded alike in every run, so equal settings give equal files.
    const auto defaults = Export(File("a.wav"));
    EXPECT_EQ(defaults,
              Export(File("b.wav"), {"--filter-gain", "-10", "--pole-f0", "100", "--pole-q", "1",
                                     "--zero-f0", "100", "--zero-q", "1"}));
    // A pole F0 alone keeps the initial Q.
    EXPECT_EQ(Export(File("c.wav"), {"--pole-f0", "300"}),
              Export(File("d.wav"), {"--pole-f0", "300", "--pole-q", "1"}));
    EXPECT_NE(Export(File("e.wav"), {"--pole-f0", "300"}), defaults);
}

TEST_F(CliDocument, ValuesNotGivenComeFromTheStoredSettings)
{
    // Values on slider steps: filter gain −4 dB, pole at position 60 with Q at 20, zero at
    // position 80 with Q at −30.
    const double poleF0 = std::pow(10.0, 60 / 50.0 + 1.0);
    const double poleQ = std::pow(10.0, 20 / 100.0);
    const double zeroF0 = std::pow(10.0, 80 / 50.0 + 1.0);
    const double zeroQ = std::pow(10.0, -30 / 100.0);
    const QStringList explicitArgs{"--filter-gain", "-4",       "--pole-f0", Num(poleF0),
                                   "--pole-q",      Num(poleQ), "--zero-f0", Num(zeroF0),
                                   "--zero-q",      Num(zeroQ)};
    const auto given = Export(File("given.wav"), explicitArgs);
    ASSERT_NE(given, Export(File("defaults.wav")));

    WriteSettings(SettingsFile(), {{"RawGain", 1.0},
                                   {"FilterGain", std::pow(10.0, -4 / 20.0)},
                                   {"PoleF0", poleF0},
                                   {"PoleBW", poleF0 / poleQ},
                                   {"ZeroF0", zeroF0},
                                   {"ZeroBW", zeroF0 / zeroQ}});
    EXPECT_EQ(Export(File("stored.wav")), given);
    // Options given still win over the stored values.
    EXPECT_EQ(Export(File("mixed.wav"), {"--pole-f0", "100", "--pole-q", "1"}),
              Export(File("mixed2.wav"), {"--filter-gain", "-4", "--pole-f0", "100", "--pole-q",
                                          "1", "--zero-f0", Num(zeroF0), "--zero-q", Num(zeroQ)}));
}

TEST_F(CliDocument, StoredValuesWithoutASliderPositionKeepTheInitialOnes)
{
    // Zero, negative or not finite values, or a zero bandwidth, cannot be shown by a slider: the
    // slider keeps its initial position, as in the window. Finite values beyond a slider's end
    // clamp to it.
    WriteSettings(SettingsFile(), {{"RawGain", 0.0},
                                   {"FilterGain", std::numeric_limits<double>::quiet_NaN()},
                                   {"PoleF0", -5.0},
                                   {"PoleBW", 0.0},
                                   {"ZeroF0", std::numeric_limits<double>::infinity()},
                                   {"ZeroBW", 100.0}});
    EXPECT_EQ(Export(File("odd.wav")),
              Export(File("initial.wav"), {"--pole-f0", "100", "--pole-q", "1", "--zero-f0", "100",
                                           "--filter-gain", "-10"}));
    WriteSettings(SettingsFile(), {{"FilterGain", 1e6}, {"PoleF0", 1e9}, {"PoleBW", 1.0}});
    EXPECT_EQ(Export(File("far.wav")), Export(File("ends.wav"), {"--filter-gain", "20", "--pole-f0",
                                                                 "1000", "--pole-q", "10"}));
}

} // namespace
} // namespace kavrel
