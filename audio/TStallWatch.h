#pragma once
// Watches an output that should be playing for a queue that has stopped moving although the
// server answers, and says what to do about it: first make the stream afresh from the position
// heard (a server can wait for ever for a start condition after an underrun), and if that did not
// move it either, ask the owner for more sound queued (the server waits for more than it has).
// Pure logic on the caller's clock, so that it is tested without a server.

#include <chrono>
#include <cstdint>

namespace kavrel {

class TStallWatch {
public:
    using Clock = std::chrono::steady_clock;
    enum class TAction { None, Recreate, Starved };
    // A queue that has not moved for this long while the server answers has stalled. Longer
    // than two of PipeWire's longest quanta (8192 frames at 44.1 kHz), the most a server that
    // has run short waits before it plays on by itself.
    static constexpr std::chrono::milliseconds StillFor{400};

    // Forget what was seen: a new stream, a restart after a pause.
    void Restart(Clock::time_point now);
    // Called often while playing. heard: bytes heard so far (never going back); pending: bytes
    // handed to the server and not heard; answering: the server's timing news is recent.
    TAction Look(Clock::time_point now, std::int64_t heard, std::int64_t pending, bool answering);

private:
    std::int64_t m_heard = -1;
    Clock::time_point m_since;
    std::int64_t m_recreatedAt = -1; // heard position of the last Recreate, -1 if none since
};

} // namespace kavrel
