#pragma once

// Keeps the values the playback feed hands to the player, so that the meters and the spectrum
// can show what is being heard now rather than what is being filled. It wraps the player's
// OnStash: each block is recorded under the device frame it starts at, and the device's played
// frame count says which of them is being heard.

#include "app/core/TSoundDocument.h"

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace kavrel {

class THeardTap {
public:
    // The last seconds of blocks kept: enough for the ring and the longest look back.
    static constexpr double KeptSeconds = 2.0;

    // Wraps document's player's OnStash (set it before). The document must outlive the tap's
    // use; the wrapper itself only holds shared state, so either may go first.
    explicit THeardTap(TSoundDocument& document);

    // Format of the values recorded since the device last opened (1 and 0 before any).
    int Channels() const noexcept;
    int Rate() const noexcept;
    // Changes whenever the recorded frames start afresh (the device opened again).
    std::uint64_t Generation() const noexcept;
    // The device frame being heard now (0 while not playing).
    std::int64_t HeardFrame() const noexcept;
    // Copies the interleaved values of device frames [from, to) into out (resized to fit);
    // frames no longer or not yet kept read as 0.
    void Copy(std::int64_t from, std::int64_t to, std::vector<std::int16_t>& out) const;

    // Records a block fed at device frame `start` (what the wrapper does; public for tests).
    void Record(std::int64_t start, int channels, int rate, std::span<const std::int16_t> block);

private:
    struct TState;
    TSoundDocument& m_document;
    std::shared_ptr<TState> m_state;
};

} // namespace kavrel
