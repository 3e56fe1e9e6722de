#pragma once

#include "app/core/THeardTap.h"
#include "app/view/TFrequencyPower.h"
#include "app/view/TLevelMeter.h"
#include "app/windows/TLevelMeterView.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>

#include <cstdint>
#include <memory>
#include <vector>

class QAction;
class QMenu;
class QWidget;

namespace kavrel {

class TForm19;
class TFrequencyForm;
class TSoundDocument;

// The level meters and the spectrum of what is heard. Both read the values at the player's
// heard frame through a THeardTap, as the blocks fed to the player tell that more has been heard
// (the spectrum only while its window shows); nothing runs in the feed but the tap's copy of each
// block.
class TListeningTools : public QObject {
    Q_OBJECT
public:
    // How often at most the meters and the spectrum follow what is heard (ms), and how often
    // while neither shows: the meters still count overloads then, from the tap's kept sound.
    static constexpr int Interval = 50;
    static constexpr int UnseenInterval = 250;
    static_assert(UnseenInterval < THeardTap::KeptSeconds * 1000 / 2);

    // Adds "Spectrum" (F7) to menu. window: the spectrum window's parent and the owner of the
    // key; document: must outlive this object (the window owns both).
    TListeningTools(QWidget* window, QMenu* menu, TSoundDocument& document);
    ~TListeningTools() override;

    // Whether the sound plays: BlockFed follows only while it does.
    void SetPlaying(bool playing);
    // A block was fed to the player: calls Follow if Interval (UnseenInterval while neither the
    // meters nor the spectrum shows) has passed since the last time.
    void BlockFed();
    // Puts the meters on the filter controls window (null: none).
    void SetControls(TForm19* controls);

    QAction* SpectrumAction() const { return m_spectrumAction; }
    // The spectrum window; null until first shown.
    TFrequencyForm* SpectrumForm() const { return m_spectrumForm; }
    TLevelMeterView* Meters() const { return m_meters.data(); }
    // Takes what has been heard since the last call into the meters and the spectrum; BlockFed
    // calls it.
    void Follow();

private:
    void ShowSpectrum();
    bool SpectrumShown() const;
    void Restart();
    void FollowSpectrum(std::int64_t heard);

    QWidget* m_window;
    TSoundDocument& m_document;
    THeardTap m_tap;
    QAction* m_spectrumAction = nullptr;
    TFrequencyForm* m_spectrumForm = nullptr;
    QPointer<TLevelMeterView> m_meters; // a child of the filter controls window
    bool m_playing = false;
    QElapsedTimer m_followClock; // since Follow last ran while playing

    std::uint64_t m_generation = 0;
    std::int64_t m_lastHeard = 0;
    std::unique_ptr<TLevelMeter> m_meter;
    TFrequencyPower m_spectrum;
    std::vector<std::int16_t> m_values;
    std::vector<double> m_mono;
};

} // namespace kavrel
