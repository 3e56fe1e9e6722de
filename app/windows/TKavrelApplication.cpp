#include "app/windows/TKavrelApplication.h"

#include "app/windows/ErrorReport.h"

#include <QWidget>

#include <cstdio>
#include <exception>
#include <new>

namespace kavrel {

TKavrelApplication::TKavrelApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TKavrelApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::bad_alloc&) {
        ReportError(activeWindow(), QStringLiteral("Not enough memory to finish this."));
    } catch (const std::exception& e) {
        ReportError(activeWindow(), QString::fromUtf8(e.what()));
    } catch (...) {
        ReportError(activeWindow(), QStringLiteral("An unknown error occurred."));
    }
    return false;
}

void TKavrelApplication::Stop(QWidget& main)
{
    SetErrorSink([](QWidget*, const QString& message) {
        std::fprintf(stderr, "kavrel: %s\n", message.toLocal8Bit().constData());
    });
    for (QWidget* window : QApplication::topLevelWidgets())
        if (window != &main && window->isVisible())
            window->close();
    main.close();
    QCoreApplication::exit(0);
}

} // namespace kavrel
