#include "app/windows/ErrorReport.h"

#include <QMessageBox>

#include <new>

namespace kavrel {

namespace {

TErrorSink& Sink()
{
    static TErrorSink sink;
    return sink;
}

} // namespace

void SetErrorSink(TErrorSink sink)
{
    Sink() = std::move(sink);
}

void ReportError(QWidget* parent, const QString& message)
{
    if (Sink()) {
        Sink()(parent, message);
        return;
    }
    QMessageBox::critical(parent, QStringLiteral("Kavrel"), message);
}

bool RunGuarded(QWidget* parent, const std::function<void()>& handler)
{
    try {
        handler();
        return true;
    } catch (const std::bad_alloc&) {
        ReportError(parent, QStringLiteral("Not enough memory to finish this."));
    } catch (const std::exception& e) {
        ReportError(parent, QString::fromUtf8(e.what()));
    } catch (...) {
        ReportError(parent, QStringLiteral("An unknown error occurred."));
    }
    return false;
}

} // namespace kavrel
