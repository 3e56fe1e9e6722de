#pragma once

// The time span selected in the plots, in frames of the loaded sound: a drag from an anchor
// selects the frames between, Shift+click moves the nearer end, "[" and "]" set either end at a
// frame, and a plain click clears it. Everything stays within the sound.

#include "sound/TFrameSpan.h"

#include <cstdint>
#include <optional>

namespace kavrel {

class TTimeSelection {
public:
    // A sound of `length` frames (0: none): nothing is selected.
    void Restart(std::int64_t length) noexcept;
    std::int64_t Length() const noexcept { return m_length; }

    // The selected frames; none when nothing (or no frame) is selected.
    std::optional<TFrameSpan> Span() const noexcept;
    void Clear() noexcept { m_span = {}; }

    // A button pressed at frame: the anchor of a drag that may follow (nothing changes yet).
    void Press(std::int64_t frame) noexcept { m_anchor = Clamp(frame); }
    // The pointer dragged to frame: the frames between the anchor and it.
    void DragTo(std::int64_t frame) noexcept;
    // Shift+click at frame: the end nearer to it moves there (the anchor becomes the other end);
    // with nothing selected, the frames between `from` (where Play would start) and frame.
    void ExtendTo(std::int64_t frame, std::int64_t from) noexcept;
    // "[" at frame: the selection starts there, ending where it ended or else at the sound's
    // end. "]" likewise: ends there, starting where it started or else at frame 0. A span left
    // without frames is cleared.
    void SetFirstAt(std::int64_t frame) noexcept;
    void SetEndAt(std::int64_t frame) noexcept;

private:
    std::int64_t Clamp(std::int64_t frame) const noexcept;
    void Between(std::int64_t a, std::int64_t b) noexcept;

    std::int64_t m_length = 0;
    std::int64_t m_anchor = 0;
    TFrameSpan m_span;
};

} // namespace kavrel
