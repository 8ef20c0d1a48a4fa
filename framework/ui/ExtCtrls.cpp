#include <qx/framework/ui/ExtCtrls.h>

#include <qx/framework/ui/PictureResources.h>

QX_DEFINE_CLASS(TPanel, TCustomControl, [](TPropsBuilder<TPanel>& b) {
  b.Enum("Align", AlignNames(), &TPanel::Align, &TPanel::SetAlign, alNone);
  b.Enum("BevelOuter", {"bvNone", "bvLowered", "bvRaised", "bvSpace"}, &TPanel::BevelOuter,
         &TPanel::SetBevelOuter, bvRaised);
  b.Text("Caption", &TPanel::Caption, &TPanel::SetCaption);
  b.Color("Color", &TPanel::Color, &TPanel::SetColor, clBtnFace);
  b.Boolean("DoubleBuffered", &TPanel::DoubleBuffered, &TPanel::SetDoubleBuffered, false);
  b.Boolean("ParentBackground", &TPanel::ParentBackground, &TPanel::SetParentBackground, true);
  b.Boolean("Visible", &TPanel::Visible, &TPanel::SetVisible, true);
})

TPanel::TPanel(TComponent* AOwner) : TCustomControl(AOwner) {
  SetBounds(0, 0, 185, 41);
  SetParentBackground(true);
}

void TPanel::SetBevelOuter(TBevelCut Value) {
  if (Value == FBevelOuter) return;
  FBevelOuter = Value;
  Invalidate();
}

void TPanel::Paint() {
  TCanvas* c = Canvas();
  TRect r = ClientRect();
  if (!ParentBackground()) {
    c->Brush()->Style = bsSolid;
    c->Brush()->Color = Color();
    c->FillRect(r);
  }
  if (FBevelOuter == bvRaised || FBevelOuter == bvLowered) {
    TColor light = clWhite, dark = RGB(160, 160, 160);
    if (FBevelOuter == bvLowered) std::swap(light, dark);
    c->Pen()->Style = psSolid;
    c->Pen()->Width = 1;
    c->Pen()->Color = light;
    c->MoveTo(r.Left, r.Bottom - 1);
    c->LineTo(r.Left, r.Top);
    c->LineTo(r.Right - 1, r.Top);
    c->Pen()->Color = dark;
    c->LineTo(r.Right - 1, r.Bottom - 1);
    c->LineTo(r.Left, r.Bottom - 1);
  }
  if (!Caption().empty()) {
    int32_t w = c->TextWidth(Caption()), h = c->TextHeight(Caption());
    int previous = c->SetBkMode(TRANSPARENT);
    c->TextOut((r.Width() - w) / 2, (r.Height() - h) / 2, Caption());
    c->SetBkMode(previous);
  }
}

// ---------------------------------------------------------------------------------------------

QX_DEFINE_CLASS(TImage, TGraphicControl, [](TPropsBuilder<TImage>& b) {
  b.Boolean("AutoSize", &TImage::AutoSize, &TImage::SetAutoSize, false);
  b.Text("Picture", &TImage::Picture, &TImage::SetPicture);
  b.Boolean("Visible", &TImage::Visible, &TImage::SetVisible, true);
})

TImage::TImage(TComponent* AOwner) : TGraphicControl(AOwner) {
  SetBounds(0, 0, 105, 105);
}

void TImage::SetAutoSize(bool Value) {
  FAutoSize = Value;
  ApplyAutoSize();
}

void TImage::SetPicture(const String& Value) {
  FPicture = Value;
  FBitmap.reset();
  ApplyAutoSize();
  Invalidate();
}

void TImage::SetPictureBitmap(const TBitmap& bitmap) {
  FPicture.clear();
  FBitmap = std::make_shared<const TBitmap>(bitmap);
  ApplyAutoSize();
  Invalidate();
}

std::shared_ptr<const TBitmap> TImage::Bitmap() const {
  if (!FBitmap && !FPicture.empty()) FBitmap = FindPictureResource(this, FPicture);
  return FBitmap;
}

void TImage::ApplyAutoSize() {
  if (!FAutoSize || IsLoading()) return;
  if (auto b = Bitmap()) SetBounds(Left(), Top(), b->Width(), b->Height());
}

void TImage::Loaded() {
  TGraphicControl::Loaded();
  ApplyAutoSize();
}

void TImage::Paint() {
  if (auto b = Bitmap()) Canvas()->Draw(0, 0, *b);
}
