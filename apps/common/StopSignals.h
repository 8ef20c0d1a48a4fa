// SIGINT and SIGTERM as a request to end the main loop, delivered through a descriptor the loop
// watches rather than a handler, so that the stop runs on the main thread like any event. A
// daemon may take SIGHUP the same way, as the request to read its configuration again.
#pragma once

#include <functional>

// Blocks the signals in the calling thread (call it first, so that every thread started later
// inherits the mask) and makes SIGINT and SIGTERM terminate Application's loop. With `onHangup`,
// SIGHUP runs it on the main thread instead of ending the process.
void WatchStopSignals(std::function<void()> onHangup = nullptr);
