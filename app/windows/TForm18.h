#pragma once

#include "app/view/TSoundSummary.h"
#include "app/windows/TSoundLoader.h"
#include "audio/TWaveOutDevice.h"
#include "menus/TRecentFiles.h"
#include "settings/TProgId.h"
#include "settings/TZELFile.h"
#include "sound/TFrameSpan.h"

#include <QMainWindow>
#include <QPoint>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class QAction;
class QLabel;
class QMenu;
class QPainter;
class QToolBar;

namespace kavrel {

class TAbout;
class TAxis;
class TForm19;
class TLevelsForm;
class TListeningTools;
class TOutputMenu;
class TPaintBox;
class TPanel;
class TPlayCursor;
class TPlotSelection;
class TQtEventPoster;
class TRecentFilesMenu;
class TSoundDocument;

// The main window: toolbar, menus and status bar, the two waveform plots between their
// amplitude axes and the shared time axis, and the owner of the sound document. Everything runs
// on the UI thread.
class TForm18 : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int ClientWidth = 584;
    static constexpr int ClientHeight = 372;
    static constexpr int ToolBarHeight = 29;
    static constexpr int StatusBarHeight = 19;
    // Name of the settings file, in the folder of the settings component's default file.
    static constexpr const char* SettingsName = "Kavrelsettings.zelfile";

    // device: the sound output (null: the desktop's sound server).
    explicit TForm18(std::unique_ptr<TWaveOutDevice> device = nullptr, QWidget* parent = nullptr);
    ~TForm18() override;

    // The filter controls window whose sliders ApplyControls reads; not owned, must outlive this
    // window or be reset to null first.
    TForm19* Form19() const { return m_form19; }
    void SetForm19(TForm19* form19);

    // Opens a sound file and makes it the document; the recent list takes the path once the
    // sound has loaded. Raises the wave file's error (EWavError) after the save name has taken
    // the path; caption, status bar, time axis and play position then stay as they were. A
    // playback that cannot start again on a sound of another format raises the player's error
    // once the window shows the new sound.
    void LoadSoundFile(const QString& path);
    // Restores the gains and filter parameters from the settings file into the sliders.
    void LoadSettings();
    // Stores them; raises when the file cannot be written.
    void SaveSettings();
    // Reads the six sliders into RawGain and the filter sections and updates the labels; does
    // nothing while Updating() is set or without a filter controls window.
    void ApplyControls();
    // Full path of the settings file; empty when there is no private folder to keep it in.
    std::string SettingsFilePath() const;

    bool Updating() const { return m_updating; }
    void SetUpdating(bool value) { m_updating = value; }
    bool Activated() const { return m_activated; }
    // The first activation: ApplyControls, Play disabled, LoadSettings. Later calls do nothing.
    void FormActivate();

    TSoundDocument& Document() { return *m_document; }
    TRecentFiles& RecentFiles1() { return m_recentFiles1; }
    TRecentFilesMenu& RecentFilesMenu() { return *m_recentFilesMenu; }
    TZELFile& ZELFile1() { return m_zelFile1; }
    const TProgId& ProgId1() const { return m_progId1; }

    QAction* openaction() const { return m_openaction; }
    QAction* saveaction() const { return m_saveaction; }
    QAction* playaction() const { return m_playaction; }
    QAction* showfilteraction() const { return m_showfilteraction; }
    QAction* usefilteraction() const { return m_usefilteraction; }
    QAction* Analyzeaction() const { return m_analyzeaction; }
    QAction* exitaction() const { return m_exitaction; }
    QAction* showallaction() const { return m_showallaction; }
    QAction* aboutaction() const { return m_aboutaction; }
    QToolBar* ToolBar1() const { return m_toolBar1; }
    QMenu* File1() const { return m_file1; }
    QMenu* Sound1() const { return m_sound1; }
    TOutputMenu& OutputMenu() const { return *m_outputMenu; }
    QMenu* View1() const { return m_view1; }
    QMenu* Help1() const { return m_help1; }
    TPanel* Panel1() const { return m_panel1; }
    TPaintBox* PaintBox1() const { return m_paintBox1; }
    TPaintBox* PaintBox2() const { return m_paintBox2; }
    TAxis* taxis() const { return m_taxis; }
    TAxis* Axis1() const { return m_axis1; }
    TAxis* Axis2() const { return m_axis2; }
    // Text of status bar panel 0, and its tooltip (the whole text, which may not fit).
    QString StatusText() const;
    // Text of status bar panel 1: the position heard and the duration ("0:01.250 / 0:08.000"),
    // PlayPos while not playing.
    QString PositionReadout() const;
    // Puts the time axis marker, the play line and the readout at the position being heard; run
    // about 30 times a second while playing.
    void ShowHeardPosition();
    QString StatusToolTip() const;
    // The plots' time selection, the region Play loops.
    TPlotSelection* PlotSelection() const { return m_plotSelection; }
    // The "Levels" window that Analyze fills; null before the first Analyze.
    TLevelsForm* LevelsForm() const { return m_levelsForm; }
    // The name the save dialog offers.
    QString SaveFileName() const { return m_saveFileName; }
    // The about box, made on first use.
    TAbout& About();

    // "Show all": the time axis over the whole sound, both amplitude axes -1 ... 1.
    void ShowAll();
    // Whether the time axis pages along with the play line; set by Play, cleared by the user's
    // own change of the time range.
    bool FollowPlayback() const;

    // Lays out axes and plots from Panel1's size (also run on every resize).
    void FormResize();
    // Writes the loaded sound through the filter to path, normalised (the save action after its
    // dialog). A long sound shows a progress dialog with Cancel. Returns false when cancelled;
    // raises the document's errors. A failure or a cancel leaves nothing behind. With a span,
    // only those frames (the region).
    bool ExportSoundFile(const QString& path, const std::optional<TFrameSpan>& span = std::nullopt);

    // Jobs on sounds of at least this many samples (over all channels) run under a progress
    // dialog; shorter ones run without.
    static constexpr std::int64_t ProgressSamples = TSoundLoader::ProgressSamples;

    // Draws channel `channel` of the sound with `axis` as amplitude axis on the box, at its
    // device pixel ratio, in the palette's text colour.
    void PaintWave(TPaintBox& box, QPainter& canvas, int channel, TAxis& axis);

    // Action handlers, as the toolbar, the menus and the shortcuts run them.
    void openactionExecute();
    void saveactionExecute();
    void playactionExecute();
    void usefilteractionExecute();
    void showfilteractionExecute();
    void AnalyzeactionExecute();
    void aboutactionExecute();

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void CreateActions();
    void CreateMenus();
    void CreateToolBar();
    void CreatePlots();
    void ConnectDocument();
    void ZoomTime(double steps, int x);
    // Size, place and state of the windows, kept in the per-user ini beside the recent files.
    void RestoreWindowPlaces();
    void StoreWindowPlaces();
    double ReadSetting(const char* key, double current) const;
    // Shows the filter's response on the filter controls window.
    void ShowResponse();
    // Puts Analyze's text into status bar panel 0 and its tooltip and opens or refreshes the
    // "Levels" window with it.
    void ShowLevels(const QString& text);
    // Text and tooltip of status bar panel 0.
    void SetStatusText(const QString& text);
    // Playback has stopped: the overload lamp goes back to green.
    void ShowLampAtRest();

    std::unique_ptr<TQtEventPoster> m_poster;
    std::unique_ptr<TSoundDocument> m_document;
    // Declared after the document, which its workers read: goes first.
    std::unique_ptr<TSoundLoader> m_loader;
    TProgId m_progId1;
    TZELFile m_zelFile1;
    TRecentFiles m_recentFiles1;
    std::unique_ptr<TRecentFilesMenu> m_recentFilesMenu;
    std::unique_ptr<TAbout> m_about;
    TForm19* m_form19 = nullptr;

    QAction* m_openaction = nullptr;
    QAction* m_saveaction = nullptr;
    QAction* m_playaction = nullptr;
    QAction* m_showfilteraction = nullptr;
    QAction* m_usefilteraction = nullptr;
    QAction* m_analyzeaction = nullptr;
    QAction* m_exitaction = nullptr;
    QAction* m_aboutaction = nullptr;
    QAction* m_showallaction = nullptr;
    QToolBar* m_toolBar1 = nullptr;
    QMenu* m_file1 = nullptr;
    QMenu* m_sound1 = nullptr;
    TOutputMenu* m_outputMenu = nullptr; // owned by m_sound1
    QMenu* m_view1 = nullptr;
    QMenu* m_help1 = nullptr;
    QLabel* m_statusPanel0 = nullptr;
    TPlayCursor* m_playCursor = nullptr;       // the play line, the readout and the paging
    TPlotSelection* m_plotSelection = nullptr; // the region: drag, shading, [ and ]
    TLevelsForm* m_levelsForm = nullptr;
    TListeningTools* m_listening = nullptr; // the meters and the spectrum
    TPanel* m_panel1 = nullptr;
    TPaintBox* m_paintBox1 = nullptr;
    TPaintBox* m_paintBox2 = nullptr;
    TAxis* m_taxis = nullptr;
    TAxis* m_axis1 = nullptr;
    TAxis* m_axis2 = nullptr;

    QString m_saveFileName;
    TSoundSummary m_summary;
    // Where the filter controls window stood at the last close, and whether it showed.
    bool m_form19WasShown = false;
    std::optional<QPoint> m_form19Place;
    bool m_updating = false;
    bool m_activated = false;
};

} // namespace kavrel
