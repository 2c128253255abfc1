#pragma once

namespace MainThread {

// True on the thread that runs the application's event loop.
bool isCurrent();

} // namespace MainThread
