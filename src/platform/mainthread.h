#pragma once

#include <QObject>

#include <chrono>
#include <functional>
#include <memory>

// Hand-over of units of work to the GUI thread. Callable from any thread.
// Units run one at a time on the GUI thread, first in first out with every
// other unit posted there. A unit is dropped if its context object is
// destroyed before the unit runs, so the caller must keep `context` alive
// for as long as it may still post to it.
namespace MainThread {

void post(QObject* context, std::function<void()> unit);

// Like post(), but the unit waits `pause` on the GUI thread's event loop
// first: other units keep running meanwhile.
void postAfter(QObject* context, std::chrono::milliseconds pause, std::function<void()> unit);

// True on the thread that runs the application's event loop.
bool isCurrent();

// A receiver for units posted by background threads that may outlive
// whatever started them. Make it on the GUI thread; copies may be posted to
// from any thread, and the receiver lives (and its units run) as long as a
// copy exists. A unit must check for itself that what it touches still exists.
class Receiver {
public:
    Receiver();
    void post(std::function<void()> unit) const;
    QObject* object() const { return m_object.get(); }

private:
    std::shared_ptr<QObject> m_object;
};

} // namespace MainThread
