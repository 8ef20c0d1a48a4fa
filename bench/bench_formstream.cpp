// Reading form files: the cost per component of reading 4,000 and 10,000 flat components and
// 10,000 nested ones, against reading 1,000 flat components in the same run. A reader that costs
// about N shows ratios near 1.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include <qx/framework/core/FormStream.h>
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

String NestedForm(int n) {
  String text = "object Root: TBenchRoot\n";
  for (int i = 0; i < n; ++i)
    text += "object B" + std::to_string(i) + ": TBox\nSize = " + std::to_string(i) + "\n";
  for (int i = 0; i <= n; ++i) text += "end\n";
  return text;
}

// The best of a few reads (each builds and frees the whole form), in seconds.
double ReadSeconds(const String& text, int repeats) {
  double best = 1e9;
  for (int r = 0; r < repeats; ++r) {
    auto t0 = std::chrono::steady_clock::now();
    TComponent* root = CreateComponentFromText(text, nullptr);
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    TObject::Free(root);
    best = std::min(best, s);
  }
  return best;
}

}  // namespace

int main() {
  const double base = ReadSeconds(FlatForm(1000), 7) / 1000;
  std::printf("read 1000 flat: %.2f ms (baseline, %.0f ns per component)\n", base * 1000 * 1000,
              base * 1e9);
  struct Run {
    const char* what;
    int n;
    bool nested;
  } runs[] = {{"flat", 4000, false}, {"flat", 10000, false}, {"nested", 10000, true}};
  double worst = 0;
  for (const Run& r : runs) {
    double s = ReadSeconds(r.nested ? NestedForm(r.n) : FlatForm(r.n), 3);
    double ratio = s / r.n / base;
    worst = std::max(worst, ratio);
    std::printf("read %d %s: %.2f ms, per component %.2f x the baseline\n", r.n, r.what, s * 1000,
                ratio);
  }
  std::printf("reading ratio (worst per-component cost against 1000 flat): %.2f\n", worst);
  return 0;
}
