#pragma once

#include <QObject>

#include <chrono>
#include <functional>

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

} // namespace MainThread
