// The main thread's longest block while the sound server is stopped (SIGSTOP), on both of the
// volume component's paths (the endpoint, and the ALSA mixer through the server's plugin),
// beside the same measure with the server running, in the same run: every 20 ms a SetVolume, a
// read and a turn of the message loop, timed as one block. Then the level the server ends at
// against the last one asked for. Outside scripts/with-pulse it runs itself under it.

#include <cstdio>
#include <string>
#include <thread>

#include <qx/framework/app/Application.h>
#include <qx/framework/ui/Desktop.h>
#include <qx/master_volume/QxMasterVol.h>
#include <qx/platform/mixer/SysVersion.h>
#include "bench/PrivateServerControl.h"
#include "bench/PulseBaseline.h"

namespace {

using namespace std::chrono_literals;

class TBenchVolume : public TQxMasterVol {
 public:
  using TQxMasterVol::GetActualVolume;
  using TQxMasterVol::TQxMasterVol;
};

struct TRun {
  TStats Block;  // microseconds
  double Longest = 0;
  int LastAsked = 0;
};

TRun Drive(TBenchVolume* v, std::chrono::milliseconds length, int first) {
  std::vector<double> blocks;
  TRun r;
  r.LastAsked = first;
  for (const auto end = Clock::now() + length; Clock::now() < end;) {
    r.LastAsked = r.LastAsked >= 90 ? 10 : r.LastAsked + 1;
    const auto t0 = Clock::now();
    v->SetVolume(r.LastAsked);
    v->GetActualVolume();
    Application->ProcessMessages();
    blocks.push_back(Since(t0));
    r.Longest = std::max(r.Longest, blocks.back());
    std::this_thread::sleep_for(20ms);
  }
  r.Block = Summarise(blocks);
  return r;
}

int EndLevel(int asked) {
  const auto deadline = Clock::now() + 10s;
  int now = static_cast<int>(DefaultSinkVolume(true));
  while (now != asked && Clock::now() < deadline) {
    std::this_thread::sleep_for(20ms);
    now = static_cast<int>(DefaultSinkVolume(true));
  }
  return now;
}

}  // namespace

int main(int argc, char** argv) {
  RunUnderPrivateServer(argc, argv);
  const auto stall = std::chrono::seconds(std::max(argc > 1 ? std::atoi(argv[1]) : 5, 1));
  UseVirtualDesktop();
  std::printf("main thread's block per SetVolume + read + message turn (us), %lld s each side\n",
              static_cast<long long>(stall.count()));
  const struct {
    const char* Name;
    int Major, Minor;
  } paths[] = {{"endpoint (sound server)", 10, 0}, {"legacy (ALSA mixer)", 5, 1}};
  int failures = 0;
  for (const auto& path : paths) {
    SetWin32Version(path.Major, path.Minor);
    TOwned<TBenchVolume> v(new TBenchVolume(nullptr));
    v->setFShowScreenVol(false);
    const TRun running = Drive(v.get(), stall, 10);
    if (!SignalPrivateServer(SIGSTOP)) {
      std::fprintf(stderr, "bench_audio_stall: cannot stop the private sound server\n");
      return 1;
    }
    const TRun stopped = Drive(v.get(), stall, 50);
    SignalPrivateServer(SIGCONT);
    const int ended = EndLevel(stopped.LastAsked);
    std::printf("%s\n", path.Name);
    std::printf("  server running (baseline)   median %8.1f   p99 %8.1f   longest %8.1f\n",
                running.Block.Median, running.Block.P99, running.Longest);
    std::printf(
        "  server stopped              median %8.1f   p99 %8.1f   longest %8.1f"
        "   (target <= 20000)\n",
        stopped.Block.Median, stopped.Block.P99, stopped.Longest);
    std::printf("  ratio stopped / running     median %8.2f   longest %8.2f\n",
                stopped.Block.Median / running.Block.Median, stopped.Longest / running.Longest);
    std::printf("  level after the stall       %d %% (last asked %d %%)\n", ended,
                stopped.LastAsked);
    if (ended != stopped.LastAsked) ++failures;
  }
  return failures == 0 ? 0 : 1;
}
