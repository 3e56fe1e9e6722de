#pragma once

// The sound document of the main window: the loaded sound, the play position, the region to
// loop, the raw gain, the "use filter" switch, the filter sections and the player, with the
// playback feed, the level analysis and the export. It knows nothing of windows: what the window
// shows (the time axis marker, the overload lamp, the checked state of Play) reaches it through the
// On... events. Everything runs on the UI thread; the player's events arrive from the event loop.

#include "app/core/SoundExport.h"
#include "app/core/TDitherRandom.h"
#include "audio/TEventPoster.h"
#include "audio/TMPCPlay.h"
#include "audio/TWaveOutDevice.h"
#include "dsp/TFilterSection.h"
#include "sound/TFrameSpan.h"
#include "sound/TWav.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace kavrel {

class TSoundDocument {
public:
    using TNotifyEvent = std::function<void(TSoundDocument& sender)>;
    using TBoolEvent = std::function<void(TSoundDocument& sender, bool value)>;
    using TValueEvent = std::function<void(TSoundDocument& sender, double value)>;

    // Values per block and buffers in the player's ring until the first Play.
    static constexpr int ChunkSamples = 4096;
    static constexpr int Buffers = 12;
    // From Play on, the ring is sized from the sound's format: blocks of about BlockSeconds,
    // RingBlocks of them, so that a change is heard as soon at every rate and channel count.
    static constexpr double BlockSeconds = 0.010;
    static constexpr int RingBlocks = 10;
    struct TRing {
        int chunkSamples; // values per block, whole frames
        int buffers;
    };
    // The ring for a sound of rate Hz and channels channels (both at least 1).
    static TRing RingFor(std::int32_t rate, std::int32_t channels) noexcept;
    // A dithered value beyond ±OverloadLimit marks the block as overloaded.
    static constexpr int OverloadLimit = 32765;

    // device: the sound output, owned by the player; poster: the UI event loop that delivers the
    // device's notifications, must outlive the document.
    TSoundDocument(std::unique_ptr<TWaveOutDevice> device, TEventPoster& poster);
    ~TSoundDocument();
    TSoundDocument(const TSoundDocument&) = delete;
    TSoundDocument& operator=(const TSoundDocument&) = delete;

    // The loaded sound (empty until a load succeeds) and the export's scratch sound.
    TWav& SourceWav() noexcept { return m_sourceWav; }
    const TWav& SourceWav() const noexcept { return m_sourceWav; }
    TWav& ExportWav() noexcept { return m_exportWav; }

    // The odd channels' section (also the one the controls write and the export uses) and the
    // even channels' section (channel 0, and a mono sound). Channels from 2 on play through
    // sections of their own that follow FilterSection1's parameters.
    TFilterSection& FilterSection1() noexcept { return m_filterSection1; }
    const TFilterSection& FilterSection1() const noexcept { return m_filterSection1; }
    TFilterSection& FilterSection2() noexcept { return m_filterSection2; }
    const TFilterSection& FilterSection2() const noexcept { return m_filterSection2; }
    // The section that filters channel `channel` (0-based) of the playback feed; null for a
    // channel that has none (beyond the sound's channels at the last Play).
    TFilterSection* ChannelSection(int channel) noexcept;

    TMPCPlay& MPCPlay1() noexcept { return *m_mpcPlay1; }

    // Next frame to be fed to the player, counted per channel. May be set at any time; a
    // running playback takes it up at its next block.
    std::int32_t PlayPos() const noexcept { return m_playPos; }
    void SetPlayPos(std::int32_t frame) noexcept { m_playPos = frame; }
    // Sets PlayPos to round(sample rate × seconds), as a click into a plot does; limited to the
    // 32-bit range, ignored when seconds is not finite.
    void SetPlayPosSeconds(double seconds) noexcept;

    // The region of the sound that Play loops in place of the whole sound; none (the whole sound)
    // after a load. May be set at any time: a running playback takes it up at its next block, going
    // on at its first frame when the frame due lies outside it. A span that holds no frame of the
    // sound counts as none.
    const std::optional<TFrameSpan>& Loop() const noexcept { return m_loop; }
    void SetLoop(std::optional<TFrameSpan> span) noexcept { m_loop = span; }
    // The frames the feed loops now: the region within the sound, or the whole sound.
    TFrameSpan LoopBounds() const noexcept;
    // The frame the next block of the feed starts at: PlayPos, or the loop's first frame when
    // PlayPos lies outside the loop.
    std::int32_t NextBlockPos() const noexcept;

    // Linear factor of the unfiltered path.
    double RawGain() const noexcept { return m_rawGain; }
    void SetRawGain(double factor) noexcept { m_rawGain = factor; }

    // Whether the filtered (true) or the raw path reaches the output.
    bool UseFilter() const noexcept { return m_useFilter; }
    void SetUseFilter(bool value) noexcept { m_useFilter = value; }

    // The frame of the sound being heard now: from the frames the device has played, through
    // the blocks fed since it opened. PlayPos while not playing.
    std::int32_t HeardPos() const noexcept;
    // Frames fed to the player since its device opened, counted as its PlayedFrames counts.
    std::int64_t FedFrames() const noexcept { return m_fedFrames; }
    // Fires OnMarkerValue with HeardPos in seconds; the window calls it about 30 times a second
    // while playing, as blocks are fed.
    void UpdateMarker();

    // Reads a wave file into SourceWav and sets PlayPos to 0. On failure (EWavError) or a cancel
    // (returns false) the whole previous document stays as it was. A running playback goes on
    // with the new sound, or starts again on it when its rate or channel count differs. Raises
    // the player's errors of that start.
    bool LoadSoundFile(const std::string& path, const TWavProgress& progress = {});
    // Makes `sound` (read elsewhere, e.g. on a worker) the document's as LoadSoundFile does and
    // returns the previous one, so that the caller may free its memory off the UI thread.
    TWav TakeSound(TWav sound);

    // The name the save dialog is preset with: "_Vesk" before the extension of the file's name,
    // or appended when the file's name has no ".".
    static std::string VeskSaveName(const std::string& path);

    // Play checked: fires OnApplyControls, clamps PlayPos to the sound, sets the player's format
    // and the sections' rate from the sound, resets the sections, starts the player and shows
    // the marker. Raises the player's errors (EMPCPlayError); nothing is started then.
    void StartPlay();
    // Play unchecked: stops the player, sets PlayPos to the frame being heard (where Play will
    // go on) and hides the marker. Raises the player's errors.
    void StopPlay();
    // Whether the player holds the device.
    bool Playing() const noexcept;

    // The player's OnStash: fills buffer with the next block of the feed, count values (whole
    // frames: count is lowered to a multiple of the channel count when it is not one). A block
    // that reaches the end of the loop (the region, or the sound) goes on from the loop's first
    // frame within the block, the filters' state and the dither running on. A change of RawGain or
    // of a section's gain is ramped linearly across the block; a section redesigned since the last
    // block, and a switch of UseFilter, fade from the old sound to the new one across it (the
    // block being about 10 ms long). finished is left unchanged, so playback never ends by
    // itself. Raises only what the event handlers raise.
    void MPCPlay1Stash(TMPCPlay& sender, std::span<std::int16_t> buffer, int& count,
                       bool& finished);
    // The player's OnClosed: hides the marker and fires OnPlayStopped, unless the player has
    // been started again since (the notice is then about the earlier playback). A playback that
    // ended on its own leaves PlayPos at the frame last heard.
    void MPCPlay1Closed(TMPCPlay& sender);

    // The level text of every channel, then the loudness, as status bar panel 0 shows it.
    // progress is told the fraction done now and then; false stops it, and nothing is returned.
    std::optional<std::string> AnalyzeText(const std::function<bool(double)>& progress = {}) const;

    // Writes SourceWav through FilterSection1 (designed at the sound's own rate), normalised so
    // that the filtered peak becomes 32764, to path. Raises EExportError when nothing is loaded
    // or the filtered sound is silent, EWavError when the file cannot be written; the target is
    // then untouched. Returns false when progress cancelled it.
    bool Export(const std::string& path, const TExportProgress& progress = {});
    // The same through `filter` in place of FilterSection1: with a copy of it taken first, the
    // export may run on a thread of its own while the playback feed and the controls go on
    // (SourceWav must not change meanwhile). With a span, only its frames (see ExportFiltered).
    bool Export(const std::string& path, const TFilterSection& filter,
                const TExportProgress& progress,
                const std::optional<TFrameSpan>& span = std::nullopt);

    // Seeds the dither of the playback feed and the export (for repeatable runs).
    void SeedDither(std::uint64_t seed) noexcept
    {
        m_dither.Seed(seed);
        m_exportDither.Seed(seed);
    }

    // Fired first by StartPlay, so that the window can copy its controls into RawGain and the
    // filter sections.
    TNotifyEvent OnApplyControls;
    // The time axis marker: its value in seconds (from UpdateMarker) and its visibility (on
    // StartPlay and StopPlay).
    TValueEvent OnMarkerValue;
    TBoolEvent OnMarkerVisible;
    // After each block: true shows the red lamp, false the green one.
    TBoolEvent OnOverload;
    // After each block handed to the player, which is when one has come back heard: the moment
    // to follow the heard position without a timer of one's own.
    TNotifyEvent OnBlockFed;
    // The player has closed its device: uncheck Play.
    TNotifyEvent OnPlayStopped;

private:
    void Fire(const TNotifyEvent& event);
    void Fire(const TBoolEvent& event, bool value);
    void Fire(const TValueEvent& event, double value);
    void FollowFilterSection1(TFilterSection& section) const noexcept;
    // played: the frames the device has played, read as the block is asked for.
    void ReadBlock(std::size_t frames, std::int64_t played) noexcept;
    // Whether the heard position comes from the device's count of played frames.
    bool FollowsDevice() const noexcept;
    std::int32_t HeardPosAt(std::int64_t played) const noexcept;
    bool FillBlock(std::span<std::int16_t> out, std::size_t frames) noexcept;
    // Channel c of a block in which "Use filter" has switched, from the channel's values read
    // and filtered; whether it overloads.
    bool FillSwitchBlock(std::span<std::int16_t> out, std::size_t c, std::size_t frames,
                         double sectionGain) noexcept;

    // A block handed to the player: its first frame counted on the device since it opened, the
    // sound frame it starts at and the loop it was read from (frames go on from soundPos, from
    // the loop's first frame after its end).
    struct TFedBlock {
        std::int64_t deviceFrame;
        std::int64_t soundPos;
        std::int64_t frames;
        TFrameSpan loop;
    };

    TWav m_sourceWav;
    TWav m_exportWav;
    TFilterSection m_filterSection1;
    TFilterSection m_filterSection2;
    std::vector<TFilterSection> m_extraSections;
    std::vector<TFilterSection*> m_playSections; // per channel of the running playback
    std::unique_ptr<TMPCPlay> m_mpcPlay1;
    std::int32_t m_playPos = 0;
    std::optional<TFrameSpan> m_loop;
    double m_rawGain = 1.0;
    bool m_useFilter = false;
    int m_playChans = 1;
    std::int32_t m_playRate = 0;
    bool m_feeding = false; // between StartPlay and StopPlay or the close notice
    std::deque<TFedBlock> m_fed;
    std::int64_t m_fedFrames = 0;                // frames fed since the device opened
    std::int32_t m_lastHeard = 0;                // HeardPos at the last block
    double m_blockRawGain = 1.0;                 // RawGain at the end of the last block
    std::vector<double> m_blockSectionGains;     // each channel's section gain there
    std::vector<TFilterSection> m_blockSections; // each channel's section design there
    bool m_blockUseFilter = false;               // UseFilter there
    std::vector<double> m_channelIn;             // one channel of the block, as read
    std::vector<double> m_channelOut;            // the same through its section
    std::vector<std::int16_t> m_readBuffer;
    std::vector<std::int32_t> m_channelList;
    TDitherRandom m_dither;       // the playback feed's
    TDitherRandom m_exportDither; // the export's, so that blocks played meanwhile do not share it
};

} // namespace kavrel
