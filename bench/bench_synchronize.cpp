// Synchronize round trip (worker -> main loop -> worker) against a bare mutex + condition
// variable hand-off between the same two kinds of thread, measured in the same run.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include <qx/framework/app/Application.h>
#include <qx/framework/threads/Threads.h>

namespace {

using Clock = std::chrono::steady_clock;

struct TStats {
  double Median;
  double P99;
};

TStats Summarise(std::vector<double> ns) {
  std::sort(ns.begin(), ns.end());
  return {ns[ns.size() / 2], ns[std::min(ns.size() - 1, ns.size() * 99 / 100)]};
}

// The main thread sits in the application loop's real wait (poll on the eventfd).
class TSyncWorker : public TThread {
 public:
  TSyncWorker(int rounds, std::vector<double>& out) : TThread(true), FRounds(rounds), FOut(out) {}
  int Counter = 0;

 protected:
  void Execute() override {
    TThreadMethod step(this, &TSyncWorker::Step);
    for (int i = 0; i < FRounds; ++i) {
      auto t0 = Clock::now();
      Synchronize(step);
      FOut.push_back(std::chrono::duration<double, std::nano>(Clock::now() - t0).count());
    }
    Application->Terminate();
  }

 private:
  void Step() { ++Counter; }
  int FRounds;
  std::vector<double>& FOut;
};

void MeasureSynchronize(int rounds, std::vector<double>& out) {
  TOwned<TSyncWorker> worker(new TSyncWorker(rounds, out));
  worker->Start();
  Application->Run();
  worker->WaitFor();
}

// The baseline: the main thread waits on a condition variable for a request, runs the same
// trivial step, and signals completion back.
void MeasureHandOff(int rounds, std::vector<double>& out) {
  std::mutex m;
  std::condition_variable requestCv, doneCv;
  bool request = false, done = false, stop = false;
  int counter = 0;
  std::thread worker([&] {
    for (int i = 0; i < rounds; ++i) {
      auto t0 = Clock::now();
      {
        std::unique_lock lock(m);
        request = true;
        requestCv.notify_one();
        doneCv.wait(lock, [&] { return done; });
        done = false;
      }
      out.push_back(std::chrono::duration<double, std::nano>(Clock::now() - t0).count());
    }
    std::lock_guard lock(m);
    stop = true;
    requestCv.notify_one();
  });
  {
    std::unique_lock lock(m);
    for (;;) {
      requestCv.wait(lock, [&] { return request || stop; });
      if (request) {
        request = false;
        ++counter;
        done = true;
        doneCv.notify_one();
      } else {
        break;
      }
    }
  }
  worker.join();
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = argc > 1 ? std::atoi(argv[1]) : 20000;
  if (rounds < 100) rounds = 100;
  constexpr int kBatches = 50;
  std::vector<double> sync, base, warm;
  sync.reserve(rounds);
  base.reserve(rounds);
  MeasureSynchronize(rounds / 10, warm);
  MeasureHandOff(rounds / 10, warm);
  // Interleaved batches, so that a change in machine load hits both sides alike.
  for (int b = 0; b < kBatches; ++b) {
    MeasureSynchronize(rounds / kBatches, sync);
    MeasureHandOff(rounds / kBatches, base);
  }
  TStats s = Summarise(sync);
  TStats h = Summarise(base);
  std::printf("rounds per side: %zu\n", sync.size());
  std::printf("Synchronize round trip      : median %8.2f us   p99 %8.2f us\n", s.Median / 1000,
              s.P99 / 1000);
  std::printf("mutex+condvar hand-off      : median %8.2f us   p99 %8.2f us\n", h.Median / 1000,
              h.P99 / 1000);
  std::printf("ratio Synchronize/hand-off  : median %.2f   p99 %.2f   (target: median <= 1.5)\n",
              s.Median / h.Median, s.P99 / h.P99);
  return 0;
}
