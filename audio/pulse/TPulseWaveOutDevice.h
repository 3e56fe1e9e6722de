#pragma once
// The output device on the desktop's sound server (PulseAudio, or PipeWire through
// pipewire-pulse), through libpulse's asynchronous API run by the UI thread's event loop: no
// thread of its own, no lock. Waiting for the server (connecting, making a stream, reading the
// sink list) is bounded by about 2 s and runs only libpulse's events.
//
// Each Open (and the first write after a Reset) makes a stream that asks the server to hold about
// 100 ms, what the owner's ring holds by default; the rest waits here until the server asks for
// it. The server may need more (PipeWire holds back a whole graph quantum, and raises the stream's
// buffer to fit it): the buffer it grants, and every change of it, is passed on as a Starved
// notice, so the owner's ring is never shorter than what the server must hold to play; an
// underrun in the middle of the sound asks for half that buffer more each time, of the owner's
// ring and of the server (for this stream and those made after it until Close). A header is
// done once the stream's played position, from the server's timing, has passed its last byte.
//
// A queue that stops moving while the server answers (a server that waits for a start condition
// after being frozen, or for more than it holds) is found within about half a second: the stream
// is made afresh from the position heard, and if that does not move it, a Starved notice asks for
// more sound queued. After a header marked EndOfSound the stream is followed by
// silence, so that a server working in fixed quanta (PipeWire) plays the sound's last part, and
// that header is done once a little of the silence has been heard too.
//
// The server going away, a failed stream, or no timing news for 3 s while playing end in a
// Failed notice; the text says what happened.

#include "audio/TStallWatch.h"
#include "audio/TWaveOutDevice.h"
#include "audio/pulse/TPulseMainLoop.h"

#include <QTimer>

#include <chrono>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

struct pa_buffer_attr;
struct pa_context;
struct pa_operation;
struct pa_stream;

namespace kavrel {

class TPulseWaveOutDevice : public TWaveOutDevice {
public:
    // Create on the UI thread, after the application object. The server is first asked when
    // the device list or Open needs it.
    TPulseWaveOutDevice();
    ~TPulseWaveOutDevice() override;
    TPulseWaveOutDevice(const TPulseWaveOutDevice&) = delete;
    TPulseWaveOutDevice& operator=(const TPulseWaveOutDevice&) = delete;

    // The server's sinks, by their descriptions, read from the server on each DeviceCount.
    int DeviceCount() const override;
    std::string DeviceName(int index) const override;
    // The sink's name on the server ("alsa_output…"), of the last list read.
    std::string DeviceKey(int index) const override;
    // deviceId k opens sink k of the last list read; DefaultDevice follows the server's default.
    int Open(int deviceId, const TWaveFormat& format, TWaveOutNotify notify) override;
    int PrepareHeader(TWaveHeader& header) override;
    int UnprepareHeader(TWaveHeader& header) override;
    int Write(TWaveHeader& header) override;
    int Pause() override;
    int Restart() override;
    int Reset() override;
    int Close() override;
    std::int64_t PlayedFrames() const override;
    // Underflow notices of the server since Open.
    std::int64_t Underruns() const override { return m_underruns; }
    std::string ErrorText(int code) const override;

    // The server-side buffer of the current stream in bytes (0 when there is none).
    std::int64_t ServerBufferBytes() const;
    // Times a stalled stream was made afresh since Open.
    int Recoveries() const { return m_recoveries; }

    static constexpr int WaitMs = 2000; // longest wait for the server
    static constexpr int SilentServerMs =
        3000; // no timing news for this long while playing: failed

private:
    using Clock = std::chrono::steady_clock;

    struct TQueued {
        TWaveHeader* header;
        std::int64_t start; // position of the header's first byte, once it is being written
        std::int64_t end;   // position just after the header's last byte, once written
    };
    struct TSink {
        std::string name;
        std::string description;
    };

    int Connect();
    void DropContext();
    int ReadSinks();
    int MakeStream();
    // What a stream asks the server for: m_askBytes held, refilled in pieces of RequestMs.
    pa_buffer_attr AskedAttr() const;
    void DropStream();
    void FollowBufferAttr();
    void FollowUnderrun();
    void Recover();
    std::int64_t TailSilenceBytes() const;
    bool Holds(const TWaveHeader& header) const;
    void Cork(bool cork);
    void Pump();
    // Pumps, sends the data to the server and sets the tick; from outside libpulse's callbacks.
    void PumpNow();
    void Tick();
    // Sets the tick for the moment the next buffer is heard.
    void ArmTick();
    // Stops the tick; the server's news is read as it comes again.
    void StopTick();
    // Stream position the played position must reach before the header is done.
    std::int64_t DoneAt(const TQueued& queued) const;
    std::int64_t HeardBytes() const;
    void Fail(int code, const std::string& detail);

    static void OnContextState(pa_context* context, void* self);
    static void OnStreamState(pa_stream* stream, void* self);
    static void OnStreamWrite(pa_stream* stream, std::size_t bytes, void* self);
    static void OnTimingNews(pa_stream* stream, void* self);
    static void OnBufferAttr(pa_stream* stream, void* self);
    static void OnUnderflow(pa_stream* stream, void* self);

    TPulseMainLoop m_loop; // first: outlives the context and stream made on it
    pa_context* m_context = nullptr;
    bool m_contextReady = false; // connected and not known to be failed or silent
    pa_stream* m_stream = nullptr;
    bool m_streamReady = false;
    QTimer m_tick;
    bool m_ticking = false; // from the first ArmTick until the tick is stopped
    // Buffers written in one pass of the event loop go to the server together, in one message.
    QTimer m_pumpSoon;
    // Headers the last tick gave back that have not been written again: the write that brings
    // it to none sends them at once, without waiting for m_pumpSoon.
    std::size_t m_awaitedRefills = 0;

    std::vector<TSink> m_sinks;
    std::string m_sinkName; // empty: the server's default
    // A failure to reach the server, remembered for a short while.
    std::string m_connectError;
    Clock::time_point m_connectErrorAt;

    TWaveOutNotify m_notify;
    TWaveFormat m_format;
    bool m_open = false;
    bool m_paused = false;
    bool m_failed = false;
    std::deque<TQueued> m_queue;
    // Positions are in bytes since Open or the last Reset, across the streams made meanwhile.
    std::size_t m_unwritten = 0;   // index in m_queue of the first header not fully written
    std::int64_t m_offset = 0;     // bytes of that header already written
    std::int64_t m_streamPos = 0;  // bytes written, silence included
    std::int64_t m_streamBase = 0; // position at which the current stream started
    std::int64_t m_soundEnd = 0;   // bytes of sound written, without the closing silence
    std::int64_t m_silenceLeft = 0;
    mutable std::int64_t m_heard = 0;
    Clock::time_point m_lastNews;
    Clock::time_point m_lastTick;
    Clock::time_point m_lastRequest;
    pa_operation* m_timingRequest = nullptr;
    TStallWatch m_stall;
    std::int64_t m_needTold = 0; // the largest server buffer passed on since Open
    std::int64_t m_askBytes = 0; // what streams ask the server to hold; grows with underruns
    std::int64_t m_underruns = 0;
    int m_recoveries = 0;
    std::vector<char> m_staging;
    std::string m_lastDetail;
};

} // namespace kavrel
