#include "audio/pulse/TPulseWaveOutDevice.h"

#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/operation.h>
#include <pulse/proplist.h>
#include <pulse/stream.h>
#include <pulse/timeval.h>

#include <algorithm>
#include <utility>

namespace kavrel {

namespace {

// The played position is read when the next buffer is due to have been heard, and at least this
// often besides, for the stall watch and the server's timing.
constexpr int LookMs = 50;
// A buffer heard this soon before the next one comes back with it, this much later at most.
constexpr int PairMs = 12;
constexpr int RememberFailureMs = 3000; // a failed connect is not tried again for this long
constexpr int StallMs = 1000;           // a tick this late: the UI thread itself was busy
// Silence after the end of the sound, besides the server's buffer (over a quantum).
constexpr int TailSilenceMs = 300;
// The end of the sound is reported heard only once this much of the silence after it has been:
// PipeWire reports a quantum as played when it takes it, before the sink has played it, and a
// stream dropped at that moment loses it.
constexpr int TailHoldMs = 150;
constexpr int RequestMs = 20;    // the server asks for data in pieces this long
constexpr int RefillMs = 30;     // while sound waits here, the server is topped up this often
constexpr int TimingMs = 100;    // timing asked for this often while a stream plays
constexpr int AnsweringMs = 300; // timing news this recent: the server answers
// The server-side buffer asked for: what the player's ring holds by default. A server that needs
// more raises it and says so.
constexpr int AskedBufferMs = 100;
constexpr int MostAskedMs = 10000; // however often it ran out
constexpr int MaxChannels = 32;    // what the sound server handles

std::int64_t BytesOfMs(const TWaveFormat& f, int ms)
{
    return std::int64_t{f.samplesPerSec} * ms / 1000 * f.blockAlign;
}

bool ValidFormat(const TWaveFormat& f)
{
    return f.formatTag == 1 && f.bitsPerSample == 16 && f.channels >= 1 &&
           f.channels <= MaxChannels && f.samplesPerSec >= 1 && f.samplesPerSec <= 384000 &&
           f.blockAlign == f.channels * 2 &&
           f.avgBytesPerSec == std::int64_t{f.blockAlign} * f.samplesPerSec && f.extraSize == 0;
}

std::string ServerError(pa_context* context)
{
    return pa_strerror(context != nullptr ? pa_context_errno(context) : PA_ERR_UNKNOWN);
}

void Forget(pa_operation* operation)
{
    if (operation != nullptr) {
        pa_operation_unref(operation);
    }
}

} // namespace

TPulseWaveOutDevice::TPulseWaveOutDevice()
{
    m_tick.setTimerType(Qt::PreciseTimer);
    m_tick.setSingleShot(true);
    QObject::connect(&m_tick, &QTimer::timeout, [this] {
        Tick();
        ArmTick();
    });
    m_pumpSoon.setSingleShot(true);
    m_pumpSoon.setInterval(0);
    QObject::connect(&m_pumpSoon, &QTimer::timeout, [this] { PumpNow(); });
    // While the tick runs, the server's news waits for it, so that the server's requests for
    // more, which the tick's refills answer anyway, do not wake the program a second time; a
    // reply that is awaited (the played position above all, which libpulse times by its
    // arrival) is read as it comes.
    m_loop.SetInputHold([this] {
        return m_ticking && m_context != nullptr && pa_context_is_pending(m_context) == 0;
    });
}

TPulseWaveOutDevice::~TPulseWaveOutDevice()
{
    m_notify = nullptr;
    StopTick();
    DropContext();
}

int TPulseWaveOutDevice::Connect()
{
    if (m_context != nullptr && m_contextReady) {
        return weNoError;
    }
    DropContext();
    if (!m_connectError.empty() &&
        Clock::now() - m_connectErrorAt < std::chrono::milliseconds(RememberFailureMs)) {
        m_lastDetail = m_connectError;
        return weNoDriver;
    }
    m_connectError.clear();
    pa_proplist* props = pa_proplist_new();
    pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "Kavrel");
    pa_proplist_sets(props, PA_PROP_APPLICATION_ID, "kavrel");
    pa_proplist_sets(props, PA_PROP_APPLICATION_ICON_NAME, "kavrel");
    m_context = pa_context_new_with_proplist(m_loop.Api(), "Kavrel", props);
    pa_proplist_free(props);
    if (m_context == nullptr) {
        m_lastDetail = "could not set up a connection to the sound server";
        return weNoDriver;
    }
    pa_context_set_state_callback(m_context, &OnContextState, this);
    bool settled = false;
    if (pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0) {
        settled = m_loop.RunUntil(
            [this] {
                pa_context_state_t state = pa_context_get_state(m_context);
                return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
            },
            WaitMs);
    } else {
        settled = true;
    }
    if (settled && pa_context_get_state(m_context) == PA_CONTEXT_READY) {
        m_contextReady = true;
        return weNoError;
    }
    m_lastDetail = settled
                       ? "could not connect to the sound server (" + ServerError(m_context) + ")"
                       : "the sound server did not answer within 2 s";
    DropContext();
    m_connectError = m_lastDetail;
    m_connectErrorAt = Clock::now();
    return weNoDriver;
}

void TPulseWaveOutDevice::DropContext()
{
    DropStream();
    if (m_context == nullptr) {
        return;
    }
    pa_context_set_state_callback(m_context, nullptr, nullptr);
    pa_context_disconnect(m_context);
    pa_context_unref(m_context);
    m_context = nullptr;
    m_contextReady = false;
}

int TPulseWaveOutDevice::ReadSinks()
{
    if (int result = Connect(); result != weNoError) {
        m_sinks.clear();
        return result;
    }
    struct TRead {
        std::vector<TSink> sinks;
        bool done = false;
    } read;
    pa_operation* operation = pa_context_get_sink_info_list(
        m_context,
        [](pa_context*, const pa_sink_info* info, int eol, void* data) {
            auto& r = *static_cast<TRead*>(data);
            if (eol != 0 || info == nullptr) {
                r.done = true;
                return;
            }
            const char* name = info->name != nullptr ? info->name : "";
            r.sinks.push_back({name, info->description != nullptr ? info->description : name});
        },
        &read);
    if (operation == nullptr) {
        m_lastDetail = "could not read the sound server's outputs (" + ServerError(m_context) + ")";
        return weNoDriver;
    }
    bool settled = m_loop.RunUntil(
        [&] { return read.done || pa_operation_get_state(operation) != PA_OPERATION_RUNNING; },
        WaitMs);
    if (!settled) {
        pa_operation_cancel(operation); // the callback must not see `read` after this
    }
    pa_operation_unref(operation);
    if (!settled) {
        m_lastDetail = "the sound server did not answer within 2 s";
        m_contextReady = false;
        m_connectError = m_lastDetail;
        m_connectErrorAt = Clock::now();
        return weNoDriver;
    }
    if (!read.done) {
        m_lastDetail = "the sound server went away";
        return weNoDriver;
    }
    m_sinks = std::move(read.sinks);
    return weNoError;
}

int TPulseWaveOutDevice::DeviceCount() const
{
    // The list is read from the server when asked; the device itself is not changed by it.
    auto& self = const_cast<TPulseWaveOutDevice&>(*this);
    if (self.ReadSinks() != weNoError) {
        return 0;
    }
    return static_cast<int>(m_sinks.size());
}

std::string TPulseWaveOutDevice::DeviceName(int index) const
{
    if (index < 0 || static_cast<std::size_t>(index) >= m_sinks.size()) {
        return {};
    }
    return m_sinks[static_cast<std::size_t>(index)].description;
}

std::string TPulseWaveOutDevice::DeviceKey(int index) const
{
    if (index < 0 || static_cast<std::size_t>(index) >= m_sinks.size()) {
        return {};
    }
    return m_sinks[static_cast<std::size_t>(index)].name;
}

int TPulseWaveOutDevice::Open(int deviceId, const TWaveFormat& format, TWaveOutNotify notify)
{
    if (m_open) {
        return weAllocated;
    }
    m_lastDetail.clear();
    if (!ValidFormat(format)) {
        return weBadFormat;
    }
    if (deviceId == DefaultDevice) {
        m_sinkName.clear();
    } else {
        if (deviceId < 0) {
            return weBadDeviceId;
        }
        if (m_sinks.empty()) {
            if (int result = ReadSinks(); result != weNoError) {
                return result;
            }
        }
        if (static_cast<std::size_t>(deviceId) >= m_sinks.size()) {
            return weBadDeviceId;
        }
        m_sinkName = m_sinks[static_cast<std::size_t>(deviceId)].name;
    }
    m_format = format;
    m_paused = false;
    m_failed = false;
    m_streamPos = 0;
    m_soundEnd = 0;
    m_silenceLeft = 0;
    m_heard = 0;
    m_needTold = 0;
    m_askBytes = std::max<std::int64_t>(BytesOfMs(m_format, AskedBufferMs), m_format.blockAlign);
    m_underruns = 0;
    m_recoveries = 0;
    if (int result = MakeStream(); result != weNoError) {
        return result;
    }
    m_open = true;
    m_notify = std::move(notify);
    if (m_notify) {
        m_notify({TWaveOutMessageKind::Opened, nullptr, 0});
    }
    FollowBufferAttr();
    return weNoError;
}

int TPulseWaveOutDevice::MakeStream()
{
    if (int result = Connect(); result != weNoError) {
        return result;
    }
    pa_sample_spec sampleSpec{};
    sampleSpec.format = PA_SAMPLE_S16LE;
    sampleSpec.rate = static_cast<std::uint32_t>(m_format.samplesPerSec);
    sampleSpec.channels = static_cast<std::uint8_t>(m_format.channels);
    pa_channel_map map{};
    pa_channel_map_init_extend(&map, sampleSpec.channels, PA_CHANNEL_MAP_DEFAULT);
    m_stream = pa_stream_new(m_context, "Playback", &sampleSpec, &map);
    if (m_stream == nullptr) {
        m_lastDetail =
            "the sound server does not take this format (" + ServerError(m_context) + ")";
        return weBadFormat;
    }
    pa_stream_set_state_callback(m_stream, &OnStreamState, this);
    pa_stream_set_write_callback(m_stream, &OnStreamWrite, this);
    pa_stream_set_latency_update_callback(m_stream, &OnTimingNews, this);
    pa_stream_set_buffer_attr_callback(m_stream, &OnBufferAttr, this);
    pa_stream_set_underflow_callback(m_stream, &OnUnderflow, this);

    const pa_buffer_attr attr = AskedAttr();
    auto flags = static_cast<pa_stream_flags_t>(
        PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_EARLY_REQUESTS |
        (m_paused ? PA_STREAM_START_CORKED : 0));
    const char* sink = m_sinkName.empty() ? nullptr : m_sinkName.c_str();
    bool settled = true;
    if (pa_stream_connect_playback(m_stream, sink, &attr, flags, nullptr, nullptr) >= 0) {
        settled = m_loop.RunUntil(
            [this] {
                pa_stream_state_t state = pa_stream_get_state(m_stream);
                return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
            },
            WaitMs);
    }
    if (settled && pa_stream_get_state(m_stream) == PA_STREAM_READY) {
        m_streamReady = true;
        m_streamBase = m_streamPos;
        m_lastNews = m_lastTick = Clock::now();
        m_stall.Restart(m_lastNews);
        ArmTick();
        return weNoError;
    }
    if (settled) {
        m_lastDetail = "the sound server refused the stream (" + ServerError(m_context) + ")";
        DropStream();
        return pa_context_errno(m_context) == PA_ERR_NOENTITY ? weBadDeviceId : weNoDriver;
    }
    m_lastDetail = "the sound server did not answer within 2 s";
    DropContext();
    m_connectError = m_lastDetail;
    m_connectErrorAt = Clock::now();
    return weNoDriver;
}

pa_buffer_attr TPulseWaveOutDevice::AskedAttr() const
{
    // The server holds about what the ring holds, starts at the first frame, and asks for data
    // in short pieces, which also keeps its own device buffer short.
    const auto frame = static_cast<std::uint32_t>(m_format.blockAlign);
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<std::uint32_t>(-1);
    attr.tlength = static_cast<std::uint32_t>(m_askBytes);
    attr.prebuf = frame;
    attr.minreq = static_cast<std::uint32_t>(
        std::max<std::int64_t>(frame, BytesOfMs(m_format, RequestMs)));
    attr.fragsize = static_cast<std::uint32_t>(-1);
    return attr;
}

void TPulseWaveOutDevice::DropStream()
{
    StopTick();
    if (m_timingRequest != nullptr) {
        pa_operation_unref(m_timingRequest);
        m_timingRequest = nullptr;
    }
    if (m_stream == nullptr) {
        return;
    }
    pa_stream_set_state_callback(m_stream, nullptr, nullptr);
    pa_stream_set_write_callback(m_stream, nullptr, nullptr);
    pa_stream_set_latency_update_callback(m_stream, nullptr, nullptr);
    pa_stream_set_buffer_attr_callback(m_stream, nullptr, nullptr);
    pa_stream_set_underflow_callback(m_stream, nullptr, nullptr);
    if (PA_STREAM_IS_GOOD(pa_stream_get_state(m_stream))) {
        pa_stream_disconnect(m_stream);
    }
    pa_stream_unref(m_stream);
    m_stream = nullptr;
    m_streamReady = false;
}

int TPulseWaveOutDevice::PrepareHeader(TWaveHeader& header)
{
    if (!m_open) {
        return weInvalidHandle;
    }
    if (m_failed) {
        return weDisconnected;
    }
    if (header.data == nullptr || header.bufferLength == 0 || header.bufferLength % 2 != 0) {
        return weInvalidParam;
    }
    header.flags |= TWaveHeader::Prepared;
    return weNoError;
}

bool TPulseWaveOutDevice::Holds(const TWaveHeader& header) const
{
    return std::any_of(m_queue.begin(), m_queue.end(),
                       [&](const TQueued& q) { return q.header == &header; });
}

int TPulseWaveOutDevice::UnprepareHeader(TWaveHeader& header)
{
    if (!m_open) {
        return weInvalidHandle;
    }
    if (Holds(header)) {
        return weStillPlaying;
    }
    header.flags &= ~TWaveHeader::Prepared;
    return weNoError;
}

int TPulseWaveOutDevice::Write(TWaveHeader& header)
{
    if (!m_open) {
        return weInvalidHandle;
    }
    if (m_failed) {
        return weDisconnected;
    }
    if ((header.flags & TWaveHeader::Prepared) == 0) {
        return weUnprepared;
    }
    if (Holds(header)) {
        return weStillPlaying;
    }
    if (m_stream == nullptr) {
        if (int result = MakeStream(); result != weNoError) {
            return result;
        }
    }
    header.flags = (header.flags & ~TWaveHeader::Done) | TWaveHeader::InQueue;
    m_queue.push_back({&header, -1, -1});
    m_silenceLeft = 0;
    // The buffers that come back together are refilled together: one write to the server for
    // all of them, once the owner has refilled them all.
    if (m_awaitedRefills > 0 && --m_awaitedRefills == 0) {
        m_pumpSoon.stop();
        PumpNow();
    } else if (!m_pumpSoon.isActive()) {
        m_pumpSoon.start();
    }
    return weNoError;
}

void TPulseWaveOutDevice::Cork(bool cork)
{
    if (m_stream != nullptr && m_streamReady) {
        Forget(pa_stream_cork(m_stream, cork ? 1 : 0, nullptr, nullptr));
    }
}

int TPulseWaveOutDevice::Pause()
{
    if (!m_open) {
        return weInvalidHandle;
    }
    if (m_failed) {
        return weDisconnected;
    }
    if (!m_paused) {
        m_paused = true;
        Cork(true);
    }
    return weNoError;
}

int TPulseWaveOutDevice::Restart()
{
    if (!m_open) {
        return weInvalidHandle;
    }
    if (m_failed) {
        return weDisconnected;
    }
    if (m_paused) {
        m_paused = false;
        Cork(false);
        m_lastNews = Clock::now();
        m_stall.Restart(m_lastNews);
    }
    Pump();
    ArmTick();
    return weNoError;
}

int TPulseWaveOutDevice::Reset()
{
    if (!m_open) {
        return weInvalidHandle;
    }
    // Drop what the server still holds; a fresh stream is made when data comes again.
    DropStream();
    m_streamPos = 0;
    m_soundEnd = 0;
    m_silenceLeft = 0;
    m_heard = 0;
    auto queue = std::move(m_queue);
    m_queue.clear();
    m_unwritten = 0;
    m_offset = 0;
    m_awaitedRefills = 0;
    for (const TQueued& q : queue) {
        q.header->flags = (q.header->flags & ~TWaveHeader::InQueue) | TWaveHeader::Done;
        if (m_notify) {
            m_notify({TWaveOutMessageKind::Done, q.header, 0});
        }
    }
    return weNoError;
}

int TPulseWaveOutDevice::Close()
{
    if (!m_open) {
        return weInvalidHandle;
    }
    if (!m_queue.empty()) {
        return weStillPlaying;
    }
    DropStream();
    m_open = false;
    m_failed = false;
    m_paused = false;
    m_streamPos = 0;
    m_soundEnd = 0;
    m_heard = 0;
    auto notify = std::move(m_notify);
    m_notify = nullptr;
    if (notify) {
        notify({TWaveOutMessageKind::Closed, nullptr, 0});
    }
    return weNoError;
}

std::string TPulseWaveOutDevice::ErrorText(int code) const
{
    std::string text = DefaultWaveErrorText(code);
    if (code != weNoError && !m_lastDetail.empty()) {
        text.pop_back(); // the full stop
        text += ": " + m_lastDetail + ".";
    }
    return text;
}

std::int64_t TPulseWaveOutDevice::HeardBytes() const
{
    if (m_stream == nullptr || !m_streamReady) {
        return m_heard;
    }
    pa_usec_t usec = 0;
    if (pa_stream_get_time(m_stream, &usec) < 0) {
        return m_heard;
    }
    // From the stream's own start, then moved to the device's positions.
    const auto us = static_cast<std::int64_t>(usec);
    const std::int64_t rate = m_format.samplesPerSec;
    std::int64_t bytes =
        (us / 1000000 * rate + us % 1000000 * rate / 1000000) * m_format.blockAlign;
    // Never past the server's read index, carried forward from its last report while it plays.
    if (const pa_timing_info* timing = pa_stream_get_timing_info(m_stream);
        timing != nullptr && timing->read_index_corrupt == 0) {
        std::int64_t readIndex = timing->read_index;
        if (timing->playing != 0) {
            const auto age = static_cast<std::int64_t>(pa_timeval_age(&timing->timestamp));
            readIndex +=
                (age / 1000000 * rate + age % 1000000 * rate / 1000000) * m_format.blockAlign;
        }
        bytes = std::min(bytes, readIndex);
    }
    bytes = std::min(bytes + m_streamBase, m_streamPos);
    m_heard = std::max(m_heard, bytes);
    return m_heard;
}

std::int64_t TPulseWaveOutDevice::PlayedFrames() const
{
    if (!m_open) {
        return 0;
    }
    return std::min(HeardBytes(), m_soundEnd) / m_format.blockAlign;
}

std::int64_t TPulseWaveOutDevice::ServerBufferBytes() const
{
    if (m_stream == nullptr || !m_streamReady) {
        return 0;
    }
    const pa_buffer_attr* attr = pa_stream_get_buffer_attr(m_stream);
    return attr != nullptr ? attr->tlength : 0;
}

void TPulseWaveOutDevice::PumpNow()
{
    Pump();
    // libpulse sends what was written from a defer event, which would take another pass of the
    // event loop.
    m_loop.RunDeferred();
    ArmTick();
}

void TPulseWaveOutDevice::Pump()
{
    if (m_stream == nullptr || !m_streamReady || m_failed) {
        return;
    }
    const std::int64_t frame = m_format.blockAlign;
    std::size_t writable = pa_stream_writable_size(m_stream);
    if (writable == static_cast<std::size_t>(-1)) {
        return;
    }
    auto room = static_cast<std::int64_t>(writable);
    room -= room % frame;

    if (room > 0 && m_unwritten < m_queue.size()) {
        // Gather across headers, so that only whole frames reach the server even when a header
        // does not end on a frame boundary.
        m_staging.clear();
        std::size_t index = m_unwritten;
        std::int64_t offset = m_offset;
        while (static_cast<std::int64_t>(m_staging.size()) < room && index < m_queue.size()) {
            const TWaveHeader* header = m_queue[index].header;
            const char* bytes = reinterpret_cast<const char*>(header->data);
            std::int64_t take = std::min<std::int64_t>(
                room - static_cast<std::int64_t>(m_staging.size()), header->bufferLength - offset);
            m_staging.insert(m_staging.end(), bytes + offset, bytes + offset + take);
            offset += take;
            if (offset >= header->bufferLength) {
                ++index;
                offset = 0;
            }
        }
        const auto data = static_cast<std::int64_t>(m_staging.size());
        std::int64_t consumed = data - data % frame;
        std::int64_t length = consumed;
        const bool atEnd = index == m_queue.size() &&
                           (m_queue.back().header->flags & TWaveHeader::EndOfSound) != 0;
        if (atEnd && data % frame != 0) {
            // The sound ends inside a frame: complete it with silence.
            consumed = data;
            length = data + frame - data % frame;
            m_staging.resize(static_cast<std::size_t>(length), 0);
        }
        if (length > 0) {
            if (pa_stream_write(m_stream, m_staging.data(), static_cast<std::size_t>(length),
                                nullptr, 0, PA_SEEK_RELATIVE) < 0) {
                Fail(weDisconnected,
                     "writing to the sound server failed (" + ServerError(m_context) + ")");
                return;
            }
            // Move the cursor over the data written, noting where each header it passes ends.
            std::int64_t left = consumed;
            std::int64_t pos = m_streamPos;
            while (left > 0) {
                TQueued& q = m_queue[m_unwritten];
                if (m_offset == 0) {
                    q.start = pos;
                }
                std::int64_t step = std::min<std::int64_t>(left, q.header->bufferLength - m_offset);
                m_offset += step;
                pos += step;
                left -= step;
                if (m_offset >= q.header->bufferLength) {
                    q.end = pos;
                    ++m_unwritten;
                    m_offset = 0;
                    if ((q.header->flags & TWaveHeader::EndOfSound) != 0) {
                        m_silenceLeft = TailSilenceBytes();
                    }
                }
            }
            m_streamPos += length;
            m_soundEnd = m_streamPos;
            room -= length;
        }
    }

    if (room > 0 && m_silenceLeft > 0 && m_unwritten == m_queue.size()) {
        const std::int64_t length = std::min(room, m_silenceLeft);
        m_staging.assign(static_cast<std::size_t>(length), 0);
        if (pa_stream_write(m_stream, m_staging.data(), static_cast<std::size_t>(length), nullptr,
                            0, PA_SEEK_RELATIVE) >= 0) {
            m_streamPos += length;
            m_silenceLeft -= length;
        }
    }
}

std::int64_t TPulseWaveOutDevice::TailSilenceBytes() const
{
    // A server that holds back a quantum plays the end only once it has a whole one after it.
    return BytesOfMs(m_format, TailSilenceMs) + ServerBufferBytes();
}

std::int64_t TPulseWaveOutDevice::DoneAt(const TQueued& queued) const
{
    if ((queued.header->flags & TWaveHeader::EndOfSound) == 0) {
        return queued.end;
    }
    const std::int64_t hold = BytesOfMs(m_format, TailHoldMs);
    return queued.end + std::min(hold, std::max<std::int64_t>(0, m_streamPos - queued.end));
}

void TPulseWaveOutDevice::ArmTick()
{
    if (m_stream == nullptr || !m_streamReady || m_failed) {
        return;
    }
    // Wake when the first buffer in the queue is due to have been heard, by the server's clock
    // as libpulse carries it forward. A buffer whose successor is heard within PairMs waits for
    // it, and both come back in one wake-up: with 10 ms buffers, one wake-up per 20 ms of sound.
    std::int64_t ms = LookMs;
    if (!m_paused && m_unwritten > 0) {
        std::int64_t due = DoneAt(m_queue.front());
        if (m_unwritten > 1 && DoneAt(m_queue[1]) - due <= BytesOfMs(m_format, PairMs)) {
            due = DoneAt(m_queue[1]);
        }
        const std::int64_t left = due - HeardBytes();
        const std::int64_t bytesPerSecond = m_format.avgBytesPerSec;
        ms = std::clamp<std::int64_t>((left * 1000 + bytesPerSecond - 1) / bytesPerSecond, 1,
                                      LookMs);
    }
    if (!m_paused && (m_unwritten < m_queue.size() || m_silenceLeft > 0) && ms > RefillMs) {
        // Sound waits here for room at the server, whose requests wait for the tick: come back
        // by the time it has room for a request, or a ring of long buffers would let the server
        // run down to what it holds less a buffer before the next refill. A buffer heard by
        // RefillMs is waited for, so that the ticks stay with the buffers.
        ms = RequestMs;
    }
    m_tick.start(static_cast<int>(ms));
    if (!m_ticking) {
        m_ticking = true;
        m_loop.UpdateHold();
    }
}

void TPulseWaveOutDevice::StopTick()
{
    m_tick.stop();
    m_ticking = false;
    m_loop.UpdateHold();
}

void TPulseWaveOutDevice::Tick()
{
    // What the server sent since the last tick (requests, timing, notices) is read now.
    m_loop.RunPending();
    if (m_stream == nullptr || !m_streamReady || m_failed) {
        return;
    }
    const auto now = Clock::now();
    if (now - m_lastTick > std::chrono::milliseconds(StallMs)) {
        m_lastNews = now; // this thread was busy: the server had no chance to answer
    }
    m_lastTick = now;
    // libpulse's own timing updates grow sparse (up to 1.5 s apart); ask for one now and then,
    // for the played position's read-index bound and as proof that the server still answers.
    if (m_timingRequest == nullptr && now - m_lastRequest >= std::chrono::milliseconds(TimingMs)) {
        m_lastRequest = now;
        m_timingRequest = pa_stream_update_timing_info(m_stream, nullptr, nullptr);
    }
    if (m_timingRequest != nullptr &&
        pa_operation_get_state(m_timingRequest) != PA_OPERATION_RUNNING) {
        pa_operation_unref(m_timingRequest);
        m_timingRequest = nullptr;
    }
    const std::int64_t heard = HeardBytes();
    // Headers whose last byte has been heard are done, in queue order.
    std::size_t givenBack = 0;
    while (!m_queue.empty() && m_unwritten > 0 && DoneAt(m_queue.front()) <= heard) {
        TWaveHeader* header = m_queue.front().header;
        m_queue.pop_front();
        --m_unwritten;
        m_awaitedRefills = ++givenBack;
        header->flags = (header->flags & ~TWaveHeader::InQueue) | TWaveHeader::Done;
        if (m_notify) {
            m_notify({TWaveOutMessageKind::Done, header, 0});
        }
        if (!m_open || m_failed || m_stream == nullptr) {
            return;
        }
    }
    if (!m_paused) {
        const bool answering = now - m_lastNews < std::chrono::milliseconds(AnsweringMs);
        switch (m_stall.Look(now, heard, m_streamPos - heard, answering)) {
        case TStallWatch::TAction::None:
            break;
        case TStallWatch::TAction::Recreate:
            Recover();
            return;
        case TStallWatch::TAction::Starved:
            if (m_notify) {
                m_notify({TWaveOutMessageKind::Starved, nullptr, 0, 0});
            }
            return;
        }
    }
    if (!m_paused && now - m_lastNews > std::chrono::milliseconds(SilentServerMs)) {
        m_loop.RunUntil([] { return false; }, 0); // news that is waiting counts
        if (m_failed || m_stream == nullptr) {
            return;
        }
        if (Clock::now() - m_lastNews > std::chrono::milliseconds(SilentServerMs)) {
            m_contextReady = false; // the next open connects afresh
            Fail(weDisconnected, "the sound server stopped answering");
        }
    }
}

void TPulseWaveOutDevice::Recover()
{
    // What was heard is kept; everything after it is written again to a new stream.
    const std::int64_t heard = HeardBytes();
    DropStream();
    ++m_recoveries;
    std::size_t index = 0;
    while (index < m_unwritten && m_queue[index].end <= heard) {
        ++index;
    }
    if (index < m_queue.size() && m_queue[index].start >= 0 && m_queue[index].start <= heard) {
        m_offset = heard - m_queue[index].start;
    } else {
        m_offset = 0;
    }
    for (std::size_t i = index; i < m_unwritten; ++i) {
        m_queue[i].end = -1;
    }
    // Past the sound's end, in the silence after it: that silence comes again in full.
    const bool inTail = index == m_queue.size() && !m_queue.empty() &&
                        (m_queue.back().header->flags & TWaveHeader::EndOfSound) != 0;
    m_silenceLeft = inTail ? TailSilenceBytes() : 0;
    m_unwritten = index;
    m_streamPos = heard;
    m_soundEnd = std::min(m_soundEnd, heard);
    if (int result = MakeStream(); result != weNoError) {
        Fail(result, m_lastDetail);
        return;
    }
    if (m_paused) {
        Cork(true);
    }
    Pump();
}

void TPulseWaveOutDevice::FollowBufferAttr()
{
    // The buffer the server grants is what it must hold to play; more than told before is
    // passed on. A server that raised it above what was asked holds back whole quanta (PipeWire
    // grants a quantum and two requests), and its timing runs up to a quantum apart from its
    // reads, by which the ring frees buffers: half a quantum more. With just the buffer, a
    // quantum of 8192 frames ran short once in every play, one of 4096 in one play of three.
    const std::int64_t granted = ServerBufferBytes();
    const std::int64_t asked = m_askBytes;
    const pa_buffer_attr* attr =
        m_stream != nullptr ? pa_stream_get_buffer_attr(m_stream) : nullptr;
    const std::int64_t quantum =
        granted > asked && attr != nullptr ? granted - 2 * std::int64_t{attr->minreq} : 0;
    const std::int64_t need = granted + std::max<std::int64_t>(0, quantum) / 2;
    if (need > m_needTold && m_open && !m_failed) {
        m_needTold = need;
        if (m_notify) {
            m_notify({TWaveOutMessageKind::Starved, nullptr, 0, need});
        }
    }
}

void TPulseWaveOutDevice::FollowUnderrun()
{
    // Ran out in the middle of the sound (not before the first sound, nor in the silence after
    // its end): what the server holds is not enough on this machine, so half its buffer more is
    // asked for each time. PipeWire's timing runs a little apart from its reads, by up to a
    // quantum, and a ring of just its buffer runs out now and then.
    const bool inSound =
        !m_queue.empty() && (m_queue.back().header->flags & TWaveHeader::EndOfSound) == 0;
    if (!m_open || m_failed || m_paused || !inSound || HeardBytes() == 0) {
        return;
    }
    const std::int64_t granted = ServerBufferBytes();
    m_needTold = std::max(m_needTold, granted) + granted / 2;
    // The server is asked to hold that much too: a ring that grows while the server holds what
    // it did would keep the growth here, where it is no help when the server itself is late.
    const std::int64_t ask = std::min(m_needTold, BytesOfMs(m_format, MostAskedMs)) /
                             m_format.blockAlign * m_format.blockAlign;
    if (ask > m_askBytes) {
        m_askBytes = ask;
        const pa_buffer_attr attr = AskedAttr();
        Forget(pa_stream_set_buffer_attr(m_stream, &attr, nullptr, nullptr));
    }
    if (m_notify) {
        m_notify({TWaveOutMessageKind::Starved, nullptr, 0, m_needTold});
    }
}

void TPulseWaveOutDevice::Fail(int code, const std::string& detail)
{
    if (!m_open || m_failed) {
        return;
    }
    m_failed = true;
    m_lastDetail = detail;
    StopTick();
    if (m_notify) {
        m_notify({TWaveOutMessageKind::Failed, nullptr, code});
    }
}

void TPulseWaveOutDevice::OnContextState(pa_context* context, void* self)
{
    auto& device = *static_cast<TPulseWaveOutDevice*>(self);
    if (context != device.m_context || PA_CONTEXT_IS_GOOD(pa_context_get_state(context))) {
        return;
    }
    const bool wasReady = device.m_contextReady;
    device.m_contextReady = false;
    if (wasReady) {
        device.Fail(weDisconnected, "the sound server went away");
    }
}

void TPulseWaveOutDevice::OnStreamState(pa_stream* stream, void* self)
{
    auto& device = *static_cast<TPulseWaveOutDevice*>(self);
    if (stream != device.m_stream || PA_STREAM_IS_GOOD(pa_stream_get_state(stream))) {
        return;
    }
    const bool wasReady = device.m_streamReady;
    device.m_streamReady = false;
    if (wasReady) {
        if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(device.m_context))) {
            device.m_contextReady = false;
            device.Fail(weDisconnected, "the sound server went away");
        } else {
            device.Fail(weDisconnected, "the sound server ended the stream (" +
                                            ServerError(device.m_context) + ")");
        }
    }
}

void TPulseWaveOutDevice::OnStreamWrite(pa_stream* stream, std::size_t, void* self)
{
    auto& device = *static_cast<TPulseWaveOutDevice*>(self);
    if (stream == device.m_stream) {
        device.Pump();
    }
}

void TPulseWaveOutDevice::OnBufferAttr(pa_stream* stream, void* self)
{
    auto& device = *static_cast<TPulseWaveOutDevice*>(self);
    if (stream == device.m_stream) {
        device.FollowBufferAttr();
    }
}

void TPulseWaveOutDevice::OnUnderflow(pa_stream* stream, void* self)
{
    auto& device = *static_cast<TPulseWaveOutDevice*>(self);
    if (stream == device.m_stream) {
        ++device.m_underruns;
        device.FollowUnderrun();
    }
}

void TPulseWaveOutDevice::OnTimingNews(pa_stream* stream, void* self)
{
    auto& device = *static_cast<TPulseWaveOutDevice*>(self);
    if (stream == device.m_stream) {
        device.m_lastNews = Clock::now();
    }
}

} // namespace kavrel
