#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>

class QLabel;
class QStatusBar;

namespace kavrel {

class TAxis;
class TPaintBox;
class TSoundDocument;

// The play position as the main window shows it: the play line in both plots, the time axis's
// marker, the readout in the status bar ("0:01.250 / 0:08.000") and the paging of the time
// range that keeps the line in view. While the sound plays, the blocks fed to the player have the
// document report the position being heard, about 30 times a second. Everything runs on the UI
// thread.
class TPlayCursor : public QObject {
    Q_OBJECT
public:
    // The marker, the play line and the readout follow what is heard at most this often (ms)
    // while playing, as the blocks fed to the player tell.
    static constexpr int HeardInterval = 33;
    // While playing, the readout's text changes at most this often (ms): its digits could not be
    // read any faster, and each change repaints the status bar.
    static constexpr int ReadoutInterval = 100;

    // Adds the readout to status (as a permanent widget, right-aligned). The document, the axis
    // and the plots must outlive this object (the window owns them all).
    TPlayCursor(TSoundDocument& document, QStatusBar* status, TAxis* taxis, TPaintBox* upper,
                TPaintBox* lower, QObject* parent);

    // Text of the readout: the position heard and the duration, the play position while not
    // playing; then the document's region to loop, while it has one.
    QString PositionReadout() const;
    // Has the document report the position being heard, while playing.
    void ShowHeardPosition();
    // A block was fed to the player: shows the heard position if HeardInterval has passed.
    void BlockFed();
    // The document's marker moved to `seconds`: marker, line and readout go there and the time
    // range pages along when it follows.
    void ShowMarker(double seconds);
    // The document's marker shows (playback started) or hides (stopped); the timer runs while
    // it shows.
    void SetMarkerVisible(bool visible);
    // The play position was set: while stopped, line and readout go there at once; while
    // playing they get there when that time is heard.
    void ShowPlayPos();
    // A new sound: line and readout at its start.
    void Restart();
    // The document's region to loop was set or cleared: the readout shows it.
    void RegionChanged();
    // Repaints after a change of the time range; a change that is not this object's own paging
    // ends the following.
    void TimeRangeChanged();
    // Puts the play-position line of both plots where it stands; hidden outside the time axis's
    // range, and on the lower plot of a mono sound.
    void UpdatePlayLine();

    // Whether the time range pages along with the play line: set by Play, cleared by the user's
    // own change of the time range.
    bool Follow() const { return m_follow; }
    void SetFollow(bool value) { m_follow = value; }

private:
    // The readout at `seconds` of the loaded sound; the label is set only when its text changes.
    void ShowPosition(double seconds);
    // Fixes the readout's size while playing (at least its least width), frees it again after.
    void HoldReadoutSize(bool hold);
    // The readout's least width for its text with or without a region.
    int ReadoutWidth(bool region) const;
    // Pages the time range to the play line when the line has left it during playback.
    void FollowPlayLine();
    double PlayPosSeconds() const;

    TSoundDocument& m_document;
    TAxis* m_taxis;
    TPaintBox* m_upper;
    TPaintBox* m_lower;
    QLabel* m_readout = nullptr;
    int m_readoutWidth = 0;     // the readout's least width, pixels
    QElapsedTimer m_heardClock; // since the marker last followed the heard position
    // Where the play-position line stands, seconds; it shows with the time axis marker, while
    // the sound plays.
    double m_lineSeconds = 0;
    double m_shownSeconds = 0;    // the readout's position
    QElapsedTimer m_readoutClock; // since the readout last followed the heard position
    bool m_lineVisible = false;
    // The time range as last seen, to tell the user's changes from the paging.
    double m_viewLo = 0;
    double m_viewHi = 0;
    bool m_follow = false;
    bool m_paging = false;
};

} // namespace kavrel
