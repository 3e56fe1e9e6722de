#pragma once
// Plays 16-bit PCM by keeping a ring of nBuffers buffers queued on an output device and asking its
// owner, through OnStash, to fill each buffer as the device gives it back. Everything runs on the
// UI thread: the device's notifications are posted to the event loop and handled from there, so
// OnStash, OnOpened and OnClosed never run inside the call (Start, Stop ...) that caused them.
//
//   TMPCPlay player(std::make_unique<TPulseWaveOutDevice>(), poster); // or a TFakeWaveOutDevice
//   player.SetnChans(2); player.SetsfTot(2 * 44100);               // while closed
//   player.OnStash = [&](TMPCPlay&, std::span<std::int16_t> buffer, int& count, bool& finished) {
//       count = FillFrom(buffer); finished = AtEnd(); };
//   player.OnClosed = [&](TMPCPlay&) { /* the device is closed */ };
//   player.Start(); ... player.Stop();

#include "audio/EMPCPlayError.h"
#include "audio/TEventPoster.h"
#include "audio/TWaveFormat.h"
#include "audio/TWaveHeader.h"
#include "audio/TWaveOutDevice.h"
#include "audio/TWaveOutMessage.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace kavrel {

class TMPCPlay {
public:
    using TNotifyEvent = std::function<void(TMPCPlay& sender)>;
    // Write up to count (on entry: nChunkSamples) interleaved values into buffer, set count to the
    // number written and set finished when the sound ends. Count 0 ends the sound at once.
    using TStashEvent = std::function<void(TMPCPlay& sender, std::span<std::int16_t> buffer,
                                           int& count, bool& finished)>;
    using TMsgEvent = std::function<void(TMPCPlay& sender, const TWaveOutMessage& message)>;

    static constexpr std::intptr_t FinishedTag = 100000000; // user tag of the last header
    static constexpr int MaxBuffers = 1000;
    static constexpr int MaxChunkSamples = 1 << 24;
    static constexpr int MaxChans = 32767;
    // The longest ring the player grows to when the output needs more queued.
    static constexpr double MaxRingSeconds = 2.0;

    // device: owned; poster: delivers the device's notifications, must outlive the player.
    TMPCPlay(std::unique_ptr<TWaveOutDevice> device, TEventPoster& poster);
    ~TMPCPlay(); // closes the device without firing OnClosed
    TMPCPlay(const TMPCPlay&) = delete;
    TMPCPlay& operator=(const TMPCPlay&) = delete;

    // 16-bit values per buffer, all channels together; clamped to 1 .. MaxChunkSamples. A change
    // is refused while open (the device holds the buffers).
    int nChunkSamples() const { return m_nChunkSamples; }
    void SetnChunkSamples(int value);
    // Channels; a value <= 0 becomes 1, above MaxChans becomes MaxChans. Not while open.
    int nChans() const { return m_nChans; }
    void SetnChans(int value);
    // Total values per second (sample rate x channels); a value <= 0 becomes 1. Not while open.
    int sfTot() const { return m_sfTot; }
    void SetsfTot(int value);
    // Buffers in the ring, clamped to 1 .. MaxBuffers. A change is refused while open.
    int nBuffers() const { return m_nBuffers; }
    void SetnBuffers(int value);
    // Buffers in the ring in use: nBuffers, or more while open when the output needed more
    // queued to keep playing (its Starved notice). Each Open starts again from nBuffers.
    int RingBuffers() const { return static_cast<int>(m_headers.size()); }
    // How long the ring in use lasts, in seconds.
    double RingSeconds() const;
    // Times the output ran out of sound since it was last opened (0 if it cannot tell).
    std::int64_t Underruns() const { return m_device->Underruns(); }

    // The format the device is opened with, rebuilt from nChans and sfTot.
    const TWaveFormat& Format() const { return m_format; }
    bool IsOpen() const { return m_open; }
    // Frames heard since the device was opened or the ring last restarted (Start while playing);
    // 0 while closed. From the device's clock, so it trails what OnStash has filled.
    std::int64_t PlayedFrames() const { return m_open ? m_device->PlayedFrames() : 0; }
    bool Finished() const { return m_finished; }
    // Names of the output devices, read at creation.
    const std::vector<std::string>& DeviceNames() const { return m_deviceNames; }

    // One output as the device lists it now.
    struct TOutput {
        std::string Key;         // TWaveOutDevice::DeviceKey: how a choice is remembered
        std::string Description; // TWaveOutDevice::DeviceName: what the user reads
    };
    // The outputs there are now, asked of the device on each call (outputs come and go).
    std::vector<TOutput> Outputs() const;
    // The chosen output by its key; empty: the system's default. Used from the next Open on,
    // which looks the key up among the outputs there are then.
    const std::string& OutputKey() const { return m_outputKey; }
    void SetOutputKey(std::string key) { m_outputKey = std::move(key); }
    // True after an Open that did not find the chosen output and opened the default instead.
    bool OutputMissing() const { return m_outputMissing; }
    // Why the device last stopped on its own (server gone ...), empty if it never did.
    const std::string& LastDeviceError() const { return m_lastDeviceError; }

    // Opens the device if needed and queues every buffer, filled through OnStash, in ring order.
    // While playing, it first takes the queued buffers back, so the ring starts afresh.
    void Start();
    // Opens the device; false if it is open already.
    bool Open();
    void Stop();
    // Resets, unprepares and closes the device if open; OnClosed follows from the event loop.
    void Close();

    TNotifyEvent OnOpened;
    // The device has closed (after Stop, after the last buffer, or when it failed). Arrives from
    // the event loop, so a Start made meanwhile may have opened it again: see IsOpen().
    TNotifyEvent OnClosed;
    TStashEvent OnStash;
    TMsgEvent OnMsg; // sees every device notification before the player handles it
    // The ring has grown (see RingBuffers), because the output needed more sound queued.
    TNotifyEvent OnRingGrown;

private:
    struct TNotifyWindow;

    void RebuildFormat();
    void Reallocate();
    TWaveOutNotify MakeNotify();
    void FillBuffer(int k);
    void GrowRing(std::int64_t bytes);
    void HandleMessage(const TWaveOutMessage& message, unsigned session);
    void ForceClose();
    std::string ErrorTextOf(int result) const;
    void Check(int result, const char* what) const;
    void Fire(const TNotifyEvent& event);

    std::unique_ptr<TWaveOutDevice> m_device;
    TEventPoster& m_poster;
    std::shared_ptr<TNotifyWindow> m_window;

    int m_nChunkSamples = 4096;
    int m_nChans = 1;
    int m_sfTot = 16000;
    int m_nBuffers = 4;

    int m_deviceId = TWaveOutDevice::DefaultDevice;
    std::string m_outputKey;
    bool m_outputMissing = false;
    bool m_open = false;
    bool m_finished = false;
    TWaveFormat m_format;
    // Deques: the device holds pointers to the headers while the ring grows.
    std::deque<std::vector<std::int16_t>> m_buffers;
    std::deque<TWaveHeader> m_headers;
    std::vector<std::string> m_deviceNames;
    std::string m_lastDeviceError;
};

} // namespace kavrel
