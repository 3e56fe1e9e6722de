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
            completed = ScanWavFile(
                m_path, format,
                [this, &format](std::span<const std::int16_t> block) { Take(format, block); },
                truncated,
                [this](double f) {
                    m_fraction.store(f, std::memory_order_relaxed);
                    std::lock_guard lock(m_mutex);
                    return !m_stopped;
                });
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

void TBlockReader::Take(const TWavScanFormat& format, std::span<const std::int16_t> interleaved)
{
    std::unique_lock lock(m_mutex);
    if (m_slots.empty()) {
        if (m_expected != nullptr && (format.Channels != m_expected->Channels ||
                                      format.SampleRate != m_expected->SampleRate))
            throw EExportError(Changed());
        m_format = format;
        m_layout = m_choose(format.Channels);
        m_slotFrames.assign(m_layout.Slots, 0);
        m_slots.assign(m_layout.Slots,
                       std::vector<TWav::TChannel>(static_cast<std::size_t>(format.Channels)));
        m_split.resize(static_cast<std::size_t>(format.Channels));
        // The slots the header's length fills take their whole size at once: grown step by step
        // they would copy what they hold each time.
        if (format.Frames > 0) {
            const std::int64_t blocks = (format.Frames + m_layout.Frames - 1) / m_layout.Frames;
            const auto frames = static_cast<std::size_t>(std::min(m_layout.Frames, format.Frames));
            for (std::size_t i = 0; i < m_slots.size() && static_cast<std::int64_t>(i) < blocks;
                 ++i)
                for (TWav::TChannel& channel : m_slots[i])
                    channel.reserve(frames);
        }
    }
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
        m_changed.wait(lock, [this] {
            return m_stopped || m_filling - m_released < static_cast<std::int64_t>(m_layout.Slots);
        });
        if (m_stopped)
            throw TStopRead{};
        const std::size_t slot = static_cast<std::size_t>(m_filling) % m_layout.Slots;
        const auto at = static_cast<std::size_t>(m_filled);
        const std::size_t count = std::min(frames - done, blockFrames - at);
        // The slot is the reader's until it is published: the copy runs unlocked.
        lock.unlock();
        std::vector<TWav::TChannel>& channels = m_slots[slot];
        if (channels[0].size() < at + count)
            for (TWav::TChannel& channel : channels)
                channel.resize(std::min(blockFrames, std::max(at + count, 2 * channel.size())));
        for (std::size_t c = 0; c < n; ++c)
            m_split[c] = channels[c].data() + at;
        SplitChannels(interleaved.subspan(done * n, count * n), m_format.Channels, m_split.data());
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
    m_changed.wait(lock, [&] { return k < m_arrived || m_ended || m_stopped; });
    if (k >= m_arrived)
        return m_ended && !m_stopped && !m_error ? 0 : -1;
    const std::size_t slot = static_cast<std::size_t>(k) % m_layout.Slots;
    if (channels == nullptr)
        return m_slotFrames[slot];
    for (std::size_t c = 0; c < static_cast<std::size_t>(m_format.Channels); ++c)
        channels[c] = m_slots[slot][c].data();
    return m_slotFrames[slot];
}

void TBlockReader::Release(std::int64_t k) noexcept
{
    {
        std::lock_guard lock(m_mutex);
        if (k <= m_released)
            return;
        m_released = k;
    }
    m_changed.notify_all();
}

void TBlockReader::Stop() noexcept
{
    {
        std::lock_guard lock(m_mutex);
        m_stopped = true;
    }
    m_changed.notify_all();
}

void TBlockReader::RethrowError() const
{
    std::lock_guard lock(m_mutex);
    if (m_error)
        std::rethrow_exception(m_error);
}

} // namespace kavrel
