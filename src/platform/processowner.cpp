#include "platform/processowner.h"

#include "platform/mainthread.h"

ProcessOwner::ProcessOwner(QObject* parent)
    : QObject(parent)
{
}

ProcessOwner::~ProcessOwner()
{
    m_quit.raise();
    for (Worker& worker : m_threads)
        worker.thread.join();
    m_threads.clear();
    std::lock_guard lock(m_mutex);
    m_units.clear();
}

void ProcessOwner::handOver(std::function<void()> unit)
{
    {
        std::lock_guard lock(m_mutex);
        m_units.push_back(std::move(unit));
    }
    QMetaObject::invokeMethod(this, "runOldest", Qt::QueuedConnection);
}

void ProcessOwner::runOldest()
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

void ProcessOwner::startThread(std::function<void(const WakeUpFd& quit)> work)
{
    Q_ASSERT(MainThread::isCurrent());
    joinFinished();
    Worker& worker = m_threads.emplace_back();
    worker.thread = std::thread([this, &worker, work = std::move(work)] {
        work(m_quit);
        worker.finished.store(true, std::memory_order_release);
        // Joined on the GUI thread at its next turn; a thread ending at
        // quit is joined by the destructor instead.
        if (!m_quit.raised())
            handOver([this] { joinFinished(); });
    });
}

void ProcessOwner::joinFinished()
{
    for (auto it = m_threads.begin(); it != m_threads.end();) {
        if (it->finished.load(std::memory_order_acquire)) {
            it->thread.join();
            it = m_threads.erase(it);
        } else {
            ++it;
        }
    }
}
