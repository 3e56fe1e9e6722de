#pragma once

#include "audio/TEventPoster.h"

#include <QObject>

#include <exception>
#include <functional>

namespace kavrel {

// Posts tasks to the event loop of the thread this object lives in (the UI thread) as queued
// calls. A task's exception never unwinds through Qt: it is caught and handed to OnException.
class TQtEventPoster : public QObject, public TEventPoster {
    Q_OBJECT
public:
    explicit TQtEventPoster(QObject* parent = nullptr);

    void Post(std::function<void()> task) override;

    // Sees an exception that escaped a posted task, e.g. to show its message in a message box.
    // When empty the message is written as a warning.
    std::function<void(TQtEventPoster& sender, const std::exception& error)> OnException;
};

} // namespace kavrel
