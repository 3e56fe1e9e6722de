#pragma once
// An output device for tests. It plays nothing by itself: the test completes queued headers on
// command, and the device records every call, every value it was given and every value played.
// It enforces the header rules a real device has (prepare before write, no unprepare or write
// while queued, no close with headers queued), so misuse shows up as an error code.

#include "audio/TWaveOutDevice.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

namespace kavrel {

class TFakeWaveOutDevice : public TWaveOutDevice {
public:
    enum class TOp { Open, Prepare, Unprepare, Write, Pause, Restart, Reset, Close };

    // A header as the device saw it.
    struct TBlock {
        std::vector<std::int16_t> values;
        std::intptr_t user = 0;
        bool endOfSound = false; // the header carried TWaveHeader::EndOfSound
    };

    explicit TFakeWaveOutDevice(std::vector<std::string> names = {"Fake output"});

    int DeviceCount() const override;
    std::string DeviceName(int index) const override;
    // The key SetOutputs gave; the name otherwise.
    std::string DeviceKey(int index) const override;
    int Open(int deviceId, const TWaveFormat& format, TWaveOutNotify notify) override;
    int PrepareHeader(TWaveHeader& header) override;
    int UnprepareHeader(TWaveHeader& header) override;
    int Write(TWaveHeader& header) override;
    int Pause() override;
    int Restart() override;
    int Reset() override;
    int Close() override;
    std::string ErrorText(int code) const override;
    // Frames of the headers completed since Open or the last Reset.
    std::int64_t PlayedFrames() const override;

    // --- test controls
    // The outputs listed from now on (outputs come and go); keys as DeviceKey gives them.
    void SetOutputs(std::vector<std::string> names, std::vector<std::string> keys = {});
    // The next call of op fails with code (once).
    void FailNext(TOp op, int code);
    // Plays the oldest queued header: records it, marks it done and notifies Done. False if
    // nothing is queued, the device is paused or not open.
    bool CompleteNext();
    // Completes what is queued now (not what handlers queue later); returns how many.
    std::size_t CompleteQueued();
    // The device breaks while open: notifies Failed with code; later Open, Prepare, Write,
    // Pause and Restart calls return code until the device is repaired.
    void Break(int code = weDisconnected);
    void Repair();
    // The output needs more queued: notifies Starved with bytes (0: more than now), and counts
    // an underrun.
    void Starve(std::int64_t bytes);
    std::int64_t Underruns() const override { return m_underruns; }

    // --- what happened
    bool IsOpen() const { return m_open; }
    bool IsPaused() const { return m_paused; }
    std::size_t QueuedCount() const { return m_queue.size(); }
    const TWaveFormat& OpenedFormat() const { return m_format; }
    int OpenedDeviceId() const { return m_deviceId; }
    // Every value played, in order, all channels interleaved.
    const std::vector<std::int16_t>& Played() const { return m_played; }
    // Each header played, with the values it held when it was played.
    const std::vector<TBlock>& PlayedBlocks() const { return m_playedBlocks; }
    // Each header queued, with the values it held when it was written.
    const std::vector<TBlock>& WrittenBlocks() const { return m_writtenBlocks; }
    // One entry per call, e.g. "Open", "Prepare", "Write", "Reset" (also failed calls).
    const std::vector<std::string>& Calls() const { return m_calls; }
    // How many times each call was made.
    std::size_t CallCount(const std::string& name) const;
    void ClearRecords();

private:
    int Injected(TOp op);
    bool Holds(const TWaveHeader& header) const;
    void Notify(const TWaveOutMessage& message);

    std::vector<std::string> m_names;
    std::vector<std::string> m_keys;
    std::map<TOp, int> m_failNext;
    int m_broken = weNoError;
    bool m_open = false;
    bool m_paused = false;
    int m_deviceId = 0;
    TWaveFormat m_format;
    TWaveOutNotify m_notify;
    std::int64_t m_playedFrames = 0;
    std::int64_t m_underruns = 0;
    std::deque<TWaveHeader*> m_queue;
    std::vector<std::int16_t> m_played;
    std::vector<TBlock> m_playedBlocks;
    std::vector<TBlock> m_writtenBlocks;
    std::vector<std::string> m_calls;
};

} // namespace kavrel
