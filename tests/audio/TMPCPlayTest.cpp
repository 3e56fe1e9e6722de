#include "audio/TMPCPlay.h"
#include "audio/testing/TFakeWaveOutDevice.h"
#include "audio/testing/TManualEventQueue.h"

#include <gtest/gtest.h>

#include <memory>
#include <numeric>
#include <string>
#include <vector>

using namespace kavrel;
using TOp = TFakeWaveOutDevice::TOp;

namespace {

// A player on the fake device; the feed serves 1, 2, 3 ... and finishes after `total` values
// (never when total < 0).
class Player : public ::testing::Test {
protected:
    void Make(int chunk, int buffers, int chans = 1, std::vector<std::string> names = {"Fake"})
    {
        auto device = std::make_unique<TFakeWaveOutDevice>(std::move(names));
        fake = device.get();
        player = std::make_unique<TMPCPlay>(std::move(device), queue);
        player->SetnChunkSamples(chunk);
        player->SetnBuffers(buffers);
        player->SetnChans(chans);
        player->SetsfTot(44100 * chans);
        player->OnClosed = [this](TMPCPlay& sender) {
            EXPECT_EQ(&sender, player.get());
            ++closed;
        };
        player->OnOpened = [this](TMPCPlay&) { ++opened; };
    }

    void Feed(int total)
    {
        player->OnStash = [this, total](TMPCPlay&, std::span<std::int16_t> buffer, int& count,
                                        bool& finished) {
            ++stashes;
            EXPECT_EQ(count, player->nChunkSamples());
            EXPECT_EQ(static_cast<int>(buffer.size()), player->nChunkSamples());
            int n = count;
            if (total >= 0) {
                n = std::min(n, total - next + 1);
            }
            for (int i = 0; i < n; ++i) {
                buffer[static_cast<std::size_t>(i)] = static_cast<std::int16_t>(next++);
            }
            count = n;
            finished = total >= 0 && next > total;
        };
    }

    // Plays one buffer and handles what follows from it.
    bool PlayOne()
    {
        bool played = fake->CompleteNext();
        queue.RunAll();
        return played;
    }

    std::vector<std::intptr_t> WrittenTags() const
    {
        std::vector<std::intptr_t> tags;
        for (const auto& block : fake->WrittenBlocks()) {
            tags.push_back(block.user);
        }
        return tags;
    }

    static std::vector<std::int16_t> Counting(int from, int to)
    {
        std::vector<std::int16_t> v;
        for (int i = from; i <= to; ++i) {
            v.push_back(static_cast<std::int16_t>(i));
        }
        return v;
    }

    TManualEventQueue queue;
    TFakeWaveOutDevice* fake = nullptr;
    std::unique_ptr<TMPCPlay> player;
    int next = 1;
    int stashes = 0;
    int closed = 0;
    int opened = 0;
};

TEST_F(Player, DefaultsAndFormat)
{
    TMPCPlay fresh(std::make_unique<TFakeWaveOutDevice>(), queue);
    EXPECT_EQ(fresh.nChunkSamples(), 4096);
    EXPECT_EQ(fresh.nChans(), 1);
    EXPECT_EQ(fresh.sfTot(), 16000);
    EXPECT_EQ(fresh.nBuffers(), 4);
    EXPECT_FALSE(fresh.IsOpen());
    TWaveFormat f = fresh.Format();
    EXPECT_EQ(f.formatTag, 1);
    EXPECT_EQ(f.channels, 1);
    EXPECT_EQ(f.samplesPerSec, 16000);
    EXPECT_EQ(f.bitsPerSample, 16);
    EXPECT_EQ(f.blockAlign, 2);
    EXPECT_EQ(f.avgBytesPerSec, 32000);
    EXPECT_EQ(f.extraSize, 0);
}

TEST_F(Player, FormatFollowsChannelsAndTotalRate)
{
    Make(16, 2);
    player->SetsfTot(16000);
    player->SetnChans(2);
    EXPECT_EQ(player->Format().samplesPerSec, 8000); // 16000 values/s over 2 channels
    EXPECT_EQ(player->Format().channels, 2);
    EXPECT_EQ(player->Format().blockAlign, 4);
    EXPECT_EQ(player->Format().avgBytesPerSec, 32000);
    player->SetsfTot(88200);
    EXPECT_EQ(player->Format().samplesPerSec, 44100);
    EXPECT_EQ(player->Format().avgBytesPerSec, 176400);

    Feed(-1);
    player->Start();
    EXPECT_EQ(fake->OpenedFormat(), player->Format());
    EXPECT_EQ(fake->OpenedDeviceId(), TWaveOutDevice::DefaultDevice);
}

struct TClampCase {
    const char* property;
    int given;
    int expected;
};

class PropertyClamping : public Player, public ::testing::WithParamInterface<TClampCase> {};

TEST_P(PropertyClamping, ValueIsKeptInRange)
{
    Make(16, 2);
    const auto& c = GetParam();
    std::string p = c.property;
    if (p == "nChans") {
        player->SetnChans(c.given);
        EXPECT_EQ(player->nChans(), c.expected);
        EXPECT_EQ(player->Format().channels, c.expected);
    } else if (p == "sfTot") {
        player->SetsfTot(c.given);
        EXPECT_EQ(player->sfTot(), c.expected);
    } else if (p == "nBuffers") {
        player->SetnBuffers(c.given);
        EXPECT_EQ(player->nBuffers(), c.expected);
    } else {
        player->SetnChunkSamples(c.given);
        EXPECT_EQ(player->nChunkSamples(), c.expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rules, PropertyClamping,
    ::testing::Values(TClampCase{"nChans", 0, 1}, TClampCase{"nChans", -7, 1},
                      TClampCase{"nChans", 2, 2}, TClampCase{"nChans", 100000, 32767},
                      TClampCase{"sfTot", 0, 1}, TClampCase{"sfTot", -44100, 1},
                      TClampCase{"sfTot", 88200, 88200}, TClampCase{"nBuffers", 999, 999},
                      TClampCase{"nBuffers", 1000, 1000}, TClampCase{"nBuffers", 1001, 1000},
                      TClampCase{"nBuffers", 0, 1}, TClampCase{"nBuffers", -3, 1},
                      TClampCase{"nChunkSamples", 0, 1}, TClampCase{"nChunkSamples", -1, 1},
                      TClampCase{"nChunkSamples", 4096, 4096}));

TEST_F(Player, StartWithoutHandlerIsRefused)
{
    Make(16, 2);
    try {
        player->Start();
        FAIL() << "no error";
    } catch (const EMPCPlayError& e) {
        EXPECT_STREQ(e.what(), "Nothing assigned to OnStash!");
    }
    EXPECT_FALSE(fake->IsOpen());
}

TEST_F(Player, StartQueuesEveryBufferInRingOrderWhilePaused)
{
    Make(4, 3);
    Feed(-1);
    player->Start();
    std::vector<std::string> expected = {"Open",  "Pause",   "Prepare", "Write",  "Prepare",
                                         "Write", "Prepare", "Write",   "Restart"};
    EXPECT_EQ(fake->Calls(), expected);
    EXPECT_EQ(WrittenTags(), (std::vector<std::intptr_t>{0, 1, 2}));
    EXPECT_EQ(fake->WrittenBlocks()[2].values, Counting(9, 12));
    EXPECT_TRUE(player->IsOpen());
    EXPECT_FALSE(fake->IsPaused());
    // OnOpened comes from the event loop, not from inside Start.
    EXPECT_EQ(opened, 0);
    queue.RunAll();
    EXPECT_EQ(opened, 1);
}

TEST_F(Player, EachDoneBufferIsRefilledAndQueuedBehindTheOthers)
{
    Make(4, 3, 2);
    Feed(-1);
    player->Start();
    queue.RunAll();
    fake->CompleteNext();
    EXPECT_EQ(stashes, 3) << "refilled inside the device's call";
    queue.RunAll();
    EXPECT_EQ(stashes, 4);
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(PlayOne());
    }
    EXPECT_EQ(fake->Played(), Counting(1, 84));
    std::vector<std::intptr_t> tags = WrittenTags();
    for (std::size_t i = 0; i < tags.size(); ++i) {
        EXPECT_EQ(tags[i], static_cast<std::intptr_t>(i % 3)) << "write " << i;
    }
    // What the device played is what it was given: no buffer was touched while queued.
    for (std::size_t i = 0; i < fake->PlayedBlocks().size(); ++i) {
        EXPECT_EQ(fake->PlayedBlocks()[i].values, fake->WrittenBlocks()[i].values);
    }
    EXPECT_EQ(closed, 0);
}

class EmptyAtOnce : public Player, public ::testing::WithParamInterface<int> {};

TEST_P(EmptyAtOnce, QueuesOneFrameOfSilenceThenCloses)
{
    int chans = GetParam();
    Make(8, 4, chans);
    Feed(0);
    player->Start();
    EXPECT_EQ(stashes, 1);
    ASSERT_EQ(fake->WrittenBlocks().size(), 1U);
    EXPECT_EQ(fake->WrittenBlocks()[0].values,
              std::vector<std::int16_t>(static_cast<std::size_t>(chans), 0));
    EXPECT_EQ(fake->WrittenBlocks()[0].user, TMPCPlay::FinishedTag);
    EXPECT_TRUE(player->Finished());
    queue.RunAll();
    EXPECT_EQ(closed, 0);
    ASSERT_TRUE(PlayOne());
    EXPECT_FALSE(player->IsOpen());
    EXPECT_FALSE(fake->IsOpen());
    EXPECT_EQ(closed, 1);
    EXPECT_EQ(stashes, 1);
}

INSTANTIATE_TEST_SUITE_P(Channels, EmptyAtOnce, ::testing::Values(1, 2, 6));

TEST_F(Player, FrameOfSilenceFitsEvenWhenChunkIsSmallerThanAFrame)
{
    Make(1, 2, 4);
    Feed(0);
    player->Start();
    ASSERT_EQ(fake->WrittenBlocks().size(), 1U);
    EXPECT_EQ(fake->WrittenBlocks()[0].values.size(), 4U);
}

struct TFinishCase {
    int chunk;
    int buffers;
    int total;
};

class FinishWithData : public Player, public ::testing::WithParamInterface<TFinishCase> {};

TEST_P(FinishWithData, LastBufferIsPlayedThenTheDeviceCloses)
{
    const auto& c = GetParam();
    Make(c.chunk, c.buffers);
    Feed(c.total);
    player->Start();
    queue.RunAll();
    int guard = 0;
    while (player->IsOpen() && guard++ < 1000) {
        ASSERT_TRUE(PlayOne()) << "nothing left to play, yet still open";
    }
    EXPECT_FALSE(fake->IsOpen());
    EXPECT_EQ(closed, 1);
    EXPECT_EQ(fake->Played(), Counting(1, c.total));
    ASSERT_FALSE(fake->PlayedBlocks().empty());
    EXPECT_EQ(fake->PlayedBlocks().back().user, TMPCPlay::FinishedTag);
    std::vector<std::intptr_t> tags = WrittenTags();
    EXPECT_EQ(std::count(tags.begin(), tags.end(), TMPCPlay::FinishedTag), 1);
    // The last buffer, and only it, tells the device that nothing follows.
    for (const auto& block : fake->WrittenBlocks()) {
        EXPECT_EQ(block.endOfSound, block.user == TMPCPlay::FinishedTag);
    }
    // Once finished, no buffer is asked for again.
    EXPECT_EQ(stashes, (c.total + c.chunk - 1) / c.chunk);
}

INSTANTIATE_TEST_SUITE_P(Cases, FinishWithData,
                         ::testing::Values(TFinishCase{4, 3, 10}, // ends within the first fills
                                           TFinishCase{4, 3, 12}, // ends exactly on the ring
                                           TFinishCase{4, 3, 25}, // ends in a refill
                                           TFinishCase{5, 1, 23}, TFinishCase{4, 12, 1}));

TEST_F(Player, CountIsKeptWithinTheBuffer)
{
    Make(4, 2);
    player->OnStash = [](TMPCPlay&, std::span<std::int16_t> buffer, int& count, bool&) {
        std::fill(buffer.begin(), buffer.end(), std::int16_t{7});
        count = 1000;
    };
    player->Start();
    EXPECT_EQ(fake->WrittenBlocks()[0].values.size(), 4U);

    Make(4, 2);
    player->OnStash = [](TMPCPlay&, std::span<std::int16_t>, int& count, bool&) { count = -5; };
    player->Start();
    ASSERT_EQ(fake->WrittenBlocks().size(), 1U);
    EXPECT_EQ(fake->WrittenBlocks()[0].user, TMPCPlay::FinishedTag);
}

TEST_F(Player, StopTakesEverythingBackAndClosesLater)
{
    Make(4, 3);
    Feed(-1);
    player->Start();
    queue.RunAll();
    PlayOne();
    fake->ClearRecords();
    player->Stop();
    EXPECT_FALSE(player->IsOpen());
    EXPECT_FALSE(fake->IsOpen());
    std::vector<std::string> expected = {"Reset", "Unprepare", "Unprepare", "Unprepare", "Close"};
    EXPECT_EQ(fake->Calls(), expected);
    EXPECT_EQ(closed, 0) << "OnClosed inside Stop";
    int before = stashes;
    queue.RunAll();
    EXPECT_EQ(closed, 1);
    EXPECT_EQ(stashes, before) << "a buffer returned by the reset was refilled";
    player->Close();
    queue.RunAll();
    EXPECT_EQ(closed, 1);
}

TEST_F(Player, NoticesAboutAnEarlierQueueAreIgnored)
{
    Make(4, 3);
    Feed(-1);
    player->Start();
    fake->CompleteNext();
    fake->CompleteNext();
    player->Stop();
    player->Start(); // before the loop has delivered anything
    queue.RunAll();
    EXPECT_EQ(stashes, 6);
    EXPECT_EQ(fake->QueuedCount(), 3U);
    EXPECT_EQ(closed, 1);
    EXPECT_EQ(opened, 2);
    while (fake->QueuedCount() > 0 && stashes < 20) {
        PlayOne();
    }
    EXPECT_EQ(fake->CallCount("Write"), static_cast<std::size_t>(stashes));
}

TEST_F(Player, StartWhilePlayingBeginsTheRingAgain)
{
    Make(4, 3);
    Feed(-1);
    player->Start();
    queue.RunAll();
    PlayOne();
    PlayOne();
    player->Start();
    queue.RunAll();
    EXPECT_EQ(fake->QueuedCount(), 3U);
    std::vector<std::intptr_t> tags = WrittenTags();
    EXPECT_EQ(std::vector<std::intptr_t>(tags.end() - 3, tags.end()),
              (std::vector<std::intptr_t>{0, 1, 2}));
    // 12 values at Start, two refills, then three buffers from where the feed stood.
    EXPECT_EQ(fake->WrittenBlocks().back().values, Counting(29, 32));
    EXPECT_TRUE(player->IsOpen());
    EXPECT_EQ(closed, 0);
}

TEST_F(Player, SettingsThatNeedTheDeviceClosedAreRefusedWhileOpen)
{
    Make(4, 3, 2);
    Feed(-1);
    player->Start();
    auto message = [](const std::function<void()>& f) -> std::string {
        try {
            f();
        } catch (const EMPCPlayError& e) {
            return e.what();
        }
        return "no error";
    };
    EXPECT_EQ(message([&] { player->SetnChans(1); }), "Cannot change nChans while owning board");
    EXPECT_EQ(message([&] { player->SetsfTot(1000); }), "Cannot change sfTot while owning board");
    EXPECT_EQ(message([&] { player->SetnBuffers(5); }),
              "Cannot change nBuffers while owning board");
    EXPECT_EQ(message([&] { player->SetnChunkSamples(8); }),
              "Cannot change nChunkSamples while owning board");
    EXPECT_EQ(message([&] { player->SetnBuffers(3); }), "no error");
    EXPECT_EQ(player->nChans(), 2);
    EXPECT_EQ(player->sfTot(), 88200);
    player->Stop();
    player->SetnBuffers(5);
    player->SetnChunkSamples(8);
    player->Start();
    EXPECT_EQ(fake->WrittenBlocks().back().values.size(), 8U);
    EXPECT_EQ(WrittenTags().back(), 4);
}

TEST_F(Player, OpenOnlyOnce)
{
    Make(4, 2);
    EXPECT_TRUE(player->Open());
    EXPECT_FALSE(player->Open());
    EXPECT_EQ(fake->CallCount("Open"), 1U);
}

struct TErrorCase {
    TOp op;
    int code;
    const char* prefix;
    bool onStop; // the failing call is made by Stop rather than Start
};

class DeviceErrors : public Player, public ::testing::WithParamInterface<TErrorCase> {};

TEST_P(DeviceErrors, CarryTheCallAndTheDevicesText)
{
    const auto& c = GetParam();
    Make(4, 2);
    Feed(-1);
    if (c.onStop) {
        player->Start();
    }
    fake->FailNext(c.op, c.code);
    try {
        if (c.onStop) {
            player->Stop();
        } else {
            player->Start();
        }
        FAIL() << "no error";
    } catch (const EMPCPlayError& e) {
        EXPECT_EQ(e.what(), std::string(c.prefix) + DefaultWaveErrorText(c.code));
    }
    if (!c.onStop) {
        // A failed start leaves no device open behind it.
        EXPECT_FALSE(fake->IsOpen());
        EXPECT_FALSE(player->IsOpen());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, DeviceErrors,
    ::testing::Values(TErrorCase{TOp::Open, weNoDriver, "WaveOutOpen:", false},
                      TErrorCase{TOp::Open, weBadFormat, "WaveOutOpen:", false},
                      TErrorCase{TOp::Prepare, weNoMem, "WaveOutPrepareHeader:", false},
                      TErrorCase{TOp::Write, weError, "WaveOutWrite:", false},
                      TErrorCase{TOp::Pause, weError, "WaveOutPause:", false},
                      TErrorCase{TOp::Restart, weError, "WaveOutRestart:", false},
                      TErrorCase{TOp::Reset, weInvalidHandle, "WaveOutReset:", true},
                      TErrorCase{TOp::Unprepare, weStillPlaying, "WaveOutUnPrepareHeader:", true},
                      TErrorCase{TOp::Close, weError, "WaveOutClose:", true}));

TEST_F(Player, BadFormatIsReportedByOpen)
{
    Make(4, 2, 2);
    player->SetsfTot(1); // fewer values per second than channels: rate 0
    Feed(-1);
    EXPECT_THROW(player->Start(), EMPCPlayError);
    EXPECT_FALSE(player->IsOpen());
}

// A device whose texts are long, to see them cut.
class TWordyDevice : public TFakeWaveOutDevice {
public:
    std::string ErrorText(int) const override
    {
        return std::string(100, 'a') + "\xC3\xA9" + std::string(100, 'b');
    }
};

TEST_F(Player, ErrorTextIsCutTo128Characters)
{
    TMPCPlay wordy(std::make_unique<TWordyDevice>(), queue);
    wordy.OnStash = [](TMPCPlay&, std::span<std::int16_t>, int&, bool&) {};
    wordy.SetsfTot(0);
    wordy.SetnChans(2);
    try {
        wordy.Start();
        FAIL() << "no error";
    } catch (const EMPCPlayError& e) {
        std::string text = e.what();
        EXPECT_EQ(text.rfind("WaveOutOpen:", 0), 0U);
        std::string detail = text.substr(12);
        EXPECT_LE(detail.size(), 128U);
        EXPECT_EQ(detail.substr(0, 100), std::string(100, 'a'));
        EXPECT_EQ(detail.substr(100, 2), "\xC3\xA9");
    }
}

TEST_F(Player, DeviceFailureClosesCleanlyAndTheNextStartSaysWhy)
{
    Make(4, 3);
    Feed(-1);
    player->Start();
    queue.RunAll();
    PlayOne();
    fake->Break(weDisconnected);
    EXPECT_TRUE(player->IsOpen()) << "handled inside the device's call";
    queue.RunAll();
    EXPECT_FALSE(player->IsOpen());
    EXPECT_FALSE(fake->IsOpen());
    EXPECT_EQ(closed, 1);
    EXPECT_EQ(player->LastDeviceError(), DefaultWaveErrorText(weDisconnected));
    try {
        player->Start();
        FAIL() << "no error";
    } catch (const EMPCPlayError& e) {
        EXPECT_EQ(e.what(), "WaveOutOpen:" + DefaultWaveErrorText(weDisconnected));
    }
    fake->Repair();
    player->Start();
    queue.RunAll();
    EXPECT_TRUE(player->IsOpen());
    EXPECT_TRUE(player->LastDeviceError().empty());
}

TEST_F(Player, FailureOfADeviceThatCannotEvenCloseStillEndsInOnClosed)
{
    Make(4, 3);
    Feed(-1);
    player->Start();
    queue.RunAll();
    fake->FailNext(TOp::Close, weError);
    fake->Break();
    queue.RunAll();
    EXPECT_FALSE(player->IsOpen());
    EXPECT_EQ(closed, 1);
}

TEST_F(Player, HandlerThatThrowsAtStartLeavesTheDeviceClosed)
{
    Make(4, 3);
    player->OnStash = [this](TMPCPlay&, std::span<std::int16_t>, int& count, bool&) {
        if (++stashes == 2) {
            throw std::runtime_error("feed failed");
        }
        count = 4;
    };
    EXPECT_THROW(player->Start(), std::runtime_error);
    EXPECT_FALSE(player->IsOpen());
    EXPECT_FALSE(fake->IsOpen());
    queue.RunAll();
    EXPECT_EQ(closed, 1);
}

TEST_F(Player, FailedRefillStopsThePlayer)
{
    Make(4, 3);
    Feed(-1);
    player->Start();
    queue.RunAll();
    fake->FailNext(TOp::Write, weNoMem);
    fake->CompleteNext();
    try {
        queue.RunAll();
        FAIL() << "no error";
    } catch (const EMPCPlayError& e) {
        EXPECT_EQ(e.what(), "WaveOutWrite:" + DefaultWaveErrorText(weNoMem));
    }
    EXPECT_FALSE(player->IsOpen());
    EXPECT_FALSE(fake->IsOpen());
    queue.RunAll();
    EXPECT_EQ(closed, 1);
}

TEST_F(Player, HandlerMayStopThePlayer)
{
    Make(4, 3);
    player->OnStash = [this](TMPCPlay& sender, std::span<std::int16_t>, int& count, bool&) {
        if (++stashes == 5) {
            sender.Stop();
        }
        count = 4;
    };
    player->Start();
    queue.RunAll();
    PlayOne();
    PlayOne();
    EXPECT_FALSE(player->IsOpen());
    EXPECT_EQ(fake->CallCount("Write"), 4U);
    EXPECT_EQ(closed, 1);
}

TEST_F(Player, NothingArrivesAfterThePlayerIsGone)
{
    Make(4, 3);
    Feed(-1);
    player->Start();
    fake->CompleteNext();
    player.reset();
    queue.RunAll(); // must not touch the destroyed player
    EXPECT_EQ(closed, 0);
    EXPECT_EQ(opened, 0);
}

TEST_F(Player, OnMsgSeesEveryNoticeFirst)
{
    Make(4, 2);
    Feed(-1);
    std::vector<std::string> seen;
    player->OnMsg = [&](TMPCPlay&, const TWaveOutMessage& m) {
        seen.push_back(m.kind == TWaveOutMessageKind::Opened   ? "opened"
                       : m.kind == TWaveOutMessageKind::Closed ? "closed"
                       : m.kind == TWaveOutMessageKind::Done   ? "done"
                                                               : "failed");
    };
    player->OnOpened = [&](TMPCPlay&) { seen.push_back("OnOpened"); };
    player->OnClosed = [&](TMPCPlay&) { seen.push_back("OnClosed"); };
    player->Start();
    queue.RunAll();
    PlayOne();
    player->Stop();
    queue.RunAll();
    std::vector<std::string> expected = {"opened", "OnOpened", "done",    "done",
                                         "done",   "closed",   "OnClosed"};
    EXPECT_EQ(seen, expected);
}

TEST_F(Player, DeviceNamesAreReadAtCreationAndCut)
{
    Make(4, 2, 1, {"Speakers", std::string(40, 'x'), ""});
    ASSERT_EQ(player->DeviceNames().size(), 3U);
    EXPECT_EQ(player->DeviceNames()[0], "Speakers");
    EXPECT_EQ(player->DeviceNames()[1], std::string(31, 'x'));
    EXPECT_EQ(player->DeviceNames()[2], "");
}

TEST_F(Player, ChosenOutputIsFoundByItsKeyAtEachOpenOrTheDefaultIsUsed)
{
    Make(4, 2);
    Feed(-1);
    fake->SetOutputs({"Speakers", "Headphones"}, {"sink.speakers", "sink.phones"});
    ASSERT_EQ(player->Outputs().size(), 2U);
    EXPECT_EQ(player->Outputs()[1].Key, "sink.phones");
    EXPECT_EQ(player->Outputs()[1].Description, "Headphones");

    struct TCase {
        std::vector<std::string> keys; // the outputs there are at Open
        std::string chosen;
        int opened;
        bool missing;
    };
    for (const TCase& c : {TCase{{"sink.speakers", "sink.phones"}, "sink.phones", 1, false},
                           TCase{{"sink.phones", "sink.speakers"}, "sink.phones", 0, false},
                           TCase{{"sink.speakers"}, "sink.phones", -1, true},
                           TCase{{"sink.speakers", "sink.phones"}, "", -1, false}}) {
        fake->SetOutputs(c.keys, c.keys);
        player->SetOutputKey(c.chosen);
        player->Start();
        queue.RunAll();
        EXPECT_EQ(fake->OpenedDeviceId(), c.opened) << c.chosen << " among " << c.keys.size();
        EXPECT_EQ(player->OutputMissing(), c.missing) << c.chosen << " among " << c.keys.size();
        player->Stop();
        queue.RunAll();
    }
}

} // namespace

// An output that needs more queued than the ring holds: the ring grows by buffers filled and
// queued behind the others, and the sound runs on without a gap; more than the longest ring
// stops playback with a message. Chunks of 4 values, 8 bytes; the ring holds 3, at most 1000.
struct TStarveCase {
    std::int64_t bytes;
    int ring;  // buffers in use after the notice; 0: playback stopped
    int grown; // OnRingGrown notices
};

class StarvedOutput : public Player, public ::testing::WithParamInterface<TStarveCase> {};

TEST_P(StarvedOutput, RingGrowsToWhatTheOutputNeedsOrStopsAndSaysWhy)
{
    const TStarveCase& c = GetParam();
    Make(4, 3);
    Feed(-1);
    int grown = 0;
    player->OnRingGrown = [&](TMPCPlay&) { ++grown; };
    player->Start();
    queue.RunAll();
    PlayOne();
    fake->Starve(c.bytes);
    queue.RunAll();
    EXPECT_EQ(grown, c.grown);
    EXPECT_EQ(player->Underruns(), 1);
    if (c.ring == 0) {
        EXPECT_FALSE(player->IsOpen());
        EXPECT_EQ(closed, 1);
        EXPECT_EQ(player->LastDeviceError(),
                  "the sound output needs 181 ms of sound queued to keep playing, more than the "
                  "longest ring of 90 ms");
        return;
    }
    EXPECT_EQ(player->RingBuffers(), c.ring);
    EXPECT_EQ(fake->QueuedCount(), static_cast<std::size_t>(c.ring));
    for (int i = 0; i < 3 * c.ring; ++i) {
        ASSERT_TRUE(PlayOne());
    }
    EXPECT_EQ(fake->Played(), Counting(1, 4 * (1 + 3 * c.ring)));
    // A new Open starts again from the owner's ring.
    player->Stop();
    queue.RunAll();
    player->Start();
    EXPECT_EQ(player->RingBuffers(), 3);
    EXPECT_EQ(fake->QueuedCount(), 3U);
    EXPECT_EQ(player->Underruns(), 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, StarvedOutput,
                         ::testing::Values(TStarveCase{24, 3, 0},      // fits already
                                           TStarveCase{25, 4, 1},      // a byte over: one more
                                           TStarveCase{80, 10, 1},     // the figure given
                                           TStarveCase{0, 6, 1},       // no figure: twice as long
                                           TStarveCase{16000, 0, 0})); // past the longest ring
