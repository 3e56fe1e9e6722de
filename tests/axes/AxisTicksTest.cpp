#include "axes/AxisTicks.h"

#include <gtest/gtest.h>

#include <cmath>

namespace kavrel::axisticks {
namespace {

TEST(AxisTicks, NiceNumber)
{
    struct TCase {
        double x, nice;
    };
    const TCase cases[] = {{576, 500}, {1.0 / 12, 0.1}, {1.41, 1},      {1.42, 2},
                           {3.16, 2},  {3.17, 5},       {7.07, 5},      {7.08, 10},
                           {2, 2},     {104, 100},      {0.002, 0.002}, {1e300, 1e300}};
    for (const auto& c : cases) {
        EXPECT_NEAR(NiceNumber(c.x), c.nice, c.nice * 1e-12) << c.x;
    }
    EXPECT_EQ(NiceNumber(0), 0);
    EXPECT_TRUE(std::isnan(NiceNumber(-1)));
    EXPECT_TRUE(std::isnan(NiceNumber(INFINITY)));
    EXPECT_TRUE(std::isnan(NiceNumber(NAN)));
}

TEST(AxisTicks, NextLogTickStepsThroughEachDecade)
{
    struct TCase {
        double x, next;
    };
    const TCase cases[] = {{1, 2},    {2, 3},       {9, 10},     {10, 20},
                           {90, 100}, {0.5, 0.6},   {0.1, 0.2},  {0.099, 0.1},
                           {1.5, 2},  {0.01, 0.02}, {950, 1000}, {1e-5, 2e-5}};
    for (const auto& c : cases) {
        EXPECT_NEAR(NextLogTick(c.x), c.next, c.next * 1e-9) << c.x;
    }
    EXPECT_EQ(NextLogTick(0), 0);
    EXPECT_EQ(NextLogTick(-3), 0);
}

TEST(AxisTicks, NoteNames)
{
    EXPECT_EQ(NoteName(440), "A4");
    EXPECT_EQ(NoteName(261.6), "C4");
    EXPECT_EQ(NoteName(27.5), "A0");
    EXPECT_EQ(NoteName(16.35), "C0");
    EXPECT_EQ(NoteName(466.16), "Bb4");
    EXPECT_EQ(NoteName(880), "A5");
    EXPECT_EQ(NoteName(8.2), "C-1");
    EXPECT_EQ(NoteName(0), "-");
    EXPECT_EQ(NoteName(-5), "-");
    EXPECT_EQ(PitchClass(440), 9);
    EXPECT_EQ(PitchClass(261.6), 0);
    EXPECT_EQ(PitchClass(0), -1);
}

TEST(AxisTicks, SharpsArePitchClassesOfTheBlackKeys)
{
    for (long long note = -24; note < 130; ++note) {
        const long long pc = ((note % 12) + 12) % 12;
        const bool black = pc == 1 || pc == 3 || pc == 6 || pc == 8 || pc == 10;
        EXPECT_EQ(IsSharpNote(note), black) << note;
    }
}

TEST(AxisTicks, MusicTicksWalkTheNaturalNotes)
{
    // From A4: B4, C5, D5, E5, F5, G5, A5.
    const int expected[] = {71, 72, 74, 76, 77, 79, 81};
    double f = 440;
    for (int note : expected) {
        f = NextMusicTick(f);
        EXPECT_NEAR(NoteNumber(f), note, 1e-9);
    }
    // Also below note 0 (sub-audio), each step is the next natural note.
    f = 2.0;
    double previous = NoteNumber(f);
    for (int i = 0; i < 20; ++i) {
        f = NextMusicTick(f);
        const double n = NoteNumber(f);
        EXPECT_GT(n, previous);
        EXPECT_LE(n - previous, 2.0 + 1e-9);
        EXPECT_FALSE(IsSharpNote(std::llround(n)));
        previous = n;
    }
    EXPECT_EQ(NextMusicTick(0), 0);
}

} // namespace
} // namespace kavrel::axisticks
