#include "audio/qt/TQtEventPoster.h"

#include <QMetaObject>
#include <QPointer>
#include <QtGlobal>

#include <utility>

namespace kavrel {

TQtEventPoster::TQtEventPoster(QObject* parent) : QObject(parent) {}

void TQtEventPoster::Post(std::function<void()> task)
{
    QPointer<TQtEventPoster> self(this);
    QMetaObject::invokeMethod(
        this,
        [self, task = std::move(task)] {
            if (!task) {
                return;
            }
            try {
                task();
            } catch (const std::exception& error) {
                if (self && self->OnException) {
                    self->OnException(*self, error);
                } else {
                    qWarning("%s", error.what());
                }
            }
        },
        Qt::QueuedConnection);
}

} // namespace kavrel
