#pragma once

#include <QDialog>
#include <QStringList>

class QPlainTextEdit;

namespace kavrel {

// The "Levels" window: Analyze's result, one line per channel, to read in full, select and copy.
// Not modal; the main window keeps one and refreshes it on each Analyze.
class TLevelsForm : public QDialog {
    Q_OBJECT
public:
    explicit TLevelsForm(QWidget* parent = nullptr);

    // Shows the status bar's level text, split into one line per channel.
    void SetLevelText(const QString& text);
    // The lines as shown.
    QStringList Lines() const;
    QPlainTextEdit* TextBox() const { return m_text; }

private:
    QPlainTextEdit* m_text = nullptr;
};

} // namespace kavrel
