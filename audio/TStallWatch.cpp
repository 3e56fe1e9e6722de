#include "audio/TStallWatch.h"

namespace kavrel {

void TStallWatch::Restart(Clock::time_point now)
{
    m_heard = -1;
    m_since = now;
    m_recreatedAt = -1;
}

TStallWatch::TAction TStallWatch::Look(Clock::time_point now, std::int64_t heard,
                                       std::int64_t pending, bool answering)
{
    if (heard != m_heard) {
        if (m_heard >= 0 && heard > m_recreatedAt) {
            m_recreatedAt = -1; // it moved on after the last remedy
        }
        m_heard = heard;
        m_since = now;
        return TAction::None;
    }
    // Nothing to play, or a server that does not answer (the device's silence rule sees to
    // that), is not a stall; the clock starts again.
    if (pending <= 0 || !answering) {
        m_since = now;
        return TAction::None;
    }
    if (now - m_since < StillFor) {
        return TAction::None;
    }
    m_since = now;
    if (m_recreatedAt == heard) {
        return TAction::Starved;
    }
    m_recreatedAt = heard;
    return TAction::Recreate;
}

} // namespace kavrel
