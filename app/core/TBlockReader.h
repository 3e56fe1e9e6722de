#pragma once

// A sound file read on a thread of its own into a few slots of whole blocks, the channels
// interleaved as in the file, so that work on one block overlaps the reading of the next and no
// more of the sound than the slots hold is ever in memory.

#include "sound/TFrameSpan.h"
#include "sound/TWavScan.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace kavrel {

// How the blocks of a file are laid out: Frames per block (the last may hold fewer), and how
// many blocks may be held at once.
struct TBlockLayout {
    std::int64_t Frames = 1;
    std::size_t Slots = 2;
};

class TBlockReader {
public:
    // Called on the reading thread once the channel count is known.
    using TChooseLayout = std::function<TBlockLayout(std::int32_t channels)>;

    // Starts reading path (as ScanWavFile reads it) at once. When expected is given, the file
    // must have that format and exactly expected->Frames frames, as an earlier read found;
    // otherwise the read fails with EExportError naming outPath ("... changed while it was
    // read"). With a span, only its frames are taken (block 0 starts at its first frame): those
    // before it are passed over and the read ends at its end; Frames() and the format's Frames
    // then count the frames taken, and expected->Frames is held against those.
    TBlockReader(std::string path, std::string outPath, TChooseLayout layout,
                 const TWavScanFormat* expected = nullptr,
                 std::optional<TFrameSpan> span = std::nullopt);
    // Stops the read and waits for the thread.
    ~TBlockReader();
    TBlockReader(const TBlockReader&) = delete;
    TBlockReader& operator=(const TBlockReader&) = delete;

    // Waits until block k (frames k·Layout().Frames …) has arrived and points channels[c] at
    // its first sample of channel c, the next ones following Format().Channels values apart
    // (channels must hold Format().Channels pointers, or be null to only wait). Returns its
    // frames; 0 when the file ended before it; -1 when the read failed or was stopped. Blocks
    // must be asked for no earlier than Release allows.
    std::int64_t Wait(std::int64_t k, const std::int16_t** channels) noexcept;
    // Blocks before k are no longer needed: their slots may take new ones.
    void Release(std::int64_t k) noexcept;
    // Ends the read early; Wait then returns -1 for blocks that have not arrived.
    void Stop() noexcept;
    // Raises what made the read fail, if anything did.
    void RethrowError() const;

    // Valid once Wait has returned something other than -1: the format and layout.
    const TWavScanFormat& Format() const noexcept { return m_format; }
    const TBlockLayout& Layout() const noexcept { return m_layout; }
    // Valid once Wait has returned 0: whether the data ended early, and the frames read.
    bool Truncated() const noexcept { return m_truncated; }
    std::int64_t Frames() const noexcept { return m_frames; }
    // The fraction of the file read so far (0 … 1); any thread.
    double Fraction() const noexcept { return m_fraction.load(std::memory_order_relaxed); }

private:
    void Run() noexcept;
    void Prepare(const TWavScanFormat& format);
    std::span<std::int16_t> Place(const TWavScanFormat& format, std::size_t values);
    void Take(const TWavScanFormat& format, std::span<const std::int16_t> interleaved);
    std::string Changed() const;
    void Publish(std::unique_lock<std::mutex>& lock);
    void WaitForRoom(std::unique_lock<std::mutex>& lock);

    std::string m_path;
    std::string m_outPath;
    TChooseLayout m_choose;
    const TWavScanFormat* m_expected;
    std::optional<TFrameSpan> m_span;
    std::int64_t m_seen = 0; // frames of the file seen, taken or not
    TWavScanFormat m_format;
    TBlockLayout m_layout;
    // Each slot's frames, grown to those read into them (a short file takes little).
    std::vector<std::vector<std::int16_t>> m_slots;
    std::vector<std::int64_t> m_slotFrames;
    bool m_truncated = false;
    std::int64_t m_frames = 0;
    std::atomic<double> m_fraction{0.0};

    mutable std::mutex m_mutex;
    std::condition_variable m_changed; // blocks arrived, or the read ended
    std::condition_variable m_room;    // slots freed, or the read stopped
    std::int64_t m_refill = 1;         // free slots a full ring waits for
    std::int64_t m_wanted = -1;        // the furthest block waited for
    std::int64_t m_filling = 0;        // the block being read
    std::int64_t m_filled = 0;         // its frames so far
    std::int64_t m_arrived = 0;        // blocks complete
    std::int64_t m_released = 0;       // blocks no longer needed
    bool m_ended = false;
    bool m_stopped = false;
    std::exception_ptr m_error;
    std::thread m_thread;
};

} // namespace kavrel
