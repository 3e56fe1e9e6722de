// The export runs on the machine's cores. The peak pass is one recursion per channel, bound by
// the latency of its multiply-add chain, so the channels run on threads of their own; it also
// keeps the delay line every CheckpointFrames frames. With those the write pass splits each
// channel into independent stretches that run side by side in vector lanes, while the calling
// thread writes the finished blocks to the file and fills blocks itself between them. Every value
// is bit for bit what one section from a cleared delay line gives, and the dither draws are those
// of one generator running through the channels in pairs (frame by frame, left then right), as the
// generator is a counter that can be indexed directly. From a file both passes read it again block
// by block, so that the export's memory does not grow with the sound: the peak pass of 16-bit
// samples on the filtering thread, the others on a thread of their own (TBlockReader).

#include "app/core/SoundExport.h"

#include "app/core/ExportLanes.h"
#include "app/core/TBlockReader.h"
#include "sound/TWavScan.h"
#include "sound/TWavStream.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <exception>
#include <mutex>
#include <new>
#include <optional>
#include <span>
#include <thread>
#include <vector>

#include <sys/stat.h>

namespace kavrel {

namespace {

using detail::CheckpointFrames;
using detail::Lanes;
using detail::TDelayLine;
using detail::TKernel;
using detail::TLaneJob;

// Progress is reported every this many frames of a pass.
constexpr std::int64_t ProgressStride = 1 << 16;
constexpr std::int64_t LaneFrames = CheckpointFrames * Lanes;
// Frames of one block handed to the writer: a few lane groups, so that each write is large.
constexpr std::int64_t BlockFrames = LaneFrames * 4;
// Blocks in flight between the filtering threads and the writer.
constexpr std::size_t RingBlocks = 8;
// Bytes the output blocks may take at most, whatever the channel count: with many channels the
// blocks get shorter, and past a point one block at a time is filled on the writing thread.
constexpr std::int64_t BlockBudgetBytes = std::int64_t{32} << 20;
constexpr int MaxThreads = 2;
// The blocks of the first read of a file, for the peak pass: their size in bytes at most, and how
// many are held at once.
constexpr std::int64_t PeakBlockBytes = std::int64_t{128} << 10;
constexpr std::size_t PeakBlocks = 4;

// Maps the fraction of one stage onto [begin, end] of the whole export.
struct TStage {
    const TExportProgress* Progress;
    double Begin;
    double End;

    bool Report(double fraction) const
    {
        if (Progress == nullptr || !*Progress)
            return true;
        return (*Progress)(Begin + (End - Begin) * fraction);
    }
};

// Joins the threads however the scope is left; stop tells them to give up early.
class TThreads {
public:
    explicit TThreads(std::atomic<bool>& stop) : m_stop(stop) {}
    ~TThreads() { JoinAll(); }
    TThreads(const TThreads&) = delete;
    TThreads& operator=(const TThreads&) = delete;

    // Starts f on a thread; false (and f not run) when no thread can be had.
    template <typename F> bool Start(F f)
    {
        try {
            m_threads.emplace_back(std::move(f));
            return true;
        } catch (const std::exception&) {
            return false;
        }
    }
    void JoinAll() noexcept
    {
        if (!m_threads.empty() && std::uncaught_exceptions() > 0)
            m_stop = true;
        for (std::thread& t : m_threads)
            if (t.joinable())
                t.join();
        m_threads.clear();
    }

private:
    std::atomic<bool>& m_stop;
    std::vector<std::thread> m_threads;
};

int ThreadCount(std::int64_t work)
{
    if (work < 4 * ProgressStride)
        return 1;
    const unsigned cores = std::thread::hardware_concurrency();
    return std::clamp(static_cast<int>(cores), 1, MaxThreads);
}

// The frames of a loaded sound that an export takes: all of them, or a region.
struct TSoundPart {
    const TWav& Wav;
    std::int64_t First;
    std::int64_t Length;

    const std::int16_t* Samples(std::int32_t c) const noexcept
    {
        return Wav.ChannelSamples(c).data() + First;
    }
};

// The peak of every channel, and the delay line at each checkpoint.
struct TPeakPass {
    std::vector<double> Peaks;
    std::vector<std::vector<TDelayLine>> Checkpoints;
};

// The largest of pk and |y| over n samples on delay line d, which it advances. The kernel is a
// copy, so its coefficients stay in registers; the common type has a loop of its own.
double PeakOfStretch(const TKernel k, const std::int16_t* s, std::int64_t n, TDelayLine& d,
                     double pk) noexcept
{
    if (k.Type != tfiltertype::ftboth) {
        for (std::int64_t i = 0; i < n; ++i)
            pk = std::max(pk, std::fabs(k.Process(static_cast<double>(s[i]), d)));
        return pk;
    }
    double w1 = d.W1;
    double w2 = d.W2;
    for (std::int64_t i = 0; i < n; ++i) {
        const double x = s[i];
        const double p = k.A0 * x + k.A1 * w1 + k.A2 * w2;
        const double t = k.B0 * (p + k.B1 * w1 + k.B2 * w2);
        double y = k.Gain * t;
        if (std::isfinite(y)) {
            w2 = w1;
            w1 = p;
        } else {
            y = 0.0;
        }
        pk = std::max(pk, std::fabs(y));
    }
    d = {w1, w2};
    return pk;
}

// One channel of the peak pass from a cleared delay line, keeping the checkpoints. Every
// ProgressStride frames or so it counts them in done and calls report (when given), which
// returns false to stop; false when stopped.
template <typename Report, typename Available>
bool PeakOfChannel(const TKernel& k, const std::int16_t* s, double& peak,
                   std::vector<TDelayLine>& checkpoints, std::atomic<std::int64_t>& done,
                   const std::atomic<bool>& stop, Report report, Available available)
{
    constexpr std::int64_t reportEvery = ProgressStride / CheckpointFrames + 1;
    TDelayLine d;
    double pk = 0.0;
    std::int64_t counted = 0;
    for (std::int64_t seg = 0;; ++seg) {
        const std::int64_t start = seg * CheckpointFrames;
        // The frames there are to filter: at least up to the end of this stretch, or all.
        const std::int64_t have = available(start + CheckpointFrames);
        if (stop)
            return false;
        if (have <= start)
            break;
        const std::int64_t frames = std::min(CheckpointFrames, have - start);
        checkpoints[static_cast<std::size_t>(seg)] = d;
        pk = PeakOfStretch(k, s + start, frames, d, pk);
        if ((seg + 1) % reportEvery == 0) {
            done += start + frames - counted;
            counted = start + frames;
            if (stop || !report())
                return false;
        }
    }
    done += available(0) - counted;
    peak = pk;
    return report();
}

// Runs the peak pass; false when progress cancelled.
bool RunPeakPass(const TSoundPart& source, const TKernel& kernel, const TStage& stage,
                 TPeakPass& out)
{
    const std::int32_t channels = source.Wav.Channels();
    const std::int64_t length = source.Length;
    const auto nc = static_cast<std::size_t>(channels);
    out.Peaks.assign(nc, 0.0);
    out.Checkpoints.assign(
        nc, std::vector<TDelayLine>(static_cast<std::size_t>(length / CheckpointFrames + 1)));
    const double total = static_cast<double>(channels) * static_cast<double>(length);
    std::atomic<std::int64_t> done{0};
    std::atomic<bool> stop{false};
    const auto run = [&](std::int32_t c, auto report) {
        return PeakOfChannel(kernel, source.Samples(c), out.Peaks[static_cast<std::size_t>(c)],
                             out.Checkpoints[static_cast<std::size_t>(c)], done, stop, report,
                             [length](std::int64_t) { return length; });
    };

    // Channel c runs on thread c mod threads; thread 0 is the calling one, which also reports.
    int threads = std::min(ThreadCount(length), channels);
    TThreads workers(stop);
    for (int t = 1; t < threads; ++t) {
        const bool started = workers.Start([&, t] {
            for (std::int32_t c = t; c < channels; c += threads)
                if (!run(c, [] { return true; }))
                    return;
        });
        if (!started) {
            // No thread to be had: every channel runs on the calling one.
            stop = true;
            workers.JoinAll();
            stop = false;
            done = 0;
            threads = 1;
            break;
        }
    }
    const auto report = [&] {
        return stage.Report(total > 0.0 ? static_cast<double>(done) / total : 1.0);
    };
    for (std::int32_t c = 0; c < channels; c += threads) {
        if (!run(c, report)) {
            stop = true;
            return false;
        }
    }
    workers.JoinAll();
    return stage.Report(1.0);
}

// Where the dither draws of a channel lie in the one generator's sequence: draw First + Step·i
// for frame i.
struct TDrawIndex {
    std::uint64_t First;
    std::uint64_t Step;
};

TDrawIndex DrawIndexOf(std::int32_t c, std::int32_t channels, std::int64_t length)
{
    const auto pairStart = static_cast<std::uint64_t>(c & ~1);
    const auto len = static_cast<std::uint64_t>(length);
    if (pairStart + 1 < static_cast<std::uint64_t>(channels))
        return {pairStart * len + static_cast<std::uint64_t>(c & 1), 2};
    return {pairStart * len, 1};
}

// Fills one block of the output: frames first … first+frames-1 of every channel, interleaved,
// from in[c], channel c's sample at frame first, the next ones `stride` values apart.
class TWritePass {
public:
    TWritePass(const TKernel& kernel, const TPeakPass& peaks, double scale,
               std::uint64_t ditherState, std::int32_t channels, std::int64_t length)
        : m_kernel(kernel), m_peaks(peaks), m_scale(scale), m_state(ditherState),
          m_channels(channels), m_length(length)
    {
    }

    void Fill(std::int64_t first, std::int64_t frames, const std::int16_t* const* in,
              std::int64_t stride, std::int16_t* out) const noexcept
    {
        std::optional<TLaneJob> pending;
        for (std::int64_t sub = first; sub < first + frames; sub += LaneFrames)
            FillGroup(sub, std::min(LaneFrames, first + frames - sub), in, stride,
                      (sub - first) * stride, out + (sub - first) * m_channels, pending);
        if (pending)
            m_fillLanes(*pending, nullptr);
    }

    // The same, each channel going on from its delay line in lines (cleared before frame 0),
    // which it advances: for blocks filled in order, from any frame, without checkpoints.
    void FillInOrder(std::int64_t first, std::int64_t frames, const std::int16_t* const* in,
                     std::int64_t stride, std::int16_t* out,
                     std::vector<TDelayLine>& lines) const noexcept
    {
        for (std::int32_t c = 0; c < m_channels; ++c) {
            const TDrawIndex draws = DrawIndexOf(c, m_channels, m_length);
            const std::int16_t* from = in[c];
            TDelayLine& d = lines[static_cast<std::size_t>(c)];
            for (std::int64_t i = first; i < first + frames; ++i) {
                const double y =
                    m_kernel.Process(static_cast<double>(from[(i - first) * stride]), d);
                TDitherRandom r(m_state +
                                (draws.First + draws.Step * static_cast<std::uint64_t>(i)) *
                                    TDitherRandom::Increment);
                out[(i - first) * m_channels + c] = DitherTo16(y * m_scale, r);
            }
        }
    }

private:
    // Frames first … first+frames-1 (at most LaneFrames, from a checkpoint) into out; in[c] +
    // skip is channel c's frame first, the next ones stride values apart. Lane jobs go out in
    // pairs: one waits in pending for the next.
    void FillGroup(std::int64_t first, std::int64_t frames, const std::int16_t* const* in,
                   std::int64_t stride, std::int64_t skip, std::int16_t* out,
                   std::optional<TLaneJob>& pending) const noexcept
    {
        for (std::int32_t c = 0; c < m_channels; ++c) {
            const TDrawIndex draws = DrawIndexOf(c, m_channels, m_length);
            const std::int16_t* from = in[c] + skip;
            const std::vector<TDelayLine>& cp = m_peaks.Checkpoints[static_cast<std::size_t>(c)];
            if (m_kernel.Type == tfiltertype::ftboth && frames == LaneFrames &&
                first % CheckpointFrames == 0) {
                TLaneJob job{
                    &m_kernel, m_scale, from,    stride,    cp.data() + first / CheckpointFrames,
                    {},        0,       out + c, m_channels};
                job.StateStep = draws.Step * TDitherRandom::Increment;
                for (int j = 0; j < Lanes; ++j) {
                    const auto frame = static_cast<std::uint64_t>(first + j * CheckpointFrames);
                    // Draw n mixes state + (n + 1)·Increment; the loop adds StateStep first.
                    job.State[j] =
                        m_state +
                        (draws.First + draws.Step * frame + 1) * TDitherRandom::Increment -
                        job.StateStep;
                }
                if (pending) {
                    m_fillLanes(*pending, &job);
                    pending.reset();
                } else {
                    pending = job;
                }
                continue;
            }
            for (std::int64_t seg = first; seg < first + frames; seg += CheckpointFrames) {
                TDelayLine d = cp[static_cast<std::size_t>(seg / CheckpointFrames)];
                const std::int64_t end = std::min(first + frames, seg + CheckpointFrames);
                for (std::int64_t i = seg; i < end; ++i) {
                    const double y =
                        m_kernel.Process(static_cast<double>(from[(i - first) * stride]), d);
                    TDitherRandom r(m_state +
                                    (draws.First + draws.Step * static_cast<std::uint64_t>(i)) *
                                        TDitherRandom::Increment);
                    out[(i - first) * m_channels + c] = DitherTo16(y * m_scale, r);
                }
            }
        }
    }

    const TKernel& m_kernel;
    const TPeakPass& m_peaks;
    double m_scale;
    std::uint64_t m_state;
    std::int32_t m_channels;
    std::int64_t m_length;
    detail::TFillLanes m_fillLanes = detail::PickLanePath().Fill;
};

// Where the write pass takes its samples from, block by block (blocks of the ring's size).
class TWriteInput {
public:
    virtual ~TWriteInput() = default;
    // Points channels[c] at channel c's first frame of block k once it is there; false when it
    // never comes.
    virtual bool Get(std::int64_t k, const std::int16_t** channels) noexcept = 0;
    // Values from one frame of a channel to the next.
    virtual std::int64_t Stride() const noexcept = 0;
    // Blocks before k have been written.
    virtual void Release(std::int64_t k) noexcept = 0;
    // Raises why a block did not come.
    virtual void RethrowError() const = 0;
    // Gives up: Get returns false from now on, also to a caller waiting in it.
    virtual void Stop() noexcept = 0;
};

// The loaded sound.
class TMemoryInput final : public TWriteInput {
public:
    TMemoryInput(const TSoundPart& source, std::int64_t blockFrames)
        : m_source(source), m_blockFrames(blockFrames)
    {
    }
    bool Get(std::int64_t k, const std::int16_t** channels) noexcept override
    {
        for (std::int32_t c = 0; c < m_source.Wav.Channels(); ++c)
            channels[c] = m_source.Samples(c) + k * m_blockFrames;
        return true;
    }
    std::int64_t Stride() const noexcept override { return 1; }
    void Release(std::int64_t) noexcept override {}
    void RethrowError() const override {}
    void Stop() noexcept override {}

private:
    TSoundPart m_source;
    std::int64_t m_blockFrames;
};

// A second read of the file, whose blocks are the ring's.
class TReaderInput final : public TWriteInput {
public:
    explicit TReaderInput(TBlockReader& reader) : m_reader(reader) {}
    bool Get(std::int64_t k, const std::int16_t** channels) noexcept override
    {
        return m_reader.Wait(k, channels) > 0;
    }
    std::int64_t Stride() const noexcept override { return m_reader.Format().Channels; }
    void Release(std::int64_t k) noexcept override { m_reader.Release(k); }
    void Stop() noexcept override { m_reader.Stop(); }
    void RethrowError() const override
    {
        m_reader.RethrowError();
        throw EExportError("the sound file could not be read again");
    }

private:
    TBlockReader& m_reader;
};

// Blocks filled by worker threads into a ring and handed to the writer in order. In order (for
// a pass without checkpoints) the writer fills each block itself.
class TBlockRing {
public:
    // blockFrames: a multiple of LaneFrames (blocks start at checkpoints) unless in order.
    TBlockRing(const TWritePass& pass, TWriteInput& input, std::int64_t length,
               std::int32_t channels, std::int64_t blockFrames, bool inOrder)
        : m_pass(pass), m_input(input), m_length(length), m_channels(channels),
          m_blockFrames(blockFrames), m_inOrder(inOrder), m_slotCount(inOrder ? 1 : RingBlocks),
          m_blocks((length + blockFrames - 1) / blockFrames), m_slots(m_slotCount),
          m_inputs(m_slotCount), m_ready(m_slotCount, -1)
    {
        for (auto& slot : m_slots)
            slot.resize(static_cast<std::size_t>(std::min(blockFrames, length) * channels));
        for (auto& in : m_inputs)
            in.resize(static_cast<std::size_t>(channels));
        if (inOrder)
            m_lines.resize(static_cast<std::size_t>(channels));
    }

    // The worker loop: fill the next free block until all are taken or the ring is stopped.
    void Work() noexcept
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_space.wait(lock, [&] { return m_stopped || m_next >= m_blocks || HasRoom(); });
            if (m_stopped || m_next >= m_blocks || !FillNext(lock))
                return;
        }
    }

    // The writer's source: the block holding frame first, once it is filled. Blocks before it are
    // written, so their slots are free. With no workers the block is filled here; with workers
    // the writer, rather than wait for the block, fills the next free one itself while there is
    // one: a thread that sleeps and wakes for every block costs more than the filling it waits
    // for.
    std::span<const std::int16_t> Next(std::int64_t first, bool haveWorkers)
    {
        const std::int64_t k = first / m_blockFrames;
        const std::size_t slot = static_cast<std::size_t>(k) % m_slotCount;
        m_input.Release(k);
        if (!haveWorkers) {
            if (!FillBlock(k))
                m_input.RethrowError();
        } else {
            bool failed = false;
            {
                std::unique_lock lock(m_mutex);
                m_freed = k;
                m_space.notify_all();
                while (m_ready[slot] != k && !m_failed) {
                    if (!m_stopped && m_next < m_blocks && HasRoom()) {
                        FillNext(lock);
                        continue;
                    }
                    m_waitingFor = k;
                    m_done.wait(lock);
                    m_waitingFor = -1;
                }
                failed = m_ready[slot] != k;
            }
            if (failed)
                m_input.RethrowError();
        }
        const std::int64_t frames = std::min(m_blockFrames, m_length - k * m_blockFrames);
        return {m_slots[slot].data(), static_cast<std::size_t>(frames * m_channels)};
    }

    // Ends the work, and the input's, however the writing ended.
    void Stop() noexcept
    {
        {
            std::lock_guard lock(m_mutex);
            m_stopped = true;
        }
        m_space.notify_all();
        m_done.notify_all();
        m_input.Stop();
    }

private:
    // Whether the next block has a free slot; called locked.
    bool HasRoom() const noexcept
    {
        return m_next - m_freed < static_cast<std::int64_t>(m_slotCount);
    }

    // Takes the next block and fills it, unlocked; called locked. False when its input never
    // came: the ring has failed.
    bool FillNext(std::unique_lock<std::mutex>& lock) noexcept
    {
        const std::int64_t k = m_next++;
        lock.unlock();
        const bool filled = FillBlock(k);
        lock.lock();
        if (filled)
            m_ready[static_cast<std::size_t>(k) % m_slotCount] = k;
        else
            m_failed = true;
        if (!filled || m_waitingFor == k)
            m_done.notify_one();
        return filled;
    }

    bool FillBlock(std::int64_t k) noexcept
    {
        const std::int64_t first = k * m_blockFrames;
        const std::size_t slot = static_cast<std::size_t>(k) % m_slotCount;
        std::vector<const std::int16_t*>& in = m_inputs[slot];
        if (!m_input.Get(k, in.data()))
            return false;
        const std::int64_t frames = std::min(m_blockFrames, m_length - first);
        const std::int64_t stride = m_input.Stride();
        if (m_inOrder)
            m_pass.FillInOrder(first, frames, in.data(), stride, m_slots[slot].data(), m_lines);
        else
            m_pass.Fill(first, frames, in.data(), stride, m_slots[slot].data());
        return true;
    }

    const TWritePass& m_pass;
    TWriteInput& m_input;
    std::int64_t m_length;
    std::int32_t m_channels;
    std::int64_t m_blockFrames;
    bool m_inOrder;
    std::size_t m_slotCount;
    std::int64_t m_blocks;
    std::vector<std::vector<std::int16_t>> m_slots;
    std::vector<std::vector<const std::int16_t*>> m_inputs;
    std::vector<std::int64_t> m_ready;
    std::vector<TDelayLine> m_lines;
    std::mutex m_mutex;
    std::condition_variable m_space; // slots freed, or the ring stopped: for the workers
    std::condition_variable m_done;  // the block the writer waits for is filled, or failed
    std::int64_t m_waitingFor = -1;  // that block, while the writer waits
    std::int64_t m_next = 0;
    std::int64_t m_freed = 0;
    bool m_stopped = false;
    bool m_failed = false;
};

// Empties the scratch sound however the export ends.
struct TClearOnExit {
    TWav& Wav;
    ~TClearOnExit() { Wav.Clear(); }
};

double MaxOf(const std::vector<double>& v)
{
    double m = 0.0;
    for (const double x : v)
        m = std::max(m, x);
    return m;
}

// How the write pass takes its blocks: frames per block, and whether in order (one block at a
// time, each channel going on from where the last block left it) rather than from checkpoints.
struct TWriteLayout {
    std::int64_t Frames;
    bool InOrder;
};

// Blocks of the loaded sound: a ring of blocks when it fits the budget, else (so many channels
// that even short blocks in a ring would not fit) one block at a time.
TWriteLayout MemoryLayout(std::int32_t channels, std::int64_t length)
{
    const std::int64_t frameBytes = 2 * std::int64_t{channels};
    for (const std::int64_t frames : {BlockFrames, LaneFrames})
        if (static_cast<std::int64_t>(RingBlocks) * std::min(frames, length) * frameBytes <=
            BlockBudgetBytes)
            return {frames, false};
    return {std::max<std::int64_t>(
                1, std::min({BlockBudgetBytes / 2 / frameBytes, BlockFrames, length})),
            true};
}

// The write pass and the file, after the peak pass, taking the samples from input in blocks of
// layout; raises EExportError for a silent sound.
bool WriteExport(TWriteInput& input, const TWriteLayout& layout, const TWavStreamFormat& format,
                 const TKernel& kernel, const TPeakPass& peaks, const std::string& path,
                 TDitherRandom& dither, const TStage& writing)
{
    const double peak = MaxOf(peaks.Peaks);
    if (!(peak > 0.0))
        throw EExportError(path + ": not written: the filtered sound is silent");

    // y ÷ peak × 32764 as one multiplication: the two differ at most in the last bit of a
    // double, far below what the dither and the rounding can tell apart.
    const double scale = ExportPeakTarget / peak;
    const std::int32_t channels = format.Channels;
    const std::int64_t length = format.Length;
    const TWritePass pass(kernel, peaks, scale, dither.State(), channels, length);
    const auto report = [&writing](double f) { return writing.Report(f); };
    TBlockRing ring(pass, input, length, channels, layout.Frames, layout.InOrder);
    std::atomic<bool> stop{false};
    bool haveWorkers = false;
    {
        TThreads workers(stop);
        // The writer fills blocks too: beside it, one thread fewer than the cores.
        const int threads = layout.InOrder ? 1 : ThreadCount(length * channels);
        for (int t = 1; t < threads; ++t)
            haveWorkers = workers.Start([&ring] { ring.Work(); }) || haveWorkers;
        struct TStopOnExit {
            TBlockRing& Ring;
            ~TStopOnExit() { Ring.Stop(); }
        } stopRing{ring};

        const bool complete = WriteWavStream(
            path, format, [&](std::int64_t first) { return ring.Next(first, haveWorkers); },
            report);
        if (!complete)
            return false;
    }
    dither.Discard(static_cast<std::uint64_t>(channels) * static_cast<std::uint64_t>(length));
    return true;
}

bool WriteExport(const TSoundPart& source, const TKernel& kernel, const TPeakPass& peaks,
                 const std::string& path, TDitherRandom& dither, const TStage& writing)
{
    const std::int32_t channels = source.Wav.Channels();
    const TWriteLayout layout = MemoryLayout(channels, source.Length);
    TMemoryInput input(source, layout.Frames);
    return WriteExport(input, layout, {channels, source.Wav.SampleRate(), source.Length}, kernel,
                       peaks, path, dither, writing);
}

} // namespace

double FilteredPeak(const TWav& source, TFilterSection filter, const TExportProgress& progress)
{
    TPeakPass pass;
    if (!RunPeakPass({source, 0, source.Length()}, TKernel(filter), TStage{&progress, 0.0, 1.0},
                     pass))
        return -1.0;
    return MaxOf(pass.Peaks);
}

namespace {

// Blocks of a file read twice: the read's slots and the ring's together fit the budget.
TWriteLayout StreamLayout(std::int32_t channels)
{
    const std::int64_t frameBytes = 2 * std::int64_t{channels};
    for (const std::int64_t frames : {BlockFrames, LaneFrames})
        if (2 * static_cast<std::int64_t>(RingBlocks) * frames * frameBytes <= BlockBudgetBytes)
            return {frames, false};
    return {std::max<std::int64_t>(1, std::min(BlockBudgetBytes / 3 / frameBytes, BlockFrames)),
            true};
}

// The peak pass over blocks as they arrive, every channel from a cleared delay line, channels
// in pairs; keeps the delay line at each checkpoint when asked to.
class TStreamPeaks {
public:
    TStreamPeaks(const TKernel& kernel, std::int32_t channels, bool checkpoints, TPeakPass& out)
        : m_kernel(kernel), m_channels(static_cast<std::size_t>(channels)),
          m_checkpoints(checkpoints), m_out(out), m_lines(m_channels)
    {
        m_out.Peaks.assign(m_channels, 0.0);
        m_out.Checkpoints.assign(checkpoints ? m_channels : 0, {});
    }

    // Frames first … first+frames-1, in[c] holding channel c's, a frame stride values on from
    // the last; blocks come in order.
    void Add(const std::int16_t* const* in, std::int64_t stride, std::int64_t first,
             std::int64_t frames)
    {
        std::vector<double>& peaks = m_out.Peaks;
        for (std::int64_t at = 0; at < frames;) {
            std::int64_t n = frames - at;
            if (m_checkpoints) {
                const std::int64_t phase = (first + at) % CheckpointFrames;
                if (phase == 0)
                    for (std::size_t c = 0; c < m_channels; ++c)
                        m_out.Checkpoints[c].push_back(m_lines[c]);
                n = std::min(n, CheckpointFrames - phase);
            }
            for (std::size_t c = 0; c < m_channels; ++c)
                m_from[c] = in[c] + at * stride;
            m_peakLanes(m_kernel, m_from.data(), stride, n, static_cast<std::int32_t>(m_channels),
                        m_lines.data(), peaks.data());
            at += n;
        }
    }

private:
    TKernel m_kernel;
    std::size_t m_channels;
    bool m_checkpoints;
    TPeakPass& m_out;
    std::vector<TDelayLine> m_lines;
    std::vector<const std::int16_t*> m_from = std::vector<const std::int16_t*>(m_channels);
    detail::TPeakLanes m_peakLanes = detail::PickLanePath().Peaks;
};

// What the peak pass of a file finds: the format (Frames: the frames taken), whether the data
// ended early, and the write pass's layout.
struct TFilePeaks {
    TWavScanFormat Format;
    bool Truncated = false;
    std::optional<TWriteLayout> Layout;
};

// Thrown through the scan of the peak pass on the calling thread: the samples need converting.
struct TConvertedRead {};
// Thrown through the scan to end it at the region's end.
struct TRegionEnd {};

// The peak pass over a wave file of 16-bit samples read on the calling thread, each block
// filtered as soon as it is read, while it is still in this core's cache: the read is a copy,
// and a thread reading ahead would hand every block over from another core's cache and sleep
// and wake for the filter. Only the region's frames are taken; filter gets the file's rate.
// Raises TConvertedRead, before any block is taken, when the samples need converting (that work
// is worth a thread of its own). Returns false when progress cancelled.
bool PlainFilePeakPass(const std::string& inPath, TFilterSection& filter,
                       const std::optional<TFrameSpan>& span, const TStage& reading,
                       TPeakPass& peaks, TFilePeaks& out)
{
    TWavScanFormat& format = out.Format;
    std::vector<std::int16_t> buffer;
    const auto place = [&](std::size_t values) {
        if (format.Encoding != TWavEncoding::Pcm16)
            throw TConvertedRead{};
        const auto n = static_cast<std::size_t>(format.Channels);
        if (buffer.empty())
            buffer.resize(std::max<std::size_t>(1, PeakBlockBytes / 2 / n) * n);
        return std::span<std::int16_t>(buffer.data(), std::min(buffer.size(), values));
    };
    std::optional<TStreamPeaks> pass;
    std::vector<const std::int16_t*> in;
    std::int64_t seen = 0; // frames of the file seen, taken or not
    std::int64_t taken = 0;
    const auto take = [&](std::span<const std::int16_t> interleaved) {
        const std::int32_t channels = format.Channels;
        if (!pass) {
            // Values not read into the buffer were converted on the way.
            if (interleaved.data() != buffer.data())
                throw TConvertedRead{};
            filter.SetSampFreq(static_cast<double>(format.SampleRate));
            out.Layout = StreamLayout(channels);
            pass.emplace(TKernel(filter), channels, !out.Layout->InOrder, peaks);
            in.resize(static_cast<std::size_t>(channels));
        }
        const auto frames = static_cast<std::int64_t>(interleaved.size()) / channels;
        std::int64_t from = 0;
        std::int64_t to = frames;
        if (span) {
            from = std::clamp<std::int64_t>(span->First - seen, 0, frames);
            to = std::clamp<std::int64_t>(span->End - seen, 0, frames);
        }
        seen += frames;
        if (to > from) {
            for (std::size_t c = 0; c < in.size(); ++c)
                in[c] = interleaved.data() + from * channels + static_cast<std::int64_t>(c);
            pass->Add(in.data(), channels, taken, to - from);
            taken += to - from;
        }
        if (span && seen >= span->End)
            throw TRegionEnd{};
    };
    // Nothing is reported before the first block is taken: the pass may yet be handed over.
    const auto report = [&](double f) { return !pass || reading.Report(f); };
    bool completed = true;
    try {
        completed = ScanWavFile(inPath, format, take, out.Truncated, report, place);
    } catch (const TRegionEnd&) {
        out.Truncated = false;
        format.Oversized = false;
    }
    if (!completed)
        return false;
    format.Frames = taken;
    return reading.Report(1.0);
}

// The peak pass over a file read on a thread of its own, a block ahead of the filter, as it
// converts the samples. Returns false when progress cancelled.
bool ThreadedFilePeakPass(const std::string& inPath, const std::string& outPath,
                          TFilterSection& filter, const std::optional<TFrameSpan>& span,
                          const TStage& reading, TPeakPass& peaks, TFilePeaks& out)
{
    // The filter takes its blocks in order as they come, so a few short ones do: the read
    // then goes to memory still in the processor's cache.
    const auto choose = [&out](std::int32_t channels) {
        out.Layout = StreamLayout(channels);
        const std::int64_t frames = std::max<std::int64_t>(
            1, std::min(out.Layout->Frames, PeakBlockBytes / (2 * std::int64_t{channels})));
        return TBlockLayout{frames, PeakBlocks};
    };
    TBlockReader reader(inPath, outPath, choose, nullptr, span);
    std::optional<TStreamPeaks> pass;
    std::vector<const std::int16_t*> in;
    for (std::int64_t k = 0;; ++k) {
        if (k == 0 && reader.Wait(k, nullptr) > 0) {
            // The format is known once the first block is there.
            filter.SetSampFreq(static_cast<double>(reader.Format().SampleRate));
            pass.emplace(TKernel(filter), reader.Format().Channels, !out.Layout->InOrder, peaks);
            in.resize(static_cast<std::size_t>(reader.Format().Channels));
        }
        const std::int64_t frames = reader.Wait(k, in.data());
        if (frames < 0)
            reader.RethrowError();
        if (frames <= 0)
            break;
        pass->Add(in.data(), reader.Format().Channels, k * reader.Layout().Frames, frames);
        reader.Release(k + 1);
        if (!reading.Report(reader.Fraction()))
            return false;
    }
    out.Format = reader.Format();
    out.Truncated = reader.Truncated();
    return reading.Report(1.0);
}

[[noreturn]] void ThrowNoMemory(const std::string& path)
{
    throw EExportError(path + ": not written: not enough memory for the export");
}

// The region's end lies past the sound's, which has `frames` frames.
[[noreturn]] void ThrowPastTheEnd(const std::string& path, std::int64_t frames)
{
    throw EExportError(path + ": not written: the region reaches past the end of the sound (" +
                       std::to_string(frames) + " frames)");
}

bool ExportInMemory(const TWav& wav, TFilterSection filter, TWav& scratch, const std::string& path,
                    TDitherRandom& dither, const TExportProgress& progress,
                    const std::optional<TFrameSpan>& span)
{
    if (wav.Channels() <= 0)
        throw EExportError(path + ": not written: no sound is loaded");
    if (span && (span->First < 0 || span->Frames() <= 0))
        throw EExportError(path + ": not written: the region holds no frames");
    if (span && span->End > wav.Length())
        ThrowPastTheEnd(path, wav.Length());
    const TSoundPart source{wav, span ? span->First : 0, span ? span->Frames() : wav.Length()};
    filter.SetSampFreq(static_cast<double>(wav.SampleRate()));
    const TKernel kernel(filter);

    TPeakPass peaks;
    if (!RunPeakPass(source, kernel, TStage{&progress, 0.0, 0.4}, peaks))
        return false;
    // The samples go straight from the filter to the file; the scratch sound only ends cleared.
    TClearOnExit clear{scratch};
    scratch.Clear();
    return WriteExport(source, kernel, peaks, path, dither, TStage{&progress, 0.4, 1.0});
}

bool ExportFromFile(const std::string& inPath, TFilterSection filter, const std::string& outPath,
                    TDitherRandom& dither, const TExportProgress& progress, std::string* warning,
                    const std::optional<TFrameSpan>& span)
{
    if (span && (span->First < 0 || span->Frames() <= 0))
        throw EExportError(outPath + ": not written: the region holds no frames");
    struct stat info {};
    if (::stat(inPath.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        // A pipe, or whatever the reader makes of a path that is no file: read, then export.
        TWav source;
        TWav scratch;
        if (!source.ReadFile(inPath, [&progress](double f) {
                return TStage{&progress, 0.0, 0.2}.Report(f);
            }))
            return false;
        if (warning != nullptr)
            *warning = source.ReadWarning();
        return ExportInMemory(
            source, filter, scratch, outPath, dither,
            [&progress](double f) {
                return TStage{&progress, 0.2, 1.0}.Report(f);
            },
            span);
    }

    // Read twice, never held: first for the peaks (and the delay line at each checkpoint), then
    // for the output a block ahead of the filter on a thread of its own.
    TPeakPass peaks;
    TFilePeaks found;
    const TStage reading{&progress, 0.0, 0.4};
    try {
        if (!PlainFilePeakPass(inPath, filter, span, reading, peaks, found))
            return false;
    } catch (const TConvertedRead&) {
        peaks = {};
        found = {};
        if (!ThreadedFilePeakPass(inPath, outPath, filter, span, reading, peaks, found))
            return false;
    }
    const TWavScanFormat& format = found.Format;
    const bool truncated = found.Truncated;
    if (warning != nullptr)
        *warning = ReadWarningText(truncated, format.Oversized, format.Frames);
    if (span && format.Frames < span->Frames())
        ThrowPastTheEnd(outPath, span->First + format.Frames);
    if (format.Frames <= 0)
        throw EExportError(outPath + ": not written: the filtered sound is silent");
    filter.SetSampFreq(static_cast<double>(format.SampleRate));
    const TKernel kernel(filter);
    const TWriteLayout written = *found.Layout;
    // The reader holds as many blocks as the ring has slots. The writer, rather than wait, fills
    // any block the ring has room for, and waits for that block's input: a reader holding fewer
    // blocks would read it only once the writer had moved on, and both would wait for ever.
    TBlockReader reader(
        inPath, outPath,
        [&written](std::int32_t) {
            return TBlockLayout{written.Frames, written.InOrder ? std::size_t{2} : RingBlocks};
        },
        &format, span);
    TReaderInput input(reader);
    return WriteExport(input, written, {format.Channels, format.SampleRate, format.Frames}, kernel,
                       peaks, outPath, dither, TStage{&progress, 0.4, 1.0});
}

} // namespace

bool ExportFiltered(const TWav& source, TFilterSection filter, TWav& scratch,
                    const std::string& path, TDitherRandom& dither, const TExportProgress& progress,
                    const std::optional<TFrameSpan>& span)
{
    try {
        return ExportInMemory(source, filter, scratch, path, dither, progress, span);
    } catch (const std::bad_alloc&) {
        scratch.Clear();
        ThrowNoMemory(path);
    }
}

bool ExportFilteredFile(const std::string& inPath, TFilterSection filter,
                        const std::string& outPath, TDitherRandom& dither,
                        const TExportProgress& progress, std::string* warning,
                        const std::optional<TFrameSpan>& span)
{
    try {
        return ExportFromFile(inPath, filter, outPath, dither, progress, warning, span);
    } catch (const std::bad_alloc&) {
        ThrowNoMemory(outPath);
    }
}

} // namespace kavrel
