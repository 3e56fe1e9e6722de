// The test device keeps the rules of a real one, so that tests built on it catch misuse.

#include "audio/testing/TFakeWaveOutDevice.h"
#include "audio/testing/TManualEventQueue.h"

#include <gtest/gtest.h>

#include <vector>

using namespace kavrel;

namespace {

class FakeDevice : public ::testing::Test {
protected:
    void SetUp() override
    {
        format.channels = 2;
        format.samplesPerSec = 8000;
        format.blockAlign = 4;
        format.avgBytesPerSec = 32000;
        ASSERT_EQ(device.Open(TWaveOutDevice::DefaultDevice, format,
                              [this](const TWaveOutMessage& m) { messages.push_back(m); }),
                  weNoError);
        for (auto& h : headers) {
            h.data = data;
            h.bufferLength = sizeof data;
        }
    }

    TFakeWaveOutDevice device;
    TWaveFormat format;
    std::vector<TWaveOutMessage> messages;
    std::int16_t data[4] = {1, 2, 3, 4};
    TWaveHeader headers[2];
};

TEST_F(FakeDevice, KeepsTheHeaderRules)
{
    EXPECT_EQ(device.Open(-1, format, nullptr), weAllocated);
    EXPECT_EQ(device.Write(headers[0]), weUnprepared);
    ASSERT_EQ(device.PrepareHeader(headers[0]), weNoError);
    ASSERT_EQ(device.Write(headers[0]), weNoError);
    EXPECT_EQ(device.Write(headers[0]), weStillPlaying);
    headers[0].flags = TWaveHeader::Prepared; // flags cleared by a careless owner
    EXPECT_EQ(device.Write(headers[0]), weStillPlaying);
    EXPECT_EQ(device.UnprepareHeader(headers[0]), weStillPlaying);
    EXPECT_EQ(device.Close(), weStillPlaying);
    EXPECT_EQ(device.UnprepareHeader(headers[1]), weNoError) << "not prepared: no error";
    TWaveHeader odd;
    odd.data = data;
    odd.bufferLength = 3;
    EXPECT_EQ(device.PrepareHeader(odd), weInvalidParam);
}

TEST_F(FakeDevice, PlaysInQueueOrderOnlyWhenRunning)
{
    for (auto& h : headers) {
        device.PrepareHeader(h);
    }
    headers[1].user = 7;
    device.Write(headers[1]);
    device.Write(headers[0]);
    device.Pause();
    EXPECT_FALSE(device.CompleteNext());
    device.Restart();
    ASSERT_TRUE(device.CompleteNext());
    ASSERT_EQ(messages.size(), 2U); // Opened, Done
    EXPECT_EQ(messages[1].kind, TWaveOutMessageKind::Done);
    EXPECT_EQ(messages[1].header, &headers[1]);
    EXPECT_NE(headers[1].flags & TWaveHeader::Done, 0U);
    EXPECT_EQ(headers[1].flags & TWaveHeader::InQueue, 0U);
    EXPECT_EQ(device.PlayedBlocks()[0].user, 7);
    EXPECT_EQ(device.Reset(), weNoError);
    EXPECT_EQ(device.QueuedCount(), 0U);
    EXPECT_EQ(messages.back().header, &headers[0]);
    EXPECT_EQ(device.Played(), (std::vector<std::int16_t>{1, 2, 3, 4}));
    EXPECT_EQ(device.Close(), weNoError);
    EXPECT_EQ(messages.back().kind, TWaveOutMessageKind::Closed);
    EXPECT_EQ(device.Pause(), weInvalidHandle);
}

TEST_F(FakeDevice, InjectedAndLastingFailures)
{
    device.FailNext(TFakeWaveOutDevice::TOp::Prepare, weNoMem);
    EXPECT_EQ(device.PrepareHeader(headers[0]), weNoMem);
    EXPECT_EQ(device.PrepareHeader(headers[0]), weNoError);
    device.Break();
    EXPECT_EQ(messages.back().kind, TWaveOutMessageKind::Failed);
    EXPECT_EQ(messages.back().error, weDisconnected);
    EXPECT_EQ(device.Write(headers[0]), weDisconnected);
    EXPECT_EQ(device.Reset(), weNoError);
    EXPECT_EQ(device.Close(), weNoError);
    EXPECT_EQ(device.Open(-1, format, nullptr), weDisconnected);
    device.Repair();
    EXPECT_EQ(device.Open(-1, format, nullptr), weNoError);
}

TEST(ManualEventQueue, RunsTasksLaterInOrderIncludingTasksTheyPost)
{
    TManualEventQueue queue;
    std::vector<int> order;
    queue.Post([&] {
        order.push_back(1);
        queue.Post([&] { order.push_back(3); });
    });
    queue.Post([&] { order.push_back(2); });
    EXPECT_TRUE(order.empty());
    EXPECT_EQ(queue.Pending(), 2U);
    EXPECT_EQ(queue.RunAll(), 3U);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
    EXPECT_FALSE(queue.RunOne());
}

} // namespace
