#include "platform/mainthread.h"

#include <QCoreApplication>
#include <QThread>

#include <deque>
#include <mutex>
#include <utility>

namespace MainThread {

namespace {

// Handed-over units wait here under a std::mutex, and only
// a wake-up without payload goes through Qt's event queue. That queue is
// guarded by futex-based locks that ThreadSanitizer cannot see in an
// uninstrumented Qt, so a unit passed through it looks unordered with its
// own run on the GUI thread; this lock it sees. Each unit gets a wake-up of
// its own and each wake-up runs the oldest unit, so units keep their place
// among all other events, as if they had been posted themselves.
class HandOver : public QObject {
    Q_OBJECT
public:
    // Never destroyed: a background thread may still hand over while the
    // program exits. It belongs to the GUI thread whichever thread made it.
    static HandOver* instance()
    {
        static HandOver* const s = [] {
            auto* queue = new HandOver;
            if (const QCoreApplication* app = QCoreApplication::instance())
                queue->moveToThread(app->thread());
            return queue;
        }();
        return s;
    }

    void post(std::function<void()> unit)
    {
        {
            std::lock_guard lock(m_mutex);
            m_units.push_back(std::move(unit));
        }
        QMetaObject::invokeMethod(this, "runOldest", Qt::QueuedConnection);
    }

private:
    // GUI thread.
    Q_INVOKABLE void runOldest()
    {
        std::function<void()> unit;
        {
            std::lock_guard lock(m_mutex);
            if (m_units.empty())
                return;
            unit = std::move(m_units.front());
            m_units.pop_front();
        }
        unit();
    }

    std::mutex m_mutex;
    std::deque<std::function<void()>> m_units;
};

} // namespace

void handOver(std::function<void()> unit)
{
    HandOver::instance()->post(std::move(unit));
}

bool isCurrent()
{
    const QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

} // namespace MainThread

#include "mainthread.moc"
