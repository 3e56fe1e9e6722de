// The plots' time selection: what each gesture leaves selected, within a sound of 1000 frames.

#include "app/view/TTimeSelection.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>

using namespace kavrel;

namespace {

using Step = std::function<void(TTimeSelection&)>;

TEST(TimeSelection, GesturesSelectClampAndClear)
{
    const auto drag = [](std::int64_t from, std::int64_t to) {
        return Step([=](TTimeSelection& s) {
            s.Press(from);
            s.DragTo(to);
        });
    };
    const auto extend = [](std::int64_t at, std::int64_t playPos) {
        return Step([=](TTimeSelection& s) { s.ExtendTo(at, playPos); });
    };
    const auto first = [](std::int64_t at) { return Step([=](auto& s) { s.SetFirstAt(at); }); };
    const auto end = [](std::int64_t at) { return Step([=](auto& s) { s.SetEndAt(at); }); };
    const Step clear = [](TTimeSelection& s) { s.Clear(); };
    struct Case {
        const char* what;
        std::vector<Step> steps;
        std::optional<TFrameSpan> span;
    };
    const Case cases[] = {
        {"nothing", {}, std::nullopt},
        {"drag right", {drag(100, 300)}, TFrameSpan{100, 300}},
        {"drag left", {drag(300, 100)}, TFrameSpan{100, 300}},
        {"drag past either end", {drag(-50, 5000)}, TFrameSpan{0, 1000}},
        {"drag back onto the anchor", {drag(100, 100)}, std::nullopt},
        {"press alone keeps the span",
         {drag(100, 300), [](auto& s) { s.Press(700); }},
         TFrameSpan{100, 300}},
        {"cleared", {drag(100, 300), clear}, std::nullopt},
        {"extend without a span: from the play position", {extend(600, 200)}, TFrameSpan{200, 600}},
        {"extend moves the nearer end", {drag(100, 300), extend(250, 0)}, TFrameSpan{100, 250}},
        {"extend moves the first end", {drag(100, 300), extend(20, 0)}, TFrameSpan{20, 300}},
        {"a Shift+drag goes on from the far end",
         {drag(100, 300), extend(20, 0), [](auto& s) { s.DragTo(350); }},
         TFrameSpan{300, 350}},
        {"[ alone: on to the end", {first(400)}, TFrameSpan{400, 1000}},
        {"] alone: from the start", {end(400)}, TFrameSpan{0, 400}},
        {"[ then ]", {first(400), end(600)}, TFrameSpan{400, 600}},
        {"] before [", {end(600), first(400)}, TFrameSpan{400, 600}},
        {"[ past the end of the span", {drag(100, 300), first(500)}, TFrameSpan{500, 1000}},
        {"] before the start of the span", {drag(100, 300), end(50)}, TFrameSpan{0, 50}},
        {"[ at the sound's end: nothing", {first(1000)}, std::nullopt},
        {"] at frame 0: nothing", {end(0)}, std::nullopt},
    };
    for (const Case& c : cases) {
        TTimeSelection s;
        s.Restart(1000);
        for (const Step& step : c.steps)
            step(s);
        EXPECT_EQ(s.Span(), c.span) << c.what;
    }
}

TEST(TimeSelection, ANewSoundClearsItAndLimitsItsFrames)
{
    TTimeSelection s;
    s.Restart(1000);
    s.Press(100);
    s.DragTo(900);
    s.Restart(500);
    EXPECT_EQ(s.Span(), std::nullopt);
    s.DragTo(800); // from the new anchor, frame 0
    EXPECT_EQ(s.Span(), (TFrameSpan{0, 500}));
    s.Restart(0);
    s.SetFirstAt(0);
    EXPECT_EQ(s.Span(), std::nullopt);
}

} // namespace
