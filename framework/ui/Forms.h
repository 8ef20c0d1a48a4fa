// Forms: top-level windows composed from their controls, shown through the window back end
// (a real X11 window when a display is there, a virtual desktop otherwise), and the screen.
#pragma once

#include <memory>

#include <qx/framework/app/Messages.h>
#include <qx/framework/core/ClosingOwner.h>
#include <qx/framework/ui/ControlHost.h>
#include <qx/framework/ui/Controls.h>
#include <qx/framework/ui/WindowBackend.h>

enum TFormBorderStyle : int32_t {
  bsNone,
  bsSingle,
  bsSizeable,
  bsDialog,
  bsToolWindow,
  bsSizeToolWin
};

class TCustomForm : public TWinControl, public IWindowEvents, public IControlHost {
  QX_CLASS(TCustomForm)
  explicit TCustomForm(TComponent* AOwner);

 protected:
  ~TCustomForm() override;

 public:
  void BeforeDestruction() override;

  // Raises OnClose with caHide: caHide hides the form, caFree frees it later from the message
  // loop, caNone (and caMinimize) leave it as it is.
  void Close();

  // The window handle; allocated on first use (CreateParams is consulted then).
  HWND Handle();
  bool HandleAllocated() const { return FHandle != nullptr; }
  // The creation parameters the window was (or will be) made with.
  TCreateParams WindowParams();

  void SetVisible(bool Value) override;
  void SetBounds(int32_t ALeft, int32_t ATop, int32_t AWidth, int32_t AHeight) override;
  void SetCaption(const String& Value) override;
  // Gives the form's window the input focus.
  void SetFocus();
  bool Focused() const;
  // Z-order: keeps the window above the ordinary ones (and raises it), or lets it go back.
  // With activate False the focus stays where it is.
  void SetStayOnTop(bool onTop, bool activate);
  bool StayOnTop() const { return FStayOnTop; }

  TFormBorderStyle BorderStyle() const { return FBorderStyle; }
  void SetBorderStyle(TFormBorderStyle Value) { FBorderStyle = Value; }
  bool Scaled() const { return FScaled; }
  void SetScaled(bool Value) { FScaled = Value; }
  bool AlphaBlend() const { return FAlphaBlend; }
  void SetAlphaBlend(bool Value);
  uint8_t AlphaBlendValue() const { return FAlphaBlendValue; }
  void SetAlphaBlendValue(uint8_t Value);
  bool TransparentColor() const { return FTransparentColor; }
  void SetTransparentColor(bool Value);
  TColor TransparentColorValue() const { return FTransparentColorValue; }
  void SetTransparentColorValue(TColor Value);
  // The window icon: the name of a picture resource of the form.
  const String& Icon() const { return FIcon; }
  void SetIcon(const String& Value);

  // The frame as last composed (client area, opaque), composing first when a repaint is
  // pending. Empty before the first show.
  const TBitmap& Frame();
  // Composes the frame now if a repaint was asked for, and hands it to the window.
  void Update() override;
  // The frame as the screen shows it: the colour key made see-through (when on) and the alpha
  // value applied (when alpha blending is on).
  TBitmap TranslucentFrame();

  TCloseEvent OnClose;
  TNotifyEvent OnCreate;
  TNotifyEvent OnShow;
  TNotifyEvent OnHide;

  // Internal: what the form's controls ask of it.
  void InvalidateFrame() override;
  void SchedulePresent() override;
  _cairo* FrameContext() override;
  // Internal: what the back end reports about the form's window.
  void MouseInput(TMouseAction action, int32_t X, int32_t Y) override;
  void CloseRequested() override;
  void Resized(int32_t width, int32_t height) override;
  // Internal: the back end's window, nullptr while it has none.
  TBackendWindow* BackendWindow() const { return FWindow.get(); }

  void GetChildren(const std::function<void(TComponent*)>& proc, TComponent* root) override;

 protected:
  virtual void CreateParams(TCreateParams& Params);
  virtual void DoClose(TCloseAction& Action);
  virtual void DoCreate();
  virtual void DoShow();
  virtual void DoHide();
  // Window procedure of the handle: WM_CLOSE closes the form.
  virtual void WndProc(TMessage& Message);
  // A form read from a form file raises OnCreate once it is complete.
  void Loaded() override;
  void PaintBackground(_cairo* cr) override;

 private:
  void EnsureWindow();
  void Compose();
  void Present();
  void PushWindowState();
  HWND FHandle = nullptr;
  std::unique_ptr<TBackendWindow> FWindow;
  std::unique_ptr<TBitmap> FFrame;
  TCreateParams FParams;
  bool FParamsMade = false;
  bool FFrameDirty = true;
  bool FRepaintQueued = false;
  bool FStayOnTop = false;
  TFormBorderStyle FBorderStyle = bsSizeable;
  bool FScaled = true;
  bool FAlphaBlend = false;
  uint8_t FAlphaBlendValue = 255;
  bool FTransparentColor = false;
  TColor FTransparentColorValue = clBlack;
  String FIcon;
  TControl* FMouseCapture = nullptr;
  // Shared with queued calls so that they can tell whether the form still exists.
  std::shared_ptr<bool> FAlive = std::make_shared<bool>(true);
};

// The form whose window handle `wnd` is (while its handle exists), or nullptr.
TCustomForm* FindFormByHandle(HWND wnd);

// A plain form also offers its closing to the components it owns (a UDP component stops its
// receive thread when its form closes).
class TForm : public TCustomForm, public IClosingOwner {
  QX_CLASS(TForm)
 protected:
  ~TForm() override = default;

 public:
  explicit TForm(TComponent* AOwner) : TCustomForm(AOwner) {}
  TCloseEvent& OwnerOnClose() override { return OnClose; }
  bool OwnerHasWindow() const override { return HandleAllocated(); }
};

// The primary display.
class TScreen {
 public:
  int32_t Width() const;
  int32_t Height() const;
  int FormCount() const;
  TCustomForm* Forms(int index) const;
  // The form that has the input focus, or nullptr.
  TCustomForm* ActiveForm() const;
};
extern TScreen* Screen;
