// One overlay frame from paint to commit (the bar panel painted, the form composed, the frame
// handed to the display and flushed) on a headless sway's layer surface, against the same frame
// through the X11 back end under Xvfb, in the same run, as a ratio; and the fade's 10 ms ticks on
// Wayland: how late the latest came. Each side runs as a child of this program under its own
// server (scripts/with-sway, scripts/with-xvfb), 1280x720.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include <qx/framework/app/Application.h>
#include <qx/framework/ui/FontLeakSuppression.h>
#include <qx/master_volume/frmVolumeU.h>

namespace {

using Clock = std::chrono::steady_clock;

double Percentile(std::vector<double> v, int p) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[std::min(v.size() - 1, v.size() * p / 100)];
}

void Serve(std::chrono::milliseconds d) {
  const auto until = Clock::now() + d;
  while (Clock::now() < until) Application->HandleMessage(std::chrono::milliseconds(1));
}

TfrmVolume* MakeOverlay() {
  auto* form = new TfrmVolume(Application);
  frmVolume = form;
  form->SetTransparentColorValue(clFuchsia);
  form->SetTransparentColor(true);
  form->SetCaption("VOLUME");
  form->Timer1->SetInterval(600000);
  Fvol = 50;
  form->Show();
  form->SetTopMost(form->Handle(), true, false);
  Serve(std::chrono::milliseconds(300));  // mapped, configured, first frame shown
  return form;
}

// The child's side: frames (and on Wayland the fade), one figure a line on standard output.
int Child(const std::string& mode, int rounds) {
  String error, why;
  if (!ChooseWindowBackend(mode, "", error, why)) {
    std::fprintf(stderr, "bench_overlay_wayland: %s\n", error.c_str());
    return 1;
  }
  TfrmVolume* form = MakeOverlay();
  std::vector<double> us;
  for (int i = 0; i < rounds; ++i) {
    Fvol = i % 101;
    form->pnlVol->Invalidate();
    const auto t0 = Clock::now();
    form->Update();  // paint, compose, present: committed and flushed on return
    us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    Serve(std::chrono::milliseconds(2));  // the server's answers (buffer releases) come in
  }
  std::printf("frame %.1f %.1f\n", Percentile(us, 50), Percentile(us, 99));
  if (mode != "wayland") return 0;

  // The fade's ticks: the gap between one tick and the next, over a few whole fades.
  std::vector<double> gaps;
  Clock::time_point last{};
  const TNotifyEvent tick = form->Timer2->OnTimer();
  form->Timer2->SetOnTimer(TNotifyEvent::Callable([&](TObject* sender) {
    const auto now = Clock::now();
    if (last != Clock::time_point{})
      gaps.push_back(std::chrono::duration<double, std::milli>(now - last).count());
    last = now;
    tick(sender);
  }));
  for (int fade = 0; fade < 3; ++fade) {
    last = {};
    form->SetAlphaBlend(false);
    form->SetAlphaBlendValue(255);
    form->Timer1->SetInterval(10);
    form->Timer1->SetEnabled(true);
    if (!form->Visible()) form->Show();
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (form->Visible() && Clock::now() < deadline)
      Application->HandleMessage(std::chrono::milliseconds(50));
  }
  std::printf("ticks %zu %.2f %.2f\n", gaps.size(), Percentile(gaps, 50), Percentile(gaps, 100));
  return 0;
}

struct TSide {
  double median = 0, p99 = 0;
  size_t ticks = 0;
  double tickMedian = 0, tickMax = 0;
  bool ok = false;
};

TSide RunChild(const std::string& wrapper, const std::string& self, const std::string& mode,
               int rounds) {
  TSide s;
  const std::string cmd =
      wrapper + " " + self + " --child " + mode + " " + std::to_string(rounds) + " 2>/dev/null";
  FILE* p = popen(cmd.c_str(), "r");
  if (p == nullptr) return s;
  char line[256];
  while (std::fgets(line, sizeof line, p) != nullptr) {
    if (std::sscanf(line, "frame %lf %lf", &s.median, &s.p99) == 2) s.ok = true;
    std::sscanf(line, "ticks %zu %lf %lf", &s.ticks, &s.tickMedian, &s.tickMax);
  }
  pclose(p);
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 4 && std::string(argv[1]) == "--child")
    return Child(argv[2], std::max(50, std::atoi(argv[3])));
  const int rounds = argc > 1 ? std::max(50, std::atoi(argv[1])) : 500;
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return 1;
  self[n] = '\0';

  TSide x11 = RunChild(std::string(QX_WITH_XVFB) + " --screen 1280x720x24", self, "x11", rounds);
  TSide wl = RunChild(QX_WITH_SWAY, self, "wayland", rounds);
  if (!x11.ok || !wl.ok) {
    std::fprintf(stderr, "bench_overlay_wayland: %s did not run (Xvfb, sway installed?)\n",
                 !x11.ok ? "the X11 side" : "the Wayland side");
    return 77;
  }
  std::printf("overlay frame 1280 x 106, paint to commit, %d rounds\n", rounds);
  std::printf("%-34s %10s %10s\n", "", "median us", "p99 us");
  std::printf("%-34s %10.1f %10.1f\n", "X11 under Xvfb (baseline)", x11.median, x11.p99);
  std::printf("%-34s %10.1f %10.1f\n", "Wayland layer surface (sway)", wl.median, wl.p99);
  std::printf("%-34s %10.2f %10.2f   (goal <= 1.5)\n", "ratio Wayland / X11",
              wl.median / x11.median, wl.p99 / x11.p99);
  std::printf(
      "fade ticks on Wayland (10 ms nominal): %zu gaps, median %.2f ms, latest %.2f ms "
      "(goal <= 20)\n",
      wl.ticks, wl.tickMedian, wl.tickMax);
  return 0;
}
