#include "audio/qt/TQtWaveOutDevice.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QIODevice>
#include <QMediaDevices>

#include <algorithm>
#include <utility>

namespace kavrel {

namespace {

constexpr int TickMs = 5;         // how often data is moved into the sink
constexpr int SinkBufferMs = 100; // the sink's own buffer, asked for at open
constexpr int StallTicks = 8;     // ~40 ms without progress once all data is handed over
constexpr int DeadTicks = 600;    // ~3 s without progress with data in flight: the sink is gone
constexpr int MaxChannels = 32;   // what the sound server handles

bool ValidFormat(const TWaveFormat& f)
{
    return f.formatTag == 1 && f.bitsPerSample == 16 && f.channels >= 1 &&
           f.channels <= MaxChannels && f.samplesPerSec >= 1 && f.samplesPerSec <= 768000 &&
           f.blockAlign == f.channels * 2 &&
           f.avgBytesPerSec == std::int64_t{f.blockAlign} * f.samplesPerSec && f.extraSize == 0;
}

const char* SinkErrorText(QAudio::Error error)
{
    switch (error) {
    case QAudio::OpenError:
        return "the sound system refused to open the output";
    case QAudio::IOError:
        return "writing to the sound system failed";
    case QAudio::FatalError:
        return "the sound system stopped working";
    default:
        return "";
    }
}

} // namespace

TQtWaveOutDevice::TQtWaveOutDevice(QObject* parent) : QObject(parent)
{
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(TickMs);
    connect(&m_timer, &QTimer::timeout, this, [this] { Pump(); });
}

TQtWaveOutDevice::~TQtWaveOutDevice()
{
    m_notify = nullptr;
    m_timer.stop();
    StopSink();
}

int TQtWaveOutDevice::DeviceCount() const
{
    return static_cast<int>(QMediaDevices::audioOutputs().size());
}

std::string TQtWaveOutDevice::DeviceName(int index) const
{
    const auto outputs = QMediaDevices::audioOutputs();
    if (index < 0 || index >= outputs.size()) {
        return {};
    }
    return outputs[index].description().toStdString();
}

int TQtWaveOutDevice::Open(int deviceId, const TWaveFormat& format, TWaveOutNotify notify)
{
    if (m_open) {
        return weAllocated;
    }
    m_lastDetail.clear();
    if (!ValidFormat(format)) {
        return weBadFormat;
    }
    QAudioDevice device;
    if (deviceId == DefaultDevice) {
        device = QMediaDevices::defaultAudioOutput();
    } else {
        const auto outputs = QMediaDevices::audioOutputs();
        if (deviceId < 0 || deviceId >= outputs.size()) {
            return weBadDeviceId;
        }
        device = outputs[deviceId];
    }
    if (device.isNull()) {
        m_lastDetail = "no sound output was found";
        return weNoDriver;
    }
    m_format = format;
    m_open = true;
    m_failed = false;
    m_paused = false;
    m_device = device;
    if (int result = StartSink(); result != weNoError) {
        m_open = false;
        return result;
    }
    m_notify = std::move(notify);
    m_timer.start();
    if (m_notify) {
        m_notify({TWaveOutMessageKind::Opened, nullptr, 0});
    }
    return weNoError;
}

int TQtWaveOutDevice::StartSink()
{
    QAudioFormat qformat;
    qformat.setSampleRate(m_format.samplesPerSec);
    qformat.setChannelCount(m_format.channels);
    qformat.setSampleFormat(QAudioFormat::Int16);
    if (!m_device.isFormatSupported(qformat)) {
        m_lastDetail = "the output does not take this sample rate or channel count";
        return weBadFormat;
    }
    m_sink = std::make_unique<QAudioSink>(m_device, qformat);
    std::int64_t frames =
        std::max<std::int64_t>(1, std::int64_t{m_format.samplesPerSec} * SinkBufferMs / 1000);
    m_sink->setBufferSize(static_cast<qsizetype>(frames * m_format.blockAlign));
    connect(m_sink.get(), &QAudioSink::stateChanged, this, [this](QAudio::State) {
        if (m_sink && m_open && !m_failed) {
            QAudio::Error error = m_sink->error();
            if (error == QAudio::OpenError || error == QAudio::IOError ||
                error == QAudio::FatalError) {
                Fail(weDisconnected, SinkErrorText(error));
            }
        }
    });
    m_io = m_sink->start();
    if (m_io == nullptr || m_sink->error() == QAudio::OpenError ||
        m_sink->error() == QAudio::FatalError) {
        m_lastDetail = "could not start a stream on the sound system";
        StopSink();
        return weNoDriver;
    }
    m_streamPos = 0;
    m_lastPlayed = -1;
    m_stalledTicks = 0;
    m_silence.assign(static_cast<std::size_t>(m_sink->bufferSize()) + 16, 0);
    m_suspended = false;
    return weNoError;
}

void TQtWaveOutDevice::StopSink(bool fromSinkSignal)
{
    if (m_sink) {
        QAudioSink* sink = m_sink.release();
        sink->disconnect(this);
        sink->stop();
        if (fromSinkSignal) {
            // Not while the sink is still emitting: let it go from the loop.
            sink->deleteLater();
        } else {
            delete sink;
        }
    }
    m_io = nullptr;
}

int TQtWaveOutDevice::PrepareHeader(TWaveHeader& header)
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

bool TQtWaveOutDevice::Holds(const TWaveHeader& header) const
{
    return std::any_of(m_queue.begin(), m_queue.end(),
                       [&](const TQueued& q) { return q.header == &header; });
}

int TQtWaveOutDevice::UnprepareHeader(TWaveHeader& header)
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

int TQtWaveOutDevice::Write(TWaveHeader& header)
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
    header.flags = (header.flags & ~TWaveHeader::Done) | TWaveHeader::InQueue;
    m_queue.push_back({&header, -1});
    if (!m_paused) {
        Pump();
    }
    return weNoError;
}

int TQtWaveOutDevice::Pause()
{
    if (!m_open) {
        return weInvalidHandle;
    }
    if (m_failed) {
        return weDisconnected;
    }
    m_paused = true;
    if (m_sink && m_streamPos > 0 && !m_suspended) {
        m_sink->suspend();
        m_suspended = true;
    }
    return weNoError;
}

int TQtWaveOutDevice::Restart()
{
    if (!m_open) {
        return weInvalidHandle;
    }
    if (m_failed) {
        return weDisconnected;
    }
    m_paused = false;
    if (m_sink && m_suspended) {
        m_sink->resume();
        m_suspended = false;
    }
    m_lastPlayed = -1;
    m_stalledTicks = 0;
    Pump();
    return weNoError;
}

int TQtWaveOutDevice::Reset()
{
    if (!m_open) {
        return weInvalidHandle;
    }
    // Drop what the sink still holds; a fresh stream is started when data comes again.
    bool hadData = m_sink && m_streamPos > 0;
    if (hadData) {
        StopSink();
    }
    auto queue = std::move(m_queue);
    m_queue.clear();
    m_unwritten = 0;
    m_offset = 0;
    for (const TQueued& q : queue) {
        q.header->flags = (q.header->flags & ~TWaveHeader::InQueue) | TWaveHeader::Done;
        if (m_notify) {
            m_notify({TWaveOutMessageKind::Done, q.header, 0});
        }
    }
    return weNoError;
}

int TQtWaveOutDevice::Close()
{
    if (!m_open) {
        return weInvalidHandle;
    }
    if (!m_queue.empty()) {
        return weStillPlaying;
    }
    m_timer.stop();
    StopSink();
    m_open = false;
    m_failed = false;
    m_paused = false;
    auto notify = std::move(m_notify);
    m_notify = nullptr;
    if (notify) {
        notify({TWaveOutMessageKind::Closed, nullptr, 0});
    }
    return weNoError;
}

std::string TQtWaveOutDevice::ErrorText(int code) const
{
    std::string text = DefaultWaveErrorText(code);
    if (code != weNoError && !m_lastDetail.empty()) {
        text.pop_back(); // the full stop
        text += ": " + m_lastDetail + ".";
    }
    return text;
}

std::int64_t TQtWaveOutDevice::SinkBufferBytes() const
{
    return m_sink ? static_cast<std::int64_t>(m_sink->bufferSize()) : 0;
}

std::int64_t TQtWaveOutDevice::BytesPlayed() const
{
    if (!m_sink) {
        return 0;
    }
    std::int64_t usecs = std::max<qint64>(0, m_sink->processedUSecs());
    std::int64_t rate = m_format.samplesPerSec;
    std::int64_t frames = usecs / 1000000 * rate + usecs % 1000000 * rate / 1000000;
    return frames * m_format.blockAlign;
}

void TQtWaveOutDevice::Pump()
{
    if (!m_open || m_failed) {
        return;
    }
    if (!m_sink && m_unwritten < m_queue.size()) {
        if (StartSink() != weNoError) {
            Fail(weDisconnected, m_lastDetail);
            return;
        }
    }
    if (!m_sink) {
        return;
    }
    if (QAudio::Error error = m_sink->error();
        error == QAudio::OpenError || error == QAudio::IOError || error == QAudio::FatalError) {
        Fail(weDisconnected, SinkErrorText(error));
        return;
    }
    if (!m_paused) {
        WriteQueued(false);
    }
    std::int64_t played = BytesPlayed();
    // Headers whose last byte has been played are done, in queue order.
    while (!m_queue.empty() && m_unwritten > 0 && m_queue.front().end <= played) {
        TWaveHeader* header = m_queue.front().header;
        m_queue.pop_front();
        --m_unwritten;
        header->flags = (header->flags & ~TWaveHeader::InQueue) | TWaveHeader::Done;
        if (m_notify) {
            m_notify({TWaveOutMessageKind::Done, header, 0});
        }
        if (!m_open || m_failed || !m_sink) {
            return;
        }
    }
    if (m_paused) {
        return;
    }
    bool inFlight = played < m_streamPos && !m_queue.empty();
    if (inFlight && played == m_lastPlayed) {
        ++m_stalledTicks;
    } else {
        m_stalledTicks = 0;
    }
    m_lastPlayed = played;
    // The server starts a stream only once its buffer is full. When the sound ends with less
    // than that queued, follow it with silence so that it is heard and reported done.
    if (m_stalledTicks >= StallTicks && UnwrittenBytes() < m_format.blockAlign) {
        WriteQueued(true);
        WriteSilence();
    }
    if (m_stalledTicks >= DeadTicks) {
        Fail(weDisconnected, "the sound system stopped playing");
    }
}

std::int64_t TQtWaveOutDevice::UnwrittenBytes() const
{
    std::int64_t total = -m_offset;
    for (std::size_t i = m_unwritten; i < m_queue.size(); ++i) {
        total += m_queue[i].header->bufferLength;
    }
    return total;
}

void TQtWaveOutDevice::WriteQueued(bool flushPartFrame)
{
    const std::int64_t frame = m_format.blockAlign;
    std::int64_t room = static_cast<std::int64_t>(m_sink->bytesFree());
    room -= room % frame;
    if (room <= 0 || m_unwritten >= m_queue.size()) {
        return;
    }
    // Gather across headers, so that only whole frames reach the sink even when a header does
    // not end on a frame boundary.
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
    auto data = static_cast<std::int64_t>(m_staging.size());
    std::int64_t whole = data - data % frame;
    if (whole == 0) {
        if (!flushPartFrame) {
            return; // less than a frame queued: wait for more
        }
        m_staging.resize(static_cast<std::size_t>(frame), 0);
        whole = frame;
    }
    qint64 accepted = m_io->write(m_staging.data(), whole);
    if (accepted <= 0) {
        return;
    }
    // Move the cursor over the data accepted, noting where each header it passes ends.
    std::int64_t left = std::min<std::int64_t>(accepted, data);
    std::int64_t pos = m_streamPos;
    while (left > 0) {
        TQueued& q = m_queue[m_unwritten];
        std::int64_t step = std::min<std::int64_t>(left, q.header->bufferLength - m_offset);
        m_offset += step;
        pos += step;
        left -= step;
        if (m_offset >= q.header->bufferLength) {
            q.end = pos;
            ++m_unwritten;
            m_offset = 0;
        }
    }
    m_streamPos += accepted;
}

void TQtWaveOutDevice::WriteSilence()
{
    const std::int64_t frame = m_format.blockAlign;
    std::int64_t room = static_cast<std::int64_t>(m_sink->bytesFree());
    room -= room % frame;
    room = std::min<std::int64_t>(room, static_cast<std::int64_t>(m_silence.size()));
    if (room <= 0) {
        return;
    }
    qint64 accepted = m_io->write(m_silence.data(), room);
    if (accepted > 0) {
        m_streamPos += accepted;
    }
}

void TQtWaveOutDevice::Fail(int code, const std::string& detail)
{
    if (!m_open || m_failed) {
        return;
    }
    m_failed = true;
    m_lastDetail = detail;
    m_timer.stop();
    StopSink(true);
    if (m_notify) {
        m_notify({TWaveOutMessageKind::Failed, nullptr, code});
    }
}

} // namespace kavrel

std::int64_t kavrel::TQtWaveOutDevice::PlayedFrames() const
{
    return m_sink ? std::max<std::int64_t>(0, BytesPlayed()) / std::max(1, m_format.blockAlign) : 0;
}
