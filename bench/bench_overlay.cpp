// One full overlay frame at 1920 pixels wide (the bar panel's paint and the form's compose),
// median and 99th percentile, next to clearing a surface of the same size with Cairo in the same
// run. The fade ticks every 10 ms, so a frame must stay far below that.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

#include <qx/framework/app/Application.h>
#include <qx/framework/ui/Desktop.h>
#include <qx/framework/ui/FontLeakSuppression.h>
#include <qx/master_volume/frmVolumeU.h>

namespace {

using Clock = std::chrono::steady_clock;

struct Figures {
  double median_us, p99_us;
};

Figures Measure(int rounds, const std::function<void(int)>& body) {
  for (int i = 0; i < rounds / 10; ++i) body(i);  // warm caches and font lookups
  std::vector<double> us;
  us.reserve(rounds);
  for (int i = 0; i < rounds; ++i) {
    auto t0 = Clock::now();
    body(i);
    us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
  }
  std::sort(us.begin(), us.end());
  return {us[us.size() / 2], us[std::min(us.size() - 1, us.size() * 99 / 100)]};
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = argc > 1 ? std::max(100, std::atoi(argv[1])) : 3000;
  UseVirtualDesktop();  // 1920 x 1080, 40-pixel taskbar at the bottom

  TOwned<TfrmVolume> form(new TfrmVolume(nullptr));
  form->SetTransparentColorValue(clFuchsia);
  form->SetTransparentColor(true);
  Fvol = 50;
  form->Show();
  std::printf("overlay %d x %d, bar panel %d wide, %d rounds\n", form->Width(), form->Height(),
              form->pnlVol->Width(), rounds);

  TBitmap surface(form->Width(), form->Height());
  Figures clear = Measure(rounds, [&](int i) { surface.Clear(i & 1 ? clFuchsia : clWhite); });

  Figures frame = Measure(rounds, [&](int i) {
    Fvol = i % 101;  // a different figure and bar count each frame
    FMute = (i % 7) == 0;
    form->pnlVol->Repaint();
  });

  std::printf("%-34s %10s %10s\n", "", "median us", "p99 us");
  std::printf("%-34s %10.1f %10.1f\n", "baseline: cairo clear 1920x106", clear.median_us,
              clear.p99_us);
  std::printf("%-34s %10.1f %10.1f\n", "overlay frame (paint + compose)", frame.median_us,
              frame.p99_us);
  std::printf("%-34s %10.1fx %9.1fx\n", "ratio to baseline", frame.median_us / clear.median_us,
              frame.p99_us / clear.p99_us);
  std::printf("frame budget used at the 10 ms fade tick: median %.1f %%, p99 %.1f %%\n",
              frame.median_us / 100.0, frame.p99_us / 100.0);
  return 0;
}
