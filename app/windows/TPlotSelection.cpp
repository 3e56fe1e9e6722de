#include "app/windows/TPlotSelection.h"

#include "app/core/PositionText.h"
#include "app/core/TSoundDocument.h"
#include "app/windows/ErrorReport.h"
#include "app/windows/TPaintBox.h"
#include "app/windows/TPlayCursor.h"
#include "axes/qt/TAxis.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace kavrel {

TPlotSelection::TPlotSelection(QWidget* window, QMenu* menu, TSoundDocument& document, TAxis* taxis,
                               TPaintBox* upper, TPaintBox* lower, TPlayCursor& cursor)
    : QObject(window), m_window(window), m_document(document), m_taxis(taxis), m_upper(upper),
      m_lower(lower), m_cursor(cursor)
{
    setObjectName("PlotSelection");
    for (TPaintBox* box : {upper, lower}) {
        box->OnMouseDown = [this](TPaintBox& sender, Qt::MouseButton button, int x, int) {
            Press(sender, button, x);
        };
        box->OnMouseMove = [this](TPaintBox&, Qt::MouseButtons buttons, int x) {
            Move(buttons, x);
        };
        box->OnMouseUp = [this](TPaintBox&, Qt::MouseButton, int x) { Release(x); };
        box->ShadeColumns = [this](const TPaintBox&) { return ShadeColumns(); };
    }
    const auto add = [&](const char* name, const char* caption, const char* hint, QKeySequence key,
                         void (TPlotSelection::*handler)()) {
        auto* a = new QAction(caption, this);
        a->setObjectName(name);
        a->setToolTip(hint);
        a->setShortcut(key);
        connect(a, &QAction::triggered, this,
                [this, handler] { RunGuarded(m_window, [this, handler] { (this->*handler)(); }); });
        window->addAction(a);
        menu->addAction(a);
        return a;
    };
    menu->addSeparator();
    m_startAction = add("regionstartaction", "Region start here",
                        "Start the region to loop at the position heard ([)",
                        QKeySequence(Qt::Key_BracketLeft), &TPlotSelection::SetStartAtHeard);
    m_endAction = add("regionendaction", "Region end here",
                      "End the region to loop at the position heard (])",
                      QKeySequence(Qt::Key_BracketRight), &TPlotSelection::SetEndAtHeard);
    m_clearAction = add("regionclearaction", "Clear region", "Play the whole sound again", {},
                        &TPlotSelection::Clear);
    m_clearAction->setEnabled(false);
}

void TPlotSelection::Restart()
{
    m_pressed = false;
    m_selection.Restart(m_document.SourceWav().Length());
    Apply();
}

void TPlotSelection::SetStartAtHeard()
{
    m_selection.SetFirstAt(m_document.HeardPos());
    Apply();
}

void TPlotSelection::SetEndAtHeard()
{
    m_selection.SetEndAt(m_document.HeardPos());
    Apply();
}

void TPlotSelection::Clear()
{
    m_selection.Clear();
    Apply();
}

std::int64_t TPlotSelection::FrameAt(int x) const
{
    const double frame =
        std::nearbyint(m_taxis->PixelToValue(x) * m_document.SourceWav().SampleRate());
    // Anything outside the sound is taken to its nearer end by the selection.
    const double limit = static_cast<double>(m_selection.Length()) + 1.0;
    return std::isfinite(frame) ? static_cast<std::int64_t>(std::clamp(frame, -1.0, limit)) : 0;
}

void TPlotSelection::Press(const TPaintBox& box, Qt::MouseButton button, int x)
{
    m_pressed = true;
    m_pressX = x;
    m_dragging = button == Qt::LeftButton && box.MouseModifiers().testFlag(Qt::ShiftModifier);
    if (m_dragging) {
        // Shift+click: the nearer end goes there; a drag on from it moves that end.
        m_selection.ExtendTo(FrameAt(x), m_document.HeardPos());
        Apply();
    } else {
        m_selection.Press(FrameAt(x));
    }
}

void TPlotSelection::Move(Qt::MouseButtons buttons, int x)
{
    if (!m_pressed || !buttons.testFlag(Qt::LeftButton))
        return;
    if (!m_dragging && std::abs(x - m_pressX) < QApplication::startDragDistance())
        return;
    m_dragging = true;
    m_selection.DragTo(FrameAt(x));
    Apply();
}

void TPlotSelection::Release(int /*x*/)
{
    // The release of a double click's second press, which is the double click's own.
    if (!m_pressed)
        return;
    m_pressed = false;
    if (m_dragging)
        return;
    // A click: no region, and Play goes on from the clicked time.
    m_selection.Clear();
    Apply();
    m_document.SetPlayPosSeconds(m_taxis->PixelToValue(m_pressX));
    m_cursor.ShowPlayPos();
}

std::pair<double, double> TPlotSelection::ShadeColumns() const
{
    const std::optional<TFrameSpan> span = m_selection.Span();
    const double rate = m_document.SourceWav().SampleRate();
    const double lo = m_taxis->LoValue();
    const double hi = m_taxis->HiValue();
    const int width = m_taxis->width();
    if (!span || !(rate > 0) || !(hi > lo) || width < 2)
        return {0.0, 0.0};
    // As the axis places its pixels, kept just outside the plot so that huge values stay finite.
    const auto column = [&](std::int64_t frame) {
        const double x = (static_cast<double>(frame) / rate - lo) / (hi - lo) * (width - 1);
        return std::clamp(x, -1.0, static_cast<double>(width) + 1.0);
    };
    return {column(span->First), column(span->End)};
}

void TPlotSelection::Apply()
{
    const std::optional<TFrameSpan> span = m_selection.Span();
    m_document.SetLoop(span);
    m_clearAction->setEnabled(span.has_value());
    m_cursor.RegionChanged();
    m_upper->update();
    m_lower->update();
}

std::optional<std::optional<TFrameSpan>> TPlotSelection::AskSaveSpan()
{
    const std::optional<TFrameSpan> span = m_selection.Span();
    const double rate = m_document.SourceWav().SampleRate();
    if (!span || !(rate > 0))
        return std::optional<TFrameSpan>();
    const std::string region =
        RegionText(static_cast<double>(span->First) / rate, static_cast<double>(span->End) / rate,
                   m_document.SourceWav().Duration());
    QMessageBox box(QMessageBox::Question, "Save soundfile",
                    "Save the whole sound, or only the region " + QString::fromStdString(region) +
                        "?",
                    QMessageBox::Cancel, m_window);
    box.setObjectName("SaveRegionBox");
    QPushButton* whole = box.addButton("Whole sound", QMessageBox::AcceptRole);
    QPushButton* part = box.addButton("Region", QMessageBox::AcceptRole);
    box.setDefaultButton(whole);
    box.exec();
    if (box.clickedButton() == whole)
        return std::optional<TFrameSpan>();
    if (box.clickedButton() == part)
        return std::optional<TFrameSpan>(span);
    return std::nullopt;
}

} // namespace kavrel
