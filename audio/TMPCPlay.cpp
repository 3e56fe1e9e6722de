#include "audio/TMPCPlay.h"

#include <algorithm>
#include <utility>

namespace kavrel {

namespace {

// Cuts text to at most maxBytes without splitting a UTF-8 sequence.
std::string Truncated(std::string text, std::size_t maxBytes)
{
    if (text.size() <= maxBytes) {
        return text;
    }
    std::size_t end = maxBytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
        --end;
    }
    text.resize(end);
    return text;
}

constexpr std::size_t MaxErrorText = 128;
constexpr std::size_t MaxDeviceName = 31;

} // namespace

// Stands where a hidden notification window would: the device's notices are posted to the event
// loop addressed to it, and dropped once the player is gone. The session number is advanced each
// time the player takes its queued headers back, so notices about an earlier queue are ignored.
struct TMPCPlay::TNotifyWindow {
    explicit TNotifyWindow(TMPCPlay& player) : owner(&player) {}
    TMPCPlay* owner;
    unsigned session = 0;
};

TMPCPlay::TMPCPlay(std::unique_ptr<TWaveOutDevice> device, TEventPoster& poster)
    : m_device(std::move(device)), m_poster(poster),
      m_window(std::make_shared<TNotifyWindow>(*this))
{
    if (!m_device) {
        throw EMPCPlayError("No sound output device given");
    }
    RebuildFormat();
    Reallocate();
    int count = m_device->DeviceCount();
    for (int i = 0; i < count; ++i) {
        m_deviceNames.push_back(Truncated(m_device->DeviceName(i), MaxDeviceName));
    }
}

std::vector<TMPCPlay::TOutput> TMPCPlay::Outputs() const
{
    std::vector<TOutput> outputs;
    const int count = m_device->DeviceCount();
    for (int i = 0; i < count; ++i) {
        outputs.push_back(TOutput{m_device->DeviceKey(i), m_device->DeviceName(i)});
    }
    return outputs;
}

TMPCPlay::~TMPCPlay()
{
    m_window.reset();
    if (m_open) {
        ForceClose();
    }
}

void TMPCPlay::SetnChunkSamples(int value)
{
    value = std::clamp(value, 1, MaxChunkSamples);
    if (value == m_nChunkSamples) {
        return;
    }
    if (m_open) {
        throw EMPCPlayError("Cannot change nChunkSamples while owning board");
    }
    m_nChunkSamples = value;
    Reallocate();
}

void TMPCPlay::SetnChans(int value)
{
    if (m_open) {
        throw EMPCPlayError("Cannot change nChans while owning board");
    }
    m_nChans = std::clamp(value, 1, MaxChans);
    RebuildFormat();
    Reallocate();
}

void TMPCPlay::SetsfTot(int value)
{
    if (m_open) {
        throw EMPCPlayError("Cannot change sfTot while owning board");
    }
    m_sfTot = std::max(value, 1);
    RebuildFormat();
}

void TMPCPlay::SetnBuffers(int value)
{
    value = std::clamp(value, 1, MaxBuffers);
    if (value == m_nBuffers) {
        return;
    }
    if (m_open) {
        throw EMPCPlayError("Cannot change nBuffers while owning board");
    }
    m_nBuffers = value;
    Reallocate();
}

void TMPCPlay::RebuildFormat()
{
    m_format.formatTag = 1;
    m_format.channels = m_nChans;
    m_format.samplesPerSec = m_sfTot / m_nChans;
    m_format.bitsPerSample = 16;
    m_format.blockAlign = m_nChans * 2;
    m_format.avgBytesPerSec = std::int64_t{m_nChans} * m_format.samplesPerSec * 2;
    m_format.extraSize = 0;
}

void TMPCPlay::Reallocate()
{
    // Room for at least one frame, which is what an empty last buffer is played as.
    auto size = static_cast<std::size_t>(std::max(m_nChunkSamples, m_nChans));
    auto n = static_cast<std::size_t>(m_nBuffers);
    m_buffers.assign(n, std::vector<std::int16_t>(size, 0));
    m_headers.assign(n, TWaveHeader{});
}

TWaveOutNotify TMPCPlay::MakeNotify()
{
    std::weak_ptr<TNotifyWindow> weak = m_window;
    TEventPoster* poster = &m_poster;
    return [weak, poster](const TWaveOutMessage& message) {
        auto window = weak.lock();
        if (!window) {
            return;
        }
        unsigned session = window->session;
        poster->Post([weak, message, session] {
            if (auto target = weak.lock()) {
                target->owner->HandleMessage(message, session);
            }
        });
    };
}

void TMPCPlay::Start()
{
    if (!OnStash) {
        throw EMPCPlayError("Nothing assigned to OnStash!");
    }
    m_finished = false;
    if (m_open) {
        // Playing already: take the queued buffers back before they are filled again.
        Check(m_device->Reset(), "WaveOutReset:");
        ++m_window->session;
        for (auto& header : m_headers) {
            Check(m_device->UnprepareHeader(header), "WaveOutUnPrepareHeader:");
        }
    } else if (!Open()) {
        throw EMPCPlayError("Could not aquire board");
    }
    try {
        Check(m_device->Pause(), "WaveOutPause:");
        for (int k = 0; k < RingBuffers() && m_open; ++k) {
            FillBuffer(k);
        }
        if (m_open) {
            Check(m_device->Restart(), "WaveOutRestart:");
        }
    } catch (...) {
        // Leave no half-queued, paused device behind.
        if (m_open) {
            ForceClose();
        }
        throw;
    }
}

bool TMPCPlay::Open()
{
    if (m_open) {
        return false;
    }
    if (RingBuffers() != m_nBuffers) {
        Reallocate(); // a ring grown for the last output starts again from its own size
    }
    m_deviceId = TWaveOutDevice::DefaultDevice;
    m_outputMissing = false;
    if (!m_outputKey.empty()) {
        const std::vector<TOutput> outputs = Outputs();
        const auto found = std::find_if(outputs.begin(), outputs.end(),
                                        [&](const TOutput& o) { return o.Key == m_outputKey; });
        if (found != outputs.end()) {
            m_deviceId = static_cast<int>(found - outputs.begin());
        }
        m_outputMissing = found == outputs.end();
    }
    int result = m_device->Open(m_deviceId, m_format, MakeNotify());
    if (result != weNoError) {
        throw EMPCPlayError("WaveOutOpen:" + ErrorTextOf(result));
    }
    m_open = true;
    m_lastDeviceError.clear();
    return true;
}

void TMPCPlay::Stop()
{
    Close();
}

void TMPCPlay::Close()
{
    if (!m_open) {
        return;
    }
    Check(m_device->Reset(), "WaveOutReset:");
    ++m_window->session;
    for (auto& header : m_headers) {
        Check(m_device->UnprepareHeader(header), "WaveOutUnPrepareHeader:");
    }
    Check(m_device->Close(), "WaveOutClose:");
    m_open = false;
}

void TMPCPlay::ForceClose()
{
    m_device->Reset();
    if (m_window) {
        ++m_window->session;
    }
    for (auto& header : m_headers) {
        m_device->UnprepareHeader(header);
    }
    int result = m_device->Close();
    m_open = false;
    if (result != weNoError && m_window) {
        // The device could not even close; tell the owner it is closed all the same.
        MakeNotify()({TWaveOutMessageKind::Closed, nullptr, 0});
    }
}

void TMPCPlay::FillBuffer(int k)
{
    if (m_finished) {
        return;
    }
    auto index = static_cast<std::size_t>(k);
    auto& buffer = m_buffers[index];
    int count = m_nChunkSamples;
    if (OnStash) {
        std::span<std::int16_t> chunk(buffer.data(), static_cast<std::size_t>(m_nChunkSamples));
        OnStash(*this, chunk, count, m_finished);
    } else {
        count = 0;
    }
    if (!m_open) {
        return;
    }
    count = std::clamp(count, 0, m_nChunkSamples);
    if (count == 0) {
        m_finished = true;
        count = m_nChans;
        std::fill_n(buffer.begin(), count, std::int16_t{0});
    }
    TWaveHeader& header = m_headers[index];
    header.data = buffer.data();
    header.bufferLength = static_cast<std::uint32_t>(count) * 2U;
    header.flags = m_finished ? TWaveHeader::EndOfSound : 0U;
    header.loops = 1;
    header.user = m_finished ? FinishedTag : k;
    Check(m_device->PrepareHeader(header), "WaveOutPrepareHeader:");
    Check(m_device->Write(header), "WaveOutWrite:");
}

void TMPCPlay::HandleMessage(const TWaveOutMessage& message, unsigned session)
{
    if (OnMsg) {
        OnMsg(*this, message);
    }
    bool current = m_open && session == m_window->session;
    switch (message.kind) {
    case TWaveOutMessageKind::Opened:
        Fire(OnOpened);
        break;
    case TWaveOutMessageKind::Closed:
        Fire(OnClosed);
        break;
    case TWaveOutMessageKind::Done: {
        if (!current) {
            break;
        }
        auto it = std::find_if(m_headers.begin(), m_headers.end(),
                               [&](const TWaveHeader& h) { return &h == message.header; });
        if (it == m_headers.end()) {
            break;
        }
        if (it->user == FinishedTag) {
            Check(m_device->UnprepareHeader(*it), "WaveOutUnPrepareHeader:");
            Close();
            break;
        }
        try {
            Check(m_device->UnprepareHeader(*it), "WaveOutUnPrepareHeader:");
            FillBuffer(static_cast<int>(it - m_headers.begin()));
        } catch (...) {
            // A ring that has lost a buffer would play on with a gap each round: stop instead,
            // so the owner hears of it through OnClosed as well as through the error.
            if (m_open) {
                ForceClose();
            }
            throw;
        }
        break;
    }
    case TWaveOutMessageKind::Starved:
        if (current) {
            GrowRing(message.bytes);
        }
        break;
    case TWaveOutMessageKind::Failed:
        if (current) {
            m_lastDeviceError = ErrorTextOf(message.error);
            ForceClose();
        }
        break;
    }
}

double TMPCPlay::RingSeconds() const
{
    return static_cast<double>(RingBuffers()) * m_nChunkSamples / m_sfTot;
}

void TMPCPlay::GrowRing(std::int64_t bytes)
{
    // What the output must hold (the server's figure has room for a refill already); without a
    // figure, twice what the ring holds.
    const std::int64_t chunkBytes = std::int64_t{m_nChunkSamples} * 2;
    const std::int64_t ring = RingBuffers();
    const std::int64_t want = bytes > 0 ? (bytes + chunkBytes - 1) / chunkBytes : 2 * ring;
    if (want <= ring || m_finished) {
        return;
    }
    const auto limit = std::min<std::int64_t>(
        MaxBuffers, std::max<std::int64_t>(1, static_cast<std::int64_t>(MaxRingSeconds * m_sfTot) /
                                                  m_nChunkSamples));
    if (want > limit) {
        const auto ms = [&](std::int64_t buffers) {
            return std::to_string(buffers * m_nChunkSamples * 1000 / m_sfTot);
        };
        m_lastDeviceError = "the sound output needs " + ms(want) +
                            " ms of sound queued to keep playing, more than the longest ring of " +
                            ms(limit) + " ms";
        ForceClose();
        return;
    }
    const auto size = m_buffers.front().size();
    try {
        for (auto k = static_cast<int>(ring); k < want && m_open && !m_finished; ++k) {
            m_buffers.emplace_back(size, std::int16_t{0});
            m_headers.emplace_back();
            FillBuffer(k);
        }
    } catch (...) {
        // A buffer that could not be queued would leave a gap each round, as in the refill.
        if (m_open) {
            ForceClose();
        }
        throw;
    }
    Fire(OnRingGrown);
}

std::string TMPCPlay::ErrorTextOf(int result) const
{
    return Truncated(m_device->ErrorText(result), MaxErrorText);
}

void TMPCPlay::Check(int result, const char* what) const
{
    if (result != weNoError) {
        throw EMPCPlayError(what + ErrorTextOf(result));
    }
}

void TMPCPlay::Fire(const TNotifyEvent& event)
{
    if (event) {
        event(*this);
    }
}

} // namespace kavrel
