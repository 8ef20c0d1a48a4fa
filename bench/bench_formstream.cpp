// Reading form files: the cost per component of reading 4,000 and 10,000 flat components, 10,000
// nested ones, and 40,000 and 200,000 controls nested in a form (panels, each on its parent's
// surface), against reading 1,000 flat components in the same run. A reader that costs about N
// shows ratios near 1, however deep the nesting.
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include <qx/framework/core/FormStream.h>
#include <qx/framework/ui/Desktop.h>
#include "tests/framework/form_test_classes.h"

namespace {

class TBenchRoot : public TComponent {
  QX_CLASS(TBenchRoot)
 protected:
  ~TBenchRoot() override = default;

 public:
  using TComponent::TComponent;
};
QX_DEFINE_CLASS(TBenchRoot, TComponent, [](auto&) {})

String FlatForm(int n) {
  String text = "object Root: TBenchRoot\n";
  for (int i = 0; i < n; ++i)
    text +=
        "  object B" + std::to_string(i) + ": TBox\n    Size = " + std::to_string(i) + "\n  end\n";
  return text + "end\n";
}

String NestedForm(int n, bool controls) {
  String text = controls ? "object Root: TForm\n" : "object Root: TBenchRoot\n";
  for (int i = 0; i < n; ++i)
    text += controls
                ? "object P" + std::to_string(i) + ": TPanel\nWidth = " + std::to_string(i) + "\n"
                : "object B" + std::to_string(i) + ": TBox\nSize = " + std::to_string(i) + "\n";
  for (int i = 0; i <= n; ++i) text += "end\n";
  return text;
}

// The processor time this thread has used, in seconds: on a busy machine the figures then show
// the reader's work, not the waits for a processor.
double CpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// The best of a few reads (each builds and frees the whole form), in seconds.
double ReadSeconds(const String& text, int repeats) {
  double best = 1e9;
  for (int r = 0; r < repeats; ++r) {
    const double t0 = CpuSeconds();
    TComponent* root = CreateComponentFromText(text, nullptr);
    const double s = CpuSeconds() - t0;
    TObject::Free(root);
    best = std::min(best, s);
  }
  return best;
}

}  // namespace

int main() {
  UseVirtualDesktop();
  const double base = ReadSeconds(FlatForm(1000), 7) / 1000;
  std::printf("read 1000 flat: %.2f ms (baseline, %.0f ns per component)\n", base * 1000 * 1000,
              base * 1e9);
  struct Run {
    const char* what;
    int n;
    bool nested, controls;
  } runs[] = {{"flat", 4000, false, false},
              {"flat", 10000, false, false},
              {"nested", 10000, true, false},
              {"nested controls", 40000, true, true},
              {"nested controls", 200000, true, true}};
  double worst = 0;
  for (const Run& r : runs) {
    double s = ReadSeconds(r.nested ? NestedForm(r.n, r.controls) : FlatForm(r.n), 3);
    double ratio = s / r.n / base;
    worst = std::max(worst, ratio);
    std::printf("read %d %s: %.2f ms, per component %.2f x the baseline\n", r.n, r.what, s * 1000,
                ratio);
  }
  std::printf("reading ratio (worst per-component cost against 1000 flat): %.2f\n", worst);
  return 0;
}
