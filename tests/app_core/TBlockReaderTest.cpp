// The block reader: every block arrives whole and in order, however far behind the consumer
// releases them, and a block the ring may hold always comes, also while the reading thread waits
// for several slots to free up at once.

#include "app/core/TBlockReader.h"
#include "tests/app_core/TestSounds.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <vector>

using namespace kavrel;
using namespace kavrel::testing_sounds;

namespace {

TEST(BlockReader, EveryBlockComesInOrderHoweverFarBehindTheConsumerReleases)
{
    TScratchFolder dir;
    constexpr std::int64_t blockFrames = 100;
    constexpr std::size_t slots = 4;
    const std::size_t frames = 10 * blockFrames + 37;
    const std::vector<std::vector<std::int16_t>> data{Noise(frames, 20000, 1),
                                                      Noise(frames, 20000, 2)};
    const std::string in = dir.File("in.wav");
    ASSERT_TRUE(MakeWav(44100, data).WriteFile(in));

    // lag: blocks held before the oldest is released; slots - 1 keeps the ring full, so that
    // each block past the first slots is asked for while the reader waits for room.
    for (const std::int64_t lag : {0, 1, 3}) {
        SCOPED_TRACE("lag " + std::to_string(lag));
        TBlockReader reader(in, dir.File("out.wav"), [](std::int32_t) {
            return TBlockLayout{blockFrames, slots};
        });
        std::vector<std::int16_t> got;
        for (std::int64_t k = 0;; ++k) {
            reader.Release(k - lag);
            const std::int16_t* channels[2] = {};
            auto wait = std::async(std::launch::async, [&] { return reader.Wait(k, channels); });
            if (wait.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
                reader.Stop();
                FAIL() << "block " << k << " never came";
            }
            const std::int64_t n = wait.get();
            ASSERT_GE(n, 0);
            if (n == 0)
                break;
            got.insert(got.end(), channels[0], channels[0] + 2 * n);
        }
        ASSERT_EQ(got.size(), 2 * frames);
        for (std::size_t i = 0; i < frames; ++i)
            ASSERT_TRUE(got[2 * i] == data[0][i] && got[2 * i + 1] == data[1][i]) << i;
    }
}

} // namespace
