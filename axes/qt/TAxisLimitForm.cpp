#include "axes/qt/TAxisLimitForm.h"

#include "axes/FloatText.h"

#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

#include <algorithm>

namespace kavrel {

TAxisLimitForm::TAxisLimitForm(QWidget* parent) : QDialog(parent)
{
    setWindowTitle("Axis limits");
    QFont dialogFont("MS Sans Serif");
    dialogFont.setPixelSize(11);
    setFont(dialogFont);
    QPalette face = palette();
    face.setColor(QPalette::Window, face.color(QPalette::Button));
    setPalette(face);
    setAutoFillBackground(true);
    setFixedSize(182, 165);

    m_highLabel = new QLabel("High value", this);
    m_highLabel->setGeometry(8, 4, 51, 13);
    m_highEdit = new QLineEdit("High", this);
    m_highEdit->setGeometry(4, 20, 157, 21);
    m_lowLabel = new QLabel("Low value", this);
    m_lowLabel->setGeometry(8, 48, 49, 13);
    m_lowEdit = new QLineEdit("Low", this);
    m_lowEdit->setGeometry(4, 64, 157, 21);
    m_okButton = new QPushButton("&Ok", this);
    m_okButton->setGeometry(4, 96, 75, 25);
    m_okButton->setDefault(true);
    m_cancelButton = new QPushButton("&Cancel", this);
    m_cancelButton->setGeometry(88, 96, 75, 25);
    m_cancelButton->setAutoDefault(false);

    setTabOrder(m_highEdit, m_lowEdit);
    setTabOrder(m_lowEdit, m_okButton);
    setTabOrder(m_okButton, m_cancelButton);

    m_message = new QLabel(this);
    m_message->setObjectName("message");
    m_message->setGeometry(4, 126, 174, 36);
    m_message->setWordWrap(true);
    m_message->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    connect(m_okButton, &QPushButton::clicked, this, [this] { OkClicked(); });
    // Escape and the window's close button reject the dialog as well.
    connect(m_cancelButton, &QPushButton::clicked, this, [this] {
        m_result = false;
        reject();
    });
}

void TAxisLimitForm::SetLowValue(double value)
{
    m_low = value;
    m_lowEdit->setText(QString::fromStdString(GeneralFloatText(value, m_separator)));
}

void TAxisLimitForm::SetHighValue(double value)
{
    m_high = value;
    m_highEdit->setText(QString::fromStdString(GeneralFloatText(value, m_separator)));
}

void TAxisLimitForm::OkClicked()
{
    const double low = ReadLow();
    const double high = ReadHigh();
    if (low == high) {
        m_message->setText("The low and high values must differ.");
        m_lowEdit->setFocus();
        m_lowEdit->selectAll();
        return;
    }
    // Ends typed the wrong way round are meant as the range between them.
    if (low > high) {
        m_lowEdit->setText(QString::fromStdString(GeneralFloatText(high, m_separator)));
        m_highEdit->setText(QString::fromStdString(GeneralFloatText(low, m_separator)));
    }
    m_result = true;
    accept();
}

bool TAxisLimitForm::Execute()
{
    m_result = false;
    m_message->clear();
    m_highEdit->setFocus();
    exec();
    return m_result;
}

double TAxisLimitForm::Read(const QLineEdit* edit, double fallback) const
{
    double value = 0;
    if (ParseFloatText(edit->text().toStdString(), m_separator, value)) {
        return value;
    }
    return fallback;
}

double TAxisLimitForm::ReadLow() const
{
    return Read(m_lowEdit, m_low);
}

double TAxisLimitForm::ReadHigh() const
{
    return Read(m_highEdit, m_high);
}

void TAxisLimitForm::SetAxisText(const std::string& text)
{
    const QString unit = QString::fromStdString(text);
    m_highLabel->setText("High value " + unit);
    m_lowLabel->setText("Low value " + unit);
    // The labels grow with their text, as auto-sized labels do; the edits stay where they are.
    m_highLabel->resize(std::max(51, m_highLabel->sizeHint().width()), 13);
    m_lowLabel->resize(std::max(49, m_lowLabel->sizeHint().width()), 13);
}

void TAxisLimitForm::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (const QScreen* shown = screen() != nullptr ? screen() : QGuiApplication::primaryScreen()) {
        const QRect area = shown->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
    if (OnShown) {
        OnShown(*this);
    }
}

} // namespace kavrel
