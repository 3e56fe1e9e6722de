#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QAction;
class QMenu;
class QWidget;

namespace kavrel {

class TForm19;
class TProgId;
class TSoundDocument;
struct TFilterSettings;

// Moves the six sliders to settings through the checked inverse mappings; a value without a
// position leaves its slider where it is. Each move fires the window's OnTrackChange.
void SetFilterControls(TForm19& controls, const TFilterSettings& settings);

// "Save filter settings..." and "Load filter settings...": the six values of the filter controls
// to and from a file the user names. A load moves the sliders, which put the values in force as
// a drag would; a load that fails reports the file and the problem and moves nothing.
class TFilterSettingsActions : public QObject {
    Q_OBJECT
public:
    // Adds both items and a separator to menu before `before`. window: the dialogs' parent;
    // controls: the filter controls window of the moment, may return null.
    TFilterSettingsActions(QWidget* window, QMenu* menu, QAction* before,
                           const TSoundDocument& document, const TProgId& progId,
                           std::function<TForm19*()> controls);

    QAction* SaveAction() const { return m_saveAction; }
    QAction* LoadAction() const { return m_loadAction; }

    // Without a dialog: write or read path. Failures are reported to the user; returns success.
    bool SaveTo(const QString& path);
    bool LoadFrom(const QString& path);

private:
    QString AskFile(bool save);

    QWidget* m_window;
    const TSoundDocument& m_document;
    const TProgId& m_progId;
    std::function<TForm19*()> m_controls;
    QAction* m_saveAction = nullptr;
    QAction* m_loadAction = nullptr;
    QString m_folder; // where the last file was, for the next dialog
};

} // namespace kavrel
