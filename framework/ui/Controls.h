// Visual controls: a control has an owner (who frees it) and a parent (on whose surface it is
// painted), a rectangle in its parent's client area, visibility, alignment and colour. Windowed
// controls hold child controls and arrange the aligned ones.
#pragma once

#include <memory>
#include <vector>

#include <qx/framework/core/Classes.h>
#include <qx/framework/ui/Graphics.h>

class TWinControl;
class TCustomForm;
class IControlHost;
struct _cairo;

// Names of the TAlign values, in ordinal order, for property tables.
const std::vector<String>& AlignNames();

class TControl : public TComponent {
  QX_CLASS(TControl)
  explicit TControl(TComponent* AOwner);

 protected:
  ~TControl() override;

 public:
  void BeforeDestruction() override;

  TWinControl* Parent() const { return FParent; }
  virtual void SetParent(TWinControl* AParent);

  int32_t Left() const { return FLeft; }
  int32_t Top() const { return FTop; }
  int32_t Width() const { return FWidth; }
  int32_t Height() const { return FHeight; }
  void SetLeft(int32_t v) { SetBounds(v, FTop, FWidth, FHeight); }
  void SetTop(int32_t v) { SetBounds(FLeft, v, FWidth, FHeight); }
  void SetWidth(int32_t v) { SetBounds(FLeft, FTop, v, FHeight); }
  void SetHeight(int32_t v) { SetBounds(FLeft, FTop, FWidth, v); }
  virtual void SetBounds(int32_t ALeft, int32_t ATop, int32_t AWidth, int32_t AHeight);
  TRect BoundsRect() const { return {FLeft, FTop, FLeft + FWidth, FTop + FHeight}; }
  TRect ClientRect() const { return {0, 0, FWidth, FHeight}; }
  int32_t ClientWidth() const { return FWidth; }
  int32_t ClientHeight() const { return FHeight; }

  bool Visible() const { return FVisible; }
  virtual void SetVisible(bool Value);
  void Show() { SetVisible(true); }
  void Hide() { SetVisible(false); }
  // Visible, and every parent up to the form visible too.
  bool Showing() const;

  TAlign Align() const { return FAlign; }
  void SetAlign(TAlign Value);
  TColor Color() const { return FColor; }
  void SetColor(TColor Value);
  bool ParentBackground() const { return FParentBackground; }
  void SetParentBackground(bool Value);
  const String& Caption() const { return FCaption; }
  virtual void SetCaption(const String& Value);

  // Asks for a repaint at the next turn of the message loop.
  void Invalidate();
  // Repaints at once.
  void Repaint();
  // The drawing surface of the control. During Paint it draws into the frame being composed;
  // outside Paint it draws straight onto the form's current frame.
  TCanvas* Canvas();

  // The form the control lives on (itself for a form), or nullptr while it has no parent chain
  // up to a form.
  TCustomForm* GetParentForm() const;
  // The control's top-left corner in the coordinates of its form's client area.
  TPoint FormOrigin() const;

  // Form-file nesting by parent.
  TComponent* GetParentComponent() const override;
  void SetParentComponent(TComponent* Value) override;

  // Paints the control, and for windowed controls its children, into `cr`, whose origin is the
  // control's top-left corner. Used by the form's composer.
  virtual void PaintTo(_cairo* cr);

  // The primary mouse button, in the control's client coordinates: pressed, moved while held,
  // released. The control pressed on gets the moves and the release.
  virtual void MouseDown(int32_t /*X*/, int32_t /*Y*/) {}
  virtual void MouseMove(int32_t /*X*/, int32_t /*Y*/) {}
  virtual void MouseUp(int32_t /*X*/, int32_t /*Y*/) {}
  // The innermost visible control under a point of this control's client area (itself when
  // no child is there).
  TControl* ControlAtPos(TPoint p);

 protected:
  // The control's own painting; the canvas is ready when it runs.
  virtual void Paint() {}
  // Called after the size changed.
  virtual void Resize() {}
  // A change that needs the parent to arrange its aligned children again.
  void RequestAlign();
  // The canvas the control paints on; created on first use.
  TCanvas& PaintCanvas();

 private:
  friend class TWinControl;
  // The top of the parent chain when it can host controls (a form), else nullptr.
  IControlHost* Host() const;
  // Gives this control and every control under it `host` as the host of their parent chain.
  void SetHostBelow(IControlHost* host);
  TWinControl* FParent = nullptr;
  // While parented: the host at the top of the chain, kept by every change of parent, so that
  // neither painting nor a form file's deep nesting walks the chain.
  IControlHost* FHost = nullptr;
  int32_t FLeft = 0, FTop = 0, FWidth = 0, FHeight = 0;
  bool FVisible = true;
  TAlign FAlign = alNone;
  TColor FColor = clBtnFace;
  bool FParentBackground = false;
  String FCaption;
  std::unique_ptr<TCanvas> FCanvas;
  // A context of its own on the form's frame, for drawing outside Paint.
  _cairo* FDirectCr = nullptr;
  void ReleaseDirect();
  bool FPainting = false;
};

// A control that holds other controls and lays out its aligned children (alTop, alBottom,
// alLeft, alRight, then alClient with what is left), in the order they were inserted.
class TWinControl : public TControl {
  QX_CLASS(TWinControl)
  explicit TWinControl(TComponent* AOwner);

 protected:
  ~TWinControl() override;

 public:
  int ControlCount() const { return static_cast<int>(FControls.size()); }
  TControl* Controls(int index) const { return FControls.at(index); }
  void InsertControl(TControl* AControl);
  void RemoveControl(TControl* AControl);

  bool DoubleBuffered() const { return FDoubleBuffered; }
  void SetDoubleBuffered(bool Value) { FDoubleBuffered = Value; }

  void SetBounds(int32_t ALeft, int32_t ATop, int32_t AWidth, int32_t AHeight) override;
  // Arranges the aligned children in the client area.
  void AlignControls();

  void GetChildren(const std::function<void(TComponent*)>& proc, TComponent* root) override;
  void PaintTo(_cairo* cr) override;

 protected:
  friend class TControl;
  // Fills the background (the parent's shows through with ParentBackground).
  virtual void PaintBackground(_cairo* cr);
  void Loaded() override;

 private:
  std::vector<TControl*> FControls;
  bool FDoubleBuffered = false;
  bool FAligning = false;
};

// A control without children that paints on its parent's surface (pictures, shapes).
class TGraphicControl : public TControl {
  QX_CLASS(TGraphicControl)
 protected:
  ~TGraphicControl() override = default;

 public:
  explicit TGraphicControl(TComponent* AOwner) : TControl(AOwner) {}
};

// A windowed control that paints itself through Paint on its canvas.
class TCustomControl : public TWinControl {
  QX_CLASS(TCustomControl)
 protected:
  ~TCustomControl() override = default;

 public:
  explicit TCustomControl(TComponent* AOwner) : TWinControl(AOwner) {}
};
