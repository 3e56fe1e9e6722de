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

    // Ends the program on a stop signal (SIGTERM, SIGINT, SIGHUP), as closing `main` would:
    // open dialogs close first (no nested event loop keeps the program), then `main`, whose
    // close saves what it can. Nothing waits for the user on the way: from here on failures are
    // written to stderr instead of shown in a message box. The event loop ends even if a window
    // stays.
    static void Stop(QWidget& main);
};

} // namespace kavrel
