#include "app/core/THeardTap.h"

#include <algorithm>

namespace kavrel {

struct THeardTap::TState {
    int channels = 1;
    int rate = 0;
    std::uint64_t generation = 0;
    std::vector<std::int16_t> ring; // frames × channels, frame f at slot f mod capacity
    std::int64_t capacity = 0;      // frames
    std::int64_t begin = 0;         // first kept device frame
    std::int64_t end = 0;           // one past the last

    void Record(std::int64_t start, int chans, int sampleRate, std::span<const std::int16_t> block);
};

THeardTap::THeardTap(TSoundDocument& document)
    : m_document(document), m_state(std::make_shared<TState>())
{
    TMPCPlay& player = document.MPCPlay1();
    auto inner = player.OnStash;
    // The wrapper holds the state, not the tap, so it stays valid should the tap go first.
    player.OnStash = [inner, state = m_state, &document](TMPCPlay& sender,
                                                         std::span<std::int16_t> buffer, int& count,
                                                         bool& finished) {
        if (inner)
            inner(sender, buffer, count, finished);
        const int chans = std::max(sender.nChans(), 1);
        const std::size_t values =
            std::min(static_cast<std::size_t>(std::max(count, 0)), buffer.size());
        const auto frames = static_cast<std::int64_t>(values / static_cast<std::size_t>(chans));
        state->Record(document.FedFrames() - frames, chans, sender.sfTot() / chans,
                      buffer.first(static_cast<std::size_t>(frames * chans)));
    };
}

int THeardTap::Channels() const noexcept
{
    return m_state->channels;
}

int THeardTap::Rate() const noexcept
{
    return m_state->rate;
}

std::uint64_t THeardTap::Generation() const noexcept
{
    return m_state->generation;
}

std::int64_t THeardTap::HeardFrame() const noexcept
{
    return m_document.MPCPlay1().PlayedFrames();
}

void THeardTap::Record(std::int64_t start, int channels, int rate,
                       std::span<const std::int16_t> block)
{
    m_state->Record(start, channels, rate, block);
}

void THeardTap::TState::Record(std::int64_t start, int chans, int sampleRate,
                               std::span<const std::int16_t> block)
{
    chans = std::max(chans, 1);
    const auto n = static_cast<std::size_t>(chans);
    // A block that does not follow the last one: the device opened again.
    if (start != end || chans != channels || sampleRate != rate || capacity == 0) {
        channels = chans;
        rate = sampleRate;
        capacity = std::max<std::int64_t>(static_cast<std::int64_t>(KeptSeconds * rate), 8192);
        ring.assign(static_cast<std::size_t>(capacity) * n, 0);
        begin = end = start;
        ++generation;
    }
    const auto frames = static_cast<std::int64_t>(block.size() / n);
    // In at most two runs: up to the ring's end, then on from its start.
    for (std::int64_t f = std::max<std::int64_t>(0, frames - capacity); f < frames;) {
        const std::int64_t slot = (end + f) % capacity;
        const std::int64_t run = std::min(frames - f, capacity - slot);
        std::copy_n(block.data() + static_cast<std::size_t>(f) * n,
                    static_cast<std::size_t>(run) * n,
                    ring.data() + static_cast<std::size_t>(slot) * n);
        f += run;
    }
    end += frames;
    begin = std::max(begin, end - capacity);
}

void THeardTap::Copy(std::int64_t from, std::int64_t to, std::vector<std::int16_t>& out) const
{
    const TState& s = *m_state;
    const auto chans = static_cast<std::size_t>(s.channels);
    const std::int64_t frames = std::max<std::int64_t>(to - from, 0);
    out.assign(static_cast<std::size_t>(frames) * chans, 0);
    const std::int64_t lo = std::max(from, s.begin);
    const std::int64_t hi = std::min(to, s.end);
    for (std::int64_t f = lo; f < hi;) {
        const std::int64_t slot = f % s.capacity;
        const std::int64_t run = std::min(hi - f, s.capacity - slot);
        std::copy_n(s.ring.data() + static_cast<std::size_t>(slot) * chans,
                    static_cast<std::size_t>(run) * chans,
                    out.data() + static_cast<std::size_t>(f - from) * chans);
        f += run;
    }
}

} // namespace kavrel
