#pragma once

#include "app/view/TTimeSelection.h"

#include <QObject>

#include <optional>
#include <utility>

class QAction;
class QMenu;
class QWidget;

namespace kavrel {

class TAxis;
class TPaintBox;
class TPlayCursor;
class TSoundDocument;

// The time selection of the main window's plots: a drag in either plot selects a span, drawn
// shaded over both; Shift+click extends it; a click without a drag clears it and sets the play
// position, as a click always has; "[" and "]" set its start and end at the position heard. The
// span is the document's region to loop and what "Save soundfile..." may write. UI thread only.
class TPlotSelection : public QObject {
    Q_OBJECT
public:
    // Takes over the plots' mouse presses, moves and releases and their shading, and adds the
    // region's actions to menu. Everything given must outlive this object (the window owns it
    // all).
    TPlotSelection(QWidget* window, QMenu* menu, TSoundDocument& document, TAxis* taxis,
                   TPaintBox* upper, TPaintBox* lower, TPlayCursor& cursor);

    const TTimeSelection& Selection() const { return m_selection; }
    QAction* StartAction() const { return m_startAction; }
    QAction* EndAction() const { return m_endAction; }
    QAction* ClearAction() const { return m_clearAction; }

    // A new sound: nothing selected.
    void Restart();
    // The region at the frames the position heard: "[" and "]".
    void SetStartAtHeard();
    void SetEndAtHeard();
    void Clear();
    // What "Save soundfile..." writes: the whole sound (nullopt inside) without a region, else
    // what the user chooses in a question box (the whole sound by default); nullopt when
    // cancelled.
    std::optional<std::optional<TFrameSpan>> AskSaveSpan();

private:
    void Press(const TPaintBox& box, Qt::MouseButton button, int x);
    void Move(Qt::MouseButtons buttons, int x);
    void Release(int x);
    // The sound's frame at column x of the plots.
    std::int64_t FrameAt(int x) const;
    // The region's columns in the plots.
    std::pair<double, double> ShadeColumns() const;
    // The selection made the document's region, shown in the plots and the readout.
    void Apply();

    QWidget* m_window;
    TSoundDocument& m_document;
    TAxis* m_taxis;
    TPaintBox* m_upper;
    TPaintBox* m_lower;
    TPlayCursor& m_cursor;
    TTimeSelection m_selection;
    QAction* m_startAction = nullptr;
    QAction* m_endAction = nullptr;
    QAction* m_clearAction = nullptr;
    bool m_pressed = false;  // a button is down since a press in a plot
    bool m_dragging = false; // the pointer has moved far enough from the press to select
    int m_pressX = 0;
};

} // namespace kavrel
