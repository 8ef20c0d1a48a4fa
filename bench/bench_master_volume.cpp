// The volume component's change path against a private sound server: SetVolume(N) until the
// notification's OnAudioChange runs on the main thread, against a bare libpulse client setting
// the default sink's volume until its subscription event arrives, measured in the same run.
// Outside scripts/with-pulse it runs itself under it, so it never reaches the machine's server.
#include <pulse/pulseaudio.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

#include <qx/framework/app/Application.h>
#include <qx/framework/ui/Desktop.h>
#include <qx/framework/ui/FontLeakSuppression.h>
#include <qx/master_volume/QxMasterVol.h>
#include <qx/master_volume/frmVolumeU.h>
#include <qx/platform/mixer/SysVersion.h>
#include "bench/PulseBaseline.h"

namespace {

// SetVolume raises OnAudioChange once itself; the round ends with the one its notification
// raises, the first with the new percent after SetVolume returned.
bool ComponentRound(TQxMasterVol* v, int percent, int& seen) {
  seen = -1;
  bool armed = false;
  int awaited = -1;
  v->SetFOnAudioChange(TOnAudioChange::Callable([&](TObject*, int32_t volume, bool) {
    if (armed && volume == awaited) seen = volume;
  }));
  v->SetVolume(percent);
  awaited = percent;
  armed = true;
  const auto deadline = Clock::now() + kDeadline;
  while (seen != percent && Clock::now() < deadline)
    Application->HandleMessage(std::chrono::milliseconds(50));
  return seen == percent;
}

// What one frame of the overlay costs to paint on the main thread.
std::vector<double> MeasurePaint(int rounds) {
  std::vector<double> us;
  for (int i = 0; i < rounds; ++i) {
    Fvol = 20 + i % 60;
    frmVolume->pnlVol->Invalidate();
    auto t0 = Clock::now();
    frmVolume->Update();
    us.push_back(Since(t0));
  }
  return us;
}

}  // namespace

int main(int argc, char** argv) {
  RunUnderPrivateServer(argc, argv);
  const int rounds = std::max(argc > 1 ? std::atoi(argv[1]) : 1000, 100);
  UseVirtualDesktop();  // the overlay is painted as usual, on no screen
  SetWin32Version(10, 0);

  TPulseBaseline bare;
  if (!bare.Connect()) {
    std::fprintf(stderr, "bench_master_volume: the private sound server does not answer\n");
    return 1;
  }
  TOwned<TQxMasterVol> vol(new TQxMasterVol(nullptr));
  std::vector<double> comp, base;
  int seen = 0;
  const bool measured = MeasureAgainstBaseline(
      "bench_master_volume", rounds, bare,
      [&](int percent) { return ComponentRound(vol.get(), percent, seen); }, comp, base);
  vol->SetFOnAudioChange(TOnAudioChange());
  if (!measured) return 1;
  TStats c = Summarise(comp);
  TStats p = Summarise(base);
  TStats f = Summarise(MeasurePaint(std::max(rounds / 10, 50)));
  std::printf("rounds per side: %zu\n", comp.size());
  PrintComparison("SetVolume -> notified OnAudioChange", c, p);
  // Painting waits for an idle loop, so a frame is no longer a fixed part of a round.
  PrintFigure("one overlay frame painted (when idle)", f);
  return 0;
}
