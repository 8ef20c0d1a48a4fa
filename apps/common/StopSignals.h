// SIGINT and SIGTERM as a request to end the main loop, heard by a thread of their own rather
// than a handler, so that a stop is heard even while the main thread is busy (reading a long
// form, say) and runs on the main thread like any event. A daemon may take SIGHUP the same way,
// as the request to read its configuration again.
#pragma once

#include <functional>

// Blocks the signals in the calling thread (call it first, so that every thread started later
// inherits the mask) and makes SIGINT and SIGTERM terminate Application's loop; `onStop`, if
// given, runs on the signal thread first (a deadline for the stop, say). With `onHangup`, SIGHUP
// runs it on the main thread, in the outermost loop, instead of ending the process; the SIGHUPs
// that come while it is queued or running are done by one more run afterwards.
void WatchStopSignals(std::function<void()> onHangup = nullptr,
                      std::function<void()> onStop = nullptr);
