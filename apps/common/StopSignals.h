// SIGINT and SIGTERM as a request to end the main loop, delivered through a descriptor the loop
// watches rather than a handler, so that the stop runs on the main thread like any event.
#pragma once

// Blocks the two signals in the calling thread (call it first, so that every thread started
// later inherits the mask) and makes them terminate Application's loop.
void WatchStopSignals();
