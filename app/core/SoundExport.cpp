// The export runs on the machine's cores. The peak pass is one recursion per channel, bound by
// the latency of its multiply-add chain, so the channels run on threads of their own; it also
// keeps the delay line every CheckpointFrames frames. With those the write pass splits each
// channel into independent stretches that run side by side in vector lanes, while the calling
// thread writes the finished blocks to the file. Every value is bit for bit what one section
// from a cleared delay line gives, and the dither draws are those of one generator running
// through the channels in pairs (frame by frame, left then right), as the generator is a counter
// that can be indexed directly.

#include "app/core/SoundExport.h"

#include "app/core/ExportLanes.h"
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

// PeakOfStretch for two channels at once: two independent recursions side by side take hardly
// longer than one, as each waits on its own chain of multiplications and additions.
void PeakOfPairStretch(const TKernel k, const std::int16_t* sa, const std::int16_t* sb,
                       std::int64_t n, TDelayLine& da, TDelayLine& db, double& pa,
                       double& pb) noexcept
{
    if (k.Type != tfiltertype::ftboth) {
        pa = PeakOfStretch(k, sa, n, da, pa);
        pb = PeakOfStretch(k, sb, n, db, pb);
        return;
    }
    double a1 = da.W1;
    double a2 = da.W2;
    double b1 = db.W1;
    double b2 = db.W2;
    double pka = pa;
    double pkb = pb;
    for (std::int64_t i = 0; i < n; ++i) {
        const double xa = sa[i];
        const double xb = sb[i];
        const double p = k.A0 * xa + k.A1 * a1 + k.A2 * a2;
        const double q = k.A0 * xb + k.A1 * b1 + k.A2 * b2;
        const double t = k.B0 * (p + k.B1 * a1 + k.B2 * a2);
        const double u = k.B0 * (q + k.B1 * b1 + k.B2 * b2);
        double ya = k.Gain * t;
        double yb = k.Gain * u;
        if (std::isfinite(ya)) {
            a2 = a1;
            a1 = p;
        } else {
            ya = 0.0;
        }
        if (std::isfinite(yb)) {
            b2 = b1;
            b1 = q;
        } else {
            yb = 0.0;
        }
        pka = std::max(pka, std::fabs(ya));
        pkb = std::max(pkb, std::fabs(yb));
    }
    da = {a1, a2};
    db = {b1, b2};
    pa = pka;
    pb = pkb;
}

// Channels c and c + 1 of the peak pass side by side, following the read as PeakOfChannel does.
template <typename Available>
bool PeakOfPair(const TKernel& k, const std::int16_t* sa, const std::int16_t* sb, double& peakA,
                double& peakB, std::vector<TDelayLine>& checkA, std::vector<TDelayLine>& checkB,
                const std::atomic<bool>& stop, Available available)
{
    TDelayLine da;
    TDelayLine db;
    double pa = 0.0;
    double pb = 0.0;
    for (std::int64_t seg = 0;; ++seg) {
        const std::int64_t start = seg * CheckpointFrames;
        const std::int64_t have = available(start + CheckpointFrames);
        if (stop)
            return false;
        if (have <= start)
            break;
        const std::int64_t frames = std::min(CheckpointFrames, have - start);
        checkA[static_cast<std::size_t>(seg)] = da;
        checkB[static_cast<std::size_t>(seg)] = db;
        PeakOfPairStretch(k, sa + start, sb + start, frames, da, db, pa, pb);
    }
    peakA = pa;
    peakB = pb;
    return true;
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
bool RunPeakPass(const TWav& source, const TKernel& kernel, const TStage& stage, TPeakPass& out)
{
    const std::int32_t channels = source.Channels();
    const std::int64_t length = source.Length();
    const auto nc = static_cast<std::size_t>(channels);
    out.Peaks.assign(nc, 0.0);
    out.Checkpoints.assign(
        nc, std::vector<TDelayLine>(static_cast<std::size_t>(length / CheckpointFrames + 1)));
    const double total = static_cast<double>(channels) * static_cast<double>(length);
    std::atomic<std::int64_t> done{0};
    std::atomic<bool> stop{false};
    const auto run = [&](std::int32_t c, auto report) {
        return PeakOfChannel(kernel, source.ChannelSamples(c).data(),
                             out.Peaks[static_cast<std::size_t>(c)],
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

// Fills one block of the output: frames first … first+frames-1 of every channel, interleaved.
class TWritePass {
public:
    TWritePass(const TWav& source, const TKernel& kernel, const TPeakPass& peaks, double scale,
               std::uint64_t ditherState)
        : m_source(source), m_kernel(kernel), m_peaks(peaks), m_scale(scale), m_state(ditherState),
          m_channels(source.Channels()), m_length(source.Length())
    {
    }

    void Fill(std::int64_t first, std::int64_t frames, std::int16_t* out) const noexcept
    {
        std::optional<TLaneJob> pending;
        for (std::int64_t sub = first; sub < first + frames; sub += LaneFrames)
            FillGroup(sub, std::min(LaneFrames, first + frames - sub),
                      out + (sub - first) * m_channels, pending);
        if (pending)
            m_fillLanes(*pending, nullptr);
    }

    // Frames first … first+frames-1 into out, each channel going on from its delay line in
    // lines (cleared before frame 0), which it advances: for blocks filled in order, from any
    // frame. Gives the same values as Fill.
    void FillInOrder(std::int64_t first, std::int64_t frames, std::int16_t* out,
                     std::vector<TDelayLine>& lines) const noexcept
    {
        for (std::int32_t c = 0; c < m_channels; ++c) {
            const TDrawIndex draws = DrawIndexOf(c, m_channels, m_length);
            const std::int16_t* in = m_source.ChannelSamples(c).data();
            TDelayLine& d = lines[static_cast<std::size_t>(c)];
            for (std::int64_t i = first; i < first + frames; ++i) {
                const double y = m_kernel.Process(static_cast<double>(in[i]), d);
                TDitherRandom r(m_state +
                                (draws.First + draws.Step * static_cast<std::uint64_t>(i)) *
                                    TDitherRandom::Increment);
                out[(i - first) * m_channels + c] = DitherTo16(y * m_scale, r);
            }
        }
    }

private:
    // Frames first … first+frames-1 (at most LaneFrames, from a checkpoint) into out.
    // Lane jobs go out in pairs: one waits in pending for the next.
    void FillGroup(std::int64_t first, std::int64_t frames, std::int16_t* out,
                   std::optional<TLaneJob>& pending) const noexcept
    {
        for (std::int32_t c = 0; c < m_channels; ++c) {
            const TDrawIndex draws = DrawIndexOf(c, m_channels, m_length);
            const std::int16_t* in = m_source.ChannelSamples(c).data();
            const std::vector<TDelayLine>& cp = m_peaks.Checkpoints[static_cast<std::size_t>(c)];
            if (m_kernel.Type == tfiltertype::ftboth && frames == LaneFrames &&
                first % CheckpointFrames == 0) {
                TLaneJob job{&m_kernel, m_scale, in + first, cp.data() + first / CheckpointFrames,
                             {},        0,       out + c,    m_channels};
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
                    const double y = m_kernel.Process(static_cast<double>(in[i]), d);
                    TDitherRandom r(m_state +
                                    (draws.First + draws.Step * static_cast<std::uint64_t>(i)) *
                                        TDitherRandom::Increment);
                    out[(i - first) * m_channels + c] = DitherTo16(y * m_scale, r);
                }
            }
        }
    }

    const TWav& m_source;
    const TKernel& m_kernel;
    const TPeakPass& m_peaks;
    double m_scale;
    std::uint64_t m_state;
    std::int32_t m_channels;
    std::int64_t m_length;
    detail::TFillLanes m_fillLanes = detail::PickFillLanes();
};

// Blocks filled by worker threads into a ring and handed to the writer in order.
class TBlockRing {
public:
    // blockFrames: a multiple of LaneFrames (blocks start at checkpoints).
    TBlockRing(const TWritePass& pass, std::int64_t length, std::int32_t channels,
               std::int64_t blockFrames)
        : m_pass(pass), m_length(length), m_channels(channels), m_blockFrames(blockFrames),
          m_blocks((length + blockFrames - 1) / blockFrames), m_slots(RingBlocks),
          m_ready(RingBlocks, -1)
    {
        for (auto& slot : m_slots)
            slot.resize(static_cast<std::size_t>(std::min(blockFrames, length) * channels));
    }

    // The worker loop: fill the next free block until all are taken or the ring is stopped.
    void Work() noexcept
    {
        for (;;) {
            std::int64_t k = 0;
            {
                std::unique_lock lock(m_mutex);
                m_changed.wait(lock, [&] {
                    return m_stopped || m_next >= m_blocks ||
                           m_next - m_freed < static_cast<std::int64_t>(RingBlocks);
                });
                if (m_stopped || m_next >= m_blocks)
                    return;
                k = m_next++;
            }
            FillBlock(k);
            {
                std::lock_guard lock(m_mutex);
                m_ready[static_cast<std::size_t>(k) % RingBlocks] = k;
            }
            m_changed.notify_all();
        }
    }

    // The writer's source: the block holding frame first, once it is filled. Blocks before it are
    // written, so their slots are free. With no workers the block is filled here.
    std::span<const std::int16_t> Next(std::int64_t first, bool haveWorkers)
    {
        const std::int64_t k = first / m_blockFrames;
        const std::size_t slot = static_cast<std::size_t>(k) % RingBlocks;
        if (!haveWorkers) {
            FillBlock(k);
        } else {
            {
                std::unique_lock lock(m_mutex);
                m_freed = k;
                m_changed.notify_all();
                m_changed.wait(lock, [&] { return m_ready[slot] == k; });
            }
        }
        const std::int64_t frames = std::min(m_blockFrames, m_length - k * m_blockFrames);
        return {m_slots[slot].data(), static_cast<std::size_t>(frames * m_channels)};
    }

    void Stop() noexcept
    {
        {
            std::lock_guard lock(m_mutex);
            m_stopped = true;
        }
        m_changed.notify_all();
    }

private:
    void FillBlock(std::int64_t k) noexcept
    {
        const std::int64_t first = k * m_blockFrames;
        m_pass.Fill(first, std::min(m_blockFrames, m_length - first),
                    m_slots[static_cast<std::size_t>(k) % RingBlocks].data());
    }

    const TWritePass& m_pass;
    std::int64_t m_length;
    std::int32_t m_channels;
    std::int64_t m_blockFrames;
    std::int64_t m_blocks;
    std::vector<std::vector<std::int16_t>> m_slots;
    std::vector<std::int64_t> m_ready;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::int64_t m_next = 0;
    std::int64_t m_freed = 0;
    bool m_stopped = false;
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

// The write pass and the file, after the peak pass; raises EExportError for a silent sound.
bool WriteExport(const TWav& source, const TKernel& kernel, const TPeakPass& peaks,
                 const std::string& path, TDitherRandom& dither, const TStage& writing)
{
    const double peak = MaxOf(peaks.Peaks);
    if (!(peak > 0.0))
        throw EExportError(path + ": not written: the filtered sound is silent");

    // y ÷ peak × 32764 as one multiplication: the two differ at most in the last bit of a
    // double, far below what the dither and the rounding can tell apart.
    const double scale = ExportPeakTarget / peak;
    const std::int32_t channels = source.Channels();
    const std::int64_t length = source.Length();
    const TWritePass pass(source, kernel, peaks, scale, dither.State());
    const TWavStreamFormat format{channels, source.SampleRate(), length};
    const auto report = [&writing](double f) { return writing.Report(f); };
    const std::int64_t frameBytes = 2 * std::int64_t{channels};
    std::int64_t ringFrames = 0;
    for (const std::int64_t frames : {BlockFrames, LaneFrames}) {
        if (static_cast<std::int64_t>(RingBlocks) * std::min(frames, length) * frameBytes <=
            BlockBudgetBytes) {
            ringFrames = frames;
            break;
        }
    }
    if (ringFrames == 0) {
        // So many channels that even short blocks in a ring would not fit the budget: one block
        // at a time, each channel going on from where the last block left it.
        const std::int64_t frames = std::max<std::int64_t>(
            1, std::min({BlockBudgetBytes / 2 / frameBytes, BlockFrames, length}));
        std::vector<std::int16_t> block(static_cast<std::size_t>(frames * channels));
        std::vector<TDelayLine> lines(static_cast<std::size_t>(channels));
        const bool complete = WriteWavStream(
            path, format,
            [&](std::int64_t first) {
                const std::int64_t n = std::min(frames, length - first);
                pass.FillInOrder(first, n, block.data(), lines);
                return std::span<const std::int16_t>(block.data(),
                                                     static_cast<std::size_t>(n * channels));
            },
            report);
        if (!complete)
            return false;
        dither.Discard(static_cast<std::uint64_t>(channels) * static_cast<std::uint64_t>(length));
        return true;
    }
    TBlockRing ring(pass, length, channels, ringFrames);
    std::atomic<bool> stop{false};
    bool haveWorkers = false;
    {
        TThreads workers(stop);
        const int threads = ThreadCount(length * channels);
        for (int t = 0; t < threads && threads > 1; ++t)
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

} // namespace

double FilteredPeak(const TWav& source, TFilterSection filter, const TExportProgress& progress)
{
    TPeakPass pass;
    if (!RunPeakPass(source, TKernel(filter), TStage{&progress, 0.0, 1.0}, pass))
        return -1.0;
    return MaxOf(pass.Peaks);
}

namespace {

[[noreturn]] void ThrowNoMemory(const std::string& path)
{
    throw EExportError(path + ": not written: not enough memory for the export");
}

bool ExportInMemory(const TWav& source, TFilterSection filter, TWav& scratch,
                    const std::string& path, TDitherRandom& dither, const TExportProgress& progress)
{
    if (source.Channels() <= 0)
        throw EExportError(path + ": not written: no sound is loaded");
    filter.SetSampFreq(static_cast<double>(source.SampleRate()));
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
                    TDitherRandom& dither, const TExportProgress& progress, std::string* warning)
{
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
        return ExportInMemory(source, filter, scratch, outPath, dither, [&progress](double f) {
            return TStage{&progress, 0.2, 1.0}.Report(f);
        });
    }

    TWav source;
    TPeakPass peaks;
    std::optional<TKernel> kernel;
    std::atomic<bool> stop{false};
    // Frames stored so far, or Finished once the read has ended (finalFrames then holds them).
    constexpr std::int64_t Finished = -1;
    std::atomic<std::int64_t> ready{0};
    std::int64_t finalFrames = 0;
    std::int64_t written = 0;
    std::atomic<std::int64_t> done{0};
    const auto available = [&](std::int64_t needed) {
        for (;;) {
            const std::int64_t r = ready.load(std::memory_order_acquire);
            if (r == Finished)
                return finalFrames;
            if (r >= needed)
                return r;
            ready.wait(r, std::memory_order_acquire);
        }
    };
    TWavScanFormat format;
    bool truncated = false;
    bool completed = false;
    {
        TThreads workers(stop);
        // However the read ends, the peak threads learn that no more frames come.
        struct TFinishOnExit {
            std::atomic<std::int64_t>& Ready;
            std::int64_t& Final;
            const std::int64_t& Written;
            std::atomic<bool>& Stop;
            bool Completed = false;
            ~TFinishOnExit()
            {
                if (!Completed)
                    Stop = true;
                Final = Written;
                Ready.store(Finished, std::memory_order_release);
                Ready.notify_all();
            }
        } finish{ready, finalFrames, written, stop};

        const auto startPeakThreads = [&] {
            const std::int32_t channels = format.Channels;
            if (channels <= 0 || format.Frames < 0)
                throw EExportError(outPath + ": not written: the size of '" + inPath +
                                   "' is not known");
            source.SetSampleRate(format.SampleRate);
            source.SetChannels(channels);
            source.SetLengthUnset(format.Frames);
            filter.SetSampFreq(static_cast<double>(format.SampleRate));
            kernel.emplace(filter);
            peaks.Peaks.assign(static_cast<std::size_t>(channels), 0.0);
            peaks.Checkpoints.assign(static_cast<std::size_t>(channels),
                                     std::vector<TDelayLine>(static_cast<std::size_t>(
                                         format.Frames / CheckpointFrames + 1)));
            // The calling thread reads; one other filters the channels in pairs, which keeps
            // up with the read and leaves it a core of its own.
            const bool started = workers.Start([&] {
                const std::int32_t n = source.Channels();
                for (std::int32_t c = 0; c < n; c += 2) {
                    const auto i = static_cast<std::size_t>(c);
                    const bool ok =
                        c + 1 < n
                            ? PeakOfPair(*kernel, source.ChannelSamples(c).data(),
                                         source.ChannelSamples(c + 1).data(), peaks.Peaks[i],
                                         peaks.Peaks[i + 1], peaks.Checkpoints[i],
                                         peaks.Checkpoints[i + 1], stop, available)
                            : PeakOfChannel(
                                  *kernel, source.ChannelSamples(c).data(), peaks.Peaks[i],
                                  peaks.Checkpoints[i], done, stop, [] { return true; }, available);
                    if (!ok)
                        return;
                }
            });
            if (!started)
                throw EExportError(outPath + ": not written: no thread to filter on");
        };
        const TStage reading{&progress, 0.0, 0.4};
        completed = ScanWavFile(
            inPath, format,
            [&](std::span<const std::int16_t> block) {
                if (!kernel)
                    startPeakThreads();
                const auto n = static_cast<std::size_t>(source.Channels());
                const std::size_t frames = block.size() / n;
                const auto at = static_cast<std::size_t>(written);
                if (at + frames > static_cast<std::size_t>(source.Length()))
                    throw EExportError(outPath + ": not written: '" + inPath +
                                       "' grew while it was read");
                if (n == 2) {
                    std::int16_t* l = source.MutableChannelSamples(0).data() + at;
                    std::int16_t* r = source.MutableChannelSamples(1).data() + at;
                    for (std::size_t f = 0; f < frames; ++f) {
                        l[f] = block[2 * f];
                        r[f] = block[2 * f + 1];
                    }
                } else {
                    for (std::size_t c = 0; c < n; ++c) {
                        std::int16_t* out =
                            source.MutableChannelSamples(static_cast<std::int32_t>(c)).data() + at;
                        for (std::size_t f = 0; f < frames; ++f)
                            out[f] = block[f * n + c];
                    }
                }
                written += static_cast<std::int64_t>(frames);
                ready.store(written, std::memory_order_release);
                ready.notify_all();
            },
            truncated, [&reading](double f) { return reading.Report(f); });
        finish.Completed = completed;
    }
    if (!completed)
        return false;
    if (warning != nullptr)
        *warning = ReadWarningText(truncated, format.Oversized, written);
    if (!kernel)
        throw EExportError(outPath + ": not written: the filtered sound is silent");
    if (written < source.Length())
        source.SetLength(written);
    return WriteExport(source, *kernel, peaks, outPath, dither, TStage{&progress, 0.4, 1.0});
}

} // namespace

bool ExportFiltered(const TWav& source, TFilterSection filter, TWav& scratch,
                    const std::string& path, TDitherRandom& dither, const TExportProgress& progress)
{
    try {
        return ExportInMemory(source, filter, scratch, path, dither, progress);
    } catch (const std::bad_alloc&) {
        scratch.Clear();
        ThrowNoMemory(path);
    }
}

bool ExportFilteredFile(const std::string& inPath, TFilterSection filter,
                        const std::string& outPath, TDitherRandom& dither,
                        const TExportProgress& progress, std::string* warning)
{
    try {
        return ExportFromFile(inPath, filter, outPath, dither, progress, warning);
    } catch (const std::bad_alloc&) {
        ThrowNoMemory(outPath);
    }
}

} // namespace kavrel
