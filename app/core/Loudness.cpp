#include "app/core/Loudness.h"

#include "app/core/KWeighting.h"
#include "app/core/LevelAnalysis.h"
#include "app/core/TruePeak.h"

#include "sound/TWavScan.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace kavrel {

namespace {

// Frames handed to the meter at a time when a loaded sound is interleaved for it.
constexpr std::size_t InterleaveFrames = 16384;
// Slots of blocks handed on to the meter's thread and not yet measured, the values that make
// a slot full, and the values a slot holds: room for a block of a file's reader after less than
// a full slot.
constexpr std::size_t QueuedSlots = 4;
constexpr std::size_t SlotValues = 1 << 19;
constexpr std::size_t SlotRoom = 2 * SlotValues;
// Frames of a slot weighed and then measured for the true peak at a time on one thread, while
// they are in the cache: a whole number of the true peak's blocks, so that its figures are those
// of the slot in one go.
constexpr std::size_t FusedFrames = 8 * TTruePeak::BlockFrames;
// The rates the measure takes, in Hz, and its channels.
constexpr std::int32_t LowestRate = 16;
constexpr std::int32_t HighestRate = 2822400;
constexpr std::int32_t MostChannels = 64;

double EnergyLufs(double energy)
{
    return 10.0 * std::log10(energy) - 0.691;
}

// The mean square (weighted over the channels) of -70 LUFS: quieter blocks are left out.
const double AbsoluteGate = std::pow(10.0, (-70.0 + 0.691) / 10.0);

// The mean squares of the windows of span 100 ms segments, a new one every step segments, that
// reach the absolute gate.
std::vector<double> GatedWindows(const std::vector<double>& segments, std::size_t segmentFrames,
                                 std::size_t span, std::size_t step)
{
    std::vector<double> windows;
    const double scale = 1.0 / static_cast<double>(span * segmentFrames);
    for (std::size_t first = 0; first + span <= segments.size(); first += step) {
        double sum = 0.0;
        for (std::size_t s = first; s < first + span; ++s)
            sum += segments[s];
        if (sum * scale >= AbsoluteGate)
            windows.push_back(sum * scale);
    }
    return windows;
}

// The integrated loudness: the mean of the 400 ms blocks (every 100 ms) over the absolute gate
// and over 10 LU below their own mean.
double IntegratedLoudness(const std::vector<double>& segments, std::size_t segmentFrames)
{
    const std::vector<double> blocks = GatedWindows(segments, segmentFrames, 4, 1);
    double sum = 0.0;
    for (double b : blocks)
        sum += b;
    const double relativeGate = sum / static_cast<double>(blocks.size()) * 0.1;
    sum = 0.0;
    std::size_t count = 0;
    for (double b : blocks)
        if (b >= relativeGate) {
            sum += b;
            ++count;
        }
    return count == 0 ? -std::numeric_limits<double>::infinity()
                      : EnergyLufs(sum / static_cast<double>(count));
}

// The loudness range: from the 10th to the 95th percentile of the 3 s windows (every second)
// over the absolute gate and over 20 LU below their own mean.
double LoudnessRange(const std::vector<double>& segments, std::size_t segmentFrames)
{
    std::vector<double> windows = GatedWindows(segments, segmentFrames, 30, 10);
    if (windows.empty())
        return 0.0;
    std::sort(windows.begin(), windows.end());
    double sum = 0.0;
    for (double w : windows)
        sum += w;
    const double relativeGate = sum / static_cast<double>(windows.size()) * 0.01;
    const auto first = static_cast<std::size_t>(
        std::lower_bound(windows.begin(), windows.end(), relativeGate) - windows.begin());
    const auto last = static_cast<double>(windows.size() - first - 1);
    const auto at = [&](double fraction) {
        return windows[first + static_cast<std::size_t>(last * fraction + 0.5)];
    };
    return EnergyLufs(at(0.95)) - EnergyLufs(at(0.1));
}

} // namespace

// The K-weighting and the true peak each run on a thread of the meter's own, taking the blocks
// from a short queue that Add fills. Blocks are gathered into slots of about a megabyte before
// they are handed on, so that the threads seldom wait for each other. The K-weighting takes the
// slots in turn; the true peak of a slot needs only the few frames before it, kept with the slot,
// so any thread may take a slot's: the K-weighting's thread takes the peak of the slot it weighs
// whenever no other thread has, along with the weighting while the values are at hand in the
// cache, and any slot's once it has caught up; the true peak's thread, and the caller's while the
// queue is full, take those of the slots further on. With the caller's, three threads then keep
// the processor's cores busy, however their work is shared out.
struct TLoudnessMeter::TState {
    // Threads that take slots' true peaks: the K-weighting's, the true peak's and the caller's.
    enum TWho { WeightingThread, PeakThread, Caller };

    struct TSlot {
        std::unique_ptr<std::int16_t[]> Values =
            std::make_unique_for_overwrite<std::int16_t[]>(SlotRoom);
        std::size_t Size = 0;
        std::vector<std::int16_t> Before; // the values before the slot that its true peak takes
        bool PeakTaken = false;
        bool PeakDone = false;
        std::span<const std::int16_t> Block() const { return {Values.get(), Size}; }
    };

    TKWeighting Weighting;
    // The largest of the takers' peaks, which each leaves out the blocks that cannot exceed.
    std::atomic<float> FoundPeak{0.0f};
    TTruePeak TruePeaks[3]; // each taker's
    std::size_t Channels;
    std::vector<std::int16_t> Tail; // the last values handed on, as many as Before holds
    std::mutex Lock;
    std::condition_variable Changed;
    TSlot Queue[QueuedSlots];
    std::size_t Filled = 0;    // slots handed on
    std::size_t Weighed = 0;   // slots K-weighted
    std::size_t PeaksDone = 0; // slots whose true peak is done, those before included
    bool Closed = false;       // no more blocks come
    bool Abandoned = false;    // the figures are not wanted
    bool OutOfMemory = false;
    std::thread Threads[2];

    TState(std::int32_t channels, std::int32_t rate)
        : Weighting(channels, rate), TruePeaks{{channels, rate},
                                               {channels, rate},
                                               {channels, rate}},
          Channels(static_cast<std::size_t>(channels)), Tail(TruePeaks[0].HistoryValues(), 0)
    {
        for (TTruePeak& meter : TruePeaks)
            meter.Share(&FoundPeak);
        // Sized once, so that Seal need not allocate.
        for (TSlot& slot : Queue)
            slot.Before.resize(Tail.size());
        Threads[0] = std::thread([this] { Measure(WeightingThread); });
        try {
            Threads[1] = std::thread([this] { Measure(PeakThread); });
        } catch (...) {
            Finish();
            throw;
        }
    }
    ~TState()
    {
        {
            const std::lock_guard lock(Lock);
            Abandoned = true;
        }
        Finish();
    }
    TState(const TState&) = delete;
    TState& operator=(const TState&) = delete;

    // The slot being filled is not the threads' until Filled counts it.
    TSlot& Filling() { return Queue[Filled % QueuedSlots]; }
    // Whole frames that still fit in the slot being filled; never none, as a slot is handed on
    // once it holds SlotValues.
    std::size_t Room() { return (SlotRoom - Filling().Size) / Channels * Channels; }

    std::span<std::int16_t> Place(std::size_t values)
    {
        TSlot& slot = Filling();
        return {slot.Values.get() + slot.Size, std::min(values, Room())};
    }

    void Add(std::span<const std::int16_t> block)
    {
        while (!block.empty()) {
            TSlot& slot = Filling();
            std::int16_t* end = slot.Values.get() + slot.Size;
            const std::size_t count = std::min(block.size(), Room());
            if (block.data() != end)
                std::copy_n(block.data(), count, end);
            slot.Size += count;
            block = block.subspan(count);
            if (slot.Size >= SlotValues)
                HandOn();
        }
    }

    // Gives the slot being filled the values before it, and keeps its own last ones for the next.
    void Seal() noexcept
    {
        TSlot& slot = Filling();
        std::copy(Tail.begin(), Tail.end(), slot.Before.begin());
        const std::size_t kept = Tail.size();
        const std::size_t size = slot.Size;
        if (size < kept)
            std::move(Tail.begin() + static_cast<std::ptrdiff_t>(size), Tail.end(), Tail.begin());
        const std::size_t from = size < kept ? 0 : size - kept;
        std::copy(slot.Values.get() + from, slot.Values.get() + size,
                  Tail.end() - static_cast<std::ptrdiff_t>(size - from));
    }

    // Hands the slot being filled to the threads, and takes true peaks until the next one is
    // free.
    void HandOn()
    {
        Seal();
        std::unique_lock lock(Lock);
        ++Filled;
        Changed.notify_all();
        while (Filled - std::min(Weighed, PeaksDone) >= QueuedSlots) {
            if (const std::size_t next = NextPeak(Caller); next < Filled)
                TakePeak(lock, next, Caller);
            else
                Changed.wait(lock);
        }
        lock.unlock();
        Filling().Size = 0;
    }

    // The first slot whose true peak who may take, Filled when there is none. The slot the
    // K-weighting is at and the next are left to its thread, unless that is who asks.
    std::size_t NextPeak(TWho who) const
    {
        const std::size_t from =
            who == WeightingThread ? PeaksDone : std::max(PeaksDone, Weighed + 2);
        for (std::size_t s = from; s < Filled; ++s)
            if (!Queue[s % QueuedSlots].PeakTaken)
                return s;
        return Filled;
    }

    // Marks slot s's true peak done, the lock held.
    void PeakFinished(std::size_t s)
    {
        Queue[s % QueuedSlots].PeakDone = true;
        for (; PeaksDone < Filled && Queue[PeaksDone % QueuedSlots].PeakDone; ++PeaksDone) {
            Queue[PeaksDone % QueuedSlots].PeakTaken = false;
            Queue[PeaksDone % QueuedSlots].PeakDone = false;
        }
    }

    // Measures the true peak of slot s with taker who's meter, the lock held on entry and on
    // return.
    void TakePeak(std::unique_lock<std::mutex>& lock, std::size_t s, TWho who) noexcept
    {
        TSlot& slot = Queue[s % QueuedSlots];
        slot.PeakTaken = true;
        lock.unlock();
        const bool done = Guarded([&] {
            TruePeaks[who].Restart(slot.Before);
            TruePeaks[who].Add(slot.Block());
        });
        lock.lock();
        OutOfMemory = OutOfMemory || !done;
        PeakFinished(s);
        Changed.notify_all();
    }

    // Weighs the next slot, and takes its true peak too when no other thread has, a part of
    // the slot at a time; the lock held on entry and on return.
    void Weigh(std::unique_lock<std::mutex>& lock) noexcept
    {
        TSlot& slot = Queue[Weighed % QueuedSlots];
        // A slot's flags are cleared, for the slot that comes next in its place, once its true
        // peak and those before it are done.
        const bool peak = Weighed >= PeaksDone && !slot.PeakTaken;
        if (peak)
            slot.PeakTaken = true;
        lock.unlock();
        const std::span<const std::int16_t> block = slot.Block();
        const std::size_t part = FusedFrames * Channels;
        TTruePeak& meter = TruePeaks[WeightingThread];
        const bool done = Guarded([&] {
            if (peak)
                meter.Restart(slot.Before);
            for (std::size_t at = 0; at < block.size(); at += part) {
                const std::span<const std::int16_t> piece =
                    block.subspan(at, std::min(part, block.size() - at));
                Weighting.Add(piece);
                if (peak)
                    meter.Add(piece);
            }
        });
        lock.lock();
        OutOfMemory = OutOfMemory || !done;
        if (peak)
            PeakFinished(Weighed);
        ++Weighed;
        Changed.notify_all();
    }

    // Runs work; false when it ran out of memory.
    template <class TWork> static bool Guarded(const TWork& work) noexcept
    {
        try {
            work();
            return true;
        } catch (const std::bad_alloc&) {
            return false;
        }
    }

    // The K-weighting's thread weighs each slot in turn and takes true peaks while it waits; the
    // true peak's takes those of the slots further on.
    void Measure(TWho who) noexcept
    {
        std::unique_lock lock(Lock);
        for (;;) {
            if (Abandoned)
                return;
            const std::size_t next = NextPeak(who);
            if (who == WeightingThread && Weighed < Filled) {
                Weigh(lock);
            } else if (next < Filled) {
                TakePeak(lock, next, who);
            } else if (Closed) {
                return;
            } else {
                Changed.wait(lock);
            }
        }
    }

    // Hands on what is left and waits for the threads to measure everything added.
    void Finish() noexcept
    {
        {
            const std::lock_guard lock(Lock);
            if (Closed)
                return;
            Closed = true;
            if (Filling().Size != 0) {
                Seal();
                ++Filled;
            }
        }
        Changed.notify_all();
        for (std::thread& t : Threads)
            if (t.joinable())
                t.join();
    }

    double TruePeak() const
    {
        return std::max({TruePeaks[0].Peak(), TruePeaks[1].Peak(), TruePeaks[2].Peak()});
    }
};

TLoudnessMeter::TLoudnessMeter(std::int32_t channels, std::int32_t rate) : m_channels(channels)
{
    if (channels <= 0 || channels > MostChannels || rate < LowestRate || rate > HighestRate)
        throw ELoudnessError("cannot be measured at " + std::to_string(rate) + " Hz with " +
                             std::to_string(channels) + " channels");
    m_state = std::make_unique<TState>(channels, rate);
}

TLoudnessMeter::~TLoudnessMeter() = default;

void TLoudnessMeter::Add(std::span<const std::int16_t> interleaved)
{
    const std::size_t frames = interleaved.size() / static_cast<std::size_t>(m_channels);
    if (frames == 0)
        return;
    try {
        m_state->Add(interleaved.first(frames * static_cast<std::size_t>(m_channels)));
    } catch (const std::bad_alloc&) {
        throw ELoudnessError("Loudness measurement ran out of memory");
    }
}

std::span<std::int16_t> TLoudnessMeter::Place(std::size_t values)
{
    return m_state->Place(values);
}

TLoudness TLoudnessMeter::Result() const
{
    m_state->Finish();
    if (m_state->OutOfMemory)
        throw ELoudnessError("Loudness measurement ran out of memory");
    TKWeighting& w = m_state->Weighting;
    try {
        w.Finish();
    } catch (const std::bad_alloc&) {
        throw ELoudnessError("Loudness measurement ran out of memory");
    }
    TLoudness r;
    r.Integrated = IntegratedLoudness(w.Segments(), w.SegmentFrames());
    r.Range = LoudnessRange(w.Segments(), w.SegmentFrames());
    r.TruePeak = m_state->TruePeak();
    return r;
}

std::optional<TLoudness> AnalyzeLoudness(const TWav& sound, const TLoudnessProgress& progress)
{
    const std::int32_t channels = sound.Channels();
    if (channels <= 0 || sound.Length() <= 0)
        return TLoudness{-std::numeric_limits<double>::infinity(), 0.0, 0.0};
    TLoudnessMeter meter(channels, sound.SampleRate());
    const auto n = static_cast<std::size_t>(channels);
    const auto length = static_cast<std::size_t>(sound.Length());
    std::vector<std::int16_t> block(InterleaveFrames * n);
    for (std::size_t start = 0; start < length; start += InterleaveFrames) {
        const std::size_t frames = std::min(InterleaveFrames, length - start);
        for (std::size_t c = 0; c < n; ++c) {
            const std::span<const std::int16_t> s =
                sound.ChannelSamples(static_cast<std::int32_t>(c)).subspan(start, frames);
            for (std::size_t f = 0; f < frames; ++f)
                block[f * n + c] = s[f];
        }
        meter.Add(std::span<const std::int16_t>(block).first(frames * n));
        if (progress &&
            !progress(static_cast<double>(start + frames) / static_cast<double>(length)))
            return std::nullopt;
    }
    return meter.Result();
}

std::string LoudnessText(const TLoudness& loudness)
{
    const double peakDb =
        loudness.TruePeak > 0.0 ? 20.0 * std::log10(loudness.TruePeak) : -HUGE_VAL;
    return "Loudness: " + FormatFixed(loudness.Integrated, 1) +
           " LUFS : Range: " + FormatFixed(loudness.Range, 1) +
           " LU : True peak: " + FormatFixed(peakDb, 1) + " dBTP   ";
}

namespace {

template <class TMeasure> std::optional<std::string> MeasuredText(const TMeasure& measure)
{
    try {
        const std::optional<TLoudness> loudness = measure();
        if (!loudness)
            return std::nullopt;
        return LoudnessText(*loudness);
    } catch (const ELoudnessError& e) {
        return std::string("Loudness: ") + e.what() + "   ";
    }
}

} // namespace

std::optional<std::string> LoudnessText(const TWav& sound, const TLoudnessProgress& progress)
{
    return MeasuredText([&] { return AnalyzeLoudness(sound, progress); });
}

std::string FileAnalysisText(const std::string& path, std::string* warning)
{
    // The levels are summed on this thread as the blocks are read, the loudness measured on the
    // meter's own; a wave file's values are read or decoded straight into the meter's queue.
    std::unique_ptr<TLoudnessMeter> meter;
    std::optional<std::string> refused;
    const auto ready = [&](const TWavScanFormat& format) {
        if (!meter && !refused) {
            try {
                meter = std::make_unique<TLoudnessMeter>(format.Channels, format.SampleRate);
            } catch (const ELoudnessError& e) {
                refused = std::string("Loudness: ") + e.what() + "   ";
            }
        }
        return meter.get();
    };
    const std::vector<TChannelLevels> levels = AnalyzeFileLevels(
        path, warning,
        [&](const TWavScanFormat& format, std::span<const std::int16_t> block) {
            if (TLoudnessMeter* m = ready(format))
                m->Add(block);
        },
        [&](const TWavScanFormat& format, std::size_t values) {
            TLoudnessMeter* m = ready(format);
            return m != nullptr ? m->Place(values) : std::span<std::int16_t>();
        });
    const std::string loudness = refused ? *refused : *MeasuredText([&] {
        return std::optional<TLoudness>(
            meter ? meter->Result()
                  : TLoudness{-std::numeric_limits<double>::infinity(), 0.0, 0.0});
    });
    return LevelText(levels) + "\n" + loudness + "\n";
}

} // namespace kavrel
