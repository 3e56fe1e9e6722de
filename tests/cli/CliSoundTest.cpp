#include "tests/cli/CliRunner.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <ostream>

namespace kavrel {
namespace {

using test::Contents;
using test::Fixture;
using test::RunKavrel;
using test::TCliResult;

struct TInfoCase {
    const char* file;
    const char* line;
};

void PrintTo(const TInfoCase& c, std::ostream* os)
{
    *os << c.file;
}

class InfoLine : public ::testing::TestWithParam<TInfoCase> {};

TEST_P(InfoLine, DescribesTheFile)
{
    const TCliResult r = RunKavrel({"info", Fixture(GetParam().file)});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out.toStdString(), std::string(GetParam().line) + "\n");
    EXPECT_EQ(r.err.toStdString(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, InfoLine,
    ::testing::Values(
        TInfoCase{"pcm8-stereo.wav",
                  "channels=2 rate=22050 frames=300 duration=0.013605 format=pcm8 truncated=no"},
        TInfoCase{"pcm16-4ch.wav",
                  "channels=4 rate=48000 frames=300 duration=0.006250 format=pcm16 truncated=no"},
        TInfoCase{"pcm24-stereo.wav",
                  "channels=2 rate=44100 frames=300 duration=0.006803 format=pcm24 truncated=no"},
        TInfoCase{"pcm32-stereo.wav",
                  "channels=2 rate=44100 frames=300 duration=0.006803 format=pcm32 truncated=no"},
        TInfoCase{"float32-stereo.wav", "channels=2 rate=44100 frames=300 duration=0.006803 "
                                        "format=float32 truncated=no"},
        TInfoCase{"float64-mono.wav",
                  "channels=1 rate=8000 frames=300 duration=0.037500 format=float64 truncated=no"},
        TInfoCase{"truncated-data.wav", "channels=2 rate=44100 frames=299 duration=0.006780 "
                                        "format=pcm16 truncated=yes"}));

struct TFailCase {
    QStringList args;
    int exitCode;
    const char* mention; // a text stderr must hold
};

void PrintTo(const TFailCase& c, std::ostream* os)
{
    *os << c.args.join(' ').toStdString();
}

class FailsClearly : public ::testing::TestWithParam<TFailCase> {};

TEST_P(FailsClearly, WithTheRightExitCodeAndMessage)
{
    const TCliResult r = RunKavrel(GetParam().args);
    EXPECT_EQ(r.exitCode, GetParam().exitCode) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(GetParam().mention)) << r.err.toStdString();
    EXPECT_EQ(r.out.toStdString(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FailsClearly,
    ::testing::Values(
        TFailCase{{"info", Fixture("not-riff.wav")}, 1, "not-riff.wav: not a wave file"},
        TFailCase{{"info", Fixture("mulaw-stereo.wav")},
                  1,
                  "mulaw-stereo.wav: unsupported encoding mu-law"},
        TFailCase{{"info", Fixture("empty.wav")}, 1, "empty.wav: the file is empty"},
        TFailCase{{"info", "/no/such/file.wav"}, 1, "/no/such/file.wav: cannot open the file"},
        TFailCase{{"info"}, 2, "missing argument"},
        TFailCase{{"info", "a.wav", "b.wav"}, 2, "too many arguments"},
        TFailCase{{"info", "--bogus", "a.wav"}, 2, "bogus"},
        TFailCase{{"convert", Fixture("pcm16-stereo.wav")}, 2, "missing argument"},
        TFailCase{{"convert", Fixture("rifx.wav"), "/tmp/kavrel-never-written.wav"},
                  1,
                  "rifx.wav: big-endian"},
        TFailCase{{"convert", Fixture("pcm16-stereo.wav"), "/no/such/folder/out.wav"},
                  1,
                  "/no/such/folder/out.wav: cannot create a file"}));

TEST(CliConvert, SixteenBitStereoComesOutByteForByte)
{
    QTemporaryDir folder;
    const QString out = folder.filePath("out.wav");
    const TCliResult r = RunKavrel({"convert", Fixture("pcm16-stereo.wav"), out});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out.toStdString(), "");
    EXPECT_EQ(Contents(out), Contents(Fixture("pcm16-stereo.wav")));
}

TEST(CliConvert, WritesSixteenBitsOfTheSameLength)
{
    QTemporaryDir folder;
    const QString out = folder.filePath("out.wav");
    ASSERT_EQ(RunKavrel({"convert", Fixture("float32-stereo.wav"), out}).exitCode, 0);
    const TCliResult info = RunKavrel({"info", out});
    EXPECT_EQ(info.out.toStdString(),
              "channels=2 rate=44100 frames=300 duration=0.006803 format=pcm16 truncated=no\n");
    // The float file holds the 16-bit content exactly, so the converted file is the 16-bit one.
    EXPECT_EQ(Contents(out), Contents(Fixture("pcm16-stereo.wav")));
}

TEST(CliConvert, FailureLeavesAnExistingTargetAlone)
{
    QTemporaryDir folder;
    const QString out = folder.filePath("out.wav");
    {
        QFile file(out);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("precious");
    }
    const TCliResult r = RunKavrel({"convert", Fixture("no-data.wav"), out});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("no-data.wav")) << r.err.toStdString();
    EXPECT_EQ(Contents(out), QByteArray("precious"));
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              QStringList{"out.wav"});
}

TEST(CliConvert, TruncatedInputIsConvertedWithAWarning)
{
    QTemporaryDir folder;
    const QString out = folder.filePath("out.wav");
    const TCliResult r = RunKavrel({"convert", Fixture("truncated-data.wav"), out});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.err.contains("truncated-data.wav: warning")) << r.err.toStdString();
    EXPECT_EQ(RunKavrel({"info", out}).out.toStdString(),
              "channels=2 rate=44100 frames=299 duration=0.006780 format=pcm16 truncated=no\n");
}

TEST(CliInfo, HelpIsNotAnError)
{
    const TCliResult r = RunKavrel({"info", "--help"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.out.contains("FILE")) << r.out.toStdString();
}

} // namespace
} // namespace kavrel
