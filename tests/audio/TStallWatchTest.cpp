#include "audio/TStallWatch.h"

#include <gtest/gtest.h>

#include <vector>

using namespace kavrel;
using TAction = TStallWatch::TAction;

namespace {

struct TLook {
    int ms;
    std::int64_t heard;
    std::int64_t pending;
    bool answering;
    TAction expected;
};

struct TStallCase {
    const char* name;
    std::vector<TLook> looks;
};

class StallWatch : public ::testing::TestWithParam<TStallCase> {};

TEST_P(StallWatch, SaysWhatToDoAboutAQueueThatStopped)
{
    TStallWatch watch;
    const auto start = TStallWatch::Clock::time_point{} + std::chrono::hours(1);
    watch.Restart(start);
    for (const TLook& look : GetParam().looks) {
        EXPECT_EQ(watch.Look(start + std::chrono::milliseconds(look.ms), look.heard, look.pending,
                             look.answering),
                  look.expected)
            << "at " << look.ms << " ms";
    }
}

constexpr auto None = TAction::None;
constexpr auto Recreate = TAction::Recreate;
constexpr auto Starved = TAction::Starved;

INSTANTIATE_TEST_SUITE_P(
    Cases, StallWatch,
    ::testing::Values(
        TStallCase{
            "MovingIsNoStall",
            {{0, 0, 100, true, None}, {200, 10, 100, true, None}, {400, 20, 100, true, None}}},
        // Still for 400 ms while answering: made afresh; still at the same place after that:
        // starved, and again a while later.
        TStallCase{"StillWhileAnswering",
                   {{0, 50, 100, true, None},
                    {399, 50, 100, true, None},
                    {400, 50, 100, true, Recreate},
                    {799, 50, 100, true, None},
                    {800, 50, 100, true, Starved},
                    {1200, 50, 100, true, Starved}}},
        // Moving on after a remedy forgets it: the next stall is made afresh first.
        TStallCase{"MovingOnForgetsTheRemedy",
                   {{0, 50, 100, true, None},
                    {400, 50, 100, true, Recreate},
                    {450, 60, 100, true, None},
                    {850, 60, 100, true, Recreate}}},
        // A silent server (frozen) is left to the silence rule; the count starts from its last
        // silence.
        TStallCase{"SilentServerIsNoStall",
                   {{0, 50, 100, true, None},
                    {1500, 50, 100, false, None},
                    {1700, 50, 100, true, None},
                    {1899, 50, 100, true, None},
                    {1900, 50, 100, true, Recreate}}},
        // Nothing left to play is no stall.
        TStallCase{"NothingPending", {{0, 50, 0, true, None}, {1000, 50, 0, true, None}}}),
    [](const auto& p) { return std::string(p.param.name); });

} // namespace
