#pragma once

#include "app/view/TWaveSummary.h"

#include <cstdint>
#include <vector>

namespace kavrel {

class TWav;

// The min/max summaries of every channel of a sound, built when the sound is loaded. Refers to
// the sound's samples: build again after the sound changes.
class TSoundSummary {
public:
    // Summarises every channel of `wav`.
    void Build(const TWav& wav);
    void Clear() noexcept { m_channels.clear(); }

    std::int32_t Channels() const noexcept { return static_cast<std::int32_t>(m_channels.size()); }
    // The summary of one channel; an empty one (Count() 0) for a channel out of range.
    const TWaveSummary& Channel(std::int32_t channel) const noexcept;
    // Whether every channel was built from `wav`'s present sample memory.
    bool Matches(const TWav& wav) const noexcept;

private:
    std::vector<TWaveSummary> m_channels;
};

} // namespace kavrel
