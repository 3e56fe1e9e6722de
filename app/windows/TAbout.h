#pragma once

#include <QDialog>

class QLabel;

namespace kavrel {

class TProgId;

// The about box: title, version, rights notice, compile date and the supported systems.
class TAbout : public QDialog {
    Q_OBJECT
public:
    TAbout(const TProgId& progId, QWidget* parent = nullptr);

    QLabel* TitleLabel() const { return m_title; }
    QLabel* VersionLabel() const { return m_version; }
    QLabel* RightsLabel() const { return m_rights; }
    QLabel* CompiledLabel() const { return m_compiled; }
    QLabel* SystemsLabel() const { return m_systems; }

private:
    QLabel* m_title = nullptr;
    QLabel* m_version = nullptr;
    QLabel* m_rights = nullptr;
    QLabel* m_compiled = nullptr;
    QLabel* m_systems = nullptr;
};

} // namespace kavrel
