#include <qx/framework/ui/CairoColor.h>
#include <qx/framework/ui/Forms.h>

#include <cairo.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <vector>

#include <qx/framework/app/Application.h>
#include <qx/framework/ui/PictureResources.h>
#include <qx/framework/ui/WindowBackend.h>

namespace {

// Every form in creation order, for Screen and for finding forms by handle.
std::vector<TCustomForm*>& AllForms() {
  static std::vector<TCustomForm*> forms;
  return forms;
}

}  // namespace

QX_DEFINE_CLASS(TCustomForm, TWinControl, [](auto&) {})

QX_DEFINE_CLASS(TForm, TCustomForm, [](TPropsBuilder<TForm>& b) {
  b.Enum("BorderStyle",
         {"bsNone", "bsSingle", "bsSizeable", "bsDialog", "bsToolWindow", "bsSizeToolWin"},
         &TForm::BorderStyle, &TForm::SetBorderStyle, bsSizeable);
  b.Text("Caption", &TForm::Caption, &TForm::SetCaption);
  b.Color("Color", &TForm::Color, &TForm::SetColor, clBtnFace);
  b.Boolean("AlphaBlend", &TForm::AlphaBlend, &TForm::SetAlphaBlend, false);
  b.Integer(
      "AlphaBlendValue", [](const TForm* f) { return int32_t(f->AlphaBlendValue()); },
      [](TForm* f, int32_t v) { f->SetAlphaBlendValue(uint8_t(std::clamp(v, 0, 255))); }, 255);
  b.Boolean("TransparentColor", &TForm::TransparentColor, &TForm::SetTransparentColor, false);
  b.Color("TransparentColorValue", &TForm::TransparentColorValue, &TForm::SetTransparentColorValue,
          clBlack);
  b.Text("Icon", &TForm::Icon, &TForm::SetIcon);
  b.Boolean("Scaled", &TForm::Scaled, &TForm::SetScaled, true);
  b.Boolean("Visible", &TForm::Visible, &TForm::SetVisible, false);
  b.Event("OnClose", &TForm::OnClose);
  b.Event("OnCreate", &TForm::OnCreate);
  b.Event("OnHide", &TForm::OnHide);
  b.Event("OnShow", &TForm::OnShow);
})

TCustomForm::TCustomForm(TComponent* AOwner) : TWinControl(AOwner) {
  // A form is hidden until shown, unlike the controls on it.
  TControl::SetVisible(false);
  TControl::SetBounds(0, 0, 320, 240);
  AllForms().push_back(this);
}

TCustomForm::~TCustomForm() {
  *FAlive = false;
  auto& forms = AllForms();
  forms.erase(std::remove(forms.begin(), forms.end(), this), forms.end());
  FWindow.reset();
  if (FHandle != nullptr) {
    DeallocateHWnd(FHandle);
    FHandle = nullptr;
  }
}

void TCustomForm::BeforeDestruction() {
  if (FWindow) FWindow->SetVisible(false);
  TWinControl::BeforeDestruction();
}

void TCustomForm::Close() {
  TCloseAction action = caHide;
  DoClose(action);
  switch (action) {
    case caHide:
      Hide();
      break;
    case caFree: {
      // Freed from the loop, after the handler that asked for it has returned.
      Hide();
      std::weak_ptr<bool> alive = FAlive;
      Application->QueueIdle([alive, this] {
        if (auto a = alive.lock(); a && *a) TObject::Free(this);
      });
      break;
    }
    case caNone:
    case caMinimize:
      break;
  }
}

void TCustomForm::DoClose(TCloseAction& Action) {
  OnClose(this, Action);
}
void TCustomForm::DoCreate() {
  OnCreate(this);
}
void TCustomForm::DoShow() {
  OnShow(this);
}
void TCustomForm::DoHide() {
  OnHide(this);
}

void TCustomForm::WndProc(TMessage& Message) {
  if (Message.Msg == WM_CLOSE) {
    Close();
    Message.Result = 0;
    return;
  }
  Message.Result = DefWindowProcW(FHandle, Message.Msg, Message.WParam, Message.LParam);
}

void TCustomForm::CreateParams(TCreateParams& Params) {
  Params.Caption = Caption();
  Params.X = Left();
  Params.Y = Top();
  Params.Width = Width();
  Params.Height = Height();
  Params.ExStyle =
      FBorderStyle == bsToolWindow || FBorderStyle == bsSizeToolWin ? WS_EX_TOOLWINDOW : 0;
  Params.WndParent = nullptr;
  Params.WinClassName = ClassName();
}

TCreateParams TCustomForm::WindowParams() {
  if (!FParamsMade) {
    FParams = TCreateParams();
    CreateParams(FParams);
    FParamsMade = true;
  }
  return FParams;
}

HWND TCustomForm::Handle() {
  if (FHandle == nullptr) {
    WindowParams();
    FHandle = AllocateHWnd(TWndMethod(this, &TCustomForm::WndProc));
    EnsureWindow();
  }
  return FHandle;
}

void TCustomForm::EnsureWindow() {
  if (FWindow || IsDestroying()) return;
  TWindowDesc desc;
  desc.Params = WindowParams();
  if (TCustomForm* owner = FindFormByHandle(desc.Params.WndParent))
    desc.Owner = owner->BackendWindow();
  desc.InstanceName = Name();
  desc.Borderless = FBorderStyle == bsNone;
  desc.Sizeable = FBorderStyle == bsSizeable || FBorderStyle == bsSizeToolWin;
  FWindow = WindowBackend().CreateWindow(*this, desc);
  FWindow->SetBounds(BoundsRect());
  FWindow->SetCaption(Caption());
  if (!FIcon.empty()) {
    if (auto icon = FindPictureResource(this, FIcon)) FWindow->SetIcon(*icon);
  }
  PushWindowState();
}

void TCustomForm::PushWindowState() {
  if (!FWindow) return;
  FWindow->SetAlpha(FAlphaBlend, FAlphaBlendValue);
  if (FStayOnTop) FWindow->SetTopMost(true, false);
}

void TCustomForm::Loaded() {
  TWinControl::Loaded();
  bool show = Visible();
  if (show) TControl::SetVisible(false);
  if (!IsDesigning()) DoCreate();
  if (show && !IsDesigning()) SetVisible(true);
}

void TCustomForm::SetVisible(bool Value) {
  if (Value == Visible()) return;
  if (IsLoading()) {
    TControl::SetVisible(Value);
    return;
  }
  if (Value) {
    TControl::SetVisible(true);
    // OnShow may place and size the form before its window appears.
    DoShow();
    if (!Visible()) return;  // hidden again by the handler
    Handle();
    AlignControls();
    Compose();
    Present();
    if (FWindow) FWindow->SetVisible(true);
  } else {
    TControl::SetVisible(false);
    DoHide();
    if (FWindow) FWindow->SetVisible(false);
  }
}

void TCustomForm::SetBounds(int32_t ALeft, int32_t ATop, int32_t AWidth, int32_t AHeight) {
  bool resized = AWidth != Width() || AHeight != Height();
  TWinControl::SetBounds(ALeft, ATop, AWidth, AHeight);
  if (FWindow) FWindow->SetBounds(BoundsRect());
  if (resized) InvalidateFrame();
}

void TCustomForm::SetCaption(const String& Value) {
  TControl::SetCaption(Value);
  if (FWindow) FWindow->SetCaption(Value);
}

void TCustomForm::SetFocus() {
  Handle();
  if (FWindow) FWindow->Activate();
}

bool TCustomForm::Focused() const {
  return FWindow && FWindow->Active();
}

void TCustomForm::SetStayOnTop(bool onTop, bool activate) {
  FStayOnTop = onTop;
  Handle();
  if (FWindow) FWindow->SetTopMost(onTop, activate);
}

void TCustomForm::SetAlphaBlend(bool Value) {
  if (Value == FAlphaBlend) return;
  FAlphaBlend = Value;
  if (FWindow) FWindow->SetAlpha(FAlphaBlend, FAlphaBlendValue);
}

void TCustomForm::SetAlphaBlendValue(uint8_t Value) {
  if (Value == FAlphaBlendValue) return;
  FAlphaBlendValue = Value;
  if (FWindow) FWindow->SetAlpha(FAlphaBlend, FAlphaBlendValue);
}

void TCustomForm::SetTransparentColor(bool Value) {
  if (Value == FTransparentColor) return;
  FTransparentColor = Value;
  InvalidateFrame();
}

void TCustomForm::SetTransparentColorValue(TColor Value) {
  if (Value == FTransparentColorValue) return;
  FTransparentColorValue = Value;
  InvalidateFrame();
}

void TCustomForm::SetIcon(const String& Value) {
  FIcon = Value;
  if (FWindow && !FIcon.empty()) {
    if (auto icon = FindPictureResource(this, FIcon)) FWindow->SetIcon(*icon);
  }
}

void TCustomForm::PaintBackground(_cairo* cr) {
  cairo_save(cr);
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  TColor c = Color();
  SetCairoSource(cr, c);
  cairo_paint(cr);
  cairo_restore(cr);
}

void TCustomForm::Compose() {
  int32_t w = std::max(Width(), 0), h = std::max(Height(), 0);
  if (!FFrame) FFrame = std::make_unique<TBitmap>();
  if (FFrame->Width() != w || FFrame->Height() != h) FFrame->SetSize(w, h);
  if (FFrame->Empty()) {
    FFrameDirty = false;
    return;
  }
  // A Paint may change what is shown (a picture hidden, another shown); then the frame is made
  // once more so that it agrees with itself.
  for (int pass = 0; pass < 2; ++pass) {
    FFrameDirty = false;
    cairo_t* cr = cairo_create(FFrame->Surface());
    PaintTo(cr);
    cairo_destroy(cr);
    if (!FFrameDirty) break;
  }
}

void TCustomForm::Present() {
  if (FWindow && FFrame) FWindow->Present(*FFrame, FTransparentColor, FTransparentColorValue);
}

void TCustomForm::InvalidateFrame() {
  FFrameDirty = true;
  SchedulePresent();
}

void TCustomForm::SchedulePresent() {
  if (FRepaintQueued || !Visible() || IsDestroying() || Application == nullptr) return;
  FRepaintQueued = true;
  std::weak_ptr<bool> alive = FAlive;
  Application->QueueIdle([alive, this] {
    auto a = alive.lock();
    if (!a || !*a) return;
    FRepaintQueued = false;
    Update();
  });
}

void TCustomForm::Update() {
  if (FFrameDirty || !FFrame) Compose();
  if (Visible()) Present();
}

const TBitmap& TCustomForm::Frame() {
  if (FFrameDirty || !FFrame) Compose();
  return *FFrame;
}

_cairo* TCustomForm::FrameContext() {
  if (!FFrame || FFrame->Empty()) Compose();
  if (FFrame->Empty()) return nullptr;
  return FFrame->Canvas()->Context();
}

TBitmap TCustomForm::TranslucentFrame() {
  const TBitmap& frame = Frame();
  TBitmap out(frame.Width(), frame.Height());
  if (frame.Empty()) return out;
  const uint8_t alpha = FAlphaBlend ? FAlphaBlendValue : 255;
  // The frame is opaque: each stored word is 0xFF, red, green, blue.
  const uint32_t keyWord = 0xFF000000u | uint32_t(GetRValue(FTransparentColorValue)) << 16 |
                           uint32_t(GetGValue(FTransparentColorValue)) << 8 |
                           GetBValue(FTransparentColorValue);
  const uint8_t* src = frame.Data();
  for (int32_t y = 0; y < frame.Height(); ++y) {
    for (int32_t x = 0; x < frame.Width(); ++x) {
      uint32_t p;
      std::memcpy(&p, src + size_t(y) * frame.Stride() + size_t(x) * 4, 4);
      if (FTransparentColor && p == keyWord) continue;  // stays transparent
      out.SetPixel(x, y, RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF), alpha);
    }
  }
  return out;
}

void TCustomForm::MouseInput(TMouseAction action, int32_t X, int32_t Y) {
  if (action == TMouseAction::Down) FMouseCapture = ControlAtPos({X, Y});
  TControl* target = FMouseCapture;
  if (target == nullptr) return;
  // The captured control may have gone meanwhile.
  bool present = target == this;
  std::function<void(TControl*)> find = [&](TControl* c) {
    if (c == target) present = true;
    if (auto* w = dynamic_cast<TWinControl*>(c))
      for (int i = 0; i < w->ControlCount() && !present; ++i) find(w->Controls(i));
  };
  find(this);
  if (!present) {
    FMouseCapture = nullptr;
    return;
  }
  TPoint o = target->FormOrigin();
  try {
    switch (action) {
      case TMouseAction::Down:
        target->MouseDown(X - o.X, Y - o.Y);
        break;
      case TMouseAction::Move:
        target->MouseMove(X - o.X, Y - o.Y);
        break;
      case TMouseAction::Up:
        FMouseCapture = nullptr;
        target->MouseUp(X - o.X, Y - o.Y);
        break;
    }
  } catch (const std::exception&) {
    if (Application != nullptr) Application->HandleException(target);
  }
}

void TCustomForm::CloseRequested() {
  // Through the handle's queue, as the host delivers WM_CLOSE: after the event is served.
  if (HandleAllocated()) PostMessageW(FHandle, WM_CLOSE, 0, 0);
}

void TCustomForm::Resized(int32_t width, int32_t height) {
  if (IsDestroying()) return;
  SetBounds(Left(), Top(), width, height);
}

// Controls know the form they lie on only as their host.
TCustomForm* TControl::GetParentForm() const {
  return dynamic_cast<TCustomForm*>(Host());
}

void TCustomForm::GetChildren(const std::function<void(TComponent*)>& proc, TComponent* root) {
  // Controls nest by parent; the form's other components (timers) follow them.
  TWinControl::GetChildren(proc, root);
  if (root != this) return;
  for (int i = 0; i < ComponentCount(); ++i) {
    TComponent* c = Components(i);
    if (c->GetParentComponent() == nullptr && dynamic_cast<TControl*>(c) == nullptr) proc(c);
  }
}

// ---------------------------------------------------------------------------------------------

static TScreen ScreenInstance;
TScreen* Screen = &ScreenInstance;

int32_t TScreen::Width() const {
  return WindowBackend().ScreenSize().X;
}
int32_t TScreen::Height() const {
  return WindowBackend().ScreenSize().Y;
}
int TScreen::FormCount() const {
  return static_cast<int>(AllForms().size());
}
TCustomForm* TScreen::Forms(int index) const {
  return AllForms().at(index);
}

TCustomForm* TScreen::ActiveForm() const {
  for (TCustomForm* f : AllForms())
    if (f->Focused()) return f;
  return nullptr;
}

TCustomForm* FindFormByHandle(HWND wnd) {
  if (wnd == nullptr) return nullptr;
  for (TCustomForm* f : AllForms())
    if (f->HandleAllocated() && f->Handle() == wnd) return f;
  return nullptr;
}
