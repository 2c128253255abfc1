#pragma once

#include "platform/fd.h"

#include <QObject>

#include <atomic>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

// Owns every background thread the app starts (the readers of child
// processes, the scans) and the queue through which they hand work to the
// GUI thread. Made in main() and destroyed after the event loop returns: it
// then raises the quit flag, which every thread watches, and joins them all,
// so nothing of ours runs once it is gone. Children never stopped are left
// running; a child's thread kills the group of a stopped child at quit
// instead of waiting out its grace period.
class ProcessOwner : public QObject {
    Q_OBJECT
public:
    explicit ProcessOwner(QObject* parent = nullptr);
    ~ProcessOwner() override;

    // Any thread: runs `unit` on the GUI thread, first in first out with
    // every other unit and every event posted meanwhile. Units still queued
    // when the owner goes are dropped unrun.
    void handOver(std::function<void()> unit);

    // GUI thread: runs `work` on a joinable thread of its own. `quit` is
    // raised when the owner goes; work must then end promptly (poll its fd).
    void startThread(std::function<void(const WakeUpFd& quit)> work);

    // Threads started and not yet joined, for tests.
    int threadCount() const { return int(m_threads.size()); }

private:
    struct Worker {
        std::thread thread;
        std::atomic<bool> finished{false};
    };

    // GUI thread.
    Q_INVOKABLE void runOldest();
    void joinFinished();

    // Units wait under a std::mutex and only a wake-up without payload goes
    // through Qt's event queue. That queue is guarded by futex-based locks
    // that ThreadSanitizer cannot see in an uninstrumented Qt, so a unit
    // passed through it would look unordered with its own run; this lock it
    // sees. One wake-up per unit, each running the oldest unit, keeps units
    // in their place among all other events.
    std::mutex m_mutex;
    std::deque<std::function<void()>> m_units;

    WakeUpFd m_quit;
    std::list<Worker> m_threads; // GUI thread only
};
