#include "app/view/TTimeSelection.h"

#include <algorithm>

namespace kavrel {

void TTimeSelection::Restart(std::int64_t length) noexcept
{
    m_length = std::max<std::int64_t>(length, 0);
    m_anchor = 0;
    m_span = {};
}

std::optional<TFrameSpan> TTimeSelection::Span() const noexcept
{
    if (m_span.Frames() <= 0)
        return std::nullopt;
    return m_span;
}

std::int64_t TTimeSelection::Clamp(std::int64_t frame) const noexcept
{
    return std::clamp<std::int64_t>(frame, 0, m_length);
}

void TTimeSelection::Between(std::int64_t a, std::int64_t b) noexcept
{
    a = Clamp(a);
    b = Clamp(b);
    m_span = {std::min(a, b), std::max(a, b)};
}

void TTimeSelection::DragTo(std::int64_t frame) noexcept
{
    Between(m_anchor, frame);
}

void TTimeSelection::ExtendTo(std::int64_t frame, std::int64_t from) noexcept
{
    if (!Span()) {
        m_anchor = Clamp(from);
    } else {
        // The end farther from the click stays put.
        const std::int64_t at = Clamp(frame);
        m_anchor = at - m_span.First < m_span.End - at ? m_span.End : m_span.First;
    }
    DragTo(frame);
}

void TTimeSelection::SetFirstAt(std::int64_t frame) noexcept
{
    const std::int64_t end = Span() ? m_span.End : m_length;
    m_anchor = Clamp(frame);
    m_span = {m_anchor, m_anchor < end ? end : m_length};
}

void TTimeSelection::SetEndAt(std::int64_t frame) noexcept
{
    const std::int64_t first = Span() ? m_span.First : 0;
    m_anchor = Clamp(frame);
    m_span = {first < m_anchor ? first : 0, m_anchor};
}

} // namespace kavrel
