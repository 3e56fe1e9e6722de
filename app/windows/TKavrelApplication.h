#pragma once

#include <QApplication>

namespace kavrel {

// The application object: an exception that escapes an event handler is shown in a message box
// and the event loop carries on.
class TKavrelApplication : public QApplication {
    Q_OBJECT
public:
    TKavrelApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;
};

} // namespace kavrel
