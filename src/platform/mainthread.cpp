#include "platform/mainthread.h"

#include <QCoreApplication>
#include <QThread>

bool MainThread::isCurrent()
{
    const QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}
