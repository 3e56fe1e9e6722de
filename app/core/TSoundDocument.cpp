#include "app/core/TSoundDocument.h"

#include "app/core/LevelAnalysis.h"
#include "app/core/Loudness.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

namespace kavrel {

namespace {

// The form's stored design of a section: both halves, F0/BW design, gain 1, 44100 Hz.
void InitSection(TFilterSection& s, double poleF0, double poleBW, double zeroF0, double zeroBW)
{
    s.SetFilterType(tfiltertype::ftboth);
    s.SetGain(1.0);
    s.SetUseF0BW(true);
    s.SetSampFreq(44100.0);
    s.SetPoleBW(poleBW);
    s.SetPoleF0(poleF0);
    s.SetZeroBW(zeroBW);
    s.SetZeroF0(zeroF0);
}

constexpr std::int64_t MaxPlayPos = std::numeric_limits<std::int32_t>::max();
// Blocks remembered for HeardPos at most, should the device stop counting.
constexpr std::size_t MaxFedBlocks = 4096;

} // namespace

TSoundDocument::TSoundDocument(std::unique_ptr<TWaveOutDevice> device, TEventPoster& poster)
    : m_mpcPlay1(std::make_unique<TMPCPlay>(std::move(device), poster))
{
    InitSection(m_filterSection1, 50.0, 50.0, 100.0, 100.0);
    InitSection(m_filterSection2, 200.0, 20.0, 200.0, 200.0);
    m_mpcPlay1->SetnChunkSamples(ChunkSamples);
    m_mpcPlay1->SetnChans(1);
    m_mpcPlay1->SetsfTot(16000);
    m_mpcPlay1->SetnBuffers(Buffers);
    m_mpcPlay1->OnStash = [this](TMPCPlay& sender, std::span<std::int16_t> buffer, int& count,
                                 bool& finished) {
        MPCPlay1Stash(sender, buffer, count, finished);
    };
    m_mpcPlay1->OnClosed = [this](TMPCPlay& sender) { MPCPlay1Closed(sender); };
}

TSoundDocument::~TSoundDocument() = default;

TFilterSection* TSoundDocument::ChannelSection(int channel) noexcept
{
    if (channel == 0)
        return &m_filterSection2;
    if (channel == 1)
        return &m_filterSection1;
    const auto extra = static_cast<std::size_t>(channel) - 2;
    return channel > 1 && extra < m_extraSections.size() ? &m_extraSections[extra] : nullptr;
}

void TSoundDocument::SetPlayPosSeconds(double seconds) noexcept
{
    const double frame = std::nearbyint(static_cast<double>(m_sourceWav.SampleRate()) * seconds);
    if (!std::isfinite(frame))
        return;
    constexpr double lo = std::numeric_limits<std::int32_t>::min();
    constexpr double hi = std::numeric_limits<std::int32_t>::max();
    m_playPos = static_cast<std::int32_t>(std::clamp(frame, lo, hi));
}

TFrameSpan TSoundDocument::LoopBounds() const noexcept
{
    const std::int64_t length =
        std::max<std::int64_t>(std::min(m_sourceWav.Length(), MaxPlayPos), 0);
    if (m_loop) {
        const std::int64_t first = std::clamp<std::int64_t>(m_loop->First, 0, length);
        const std::int64_t end = std::clamp<std::int64_t>(m_loop->End, 0, length);
        if (first < end)
            return {first, end};
    }
    return {0, length};
}

std::int32_t TSoundDocument::NextBlockPos() const noexcept
{
    const TFrameSpan loop = LoopBounds();
    return m_playPos >= loop.First && m_playPos < loop.End ? m_playPos
                                                           : static_cast<std::int32_t>(loop.First);
}

bool TSoundDocument::LoadSoundFile(const std::string& path, const TWavProgress& progress)
{
    // The reader builds the new sound completely before it replaces the old one, so a failure
    // leaves the document as it was.
    TWav sound;
    if (!sound.ReadFile(path, progress))
        return false;
    TakeSound(std::move(sound));
    return true;
}

TWav TSoundDocument::TakeSound(TWav sound)
{
    std::swap(m_sourceWav, sound);
    m_playPos = 0;
    m_loop.reset();
    // The device plays one format: a sound of another one starts the playback again on it.
    // Should it fail, the old playback is stopped all the same: Play is unchecked by the close.
    if (m_feeding && m_mpcPlay1->IsOpen() &&
        (m_sourceWav.SampleRate() != m_playRate || m_sourceWav.Channels() != m_playChans)) {
        m_feeding = false;
        m_mpcPlay1->Stop();
        StartPlay();
    }
    return sound;
}

std::string TSoundDocument::VeskSaveName(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || dot < nameStart)
        return path + "_Vesk";
    return path.substr(0, dot) + "_Vesk" + path.substr(dot);
}

TSoundDocument::TRing TSoundDocument::RingFor(std::int32_t rate, std::int32_t channels) noexcept
{
    const std::int64_t chans = std::max<std::int64_t>(channels, 1);
    const double blockFrames = std::nearbyint(std::max(rate, 1) * BlockSeconds);
    const std::int64_t frames =
        std::clamp<std::int64_t>(static_cast<std::int64_t>(blockFrames), 1,
                                 std::max<std::int64_t>(TMPCPlay::MaxChunkSamples / chans, 1));
    return {static_cast<int>(frames * chans), RingBlocks};
}

void TSoundDocument::StartPlay()
{
    Fire(OnApplyControls);
    const std::int32_t channels = m_sourceWav.Channels();
    const std::int32_t rate = m_sourceWav.SampleRate();
    if (channels <= 0 || rate <= 0) {
        // Nothing to play: Play goes back to unchecked.
        m_feeding = false;
        if (m_mpcPlay1->IsOpen())
            m_mpcPlay1->Stop();
        Fire(OnPlayStopped);
        return;
    }
    const std::int64_t sfTot = static_cast<std::int64_t>(rate) * channels;
    if (sfTot > std::numeric_limits<int>::max() || channels > TMPCPlay::MaxChans)
        throw EMPCPlayError(m_sourceWav.FileName() + ": cannot play " + std::to_string(channels) +
                            " channels at " + std::to_string(rate) + " Hz");

    m_playPos = NextBlockPos();

    // Playing already (Play pressed again before the device's close notice came back, or a
    // sound of another format opened): the device is given up and taken again for the format.
    m_feeding = false;
    if (m_mpcPlay1->IsOpen())
        m_mpcPlay1->Stop();
    const TRing ring = RingFor(rate, channels);
    m_mpcPlay1->SetsfTot(static_cast<int>(sfTot));
    m_mpcPlay1->SetnChans(channels);
    m_mpcPlay1->SetnChunkSamples(ring.chunkSamples);
    m_mpcPlay1->SetnBuffers(ring.buffers);

    m_extraSections.resize(static_cast<std::size_t>(std::max(channels - 2, 0)));
    for (TFilterSection& s : m_extraSections)
        FollowFilterSection1(s);
    m_playSections.clear();
    m_blockSectionGains.clear();
    m_blockSections.clear();
    for (int c = 0; c < channels; ++c) {
        TFilterSection* s = ChannelSection(c);
        s->SetSampFreq(static_cast<double>(rate));
        s->Reset();
        m_playSections.push_back(s);
        m_blockSectionGains.push_back(s->Gain());
        m_blockSections.push_back(*s);
    }
    m_blockRawGain = m_rawGain;
    m_blockUseFilter = m_useFilter;
    m_playChans = channels;
    m_playRate = rate;
    m_channelList.resize(static_cast<std::size_t>(channels));
    std::iota(m_channelList.begin(), m_channelList.end(), 0);
    m_readBuffer.assign(static_cast<std::size_t>(std::max(m_mpcPlay1->nChunkSamples(), 0)), 0);
    m_fed.clear();
    m_fedFrames = 0;
    m_lastHeard = m_playPos;

    m_feeding = true;
    try {
        m_mpcPlay1->Start();
    } catch (...) {
        m_feeding = false;
        throw;
    }
    Fire(OnMarkerVisible, true);
}

void TSoundDocument::StopPlay()
{
    const std::int32_t heard = HeardPos();
    const bool feeding = m_feeding;
    m_feeding = false;
    if (feeding)
        m_playPos = heard;
    m_mpcPlay1->Stop();
    Fire(OnMarkerVisible, false);
}

bool TSoundDocument::Playing() const noexcept
{
    return m_mpcPlay1->IsOpen();
}

bool TSoundDocument::FollowsDevice() const noexcept
{
    return m_feeding && !m_fed.empty() && m_mpcPlay1->IsOpen();
}

std::int32_t TSoundDocument::HeardPos() const noexcept
{
    return FollowsDevice() ? HeardPosAt(m_mpcPlay1->PlayedFrames()) : m_playPos;
}

std::int32_t TSoundDocument::HeardPosAt(std::int64_t played) const noexcept
{
    if (!FollowsDevice())
        return m_playPos;
    // The last block that starts at or before the frame being heard.
    auto it =
        std::upper_bound(m_fed.begin(), m_fed.end(), played,
                         [](std::int64_t p, const TFedBlock& b) { return p < b.deviceFrame; });
    if (it != m_fed.begin())
        --it;
    const std::int64_t offset = std::clamp<std::int64_t>(played - it->deviceFrame, 0, it->frames);
    const std::int64_t length = std::min(m_sourceWav.Length(), MaxPlayPos);
    if (length <= 0)
        return 0;
    std::int64_t pos = it->soundPos + offset;
    const TFrameSpan& loop = it->loop;
    if (pos >= loop.End && loop.End > loop.First)
        pos = loop.First + (pos - loop.End) % (loop.End - loop.First);
    // A sound opened since (of the same format) may be shorter.
    return static_cast<std::int32_t>(pos % length);
}

void TSoundDocument::UpdateMarker()
{
    const std::int32_t rate = m_sourceWav.SampleRate();
    Fire(OnMarkerValue, rate > 0 ? static_cast<double>(HeardPos()) / rate : 0.0);
}

void TSoundDocument::FollowFilterSection1(TFilterSection& s) const noexcept
{
    const TFilterSection& m = m_filterSection1;
    // The setters redesign the section, so they run only when something changed; the delay
    // line is kept either way.
    if (s.FilterType() != m.FilterType())
        s.SetFilterType(m.FilterType());
    if (s.UseF0BW() != m.UseF0BW())
        s.SetUseF0BW(m.UseF0BW());
    if (s.Gain() != m.Gain())
        s.SetGain(m.Gain());
    if (s.PoleF0() != m.PoleF0())
        s.SetPoleF0(m.PoleF0());
    if (s.PoleBW() != m.PoleBW())
        s.SetPoleBW(m.PoleBW());
    if (s.ZeroF0() != m.ZeroF0())
        s.SetZeroF0(m.ZeroF0());
    if (s.ZeroBW() != m.ZeroBW())
        s.SetZeroBW(m.ZeroBW());
    if (!m.UseF0BW()) {
        s.Seta0(m.a0());
        s.Seta1(m.a1());
        s.Seta2(m.a2());
        s.Setb0(m.b0());
        s.Setb1(m.b1());
        s.Setb2(m.b2());
    }
}

void TSoundDocument::MPCPlay1Stash(TMPCPlay& /*sender*/, std::span<std::int16_t> buffer, int& count,
                                   bool& /*finished*/)
{
    const int chans = std::max(m_playChans, 1);
    const std::size_t values =
        std::min(static_cast<std::size_t>(std::max(count, 0)), buffer.size());
    const std::size_t frames = values / static_cast<std::size_t>(chans);
    const std::size_t used = frames * static_cast<std::size_t>(chans);
    // Whole frames only, so the channels never rotate from one block to the next.
    count = static_cast<int>(used);

    // The device's clock is read once a block.
    const std::int64_t played = m_mpcPlay1->PlayedFrames();
    m_lastHeard = HeardPosAt(played);
    if (m_readBuffer.size() < used)
        m_readBuffer.resize(used);
    ReadBlock(frames, played);

    const bool overloaded = FillBlock(buffer.first(used), frames);
    Fire(OnOverload, overloaded);
    Fire(OnBlockFed);
}

void TSoundDocument::ReadBlock(std::size_t frames, std::int64_t played) noexcept
{
    const auto chans = m_channelList.size();
    const TFrameSpan loop = LoopBounds();
    std::int64_t pos = NextBlockPos();
    const std::int64_t start = pos;
    if (loop.End <= loop.First) {
        std::fill_n(m_readBuffer.begin(), frames * chans, std::int16_t{0});
    } else {
        // Up to the end of the loop, then on from its first frame in the same block: the loop
        // has no seam.
        for (std::size_t done = 0; done < frames;) {
            if (pos >= loop.End)
                pos = loop.First;
            const auto n = static_cast<std::size_t>(
                std::min<std::int64_t>(static_cast<std::int64_t>(frames - done), loop.End - pos));
            m_sourceWav.BlockExtract(
                m_channelList, pos,
                std::span<std::int16_t>(m_readBuffer.data() + done * chans, n * chans));
            done += n;
            pos += static_cast<std::int64_t>(n);
        }
    }
    m_playPos = static_cast<std::int32_t>(pos);

    // Remember where the block starts, for HeardPos; blocks heard completely are dropped.
    m_fed.push_back({m_fedFrames, start, static_cast<std::int64_t>(frames), loop});
    m_fedFrames += static_cast<std::int64_t>(frames);
    while (m_fed.size() > MaxFedBlocks || (m_fed.size() > 1 && m_fed[1].deviceFrame <= played))
        m_fed.pop_front();
}

bool TSoundDocument::FillBlock(std::span<std::int16_t> out, std::size_t frames) noexcept
{
    for (std::size_t c = 2; c < m_playSections.size(); ++c)
        FollowFilterSection1(*m_playSections[c]);

    const std::size_t chans = m_playSections.size();
    const std::int16_t* in = m_readBuffer.data();
    const bool useFilter = m_useFilter;
    // "Use filter" switched since the last block: this block fades from the one path to the
    // other.
    const bool switched = useFilter != m_blockUseFilter;
    const double step = frames > 0 ? 1.0 / static_cast<double>(frames) : 1.0;
    if (m_blockSectionGains.size() < chans)
        m_blockSectionGains.resize(chans, 1.0);
    if (m_blockSections.size() < chans)
        m_blockSections.resize(chans);
    if (m_channelIn.size() < frames) {
        m_channelIn.resize(frames);
        m_channelOut.resize(frames);
    }
    const std::span<double> channelIn(m_channelIn.data(), frames);
    const std::span<double> channelOut(m_channelOut.data(), frames);
    bool overloaded = false;
    for (std::size_t c = 0; c < chans; ++c) {
        // Each channel on its own: the filter state runs on whichever path is heard. A section
        // redesigned since the last block fades from the old design to the new one. The gain
        // goes from where the last block left it to its new value over this block, so a moved
        // slider is not heard as a step.
        TFilterSection& section = *m_playSections[c];
        const double sectionGain = section.Gain();
        const double from = useFilter ? m_blockSectionGains[c] : m_blockRawGain;
        const double to = useFilter ? sectionGain : m_rawGain;
        const double slope = to - from;
        const bool redesigned = !section.SameFilter(m_blockSections[c]);
        section.SetGain(1.0);
        if (!redesigned && !switched) {
            // The common case, one value at a time as the section filters it.
            for (std::size_t f = 0; f < frames; ++f) {
                const std::size_t i = f * chans + c;
                const double x = static_cast<double>(in[i]);
                const double filtered = section.Process(x);
                const double gain = from + slope * (static_cast<double>(f + 1) * step);
                const std::int16_t v = DitherTo16(gain * (useFilter ? filtered : x), m_dither);
                overloaded |= v > OverloadLimit || v < -OverloadLimit;
                out[i] = v;
            }
            section.SetGain(sectionGain);
        } else {
            for (std::size_t f = 0; f < frames; ++f)
                channelIn[f] = static_cast<double>(in[f * chans + c]);
            section.ProcessBlockFrom(m_blockSections[c], channelIn, channelOut);
            section.SetGain(sectionGain);
            m_blockSections[c] = section;
            if (switched) {
                overloaded |= FillSwitchBlock(out, c, frames, sectionGain);
            } else {
                for (std::size_t f = 0; f < frames; ++f) {
                    const double gain = from + slope * (static_cast<double>(f + 1) * step);
                    const double x = useFilter ? channelOut[f] : channelIn[f];
                    const std::int16_t v = DitherTo16(gain * x, m_dither);
                    overloaded |= v > OverloadLimit || v < -OverloadLimit;
                    out[f * chans + c] = v;
                }
            }
        }
        m_blockSectionGains[c] = sectionGain;
    }
    m_blockRawGain = m_rawGain;
    m_blockUseFilter = useFilter;
    return overloaded;
}

bool TSoundDocument::FillSwitchBlock(std::span<std::int16_t> out, std::size_t c, std::size_t frames,
                                     double sectionGain) noexcept
{
    // Both paths with their gains ramped as each would be, weighted from the path heard so far
    // to the one switched to.
    const std::size_t chans = m_playSections.size();
    const double step = 1.0 / static_cast<double>(frames);
    const double rawSlope = m_rawGain - m_blockRawGain;
    const double filterSlope = sectionGain - m_blockSectionGains[c];
    bool overloaded = false;
    for (std::size_t f = 0; f < frames; ++f) {
        const double t = static_cast<double>(f + 1) * step;
        const double raw = (m_blockRawGain + rawSlope * t) * m_channelIn[f];
        const double filtered = (m_blockSectionGains[c] + filterSlope * t) * m_channelOut[f];
        const double w = TFilterSection::Fade(f, frames);
        const double value =
            m_useFilter ? raw + (filtered - raw) * w : filtered + (raw - filtered) * w;
        const std::int16_t v = DitherTo16(value, m_dither);
        overloaded |= v > OverloadLimit || v < -OverloadLimit;
        out[f * chans + c] = v;
    }
    return overloaded;
}

void TSoundDocument::MPCPlay1Closed(TMPCPlay& sender)
{
    // The notice of a device closed before Play started it again: this playback goes on.
    if (sender.IsOpen())
        return;
    if (m_feeding) {
        m_feeding = false;
        m_playPos = m_lastHeard;
    }
    Fire(OnMarkerVisible, false);
    Fire(OnPlayStopped);
}

std::optional<std::string>
TSoundDocument::AnalyzeText(const std::function<bool(double)>& progress) const
{
    if (m_sourceWav.Channels() <= 0)
        return LevelText(m_sourceWav);
    std::optional<std::string> loudness = LoudnessText(m_sourceWav, progress);
    if (!loudness || (progress && !progress(1.0)))
        return std::nullopt;
    return LevelText(m_sourceWav) + *loudness;
}

bool TSoundDocument::Export(const std::string& path, const TExportProgress& progress)
{
    return Export(path, m_filterSection1, progress);
}

bool TSoundDocument::Export(const std::string& path, const TFilterSection& filter,
                            const TExportProgress& progress, const std::optional<TFrameSpan>& span)
{
    return ExportFiltered(m_sourceWav, filter, m_exportWav, path, m_exportDither, progress, span);
}

void TSoundDocument::Fire(const TNotifyEvent& event)
{
    if (event)
        event(*this);
}

void TSoundDocument::Fire(const TBoolEvent& event, bool value)
{
    if (event)
        event(*this, value);
}

void TSoundDocument::Fire(const TValueEvent& event, double value)
{
    if (event)
        event(*this, value);
}

} // namespace kavrel
