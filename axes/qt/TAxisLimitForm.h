#pragma once

#include "axes/TAxisLimitDialog.h"

#include <QDialog>

#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;

// The "Axis limits" dialog: two edits for the high and low end of an axis, "&Ok" and "&Cancel".
namespace kavrel {

class TAxisLimitForm : public QDialog, public TAxisLimitDialog {
    Q_OBJECT
public:
    explicit TAxisLimitForm(QWidget* parent = nullptr);

    void SetLowValue(double value) override;
    void SetHighValue(double value) override;
    bool Execute() override;
    double ReadLow() const override;
    double ReadHigh() const override;
    void SetAxisText(const std::string& text) override;
    // Separator used to write and parse the numbers.
    void SetDecimalSeparator(char separator) { m_separator = separator; }

    QLineEdit* HighEdit() const { return m_highEdit; }
    QLineEdit* LowEdit() const { return m_lowEdit; }
    QPushButton* OkButton() const { return m_okButton; }
    QPushButton* CancelButton() const { return m_cancelButton; }
    QLabel* HighLabel() const { return m_highLabel; }
    QLabel* LowLabel() const { return m_lowLabel; }
    // Says why "&Ok" did not close the dialog (both ends equal); empty otherwise.
    QLabel* Message() const { return m_message; }

    // Called with the dialog shown, just before Execute waits for the user (for tests).
    std::function<void(TAxisLimitForm&)> OnShown;

protected:
    void showEvent(QShowEvent* event) override;

private:
    double Read(const QLineEdit* edit, double fallback) const;
    // Swaps ends typed in the wrong order and closes; keeps the dialog open on equal ends.
    void OkClicked();

    QLabel* m_highLabel = nullptr;
    QLabel* m_lowLabel = nullptr;
    QLabel* m_message = nullptr;
    QLineEdit* m_highEdit = nullptr;
    QLineEdit* m_lowEdit = nullptr;
    QPushButton* m_okButton = nullptr;
    QPushButton* m_cancelButton = nullptr;
    double m_low = 0;
    double m_high = 0;
    char m_separator = '.';
    bool m_result = false;
};

} // namespace kavrel
