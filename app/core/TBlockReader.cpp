#include "app/core/TBlockReader.h"

#include "app/core/SoundExport.h"

#include <algorithm>
#include <cstring>

namespace kavrel {

namespace {

// Thrown through the scan to end it when the reader is stopped.
struct TStopRead {};
// Thrown through the scan to end it at the span's end.
struct TSpanRead {};

// Grows a slot to hold at least `need` values, doubling (a short file takes little), to at most
// `most`.
void Grow(std::vector<std::int16_t>& values, std::size_t need, std::size_t most)
{
    if (values.size() < need)
        values.resize(std::min(most, std::max(need, 2 * values.size())));
}

} // namespace

TBlockReader::TBlockReader(std::string path, std::string outPath, TChooseLayout layout,
                           const TWavScanFormat* expected, std::optional<TFrameSpan> span)
    : m_path(std::move(path)), m_outPath(std::move(outPath)), m_choose(std::move(layout)),
      m_expected(expected), m_span(span)
{
    m_thread = std::thread([this] { Run(); });
}

TBlockReader::~TBlockReader()
{
    Stop();
    m_thread.join();
}

void TBlockReader::Run() noexcept
{
    try {
        TWavScanFormat format;
        bool truncated = false;
        bool completed = true;
        try {
            // Without a region the file's values are read straight into the slots.
            TWavBlockPlace place;
            if (!m_span)
                place = [this, &format](std::size_t values) { return Place(format, values); };
            completed = ScanWavFile(
                m_path, format,
                [this, &format](std::span<const std::int16_t> block) { Take(format, block); },
                truncated,
                [this](double f) {
                    m_fraction.store(f, std::memory_order_relaxed);
                    std::lock_guard lock(m_mutex);
                    return !m_stopped;
                },
                place);
        } catch (const TSpanRead&) {
            truncated = false;
        }
        std::unique_lock lock(m_mutex);
        if (!completed)
            throw TStopRead{};
        if (m_slots.empty()) {
            m_format = format;
        } else if (m_filled > 0) {
            m_slotFrames[static_cast<std::size_t>(m_filling) % m_layout.Slots] = m_filled;
            ++m_filling;
            m_filled = 0;
            Publish(lock);
        }
        m_truncated = truncated;
        m_format.Frames = m_frames;
        m_format.Oversized = format.Oversized;
        if (m_expected != nullptr && m_frames != m_expected->Frames)
            throw EExportError(Changed());
    } catch (const TStopRead&) {
    } catch (...) {
        std::lock_guard lock(m_mutex);
        m_error = std::current_exception();
    }
    {
        std::lock_guard lock(m_mutex);
        m_ended = true;
    }
    m_changed.notify_all();
}

std::string TBlockReader::Changed() const
{
    return m_outPath + ": not written: '" + m_path + "' changed while it was read";
}

void TBlockReader::Publish(std::unique_lock<std::mutex>& lock)
{
    m_arrived = m_filling;
    lock.unlock();
    m_changed.notify_all();
    lock.lock();
}

// The layout and the slots, once the format is known; called locked.
void TBlockReader::Prepare(const TWavScanFormat& format)
{
    if (m_expected != nullptr &&
        (format.Channels != m_expected->Channels || format.SampleRate != m_expected->SampleRate))
        throw EExportError(Changed());
    m_format = format;
    m_layout = m_choose(format.Channels);
    m_refill = std::max<std::int64_t>(1, static_cast<std::int64_t>(m_layout.Slots) / 2);
    m_slotFrames.assign(m_layout.Slots, 0);
    m_slots.assign(m_layout.Slots, {});
    // The slots the header's length fills take their whole size at once: grown step by step
    // they would copy what they hold each time.
    if (format.Frames > 0) {
        const std::int64_t blocks = (format.Frames + m_layout.Frames - 1) / m_layout.Frames;
        const auto values =
            static_cast<std::size_t>(std::min(m_layout.Frames, format.Frames) * format.Channels);
        for (std::size_t i = 0; i < m_slots.size() && static_cast<std::int64_t>(i) < blocks; ++i)
            m_slots[i].reserve(values);
    }
}

// Waits, locked, until the slot being filled is free. A full ring is taken up again only once
// half its slots are free: a thread that sleeps and wakes for every block spends more on waking,
// and on the caches it finds cold, than on reading.
void TBlockReader::WaitForRoom(std::unique_lock<std::mutex>& lock)
{
    const auto slots = static_cast<std::int64_t>(m_layout.Slots);
    if (m_filling - m_released >= slots)
        m_room.wait(lock, [&] {
            return m_stopped || m_filling - m_released <= slots - m_refill ||
                   (m_wanted >= m_filling && m_filling - m_released < slots);
        });
    if (m_stopped)
        throw TStopRead{};
}

// Where the scan may read its next values: the slot being filled, from its first free frame, once
// it is free.
std::span<std::int16_t> TBlockReader::Place(const TWavScanFormat& format, std::size_t values)
{
    std::unique_lock lock(m_mutex);
    if (m_slots.empty())
        Prepare(format);
    WaitForRoom(lock);
    const auto n = static_cast<std::size_t>(m_format.Channels);
    const std::size_t slot = static_cast<std::size_t>(m_filling) % m_layout.Slots;
    const auto at = static_cast<std::size_t>(m_filled);
    const std::size_t count = std::max<std::size_t>(
        1, std::min(values / n, static_cast<std::size_t>(m_layout.Frames) - at));
    lock.unlock();
    std::vector<std::int16_t>& slotValues = m_slots[slot];
    Grow(slotValues, (at + count) * n, static_cast<std::size_t>(m_layout.Frames) * n);
    return {slotValues.data() + at * n, count * n};
}

void TBlockReader::Take(const TWavScanFormat& format, std::span<const std::int16_t> interleaved)
{
    std::unique_lock lock(m_mutex);
    if (m_slots.empty())
        Prepare(format);
    const auto n = static_cast<std::size_t>(m_format.Channels);
    const auto blockFrames = static_cast<std::size_t>(m_layout.Frames);
    std::size_t frames = interleaved.size() / n;
    // Only the span's frames are taken.
    std::size_t done = 0;
    const std::int64_t seen = m_seen;
    m_seen += static_cast<std::int64_t>(frames);
    if (m_span) {
        const auto within = [&](std::int64_t frame) {
            return static_cast<std::size_t>(
                std::clamp<std::int64_t>(frame - seen, 0, static_cast<std::int64_t>(frames)));
        };
        done = within(m_span->First);
        frames = within(m_span->End);
    }
    if (m_expected != nullptr &&
        m_frames + static_cast<std::int64_t>(frames - std::min(done, frames)) > m_expected->Frames)
        throw EExportError(Changed());
    while (done < frames) {
        WaitForRoom(lock);
        const std::size_t slot = static_cast<std::size_t>(m_filling) % m_layout.Slots;
        const auto at = static_cast<std::size_t>(m_filled);
        const std::size_t count = std::min(frames - done, blockFrames - at);
        // The slot is the reader's until it is published: the copy runs unlocked.
        lock.unlock();
        std::vector<std::int16_t>& values = m_slots[slot];
        Grow(values, (at + count) * n, blockFrames * n);
        // Values that Place put there already are left as they are.
        if (values.data() + at * n != interleaved.data() + done * n)
            std::memcpy(values.data() + at * n, interleaved.data() + done * n,
                        count * n * sizeof(std::int16_t));
        lock.lock();
        done += count;
        m_frames += static_cast<std::int64_t>(count);
        m_filled += static_cast<std::int64_t>(count);
        if (m_filled == m_layout.Frames) {
            m_slotFrames[slot] = m_filled;
            ++m_filling;
            m_filled = 0;
            Publish(lock);
        }
    }
    if (m_span && m_seen >= m_span->End)
        throw TSpanRead{};
}

std::int64_t TBlockReader::Wait(std::int64_t k, const std::int16_t** channels) noexcept
{
    std::unique_lock lock(m_mutex);
    if (k >= m_arrived && k > m_wanted) {
        // A block the ring may hold is waited for: the reading thread takes it without waiting
        // for more free slots.
        m_wanted = k;
        m_room.notify_one();
    }
    m_changed.wait(lock, [&] { return k < m_arrived || m_ended || m_stopped; });
    if (k >= m_arrived)
        return m_ended && !m_stopped && !m_error ? 0 : -1;
    const std::size_t slot = static_cast<std::size_t>(k) % m_layout.Slots;
    if (channels == nullptr)
        return m_slotFrames[slot];
    for (std::size_t c = 0; c < static_cast<std::size_t>(m_format.Channels); ++c)
        channels[c] = m_slots[slot].data() + c;
    return m_slotFrames[slot];
}

void TBlockReader::Release(std::int64_t k) noexcept
{
    {
        std::lock_guard lock(m_mutex);
        if (k <= m_released)
            return;
        m_released = k;
        // The reading thread waits for a few free slots at once (WaitForRoom).
        if (m_filling - m_released > static_cast<std::int64_t>(m_layout.Slots) - m_refill &&
            m_wanted < m_filling)
            return;
    }
    m_room.notify_one();
}

void TBlockReader::Stop() noexcept
{
    {
        std::lock_guard lock(m_mutex);
        m_stopped = true;
    }
    m_changed.notify_all();
    m_room.notify_all();
}

void TBlockReader::RethrowError() const
{
    std::lock_guard lock(m_mutex);
    if (m_error)
        std::rethrow_exception(m_error);
}

} // namespace kavrel
