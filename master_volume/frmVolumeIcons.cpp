// The overlay form's pictures, drawn for this project: a speaker with sound waves, the same
// speaker crossed out, a microphone and the microphone struck through (for a capture device),
// and a wireless-network badge. Hard-edged and free of the key colour, so that the colour key
// leaves no fringe around them.
#include <qx/framework/ui/PictureResources.h>
#include <qx/master_volume/frmVolumeU.h>

namespace {

constexpr TColor clSpeaker = 0xF0F0F0;
constexpr TColor clOutline = 0x202020;
constexpr TColor clBadge = 0xD77800;  // (0, 120, 215)

void DrawSpeakerBody(TCanvas* c) {
  c->Pen()->Color = clOutline;
  c->Pen()->Width = 2;
  c->Brush()->Style = bsSolid;
  c->Brush()->Color = clSpeaker;
  c->Polygon({{10, 34}, {28, 34}, {52, 12}, {52, 84}, {28, 62}, {10, 62}});
}

// A thick line in the pen colour with a dark rim.
void RimmedLine(TCanvas* c, TPoint a, TPoint b, TColor color, int32_t width) {
  c->Pen()->Color = clOutline;
  c->Pen()->Width = width + 4;
  c->MoveTo(a.X, a.Y);
  c->LineTo(b.X, b.Y);
  c->Pen()->Color = color;
  c->Pen()->Width = width;
  c->MoveTo(a.X, a.Y);
  c->LineTo(b.X, b.Y);
}

void RimmedArc(TCanvas* c, int32_t cx, int32_t cy, int32_t r, TPoint from, TPoint to, TColor color,
               int32_t width) {
  for (int pass = 0; pass < 2; ++pass) {
    c->Pen()->Color = pass == 0 ? clOutline : color;
    c->Pen()->Width = pass == 0 ? width + 4 : width;
    c->Arc(cx - r, cy - r, cx + r, cy + r, from.X, from.Y, to.X, to.Y);
  }
}

// A 96-pixel picture on a see-through ground, drawn by draw.
template <class Draw>
TBitmap Picture(Draw draw) {
  TBitmap b(96, 96);
  b.ClearTransparent();
  draw(b.Canvas());
  return b;
}

TBitmap Speaker() {
  return Picture([](TCanvas* c) {
    DrawSpeakerBody(c);
    // Three waves opening to the right, from 50 degrees above the axis to 50 below it.
    for (int32_t r : {14, 26, 38}) RimmedArc(c, 52, 48, r, {100, 96}, {100, 0}, clSpeaker, 5);
  });
}

TBitmap SpeakerMute() {
  return Picture([](TCanvas* c) {
    DrawSpeakerBody(c);
    RimmedLine(c, {62, 32}, {88, 64}, clRed, 7);
    RimmedLine(c, {62, 64}, {88, 32}, clRed, 7);
  });
}

// A capsule on a stand: the body in the speaker's colours, the holder and the stand rimmed.
void DrawMicrophone(TCanvas* c) {
  RimmedArc(c, 48, 46, 24, {0, 46}, {96, 46}, clSpeaker, 5);  // the holder, lower half
  RimmedLine(c, {48, 72}, {48, 84}, clSpeaker, 5);
  RimmedLine(c, {34, 86}, {62, 86}, clSpeaker, 5);
  c->Pen()->Color = clOutline;
  c->Pen()->Width = 2;
  c->Brush()->Style = bsSolid;
  c->Brush()->Color = clSpeaker;
  c->Ellipse(35, 6, 61, 32);
  c->Ellipse(35, 36, 61, 62);
  c->Pen()->Width = 0;
  c->Rectangle(36, 19, 61, 50);
  c->Pen()->Width = 2;
  c->MoveTo(35, 19);
  c->LineTo(35, 49);
  c->MoveTo(60, 19);
  c->LineTo(60, 49);
}

TBitmap Microphone() {
  return Picture(DrawMicrophone);
}

TBitmap MicrophoneMute() {
  return Picture([](TCanvas* c) {
    DrawMicrophone(c);
    RimmedLine(c, {18, 12}, {80, 88}, clRed, 7);
  });
}

TBitmap WiFi() {
  TBitmap b(64, 64);
  b.ClearTransparent();
  TCanvas* c = b.Canvas();
  c->Pen()->Color = clOutline;
  c->Pen()->Width = 2;
  c->Brush()->Style = bsSolid;
  c->Brush()->Color = clBadge;
  c->Ellipse(1, 1, 63, 63);
  // Waves opening upwards from a dot.
  c->Pen()->Color = clWhite;
  c->Pen()->Width = 4;
  for (int32_t r : {9, 17, 25}) c->Arc(32 - r, 46 - r, 32 + r, 46 + r, 64, 14, 0, 14);
  c->Pen()->Width = 1;
  c->Brush()->Color = clWhite;
  c->Ellipse(28, 42, 37, 51);
  return b;
}

const bool Registered = [] {
  RegisterPictureResource("TfrmVolume", "SPEAKER", Speaker);
  RegisterPictureResource("TfrmVolume", "SPEAKERMUTE", SpeakerMute);
  RegisterPictureResource("TfrmVolume", "WIFI", WiFi);
  RegisterPictureResource("TfrmVolume", "MICROPHONE", Microphone);
  RegisterPictureResource("TfrmVolume", "MICROPHONEMUTE", MicrophoneMute);
  return true;
}();

}  // namespace

void TfrmVolume::ShowCapture(bool capture) {
  if (Image1 == nullptr || imgMute == nullptr) return;
  const String normal = capture ? "MICROPHONE" : "SPEAKER";
  if (Image1->Picture() == normal) return;
  Image1->SetPicture(normal);
  imgMute->SetPicture(capture ? "MICROPHONEMUTE" : "SPEAKERMUTE");
}
