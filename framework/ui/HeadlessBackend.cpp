#include <qx/framework/ui/HeadlessBackend.h>

#include <algorithm>
#include <cstdlib>

class THeadlessWindow : public TBackendWindow {
 public:
  THeadlessWindow(THeadlessBackend& owner, IWindowEvents& events, const TCreateParams& params)
      : Events(events), FOwner(owner) {
    State.Params = params;
    FOwner.Stack.push_back(this);
  }
  ~THeadlessWindow() override {
    auto& s = FOwner.Stack;
    s.erase(std::remove(s.begin(), s.end(), this), s.end());
    if (FOwner.ActiveWindow == this) FOwner.ActiveWindow = nullptr;
  }
  void SetBounds(const TRect& r) override { State.Bounds = r; }
  void SetVisible(bool visible) override {
    bool showing = visible && !State.Visible;
    if (showing) FOwner.Raise(this);
    State.Visible = visible;
    if (showing && State.Frames > 0) Shown();
    if (!visible && FOwner.ActiveWindow == this) FOwner.ActiveWindow = nullptr;
  }
  void SetCaption(const String& caption) override { State.Caption = caption; }
  void SetIcon(const TBitmap& icon) override { State.HasIcon = !icon.Empty(); }
  void Present(const TBitmap&, bool keyOn, TColor key) override {
    State.KeyOn = keyOn;
    State.Key = key;
    ++State.Frames;
    if (State.Visible && FOwner.PresentHook) FOwner.PresentHook(Events);
  }
  // The first frame of a show is presented just before the window becomes visible.
  void Shown() {
    if (FOwner.PresentHook) FOwner.PresentHook(Events);
  }
  void SetAlpha(bool on, uint8_t value) override {
    State.AlphaOn = on;
    State.Alpha = value;
  }
  void SetTopMost(bool onTop, bool activate) override {
    State.TopMost = onTop;
    FOwner.Raise(this);
    if (activate) Activate();
  }
  void Activate() override {
    FOwner.ActiveWindow = this;
    ++State.Activations;
  }
  bool Active() const override { return FOwner.ActiveWindow == this; }

  TVirtualWindowState State;
  IWindowEvents& Events;

 private:
  THeadlessBackend& FOwner;
};

void THeadlessBackend::Raise(THeadlessWindow* w) {
  // Topmost windows stay above the others; a raised ordinary window goes under them.
  Stack.erase(std::remove(Stack.begin(), Stack.end(), w), Stack.end());
  auto pos = Stack.end();
  if (!w->State.TopMost) {
    pos = std::find_if(Stack.begin(), Stack.end(),
                       [](THeadlessWindow* o) { return o->State.TopMost; });
  }
  Stack.insert(pos, w);
}

std::unique_ptr<TBackendWindow> THeadlessBackend::CreateWindow(IWindowEvents& events,
                                                               const TWindowDesc& desc) {
  return std::make_unique<THeadlessWindow>(*this, events, desc.Params);
}

const TVirtualWindowState* THeadlessBackend::StateOf(const IWindowEvents& events) const {
  for (THeadlessWindow* w : Stack)
    if (&w->Events == &events) return &w->State;
  return nullptr;
}

std::vector<IWindowEvents*> THeadlessBackend::Stacking() const {
  std::vector<IWindowEvents*> out;
  for (THeadlessWindow* w : Stack) out.push_back(&w->Events);
  return out;
}

bool THeadlessBackend::TaskbarRect(TRect& r) {
  r = FDesktop.Taskbar();
  return !r.IsEmpty();
}

TRect TVirtualDesktop::Taskbar() const {
  if (TaskbarRect) return *TaskbarRect;
  int32_t s = TaskbarSize;
  switch (TaskbarEdge) {
    case TTaskbarEdge::Top:
      return {0, 0, Width, s};
    case TTaskbarEdge::Bottom:
      return {0, Height - s, Width, Height};
    case TTaskbarEdge::Left:
      return {0, 0, s, Height};
    case TTaskbarEdge::Right:
      return {Width - s, 0, Width, Height};
    case TTaskbarEdge::None:
      break;
  }
  return {};
}

THeadlessBackend& HeadlessBackend() {
  // Never destroyed: forms owned by the application may outlive static destruction.
  static THeadlessBackend* backend = new THeadlessBackend(TVirtualDesktop());
  return *backend;
}

TVirtualDesktop CurrentVirtualDesktop() {
  return HeadlessBackend().Desktop();
}

namespace {

bool ParseInt(const String& s, int32_t lo, int32_t hi, int32_t& out) {
  if (s.empty() || s.size() > 6) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  int32_t v = std::atoi(s.c_str());
  if (v < lo || v > hi) return false;
  out = v;
  return true;
}

}  // namespace

bool ParseTaskbar(const String& text, TVirtualDesktop& desktop) {
  String t = LowerCase(text);
  if (t == "none") {
    desktop.TaskbarEdge = TTaskbarEdge::None;
    desktop.TaskbarRect.reset();
    return true;
  }
  auto colon = t.find(':');
  if (colon == String::npos) return false;
  String edge = t.substr(0, colon);
  int32_t size;
  if (!ParseInt(t.substr(colon + 1), 0, 32767, size)) return false;
  TTaskbarEdge e;
  if (edge == "top") {
    e = TTaskbarEdge::Top;
  } else if (edge == "bottom") {
    e = TTaskbarEdge::Bottom;
  } else if (edge == "left") {
    e = TTaskbarEdge::Left;
  } else if (edge == "right") {
    e = TTaskbarEdge::Right;
  } else {
    return false;
  }
  desktop.TaskbarEdge = e;
  desktop.TaskbarSize = size;
  desktop.TaskbarRect.reset();
  return true;
}

bool ParseScreenSize(const String& text, TVirtualDesktop& desktop) {
  String t = LowerCase(text);
  auto x = t.find('x');
  if (x == String::npos) return false;
  int32_t w, h;
  if (!ParseInt(t.substr(0, x), 1, 32767, w) || !ParseInt(t.substr(x + 1), 1, 32767, h))
    return false;
  desktop.Width = w;
  desktop.Height = h;
  return true;
}
