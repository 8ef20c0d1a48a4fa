// Standard output that never stalls the program: lines go into a bounded queue that a thread of
// its own writes out. A reader that falls behind loses lines (counted, and said once it catches
// up), and a reader that goes away ends the printing with one line on standard error; neither
// ever holds up the main thread.
#pragma once

#include <chrono>
#include <cstddef>

#include <qx/framework/core/System.h>

namespace OutputQueue {

// Queues a line (a line feed is added). Dropped, and counted, when the queue is full.
void Push(const String& line);
// Waits at most `limit` for what is queued to be written; called at exit.
void Drain(std::chrono::milliseconds limit);
// Lines dropped so far because the reader fell behind.
size_t Dropped();

// The program's name for the lines on standard error (set once, at start).
void SetProgram(const char* name);
// Bytes the queue holds at most.
constexpr size_t kLimit = 1 << 20;

}  // namespace OutputQueue
