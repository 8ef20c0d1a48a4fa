// Panels and pictures.
#pragma once

#include <memory>

#include <qx/framework/ui/Controls.h>

enum TBevelCut : int32_t { bvNone, bvLowered, bvRaised, bvSpace };

// A plain area that groups controls: background in its colour (or the parent's), a bevel and a
// centred caption.
class TPanel : public TCustomControl {
  QX_CLASS(TPanel)
 protected:
  ~TPanel() override = default;

 public:
  explicit TPanel(TComponent* AOwner);

  TBevelCut BevelOuter() const { return FBevelOuter; }
  void SetBevelOuter(TBevelCut Value);

 protected:
  void Paint() override;
  // The panel fills its own background in Paint.
  void PaintBackground(_cairo*) override {}

 private:
  TBevelCut FBevelOuter = bvRaised;
};

// A picture from the form's resources, drawn at the control's top-left corner.
class TImage : public TGraphicControl {
  QX_CLASS(TImage)
 protected:
  ~TImage() override = default;

 public:
  explicit TImage(TComponent* AOwner);

  bool AutoSize() const { return FAutoSize; }
  void SetAutoSize(bool Value);
  // The name of a picture resource of the form (see RegisterPictureResource).
  const String& Picture() const { return FPicture; }
  void SetPicture(const String& Value);
  // A picture given directly instead of by name.
  void SetPictureBitmap(const TBitmap& bitmap);
  // The picture shown, or nullptr.
  std::shared_ptr<const TBitmap> Bitmap() const;

 protected:
  void Paint() override;
  void Loaded() override;

 private:
  void ApplyAutoSize();
  bool FAutoSize = false;
  String FPicture;
  mutable std::shared_ptr<const TBitmap> FBitmap;
};
