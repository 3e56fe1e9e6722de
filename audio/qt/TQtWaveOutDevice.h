#pragma once
// The output device on the sound system, through Qt Multimedia's QAudioSink in push mode.
// Everything runs on the UI thread: a short timer moves queued header data into the sink as far
// as it takes it, and a header is reported done only once the sink's played position has passed
// its end, so the owner's ring of buffers is what stands between it and the loudspeaker. The
// sink's own buffer is kept short: 100 ms is asked for (the server may settle on less, 70 ms with
// PulseAudio). It is also how long the UI thread may be busy before the sound breaks up. A sink
// error, the sound server going away or a sink that stops playing for 3 s is reported as a
// Failed notice.

#include "audio/TWaveOutDevice.h"

#include <QAudioDevice>
#include <QObject>
#include <QTimer>

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

class QAudioSink;
class QIODevice;

namespace kavrel {

class TQtWaveOutDevice : public QObject, public TWaveOutDevice {
    Q_OBJECT
public:
    // Create on the UI thread, after the application object. Leave parent empty when a
    // TMPCPlay is to own the device.
    explicit TQtWaveOutDevice(QObject* parent = nullptr);
    ~TQtWaveOutDevice() override;

    int DeviceCount() const override;
    std::string DeviceName(int index) const override;
    int Open(int deviceId, const TWaveFormat& format, TWaveOutNotify notify) override;
    int PrepareHeader(TWaveHeader& header) override;
    int UnprepareHeader(TWaveHeader& header) override;
    int Write(TWaveHeader& header) override;
    int Pause() override;
    int Restart() override;
    int Reset() override;
    int Close() override;
    std::string ErrorText(int code) const override;
    std::int64_t PlayedFrames() const override;

    // The sink's buffer in bytes as negotiated with the sound system (0 when closed).
    std::int64_t SinkBufferBytes() const;
    // Bytes handed to the current stream / heard from it, silence included.
    std::int64_t BytesWritten() const { return m_streamPos; }
    std::int64_t BytesPlayed() const;

private:
    struct TQueued {
        TWaveHeader* header;
        std::int64_t end; // stream position just after the header's last byte, once written
    };

    int StartSink();
    void StopSink(bool fromSinkSignal = false);
    bool Holds(const TWaveHeader& header) const;
    void Pump();
    std::int64_t UnwrittenBytes() const;
    void WriteQueued(bool flushPartFrame);
    void WriteSilence();
    void Fail(int code, const std::string& detail);

    std::unique_ptr<QAudioSink> m_sink;
    QIODevice* m_io = nullptr;
    QAudioDevice m_device;
    QTimer m_timer;
    TWaveOutNotify m_notify;
    TWaveFormat m_format;
    bool m_open = false;
    bool m_paused = false;
    bool m_suspended = false;
    bool m_failed = false;
    std::deque<TQueued> m_queue;
    std::size_t m_unwritten = 0;  // index in m_queue of the first header not fully written
    std::int64_t m_offset = 0;    // bytes of that header already written
    std::int64_t m_streamPos = 0; // bytes written to the current sink, silence included
    std::int64_t m_lastPlayed = -1;
    int m_stalledTicks = 0;
    std::vector<char> m_staging;
    std::vector<char> m_silence;
    std::string m_lastDetail;
};

} // namespace kavrel
