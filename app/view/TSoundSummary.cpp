#include "app/view/TSoundSummary.h"

#include "sound/TWav.h"

namespace kavrel {

void TSoundSummary::Build(const TWav& wav)
{
    m_channels.resize(static_cast<std::size_t>(wav.Channels()));
    for (std::int32_t c = 0; c < wav.Channels(); ++c)
        m_channels[static_cast<std::size_t>(c)].Build(wav.ChannelSamples(c));
}

const TWaveSummary& TSoundSummary::Channel(std::int32_t channel) const noexcept
{
    static const TWaveSummary empty;
    if (channel < 0 || channel >= Channels())
        return empty;
    return m_channels[static_cast<std::size_t>(channel)];
}

bool TSoundSummary::Matches(const TWav& wav) const noexcept
{
    if (wav.Channels() != Channels())
        return false;
    for (std::int32_t c = 0; c < wav.Channels(); ++c)
        if (!m_channels[static_cast<std::size_t>(c)].Matches(wav.ChannelSamples(c)))
            return false;
    return true;
}

} // namespace kavrel
