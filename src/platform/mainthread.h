#pragma once

#include <functional>

// Hand-over of units of work to the GUI thread, callable from any thread.
// Units run there one at a time, first in first out with every other unit
// and every event posted meanwhile. A unit outlives whatever posted it, so it
// must check for itself that what it touches still exists (a QPointer made
// on the GUI thread and read only there, say).
namespace MainThread {

void handOver(std::function<void()> unit);

// True on the thread that runs the application's event loop.
bool isCurrent();

} // namespace MainThread
