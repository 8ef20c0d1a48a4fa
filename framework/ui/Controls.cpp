#include <qx/framework/ui/CairoColor.h>
#include <qx/framework/ui/Controls.h>

#include <cairo.h>

#include <algorithm>

#include <qx/framework/app/Application.h>
#include <qx/framework/core/ScopeExit.h>
#include <qx/framework/ui/ControlHost.h>

QX_DEFINE_CLASS(TControl, TComponent, [](TPropsBuilder<TControl>& b) {
  b.Integer("Left", &TControl::Left, &TControl::SetLeft);
  b.Integer("Top", &TControl::Top, &TControl::SetTop);
  b.Integer("Width", &TControl::Width, &TControl::SetWidth);
  b.Integer("Height", &TControl::Height, &TControl::SetHeight);
})
QX_DEFINE_CLASS(TWinControl, TControl, [](auto&) {})
QX_DEFINE_CLASS(TGraphicControl, TControl, [](auto&) {})
QX_DEFINE_CLASS(TCustomControl, TWinControl, [](auto&) {})

const std::vector<String>& AlignNames() {
  static const std::vector<String> names{"alNone", "alTop",   "alBottom",
                                         "alLeft", "alRight", "alClient"};
  return names;
}

namespace {

// Paints one child with its own origin and clipped to its rectangle. A failing Paint is
// reported and does not stop the rest of the frame.
void PaintChild(TControl* child, cairo_t* cr) {
  if (!child->Visible() || child->Width() <= 0 || child->Height() <= 0) return;
  cairo_save(cr);
  cairo_translate(cr, child->Left(), child->Top());
  cairo_rectangle(cr, 0, 0, child->Width(), child->Height());
  cairo_clip(cr);
  try {
    child->PaintTo(cr);
  } catch (const std::exception&) {
    if (Application != nullptr) Application->HandleException(child);
  }
  cairo_restore(cr);
}

}  // namespace

TControl::TControl(TComponent* AOwner) : TComponent(AOwner) {}

TControl::~TControl() {
  ReleaseDirect();
}

void TControl::BeforeDestruction() {
  TComponent::BeforeDestruction();
  if (FParent != nullptr) FParent->RemoveControl(this);
}

void TControl::SetParent(TWinControl* AParent) {
  if (AParent == FParent) return;
  // Only a control with children of its own can lie above its new parent: a new control (every
  // one a form file nests) is checked at once, however deep it goes.
  auto* self = dynamic_cast<TWinControl*>(this);
  const bool mayBeAbove = self != nullptr && self->ControlCount() > 0;
  for (TControl* p = AParent; p != nullptr; p = mayBeAbove ? p->FParent : nullptr)
    if (p == this) throw Exception("a control cannot be its own parent: " + Name());
  if (FParent != nullptr) FParent->RemoveControl(this);
  if (AParent != nullptr) AParent->InsertControl(this);
}

void TControl::SetBounds(int32_t ALeft, int32_t ATop, int32_t AWidth, int32_t AHeight) {
  AWidth = std::max(AWidth, 0);
  AHeight = std::max(AHeight, 0);
  if (ALeft == FLeft && ATop == FTop && AWidth == FWidth && AHeight == FHeight) return;
  bool resized = AWidth != FWidth || AHeight != FHeight;
  FLeft = ALeft;
  FTop = ATop;
  FWidth = AWidth;
  FHeight = AHeight;
  if (resized) Resize();
  if (FAlign != alNone) RequestAlign();
  Invalidate();
}

void TControl::SetVisible(bool Value) {
  if (Value == FVisible) return;
  FVisible = Value;
  if (FAlign != alNone) RequestAlign();
  if (FParent != nullptr) FParent->Invalidate();
}

bool TControl::Showing() const {
  for (const TControl* c = this; c != nullptr; c = c->FParent)
    if (!c->FVisible) return false;
  return Host() != nullptr;
}

void TControl::SetAlign(TAlign Value) {
  if (Value == FAlign) return;
  FAlign = Value;
  RequestAlign();
}

void TControl::SetColor(TColor Value) {
  if (Value == FColor) return;
  FColor = Value;
  Invalidate();
}

void TControl::SetParentBackground(bool Value) {
  if (Value == FParentBackground) return;
  FParentBackground = Value;
  Invalidate();
}

void TControl::SetCaption(const String& Value) {
  if (Value == FCaption) return;
  FCaption = Value;
  Invalidate();
}

void TControl::RequestAlign() {
  if (FParent != nullptr && !FParent->FAligning && !FParent->IsLoading()) FParent->AlignControls();
}

void TControl::Invalidate() {
  if (IsDestroying()) return;
  if (IControlHost* host = Host()) host->InvalidateFrame();
}

void TControl::Repaint() {
  if (IsDestroying()) return;
  if (IControlHost* host = Host()) {
    host->InvalidateFrame();
    host->Update();
  }
}

TCanvas& TControl::PaintCanvas() {
  if (!FCanvas) FCanvas = std::make_unique<TCanvas>();
  return *FCanvas;
}

void TControl::ReleaseDirect() {
  if (FDirectCr == nullptr) return;
  if (FCanvas && FCanvas->Context() == FDirectCr) FCanvas->Bind(nullptr);
  cairo_destroy(FDirectCr);
  FDirectCr = nullptr;
}

TCanvas* TControl::Canvas() {
  TCanvas& canvas = PaintCanvas();
  if (FPainting) return &canvas;
  ReleaseDirect();
  canvas.Bind(nullptr);
  IControlHost* host = Host();
  cairo_t* frame = host != nullptr ? host->FrameContext() : nullptr;
  if (frame == nullptr) return &canvas;  // nowhere to draw yet: drawing does nothing
  FDirectCr = cairo_create(cairo_get_target(frame));
  TPoint o = FormOrigin();
  cairo_translate(FDirectCr, o.X, o.Y);
  cairo_rectangle(FDirectCr, 0, 0, FWidth, FHeight);
  cairo_clip(FDirectCr);
  canvas.Bind(FDirectCr);
  host->SchedulePresent();
  return &canvas;
}

IControlHost* TControl::Host() const {
  if (FParent != nullptr) return FHost;
  return dynamic_cast<IControlHost*>(const_cast<TControl*>(this));
}

void TControl::SetHostBelow(IControlHost* host) {
  FHost = host;
  auto* w = dynamic_cast<TWinControl*>(this);
  if (w == nullptr || w->FControls.empty()) return;
  // Without recursion: the chain may be a form file's hundreds of thousands deep.
  std::vector<TWinControl*> todo{w};
  while (!todo.empty()) {
    TWinControl* parent = todo.back();
    todo.pop_back();
    for (TControl* c : parent->FControls) {
      c->FHost = host;
      auto* cw = dynamic_cast<TWinControl*>(c);
      if (cw != nullptr && !cw->FControls.empty()) todo.push_back(cw);
    }
  }
}

TPoint TControl::FormOrigin() const {
  TPoint p;
  for (const TControl* c = this; c->FParent != nullptr; c = c->FParent) {
    p.X += c->FLeft;
    p.Y += c->FTop;
  }
  return p;
}

TControl* TControl::ControlAtPos(TPoint p) {
  auto* w = dynamic_cast<TWinControl*>(this);
  if (w == nullptr) return this;
  // Topmost first: windowed children lie above the graphic ones, later ones above earlier.
  for (bool windowed : {true, false}) {
    for (int i = w->ControlCount() - 1; i >= 0; --i) {
      TControl* c = w->Controls(i);
      if (!c->Visible() || (dynamic_cast<TWinControl*>(c) != nullptr) != windowed) continue;
      if (p.X >= c->FLeft && p.X < c->FLeft + c->FWidth && p.Y >= c->FTop &&
          p.Y < c->FTop + c->FHeight)
        return c->ControlAtPos({p.X - c->FLeft, p.Y - c->FTop});
    }
  }
  return this;
}

TComponent* TControl::GetParentComponent() const {
  return FParent;
}

void TControl::SetParentComponent(TComponent* Value) {
  if (auto* w = dynamic_cast<TWinControl*>(Value)) SetParent(w);
}

void TControl::PaintTo(_cairo* cr) {
  TCanvas& canvas = PaintCanvas();
  ReleaseDirect();
  canvas.Bind(cr);
  auto painting = ScopedFlag(FPainting);
  TScopeExit unbind([&canvas] { canvas.Bind(nullptr); });
  Paint();
}

// ---------------------------------------------------------------------------------------------

TWinControl::TWinControl(TComponent* AOwner) : TControl(AOwner) {}

TWinControl::~TWinControl() {
  // Children belong to their owner, which may free them after this control.
  for (TControl* c : FControls) {
    c->FParent = nullptr;
    c->SetHostBelow(c->Host());
  }
  FControls.clear();
}

void TWinControl::InsertControl(TControl* AControl) {
  AControl->FParent = this;
  AControl->SetHostBelow(Host());
  FControls.push_back(AControl);
  if (AControl->FAlign != alNone) AControl->RequestAlign();
  Invalidate();
}

void TWinControl::RemoveControl(TControl* AControl) {
  // Controls usually go last created first: search from the back.
  auto it = std::find(FControls.rbegin(), FControls.rend(), AControl);
  if (it == FControls.rend()) return;
  FControls.erase(std::next(it).base());
  AControl->FParent = nullptr;
  AControl->SetHostBelow(AControl->Host());
  if (IsDestroying()) return;
  if (AControl->FAlign != alNone && !FAligning && !IsLoading()) AlignControls();
  Invalidate();
}

void TWinControl::SetBounds(int32_t ALeft, int32_t ATop, int32_t AWidth, int32_t AHeight) {
  bool resized = std::max(AWidth, 0) != Width() || std::max(AHeight, 0) != Height();
  TControl::SetBounds(ALeft, ATop, AWidth, AHeight);
  if (resized && !IsLoading()) AlignControls();
}

void TWinControl::AlignControls() {
  if (FAligning) return;
  // A child's SetBounds asks for alignment again; a throwing one must not leave this stuck.
  auto aligning = ScopedFlag(FAligning);
  TRect rest = ClientRect();
  auto place = [&](TAlign which) {
    for (TControl* c : FControls) {
      if (c->FAlign != which || !c->FVisible) continue;
      switch (which) {
        case alTop:
          c->SetBounds(rest.Left, rest.Top, rest.Width(), c->FHeight);
          rest.Top += c->FHeight;
          break;
        case alBottom:
          c->SetBounds(rest.Left, rest.Bottom - c->FHeight, rest.Width(), c->FHeight);
          rest.Bottom -= c->FHeight;
          break;
        case alLeft:
          c->SetBounds(rest.Left, rest.Top, c->FWidth, rest.Height());
          rest.Left += c->FWidth;
          break;
        case alRight:
          c->SetBounds(rest.Right - c->FWidth, rest.Top, c->FWidth, rest.Height());
          rest.Right -= c->FWidth;
          break;
        case alClient:
          c->SetBounds(rest.Left, rest.Top, rest.Width(), rest.Height());
          break;
        default:
          break;
      }
      rest.Right = std::max(rest.Right, rest.Left);
      rest.Bottom = std::max(rest.Bottom, rest.Top);
    }
  };
  for (TAlign a : {alTop, alBottom, alLeft, alRight, alClient}) place(a);
}

void TWinControl::Loaded() {
  TControl::Loaded();
  AlignControls();
}

void TWinControl::GetChildren(const std::function<void(TComponent*)>& proc, TComponent* root) {
  for (TControl* c : FControls)
    if (c->Owner() == root) proc(c);
}

void TWinControl::PaintBackground(_cairo* cr) {
  if (ParentBackground()) return;
  TColor c = Color();
  cairo_save(cr);
  SetCairoSource(cr, c);
  cairo_rectangle(cr, 0, 0, Width(), Height());
  cairo_fill(cr);
  cairo_restore(cr);
}

namespace {

// True when windowed children that lay their own background cover the whole of `area`: what
// the parent lays beneath them would never be seen (the overlay's form is all panels).
bool CoveredByOpaqueChildren(const std::vector<TControl*>& children, TRect area) {
  std::vector<TRect> opaque;
  std::vector<int32_t> xs{area.Left, area.Right}, ys{area.Top, area.Bottom};
  for (TControl* c : children) {
    auto* w = dynamic_cast<TWinControl*>(c);
    if (w == nullptr || !w->Visible() || w->ParentBackground()) continue;
    TRect r{std::max(area.Left, w->Left()), std::max(area.Top, w->Top()),
            std::min(area.Right, w->Left() + w->Width()),
            std::min(area.Bottom, w->Top() + w->Height())};
    if (r.IsEmpty()) continue;
    opaque.push_back(r);
    xs.insert(xs.end(), {r.Left, r.Right});
    ys.insert(ys.end(), {r.Top, r.Bottom});
  }
  if (opaque.empty()) return false;
  std::sort(xs.begin(), xs.end());
  std::sort(ys.begin(), ys.end());
  // Every cell of the grid the edges make must lie in some child.
  for (size_t i = 0; i + 1 < xs.size(); ++i)
    for (size_t j = 0; j + 1 < ys.size(); ++j) {
      if (xs[i] == xs[i + 1] || ys[j] == ys[j + 1]) continue;
      bool inside = false;
      for (const TRect& r : opaque)
        inside = inside || (r.Left <= xs[i] && xs[i + 1] <= r.Right && r.Top <= ys[j] &&
                            ys[j + 1] <= r.Bottom);
      if (!inside) return false;
    }
  return true;
}

}  // namespace

void TWinControl::PaintTo(_cairo* cr) {
  if (!CoveredByOpaqueChildren(FControls, {0, 0, Width(), Height()})) PaintBackground(cr);
  TControl::PaintTo(cr);
  // Pictures and shapes lie on the parent's surface, beneath the windowed children.
  for (TControl* c : FControls)
    if (dynamic_cast<TWinControl*>(c) == nullptr) PaintChild(c, cr);
  for (TControl* c : FControls)
    if (dynamic_cast<TWinControl*>(c) != nullptr) PaintChild(c, cr);
}
