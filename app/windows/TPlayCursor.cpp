#include "app/windows/TPlayCursor.h"

#include "app/core/PositionText.h"
#include "app/core/TSoundDocument.h"
#include "app/windows/TFlagGuard.h"
#include "app/windows/TPaintBox.h"
#include "app/windows/TReadoutLabel.h"
#include "axes/qt/TAxis.h"

#include <QLabel>
#include <QStatusBar>

#include <algorithm>
#include <cmath>

namespace kavrel {

TPlayCursor::TPlayCursor(TSoundDocument& document, QStatusBar* status, TAxis* taxis,
                         TPaintBox* upper, TPaintBox* lower, QObject* parent)
    : QObject(parent), m_document(document), m_taxis(taxis), m_upper(upper), m_lower(lower),
      m_viewLo(taxis->LoValue()), m_viewHi(taxis->HiValue())
{
    setObjectName("PlayCursor");
    m_readout = new TReadoutLabel(status);
    m_readout->setObjectName("StatusBar1Panel1");
    m_readout->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // Wide enough for hours, so that the panel does not jump as the digits change.
    m_readoutWidth = ReadoutWidth(false);
    m_readout->setMinimumWidth(m_readoutWidth);
    status->addPermanentWidget(m_readout);
    ShowPosition(0.0);
}

QString TPlayCursor::PositionReadout() const
{
    return m_readout->text();
}

void TPlayCursor::ShowHeardPosition()
{
    if (m_lineVisible)
        m_document.UpdateMarker();
}

void TPlayCursor::BlockFed()
{
    // The blocks come back as they are heard, so following them costs no wake-up of its own.
    if (!m_lineVisible || (m_heardClock.isValid() && m_heardClock.elapsed() < HeardInterval))
        return;
    m_heardClock.start();
    ShowHeardPosition();
}

void TPlayCursor::ShowMarker(double seconds)
{
    const int pixel = m_taxis->MarkerPixel();
    m_taxis->SetMarkerValue(seconds);
    m_lineSeconds = seconds;
    UpdatePlayLine();
    // A readout half its interval old changes along with a line that moved, in the same repaint
    // of the window, rather than in one of its own soon after.
    const bool moved = m_taxis->MarkerPixel() != pixel;
    if (!m_lineVisible || !m_readoutClock.isValid() ||
        m_readoutClock.elapsed() >= (moved ? ReadoutInterval / 2 : ReadoutInterval)) {
        ShowPosition(seconds);
        m_readoutClock.start();
    }
    FollowPlayLine();
}

void TPlayCursor::SetMarkerVisible(bool visible)
{
    m_taxis->SetMarkerVisible(visible);
    m_lineVisible = visible;
    const int rate = m_document.SourceWav().SampleRate();
    m_lineSeconds = rate > 0 ? m_document.HeardPos() / static_cast<double>(rate) : 0.0;
    if (visible)
        m_taxis->SetMarkerValue(m_lineSeconds);
    m_heardClock.invalidate();
    HoldReadoutSize(visible);
    UpdatePlayLine();
    ShowPosition(m_lineSeconds);
}

void TPlayCursor::ShowPlayPos()
{
    // While playing, the line and the marker get there when the clicked time is heard.
    if (m_lineVisible)
        return;
    m_lineSeconds = PlayPosSeconds();
    UpdatePlayLine();
    ShowPosition(m_lineSeconds);
}

void TPlayCursor::Restart()
{
    m_lineSeconds = 0;
    ShowPosition(0.0);
    UpdatePlayLine();
}

int TPlayCursor::ReadoutWidth(bool region) const
{
    return m_readout->fontMetrics().horizontalAdvance(
               region ? "00:00:00.000 / 00:00:00.000 [00:00:00.000 - 00:00:00.000]"
                      : "00:00:00.000 / 00:00:00.000") +
           8;
}

void TPlayCursor::RegionChanged()
{
    m_readoutWidth = ReadoutWidth(m_document.Loop().has_value());
    if (m_lineVisible)
        HoldReadoutSize(true);
    else
        m_readout->setMinimumWidth(m_readoutWidth);
    ShowPosition(m_shownSeconds);
}

void TPlayCursor::HoldReadoutSize(bool hold)
{
    // While playing, the text changes with every tick: at the size the status bar gave it, a
    // label of fixed size does not have the status bar laid out anew for each.
    if (hold && m_readout->isVisible()) {
        m_readout->setFixedSize(std::max(m_readout->width(), m_readoutWidth), m_readout->height());
    } else if (!hold) {
        m_readout->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        m_readout->setMinimumSize(m_readoutWidth, 0);
    }
}

void TPlayCursor::ShowPosition(double seconds)
{
    // A label laid out anew only when its text changes.
    m_shownSeconds = seconds;
    const TWav& wav = m_document.SourceWav();
    const double rate = wav.SampleRate();
    const TFrameSpan loop = m_document.LoopBounds();
    std::string text = PositionText(seconds, wav.Duration());
    if (m_document.Loop() && rate > 0)
        text += " " + RegionText(static_cast<double>(loop.First) / rate,
                                 static_cast<double>(loop.End) / rate, wav.Duration());
    if (const QString shown = QString::fromStdString(text); shown != m_readout->text())
        m_readout->setText(shown);
}

double TPlayCursor::PlayPosSeconds() const
{
    const int rate = m_document.SourceWav().SampleRate();
    return rate > 0 ? m_document.PlayPos() / static_cast<double>(rate) : 0.0;
}

void TPlayCursor::UpdatePlayLine()
{
    int x = -1;
    // While stopped the line stands where Play will start.
    const double seconds = m_lineVisible ? m_lineSeconds : PlayPosSeconds();
    if (m_document.SourceWav().Length() > 0 && std::isfinite(seconds)) {
        const int pixel = m_taxis->RawValueToPixel(seconds);
        if (pixel >= 0 && pixel < m_taxis->width())
            x = pixel;
    }
    m_upper->SetLineX(x);
    // The lower plot of a mono sound stays white.
    m_lower->SetLineX(m_document.SourceWav().Channels() >= 2 ? x : -1);
}

void TPlayCursor::TimeRangeChanged()
{
    const double lo = m_taxis->LoValue();
    const double hi = m_taxis->HiValue();
    if (!m_paging && (lo != m_viewLo || hi != m_viewHi))
        m_follow = false;
    m_viewLo = lo;
    m_viewHi = hi;
    m_upper->Invalidate();
    m_lower->Invalidate();
    UpdatePlayLine();
}

void TPlayCursor::FollowPlayLine()
{
    if (!m_follow || !m_lineVisible || !std::isfinite(m_lineSeconds))
        return;
    const double lo = m_taxis->LoValue();
    const double hi = m_taxis->HiValue();
    if (m_lineSeconds >= lo && m_lineSeconds <= hi)
        return;
    const double span = hi - lo;
    const double duration = m_document.SourceWav().Duration();
    if (!(span > 0) || span >= duration)
        return;
    // A page on, with the line at its left edge; the last page ends at the sound's end.
    const double newLo = std::clamp(m_lineSeconds, 0.0, duration - span);
    TFlagGuard paging(m_paging);
    m_taxis->SetRange(newLo, newLo + span);
}

} // namespace kavrel
