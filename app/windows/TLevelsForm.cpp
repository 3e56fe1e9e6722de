#include "app/windows/TLevelsForm.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace kavrel {

TLevelsForm::TLevelsForm(QWidget* parent) : QDialog(parent)
{
    setObjectName("LevelsForm");
    setWindowTitle("Levels");
    setModal(false);
    m_text = new QPlainTextEdit(this);
    m_text->setObjectName("levelstext");
    m_text->setReadOnly(true);
    m_text->setLineWrapMode(QPlainTextEdit::NoWrap);
    // Figures of all channels line up in a fixed-pitch font.
    m_text->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_text->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::hide);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_text);
    layout->addWidget(buttons);
    resize(520, 160);
}

void TLevelsForm::SetLevelText(const QString& text)
{
    // The status bar's text runs the channels together, each ended by three blanks.
    QStringList lines = text.split(QStringLiteral("   "), Qt::SkipEmptyParts);
    for (QString& line : lines)
        line = line.trimmed();
    lines.removeAll(QString());
    m_text->setPlainText(lines.join('\n'));
}

QStringList TLevelsForm::Lines() const
{
    return m_text->toPlainText().split('\n');
}

} // namespace kavrel
