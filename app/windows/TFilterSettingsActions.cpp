#include "app/windows/TFilterSettingsActions.h"

#include "app/cli/NativeName.h"
#include "app/core/ControlMapping.h"
#include "app/core/FilterSettingsFile.h"
#include "app/core/TSoundDocument.h"
#include "app/windows/ErrorReport.h"
#include "app/windows/TForm19.h"

#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QSlider>

#include <optional>

namespace kavrel {

namespace {

constexpr const char* FileFilter = "Filter settings (*.zelfile);;All files (*)";
constexpr const char* DefaultName = "Vesk filter.zelfile";

} // namespace

TFilterSettingsActions::TFilterSettingsActions(QWidget* window, QMenu* menu, QAction* before,
                                               const TSoundDocument& document,
                                               const TProgId& progId,
                                               std::function<TForm19*()> controls)
    : QObject(window), m_window(window), m_document(document), m_progId(progId),
      m_controls(std::move(controls)), m_folder(QDir::homePath())
{
    setObjectName("FilterSettingsActions");
    m_saveAction = new QAction("Save filter settings...", this);
    m_saveAction->setObjectName("savefiltersettingsaction");
    m_saveAction->setToolTip("Keep the six filter values in a file");
    m_loadAction = new QAction("Load filter settings...", this);
    m_loadAction->setObjectName("loadfiltersettingsaction");
    m_loadAction->setToolTip("Set the six filter values from a file");
    connect(m_saveAction, &QAction::triggered, this, [this] {
        const QString path = AskFile(true);
        if (!path.isEmpty())
            SaveTo(path);
    });
    connect(m_loadAction, &QAction::triggered, this, [this] {
        const QString path = AskFile(false);
        if (!path.isEmpty())
            LoadFrom(path);
    });
    menu->insertAction(before, m_saveAction);
    menu->insertAction(before, m_loadAction);
    menu->insertSeparator(before);
}

QString TFilterSettingsActions::AskFile(bool save)
{
    const QString path =
        save ? QFileDialog::getSaveFileName(m_window, "Save filter settings",
                                            QDir(m_folder).filePath(DefaultName), FileFilter)
             : QFileDialog::getOpenFileName(m_window, "Load filter settings", m_folder, FileFilter);
    if (!path.isEmpty())
        m_folder = QFileInfo(path).absolutePath();
    return path;
}

void SetFilterControls(TForm19& controls, const TFilterSettings& s)
{
    const auto set = [](QSlider* track, std::optional<int> pos) {
        if (pos)
            track->setValue(*pos);
    };
    set(controls.rawgaintrack(), SliderFromGain(s.RawGain));
    set(controls.gaintrack(), SliderFromGain(s.FilterGain));
    set(controls.pf0track(), SliderFromF0(s.PoleF0));
    set(controls.pqtrack(), SliderFromQ(s.PoleF0, s.PoleBW));
    set(controls.zf0track(), SliderFromF0(s.ZeroF0));
    set(controls.zqtrack(), SliderFromQ(s.ZeroF0, s.ZeroBW));
}

bool TFilterSettingsActions::SaveTo(const QString& path)
{
    return RunGuarded(m_window, [&] {
        const TFilterSection& s1 = m_document.FilterSection1();
        SaveFilterSettings(
            NativeName(path),
            {m_document.RawGain(), s1.Gain(), s1.PoleF0(), s1.PoleBW(), s1.ZeroF0(), s1.ZeroBW()},
            m_progId);
    });
}

bool TFilterSettingsActions::LoadFrom(const QString& path)
{
    return RunGuarded(m_window, [&] {
        const TFilterSettings s = LoadFilterSettings(NativeName(path));
        if (TForm19* f = m_controls ? m_controls() : nullptr)
            SetFilterControls(*f, s);
    });
}

} // namespace kavrel
