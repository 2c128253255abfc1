#include "platform/mainthread.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

namespace MainThread {

void post(QObject* context, std::function<void()> unit) {
    QMetaObject::invokeMethod(context, std::move(unit), Qt::QueuedConnection);
}

void postAfter(QObject* context, std::chrono::milliseconds pause, std::function<void()> unit) {
    // The timer is started on the GUI thread so that it belongs to its event loop.
    post(context, [context, pause, unit = std::move(unit)]() mutable {
        QTimer::singleShot(pause, context, std::move(unit));
    });
}

Receiver::Receiver()
    // deleteLater(): the last copy may be dropped on a background thread.
    : m_object(new QObject, [](QObject* o) { o->deleteLater(); }) {}

void Receiver::post(std::function<void()> unit) const {
    MainThread::post(m_object.get(), std::move(unit));
}

bool isCurrent() {
    const QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

} // namespace MainThread
