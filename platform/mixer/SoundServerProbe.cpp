#include <qx/platform/mixer/SoundServerProbe.h>

#include <pulse/context.h>
#include <pulse/mainloop.h>

#include <memory>

namespace {

struct TLoopFree {
  void operator()(pa_mainloop* m) const { pa_mainloop_free(m); }
};
struct TContextEnd {
  void operator()(pa_context* c) const {
    pa_context_disconnect(c);
    pa_context_unref(c);
  }
};

}  // namespace

bool SoundServerAnswers(std::chrono::milliseconds timeout) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + timeout;
  std::unique_ptr<pa_mainloop, TLoopFree> loop(pa_mainloop_new());
  if (!loop) return false;
  std::unique_ptr<pa_context, TContextEnd> context(
      pa_context_new(pa_mainloop_get_api(loop.get()), "qx-version-probe"));
  if (!context) return false;
  if (pa_context_connect(context.get(), nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) return false;
  for (;;) {
    const pa_context_state_t state = pa_context_get_state(context.get());
    if (state == PA_CONTEXT_READY) return true;
    if (!PA_CONTEXT_IS_GOOD(state)) return false;
    const auto left =
        std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    if (pa_mainloop_prepare(loop.get(), static_cast<int>(left)) < 0 ||
        pa_mainloop_poll(loop.get()) < 0 || pa_mainloop_dispatch(loop.get()) < 0)
      return false;
  }
}
