#include "app/windows/TForm18.h"

#include "app/cli/NativeName.h"
#include "app/core/ControlMapping.h"
#include "app/core/FilterSettingsFile.h"
#include "app/core/TSoundDocument.h"
#include "app/view/PlotColumns.h"
#include "app/windows/AxisRange.h"
#include "app/windows/ErrorReport.h"
#include "app/windows/Pictures.h"
#include "app/windows/TAbout.h"
#include "app/windows/TFilterSettingsActions.h"
#include "app/windows/TFlagGuard.h"
#include "app/windows/TForm19.h"
#include "app/windows/TLevelsForm.h"
#include "app/windows/TListeningTools.h"
#include "app/windows/TOutputMenu.h"
#include "app/windows/TPaintBox.h"
#include "app/windows/TPlayCursor.h"
#include "app/windows/TPlotSelection.h"
#include "app/windows/TResponsePlot.h"
#include "app/windows/TSoundLoader.h"
#include "app/windows/WavePainting.h"
#include "audio/pulse/TPulseWaveOutDevice.h"
#include "audio/qt/TQtEventPoster.h"
#include "axes/qt/TAxis.h"
#include "menus/qt/TIniStore.h"
#include "menus/qt/TRecentFilesMenu.h"
#include "settings/UserFolders.h"
#include "sound/SoundFileNames.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QMenuBar>
#include <QMimeData>
#include <QPainter>
#include <QSlider>
#include <QStatusBar>
#include <QToolBar>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>
#include <utility>

namespace kavrel {

namespace {

constexpr const char* SettingsSection = "Settings";
// Section of the per-user ini that keeps where the windows stand.
constexpr const char* PlacesSection = "Windows";
constexpr const char* OpenFilter =
    "Sound files (*.wav *.flac *.ogg *.oga *.opus *.mp3 *.aif *.aiff *.aifc *.caf *.w64 *.rf64);;"
    "Wave files (*.wav);;All files (*)";
constexpr const char* SaveFilter = "Wave files (*.wav);;FLAC files (*.flac);;All files (*)";
// Each notch of the wheel over a plot narrows (or widens) the time range to this fraction.
constexpr double WheelZoomFactor = 0.8;
// The time axis is never zoomed in to fewer samples than this.
constexpr double MinVisibleSamples = 16.0;

std::string ToPath(const QString& path)
{
    return NativeName(path);
}

QString FromPath(const std::string& path)
{
    return TextFromNative(path);
}

// The first local sound file among a drag's URLs; empty when there is none.
QString DroppedSoundFile(const QMimeData* mime)
{
    if (mime == nullptr || !mime->hasUrls())
        return {};
    for (const QUrl& url : mime->urls())
        if (url.isLocalFile() && IsSoundFileName(ToPath(url.toLocalFile())))
            return url.toLocalFile();
    return {};
}

} // namespace

TForm18::TForm18(std::unique_ptr<TWaveOutDevice> device, QWidget* parent)
    : QMainWindow(parent), m_poster(std::make_unique<TQtEventPoster>())
{
    if (!device)
        device = std::make_unique<TPulseWaveOutDevice>();
    m_poster->OnException = [this](TQtEventPoster&, const std::exception& e) {
        ReportError(this, QString::fromUtf8(e.what()));
    };
    m_document = std::make_unique<TSoundDocument>(std::move(device), *m_poster);
    m_loader = std::make_unique<TSoundLoader>(this, *m_document);

    m_progId1.SetProductName("Kavrel");
    m_progId1.SetCompany("MorvaneData");
    m_progId1.SetVersion("0.0.0.2");
    m_progId1.SetAutoVersion(false);
    m_zelFile1.SetProgId(&m_progId1);
    m_zelFile1.SetSettingsFileName("settings.zelfile");
    m_zelFile1.SetFileVersion("0.0");

    setObjectName("Form18");
    setWindowTitle("Kavrel");
    setWindowIcon(AppIcon());
    QFont f = font();
    f.setFamilies({"Tahoma", "DejaVu Sans", "Liberation Sans"});
    f.setPointSize(8);
    setFont(f);
    setAcceptDrops(true);

    CreateActions();
    CreateMenus();
    CreateToolBar();

    auto* status = new QStatusBar(this);
    status->setObjectName("StatusBar1");
    status->setFixedHeight(StatusBarHeight);
    status->setSizeGripEnabled(true);
    m_statusPanel0 = new QLabel(status);
    m_statusPanel0->setObjectName("StatusBar1Panel0");
    m_statusPanel0->setMinimumWidth(50);
    // A long path must not widen the window.
    m_statusPanel0->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    status->addWidget(m_statusPanel0, 1);
    CreatePlots();
    m_playCursor = new TPlayCursor(*m_document, status, m_taxis, m_paintBox1, m_paintBox2, this);
    m_plotSelection = new TPlotSelection(this, m_sound1, *m_document, m_taxis, m_paintBox1,
                                         m_paintBox2, *m_playCursor);
    setStatusBar(status);
    ConnectDocument();

    // The client area below the menu bar: toolbar, plots and status bar.
    resize(ClientWidth, ClientHeight + menuBar()->sizeHint().height());
    RestoreWindowPlaces();
}

TForm18::~TForm18()
{
    SetForm19(nullptr);
    if (m_document && m_document->Playing()) {
        try {
            m_document->StopPlay();
        } catch (const std::exception&) {
            // The device goes with the document; nothing is left to tell the user.
        }
    }
}

void TForm18::CreateActions()
{
    struct TDesc {
        QAction*& action;
        const char* name;
        const char* caption;
        const char* hint;
        int image;
        QKeySequence shortcut;
        bool checkable;
        void (TForm18::*handler)();
    };
    // The captions are the program's own texts, kept without mnemonic marks; each has a shortcut.
    const TDesc descs[] = {
        {m_openaction, "openaction", "Open soundfile...", "Open soundfile", 0,
         QKeySequence(Qt::CTRL | Qt::Key_O), false, &TForm18::openactionExecute},
        {m_saveaction, "saveaction", "Save soundfile...", "Save soundfile through the Vesk filter",
         4, QKeySequence(Qt::CTRL | Qt::Key_S), false, &TForm18::saveactionExecute},
        {m_playaction, "playaction", "Play!", "Play sound", 1, QKeySequence(Qt::Key_F9), true,
         &TForm18::playactionExecute},
        {m_showfilteraction, "showfilteraction", "Show filter settings...",
         "Show the Vesk filter settings", 2, QKeySequence(Qt::CTRL | Qt::Key_F), false,
         &TForm18::showfilteractionExecute},
        {m_usefilteraction, "usefilteraction", "Use filter", "Connect the Vesk filter (F)", 3,
         QKeySequence(Qt::Key_F), true, &TForm18::usefilteractionExecute},
        {m_analyzeaction, "Analyzeaction", "Analyze", "Analyze file levels", 5,
         QKeySequence(Qt::CTRL | Qt::Key_L), false, &TForm18::AnalyzeactionExecute},
    };
    for (const TDesc& d : descs) {
        auto* a = new QAction(ToolbarIcon(d.image), d.caption, this);
        a->setObjectName(d.name);
        a->setToolTip(d.hint);
        a->setShortcut(d.shortcut);
        a->setCheckable(d.checkable);
        const auto handler = d.handler;
        connect(a, &QAction::triggered, this,
                [this, handler] { RunGuarded(this, [this, handler] { (this->*handler)(); }); });
        addAction(a);
        d.action = a;
    }

    // Nothing to save until a sound is loaded.
    m_saveaction->setEnabled(false);
    // Space starts and stops playback, as in any audio editor; the menu shows F9.
    m_playaction->setShortcuts({QKeySequence(Qt::Key_F9), QKeySequence(Qt::Key_Space)});

    m_showallaction = new QAction("Show &all", this);
    m_showallaction->setObjectName("showallaction");
    m_showallaction->setToolTip("Show the whole sound at full scale");
    m_showallaction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_0));
    connect(m_showallaction, &QAction::triggered, this,
            [this] { RunGuarded(this, [this] { ShowAll(); }); });
    addAction(m_showallaction);

    m_exitaction = new QAction("E&xit", this);
    m_exitaction->setObjectName("Exit1");
    m_exitaction->setShortcut(QKeySequence::Quit);
    connect(m_exitaction, &QAction::triggered, this, &QWidget::close);

    m_aboutaction = new QAction("&About Kavrel...", this);
    m_aboutaction->setObjectName("AboutKavrel1");
    connect(m_aboutaction, &QAction::triggered, this,
            [this] { RunGuarded(this, [this] { aboutactionExecute(); }); });
}

void TForm18::CreateMenus()
{
    QMenuBar* bar = menuBar();
    bar->setObjectName("MainMenu1");
    m_file1 = bar->addMenu("&File");
    m_file1->setObjectName("File1");
    m_file1->addAction(m_openaction);
    m_file1->addAction(m_saveaction);
    m_file1->addSeparator();
    m_file1->addAction(m_exitaction);
    new TFilterSettingsActions(this, m_file1, m_exitaction, *m_document, m_progId1,
                               [this] { return m_form19; });

    m_sound1 = bar->addMenu("&Sound");
    m_sound1->setObjectName("Sound1");
    m_sound1->addAction(m_playaction);
    m_sound1->addAction(m_usefilteraction);
    m_sound1->addAction(m_showfilteraction);
    m_sound1->addAction(m_analyzeaction);
    m_listening = new TListeningTools(this, m_sound1, *m_document);
    m_sound1->addSeparator();
    m_outputMenu = new TOutputMenu(m_document->MPCPlay1(), m_sound1, [this] {
        return std::unique_ptr<TKeyValueStore>(
            std::make_unique<TIniStore>(TIniStore::FileNameFor(m_progId1)));
    });

    m_view1 = bar->addMenu("&View");
    m_view1->setObjectName("View1");
    m_view1->addAction(m_showallaction);

    m_help1 = bar->addMenu("&Help");
    m_help1->setObjectName("HelpMenu1");
    m_help1->addAction(m_aboutaction);

    m_recentFiles1.SetMaxItems(9);
    m_recentFiles1.SetMenuPos(2);
    m_recentFiles1.SetBarBefore(true);
    m_recentFiles1.SetIncludeClearItem(true);
    m_recentFiles1.SetClearCaption("&Clear list...");
    m_recentFiles1.SetAllowFileOnRemovable(false);
    m_recentFiles1.SetAllowFileOnFixed(true);
    m_recentFiles1.SetAllowFileOnRemote(true);
    m_recentFiles1.SetAllowFileOnCDROM(false);
    m_recentFiles1.SetAllowFileOnRAMDisk(false);
    m_recentFiles1.SetProgId(&m_progId1);
    m_recentFiles1.OnClick = [this](TRecentFiles&, int, const std::string& fileName) {
        RunGuarded(this, [&] { LoadSoundFile(FromPath(fileName)); });
    };
    m_recentFilesMenu = std::make_unique<TRecentFilesMenu>(m_recentFiles1);
    m_recentFilesMenu->SetMenu(m_file1);
    m_recentFilesMenu->SetDialogParent(this);
    m_recentFiles1.Loaded();
}

void TForm18::CreateToolBar()
{
    m_toolBar1 = new QToolBar(this);
    m_toolBar1->setObjectName("ToolBar1");
    m_toolBar1->setMovable(false);
    m_toolBar1->setFloatable(false);
    m_toolBar1->setIconSize(QSize(16, 16));
    m_toolBar1->setFixedHeight(ToolBarHeight);
    m_toolBar1->setContextMenuPolicy(Qt::PreventContextMenu);
    m_toolBar1->setStyleSheet("QToolBar::separator { width: 8px; }");
    m_toolBar1->addAction(m_openaction);
    m_toolBar1->addSeparator();
    m_toolBar1->addAction(m_playaction);
    m_toolBar1->addAction(m_usefilteraction);
    m_toolBar1->addSeparator();
    m_toolBar1->addAction(m_showfilteraction);
    m_toolBar1->addAction(m_analyzeaction);
    addToolBar(Qt::TopToolBarArea, m_toolBar1);
}

void TForm18::CreatePlots()
{
    m_panel1 = new TPanel(this);
    m_panel1->setObjectName("Panel1");
    setCentralWidget(m_panel1);

    m_paintBox1 = new TPaintBox(m_panel1);
    m_paintBox1->setObjectName("PaintBox1");
    m_paintBox2 = new TPaintBox(m_panel1);
    m_paintBox2->setObjectName("PaintBox2");
    m_paintBox1->OnPaint = [this](TPaintBox& box, QPainter& p) { PaintWave(box, p, 0, *m_axis1); };
    m_paintBox2->OnPaint = [this](TPaintBox& box, QPainter& p) { PaintWave(box, p, 1, *m_axis2); };
    for (TPaintBox* box : {m_paintBox1, m_paintBox2}) {
        box->OnMouseWheel = [this](TPaintBox&, double steps, int x) { ZoomTime(steps, x); };
        box->OnDoubleClick = [this](TPaintBox&) { ShowAll(); };
    }

    m_taxis = new TAxis(m_panel1);
    m_taxis->setObjectName("taxis");
    m_taxis->SetPosition(tposition::posunder);
    m_taxis->resize(200, 24);
    m_taxis->SetAllowLoScroll(true);
    m_taxis->SetAllowHiScroll(true);
    m_taxis->SetAllowMidScroll(true);
    m_taxis->SetAllowDoubleClick(true);
    m_taxis->SetMinLoValue(-1e300);
    m_taxis->SetMaxLoValue(1e300);
    m_taxis->SetMinHiValue(-1e300);
    m_taxis->SetMaxHiValue(1e300);
    m_taxis->SetMaxValueDifference(1e300);
    m_taxis->SetLoValue(0);
    m_taxis->SetHiValue(1);
    m_taxis->SetAxisText("[s]");
    m_taxis->SetTickSpaceAim(40);
    m_taxis->SetShowTickmarks(false);
    m_taxis->SetMarkerVisible(false);
    // The plots follow a drag as it goes, not only when the button is released.
    m_taxis->OnScaleChanging = [this](TAxis&) { m_playCursor->TimeRangeChanged(); };
    m_taxis->OnScaleChanged = [this](TAxis&) { m_playCursor->TimeRangeChanged(); };

    const auto makeAmplitudeAxis = [this](const char* name, TPaintBox* box) {
        auto* axis = new TAxis(m_panel1);
        axis->setObjectName(name);
        axis->SetPosition(tposition::posleft);
        axis->resize(43, 200);
        axis->SetLoValue(-1);
        axis->SetHiValue(1);
        axis->SetMinLoValue(-1);
        axis->SetMaxLoValue(-0.01);
        axis->SetMinHiValue(0.01);
        axis->SetMaxHiValue(1);
        // Dragged by an end (zoom) or the middle (scroll) within those limits, as the time axis.
        axis->SetAllowLoScroll(true);
        axis->SetAllowHiScroll(true);
        axis->SetAllowMidScroll(true);
        axis->SetAllowDoubleClick(true);
        axis->OnScaleChanging = [box](TAxis& a) {
            KeepRangeInLimits(a);
            box->Invalidate();
        };
        axis->OnScaleChanged = axis->OnScaleChanging;
        return axis;
    };
    m_axis1 = makeAmplitudeAxis("Axis1", m_paintBox1);
    m_axis2 = makeAmplitudeAxis("Axis2", m_paintBox2);

    m_panel1->OnResize = [this](TPanel&) { FormResize(); };
}

void TForm18::ConnectDocument()
{
    TSoundDocument& doc = *m_document;
    doc.OnApplyControls = [this](TSoundDocument&) { ApplyControls(); };
    doc.OnMarkerValue = [this](TSoundDocument&, double seconds) {
        m_playCursor->ShowMarker(seconds);
    };
    doc.OnMarkerVisible = [this](TSoundDocument&, bool visible) {
        m_playCursor->SetMarkerVisible(visible);
        m_listening->SetPlaying(visible);
    };
    doc.OnOverload = [this](TSoundDocument&, bool overloaded) {
        if (m_form19 != nullptr)
            m_form19->ShowOverload(overloaded);
    };
    doc.OnBlockFed = [this](TSoundDocument&) {
        m_playCursor->BlockFed();
        m_listening->BlockFed();
    };
    // Playback that stops because the sound output failed says why, once for each failure.
    doc.OnPlayStopped = [this, told = std::string()](TSoundDocument& sender) mutable {
        m_playaction->setChecked(false);
        ShowLampAtRest();
        const std::string& why = sender.MPCPlay1().LastDeviceError();
        if (!why.empty() && why != told)
            ReportError(this, "Playback stopped: " + QString::fromStdString(why));
        told = why;
    };
    // The output needed more queued to keep playing: say so, since changes are heard later now.
    doc.MPCPlay1().OnRingGrown = [this](TMPCPlay& player) {
        statusBar()->showMessage(
            QString("Playback buffer grown to %1 ms: the sound output needs that much to play")
                .arg(std::lround(player.RingSeconds() * 1000.0)));
    };
}

void TForm18::SetForm19(TForm19* form19)
{
    if (m_form19 != nullptr) {
        m_form19->OnTrackChange = nullptr;
        m_form19->removeAction(m_playaction);
        m_form19->removeAction(m_usefilteraction);
    }
    m_form19 = form19;
    if (m_form19 != nullptr) {
        m_form19->OnTrackChange = [this](TForm19&) { ApplyControls(); };
        // Play (F9, Space) and Use filter (F) work from the filter controls too, while one
        // listens to the sliders.
        m_form19->addAction(m_playaction);
        m_form19->addAction(m_usefilteraction);
        m_listening->SetControls(m_form19);
        if (m_form19Place)
            m_form19->move(*m_form19Place);
    }
}

QString TForm18::StatusText() const
{
    return m_statusPanel0->text();
}

QString TForm18::PositionReadout() const
{
    return m_playCursor->PositionReadout();
}

void TForm18::ShowHeardPosition()
{
    m_playCursor->ShowHeardPosition();
}

bool TForm18::FollowPlayback() const
{
    return m_playCursor->Follow();
}

void TForm18::SetStatusText(const QString& text)
{
    // The panel cuts a long text at the window's edge; the tooltip has all of it.
    m_statusPanel0->setText(text);
    m_statusPanel0->setToolTip(text);
}

QString TForm18::StatusToolTip() const
{
    return m_statusPanel0->toolTip();
}

TAbout& TForm18::About()
{
    if (!m_about)
        m_about = std::make_unique<TAbout>(m_progId1, this);
    return *m_about;
}

bool TForm18::event(QEvent* e)
{
    const bool handled = QMainWindow::event(e);
    if ((e->type() == QEvent::WindowActivate || e->type() == QEvent::Show) && !m_activated)
        RunGuarded(this, [this] { FormActivate(); });
    return handled;
}

void TForm18::FormActivate()
{
    if (m_activated)
        return;
    m_activated = true;
    ApplyControls();
    m_playaction->setEnabled(false);
    LoadSettings();
    if (m_form19WasShown && m_form19 != nullptr) {
        // Back where it was, without taking the focus from this window.
        m_form19->setAttribute(Qt::WA_ShowWithoutActivating, true);
        m_form19->show();
        m_form19->setAttribute(Qt::WA_ShowWithoutActivating, false);
    }
}

void TForm18::ApplyControls()
{
    if (m_updating || m_form19 == nullptr)
        return;
    const TForm19& f = *m_form19;
    TSoundDocument& doc = *m_document;
    TFilterSection& s1 = doc.FilterSection1();
    doc.SetRawGain(GainFromSlider(f.rawgaintrack()->value()));
    s1.SetGain(GainFromSlider(f.gaintrack()->value()));
    const double poleF0 = F0FromSlider(f.pf0track()->value());
    s1.SetPoleF0(poleF0);
    s1.SetPoleBW(poleF0 / QFromSlider(f.pqtrack()->value()));
    const double zeroF0 = F0FromSlider(f.zf0track()->value());
    s1.SetZeroF0(zeroF0);
    s1.SetZeroBW(zeroF0 / QFromSlider(f.zqtrack()->value()));

    TFilterSection& s2 = doc.FilterSection2();
    s2.SetGain(s1.Gain());
    s2.SetPoleF0(s1.PoleF0());
    s2.SetPoleBW(s1.PoleBW());
    s2.SetZeroF0(s1.ZeroF0());
    s2.SetZeroBW(s1.ZeroBW());

    m_form19->SetLabelValues(doc.RawGain(), s1.Gain(), s1.PoleF0(), s1.PoleF0() / s1.PoleBW(),
                             s1.ZeroF0(), s1.ZeroF0() / s1.ZeroBW());
    ShowResponse();
}

std::string TForm18::SettingsFilePath() const
{
    try {
        const std::filesystem::path defaultFile(m_zelFile1.GetDefaultFileName());
        return (defaultFile.parent_path() / SettingsName).string();
    } catch (const EZELfileError&) {
        return {}; // no private folder
    }
}

double TForm18::ReadSetting(const char* key, double current) const
{
    try {
        return m_zelFile1.ReadFloat(SettingsSection, key, current);
    } catch (const EZELfileError&) {
        // An item of another type under our key: the file is not ours to trust, keep the value.
        return current;
    }
}

void TForm18::LoadSettings()
{
    const std::string path = SettingsFilePath();
    if (path.empty()) {
        // Said once, here; the saves then quietly do nothing.
        SetStatusText(QString::fromUtf8(NoProgramFolderText));
        std::fprintf(stderr, "kavrel: %s\n", NoProgramFolderText);
    } else {
        m_zelFile1.LoadFromFile(path);
    }
    const TSoundDocument& doc = *m_document;
    const TFilterSection& s1 = doc.FilterSection1();
    // The file is untrusted: values go to the sliders only through the checked inverse mapping,
    // and ApplyControls then puts what the sliders show in force.
    const double rawGain = ReadSetting("RawGain", doc.RawGain());
    const double filterGain = ReadSetting("FilterGain", s1.Gain());
    const double poleF0 = ReadSetting("PoleF0", s1.PoleF0());
    const double poleBW = ReadSetting("PoleBW", s1.PoleBW());
    const double zeroF0 = ReadSetting("ZeroF0", s1.ZeroF0());
    const double zeroBW = ReadSetting("ZeroBW", s1.ZeroBW());

    if (m_form19 != nullptr) {
        TFlagGuard updating(m_updating);
        SetFilterControls(*m_form19, {rawGain, filterGain, poleF0, poleBW, zeroF0, zeroBW});
    }
    ApplyControls();
    m_zelFile1.Clear();
}

void TForm18::SaveSettings()
{
    const TSoundDocument& doc = *m_document;
    const TFilterSection& s1 = doc.FilterSection1();
    m_zelFile1.WriteFloat(SettingsSection, "RawGain", doc.RawGain());
    m_zelFile1.WriteFloat(SettingsSection, "FilterGain", s1.Gain());
    m_zelFile1.WriteFloat(SettingsSection, "PoleF0", s1.PoleF0());
    m_zelFile1.WriteFloat(SettingsSection, "PoleBW", s1.PoleBW());
    m_zelFile1.WriteFloat(SettingsSection, "ZeroF0", s1.ZeroF0());
    m_zelFile1.WriteFloat(SettingsSection, "ZeroBW", s1.ZeroBW());
    try {
        if (const std::string path = SettingsFilePath(); !path.empty())
            m_zelFile1.SaveToFile(path);
    } catch (...) {
        m_zelFile1.Clear();
        throw;
    }
    m_zelFile1.Clear();
}

void TForm18::LoadSoundFile(const QString& path)
{
    ApplyControls();
    const std::string file = ToPath(path);
    m_saveFileName = FromPath(TSoundDocument::VeskSaveName(file));

    TSoundDocument& doc = *m_document;
    const QString name = QFileInfo(path).fileName();
    // The sound read replaces the document's only when complete.
    TWav sound;
    TSoundSummary summary;
    if (!m_loader->Read(path, sound, summary))
        return;
    // A playback that cannot start again on the new format is reported once the window shows
    // the new sound.
    TWav previous;
    std::exception_ptr restartError;
    try {
        previous = doc.TakeSound(std::move(sound));
    } catch (...) {
        restartError = std::current_exception();
    }
    m_summary = std::move(summary);
    // Only a file that opened goes into the recent list.
    m_recentFiles1.AddFile(file);
    m_loader->Release(std::move(previous));

    // Only this window's caption names the file; the other windows keep their own titles.
    setWindowTitle(name + " - Kavrel");
    const std::string warning = doc.SourceWav().ReadWarning();
    SetStatusText(warning.empty() ? QFileInfo(path).absoluteFilePath()
                                  : FromPath(file + ": warning: " + warning));

    const double duration = doc.SourceWav().Duration();
    m_taxis->SetMaxHiValue(duration);
    m_taxis->SetHiValue(duration);
    m_taxis->SetMinLoValue(0);
    m_taxis->SetLoValue(0);

    m_playaction->setEnabled(true);
    m_saveaction->setEnabled(true);
    doc.SetPlayPos(0);
    m_paintBox1->Invalidate();
    m_paintBox2->Invalidate();
    m_playCursor->Restart();
    m_plotSelection->Restart();
    ShowResponse();
    if (restartError)
        std::rethrow_exception(restartError);
}

void TForm18::PaintWave(TPaintBox& box, QPainter& canvas, int channel, TAxis& axis)
{
    const TWav& wav = m_document->SourceWav();
    if (channel >= wav.Channels())
        return;
    if (!m_summary.Matches(wav))
        m_summary.Build(wav);
    PaintWaveColumns(canvas, box.DeviceSize(), box.devicePixelRatioF(), m_summary.Channel(channel),
                     wav.SampleRate(), *m_taxis, axis, box.palette().color(QPalette::Text));
}

void TForm18::ShowAll()
{
    const TWav& wav = m_document->SourceWav();
    const double duration = wav.Length() > 0 ? wav.Duration() : 0.0;
    if (duration > 0)
        m_taxis->SetRange(0, duration);
    m_axis1->SetRange(-1, 1);
    m_axis2->SetRange(-1, 1);
}

void TForm18::RestoreWindowPlaces()
{
    try {
        TIniStore store(TIniStore::FileNameFor(m_progId1));
        const std::string main = store.ReadString(PlacesSection, "Main", "");
        if (!main.empty())
            restoreGeometry(QByteArray::fromBase64(QByteArray::fromStdString(main)));
        const int shown = store.ReadInteger(PlacesSection, "FilterControlsVisible", -1);
        m_form19WasShown = shown > 0;
        const QPoint at(store.ReadInteger(PlacesSection, "FilterControlsLeft", 0),
                        store.ReadInteger(PlacesSection, "FilterControlsTop", 0));
        // Only onto a screen that is still there.
        if (shown >= 0 && QGuiApplication::screenAt(at) != nullptr)
            m_form19Place = at;
    } catch (const std::exception&) {
        // As with the recent files: a store that cannot be read leaves the windows where the
        // window system puts them.
    }
}

void TForm18::StoreWindowPlaces()
{
    try {
        TIniStore store(TIniStore::FileNameFor(m_progId1));
        store.WriteString(PlacesSection, "Main", saveGeometry().toBase64().toStdString());
        if (m_form19 != nullptr) {
            store.WriteInteger(PlacesSection, "FilterControlsLeft", m_form19->x());
            store.WriteInteger(PlacesSection, "FilterControlsTop", m_form19->y());
            store.WriteInteger(PlacesSection, "FilterControlsVisible",
                               m_form19->isVisible() ? 1 : 0);
        }
        store.Flush();
    } catch (const std::exception& e) {
        // Where the windows stood is not worth a message box that keeps the program from
        // closing.
        std::fprintf(stderr, "kavrel: %s\n", e.what());
    }
}

void TForm18::ShowResponse()
{
    if (m_form19 == nullptr)
        return;
    // The curve of the filter as it plays the loaded sound: at the sound's own rate.
    TFilterSection section = m_document->FilterSection1();
    const int rate = m_document->SourceWav().SampleRate();
    if (rate > 0)
        section.SetSampFreq(rate);
    m_form19->ResponsePlot()->SetFilter(section);
}

void TForm18::ZoomTime(double steps, int x)
{
    const double lo = m_taxis->LoValue();
    const double hi = m_taxis->HiValue();
    const double t = m_taxis->PixelToValue(x);
    const double factor = std::pow(WheelZoomFactor, steps);
    const double newLo = std::max(t - (t - lo) * factor, m_taxis->MinLoValue());
    const double newHi = std::min(t + (hi - t) * factor, m_taxis->MaxHiValue());
    const int rate = m_document->SourceWav().SampleRate();
    const double minSpan = rate > 0 ? MinVisibleSamples / rate : 1e-6;
    if (!std::isfinite(newLo) || !std::isfinite(newHi) || !(newHi - newLo >= minSpan))
        return;
    m_playCursor->SetFollow(false);
    m_taxis->SetRange(newLo, newHi);
}

void TForm18::FormResize()
{
    const int panelWidth = m_panel1->width();
    const int panelHeight = m_panel1->height();
    const int axis1Left = 2;
    const int axis1Top = axis1Left;
    const int taxisLeft = axis1Left + m_axis1->width();
    const int taxisTop = panelHeight - m_taxis->height() - axis1Top;
    const int taxisWidth = panelWidth - taxisLeft;
    const int axis1Height = (taxisTop - axis1Top) / 2 - 1;
    const int axis2Top = axis1Top + axis1Height + 2;

    const auto place = [](QWidget* w, int left, int top, int width, int height) {
        w->setGeometry(left, top, std::max(0, width), std::max(0, height));
    };
    place(m_axis1, axis1Left, axis1Top, m_axis1->width(), axis1Height);
    place(m_taxis, taxisLeft, taxisTop, taxisWidth, m_taxis->height());
    place(m_axis2, axis1Left, axis2Top, m_axis2->width(), axis1Height);
    place(m_paintBox1, taxisLeft, axis1Top, taxisWidth, axis1Height);
    place(m_paintBox2, taxisLeft, axis2Top, taxisWidth, axis1Height);
    m_paintBox1->Invalidate();
    m_paintBox2->Invalidate();
    m_playCursor->UpdatePlayLine();
}

void TForm18::openactionExecute()
{
    QFileDialog dialog(this, "Open soundfile");
    dialog.setObjectName("OpenDialog1");
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilter(OpenFilter);
    dialog.setDefaultSuffix("wav");
    const std::string& current = m_document->SourceWav().FileName();
    if (!current.empty())
        dialog.setDirectory(QFileInfo(FromPath(current)).absolutePath());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    LoadSoundFile(dialog.selectedFiles().constFirst());
}

void TForm18::saveactionExecute()
{
    const std::optional<std::optional<TFrameSpan>> span = m_plotSelection->AskSaveSpan();
    if (!span)
        return;
    QFileDialog dialog(this, "Save soundfile");
    dialog.setObjectName("SaveDialog1");
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(SaveFilter);
    dialog.setDefaultSuffix("wav");
    // A name typed without an ending gets the one of the chosen kind of file.
    connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& filter) {
        dialog.setDefaultSuffix(filter.contains("*.flac") ? "flac" : "wav");
    });
    if (!m_saveFileName.isEmpty()) {
        const QFileInfo preset(m_saveFileName);
        dialog.setDirectory(preset.absolutePath());
        // The saved file is a wave file unless named .flac: the name of an Ogg, MP3 … source is
        // offered with ".wav" instead of its own ending.
        dialog.selectFile(IsReadOnlySoundName(ToPath(preset.fileName()))
                              ? preset.completeBaseName() + ".wav"
                              : preset.fileName());
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    ExportSoundFile(dialog.selectedFiles().constFirst(), *span);
}

bool TForm18::ExportSoundFile(const QString& path, const std::optional<TFrameSpan>& span)
{
    const std::string file = ToPath(path);
    const TWav& wav = m_document->SourceWav();
    // A long export runs on a worker, through a copy of the filter as it is now.
    const TFilterSection filter = m_document->FilterSection1();
    const bool saved = m_loader->WithProgress(
        "Saving " + QFileInfo(path).fileName() + "...",
        (span ? span->Frames() : wav.Length()) * wav.Channels(),
        [&](const auto& progress) { return m_document->Export(file, filter, progress, span); },
        true);
    if (saved)
        SetStatusText("Saved " + QFileInfo(path).absoluteFilePath());
    return saved;
}

void TForm18::playactionExecute()
{
    if (!m_playaction->isChecked()) {
        m_document->StopPlay();
        ShowLampAtRest();
        return;
    }
    try {
        m_document->StartPlay();
    } catch (...) {
        m_playaction->setChecked(false);
        throw;
    }
    m_playCursor->SetFollow(true);
    if (m_document->MPCPlay1().OutputMissing()) {
        const std::string& chosen = m_outputMenu->ChosenDescription().empty()
                                        ? m_document->MPCPlay1().OutputKey()
                                        : m_outputMenu->ChosenDescription();
        statusBar()->showMessage("Output device \"" + QString::fromStdString(chosen) +
                                 "\" is not there; playing on the default output");
    }
}

void TForm18::usefilteractionExecute()
{
    m_document->SetUseFilter(m_usefilteraction->isChecked());
}

void TForm18::showfilteractionExecute()
{
    if (m_form19 == nullptr)
        return;
    m_form19->show();
    m_form19->raise();
    m_form19->activateWindow();
}

void TForm18::AnalyzeactionExecute()
{
    const TWav& wav = m_document->SourceWav();
    std::string text;
    // A long sound is analysed on a worker. The analysis cannot stop halfway: a cancel only
    // drops its result.
    const bool done = m_loader->WithProgress(
        "Analyzing " + QFileInfo(FromPath(wav.FileName())).fileName() + "...",
        wav.Length() * wav.Channels(),
        [&](const auto& progress) {
            text = m_document->AnalyzeText(progress).value_or(std::string());
            return !text.empty();
        },
        true);
    if (done)
        ShowLevels(QString::fromStdString(text));
}

void TForm18::ShowLevels(const QString& text)
{
    SetStatusText(text);
    if (m_levelsForm == nullptr)
        m_levelsForm = new TLevelsForm(this);
    m_levelsForm->SetLevelText(text);
    m_levelsForm->show();
    m_levelsForm->raise();
}

void TForm18::ShowLampAtRest()
{
    if (m_form19 != nullptr)
        m_form19->ShowOverload(false);
}

void TForm18::aboutactionExecute()
{
    About().exec();
}

void TForm18::closeEvent(QCloseEvent* event)
{
    RunGuarded(this, [this] {
        m_playaction->setChecked(false);
        m_document->StopPlay();
    });
    // Settings are only stored once they were read, so an early close cannot overwrite them.
    if (m_activated)
        RunGuarded(this, [this] { SaveSettings(); });
    StoreWindowPlaces();
    if (m_form19 != nullptr)
        m_form19->hide();
    event->accept();
}

void TForm18::dragEnterEvent(QDragEnterEvent* event)
{
    if (!DroppedSoundFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void TForm18::dropEvent(QDropEvent* event)
{
    const QString file = DroppedSoundFile(event->mimeData());
    if (file.isEmpty())
        return;
    event->acceptProposedAction();
    RunGuarded(this, [&] { LoadSoundFile(file); });
}

} // namespace kavrel
