#pragma once

#include <chrono>
#include <functional>

// Hand-over of units of work to the GUI thread, callable from any thread.
// Units run there one at a time, first in first out with every other unit
// and every event posted meanwhile. A unit outlives whatever posted it, so it
// must check for itself that what it touches still exists (a QPointer made
// on the GUI thread and read only there, say).
namespace MainThread {

void handOver(std::function<void()> unit);

// Like handOver(), but the unit first waits `pause` on the GUI thread's event
// loop, which meanwhile keeps running other units.
void handOverAfter(std::chrono::milliseconds pause, std::function<void()> unit);

// True on the thread that runs the application's event loop.
bool isCurrent();

} // namespace MainThread
