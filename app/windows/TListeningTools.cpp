#include "app/windows/TListeningTools.h"

#include "app/core/TSoundDocument.h"
#include "app/windows/ErrorReport.h"
#include "app/windows/TForm19.h"
#include "app/windows/TFrequencyForm.h"
#include "app/windows/TLevelMeterView.h"

#include <QAction>
#include <QMenu>

#include <algorithm>
#include <cmath>

namespace kavrel {

TListeningTools::TListeningTools(QWidget* window, QMenu* menu, TSoundDocument& document)
    : QObject(window), m_window(window), m_document(document), m_tap(document)
{
    setObjectName("ListeningTools");
    m_spectrumAction = new QAction("Spectrum", this);
    m_spectrumAction->setObjectName("spectrumaction");
    m_spectrumAction->setToolTip("Show the spectrum of what is heard");
    m_spectrumAction->setShortcut(QKeySequence(Qt::Key_F7));
    connect(m_spectrumAction, &QAction::triggered, this,
            [this] { RunGuarded(m_window, [this] { ShowSpectrum(); }); });
    window->addAction(m_spectrumAction);
    menu->addAction(m_spectrumAction);
}

void TListeningTools::SetPlaying(bool playing)
{
    m_playing = playing;
    m_followClock.invalidate();
}

void TListeningTools::BlockFed()
{
    // The blocks come back as they are heard: following them costs no wake-up of its own.
    if (!m_playing)
        return;
    if (m_followClock.isValid()) {
        const qint64 since = m_followClock.elapsed();
        if (since < Interval)
            return;
        const bool seen = (m_meters != nullptr && m_meters->isVisible()) || SpectrumShown();
        if (since < UnseenInterval && !seen)
            return;
    }
    m_followClock.start();
    Follow();
}

TListeningTools::~TListeningTools() = default;

void TListeningTools::SetControls(TForm19* controls)
{
    if (controls == nullptr) {
        m_meters = nullptr;
        return;
    }
    m_meters = new TLevelMeterView(controls);
    controls->AddBesideLamp(m_meters);
    Restart();
}

void TListeningTools::ShowSpectrum()
{
    if (m_spectrumForm == nullptr) {
        m_spectrumForm = new TFrequencyForm(m_window);
        m_spectrumForm->addAction(m_spectrumAction);
    }
    m_spectrumForm->show();
    m_spectrumForm->raise();
    m_spectrumForm->activateWindow();
}

// The device opened again (Play, or a sound of another format): the figures start afresh.
void TListeningTools::Restart()
{
    m_generation = m_tap.Generation();
    m_lastHeard = m_tap.HeardFrame();
    m_meter = std::make_unique<TLevelMeter>(m_tap.Channels(), std::max(m_tap.Rate(), 1),
                                            TSoundDocument::OverloadLimit);
    m_spectrum.Reset();
    if (m_meters != nullptr)
        m_meters->SetReadings(
            std::vector<TMeterReading>(static_cast<std::size_t>(m_meter->Channels())), 0);
}

bool TListeningTools::SpectrumShown() const
{
    return m_spectrumForm != nullptr && m_spectrumForm->isVisible();
}

void TListeningTools::Follow()
{
    // The meters count overloads from Play on, also while their window is hidden.
    const bool meters = m_meters != nullptr;
    const bool spectrum = SpectrumShown();
    if (!m_document.Playing() || (!meters && !spectrum))
        return;
    if (m_tap.Generation() != m_generation)
        Restart();
    const std::int64_t heard = m_tap.HeardFrame();
    if (heard == m_lastHeard)
        return;
    // What was heard since the last look; after a long stall only the kept part.
    const std::int64_t kept = static_cast<std::int64_t>(THeardTap::KeptSeconds * m_tap.Rate());
    const std::int64_t from = std::max(m_lastHeard, heard - kept);
    m_lastHeard = heard;
    if (meters) {
        m_tap.Copy(from, heard, m_values);
        m_meter->Add(m_values);
        std::vector<TMeterReading> readings;
        for (int c = 0; c < m_meter->Channels(); ++c)
            readings.push_back(m_meter->Reading(c));
        m_meters->SetReadings(std::move(readings), m_meter->Overloads());
    }
    if (spectrum)
        FollowSpectrum(heard);
}

void TListeningTools::FollowSpectrum(std::int64_t heard)
{
    // The last transform's worth of frames up to the one heard now, the channels mixed.
    const int size = m_spectrum.Size();
    m_tap.Copy(heard - size, heard, m_values);
    const auto chans = static_cast<std::size_t>(m_tap.Channels());
    m_mono.assign(static_cast<std::size_t>(size), 0.0);
    const double scale = 1.0 / (32768.0 * static_cast<double>(chans));
    for (std::size_t f = 0; f < m_mono.size(); ++f) {
        double sum = 0.0;
        for (std::size_t c = 0; c < chans; ++c)
            sum += m_values[f * chans + c];
        m_mono[f] = sum * scale;
    }
    m_spectrum.Add(m_mono);

    const double rate = m_tap.Rate();
    const int columns = m_spectrumForm->Columns();
    // Over the spectrum: what the feed does to the sound, the filter or the raw gain.
    std::vector<TResponsePoint> response;
    if (m_document.UseFilter()) {
        TFilterSection filter = m_document.FilterSection1();
        filter.SetSampFreq(rate);
        response = ResponseCurve(filter, columns);
    } else {
        const double db = 20.0 * std::log10(std::max(m_document.RawGain(), 1e-15));
        response = {{ResponseLowHz, db}, {rate / 2.0, db}};
    }
    m_spectrumForm->SetCurves(rate, SpectrumCurve(m_spectrum.Power(), rate, columns),
                              std::move(response));
}

} // namespace kavrel
