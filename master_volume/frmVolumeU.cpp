#include <qx/master_volume/frmVolumeU.h>

#include <qx/framework/core/FormStream.h>
#include <qx/platform/windows/WinGdi.h>
#include <qx/platform/windows/WinUser.h>

TfrmVolume* frmVolume = nullptr;
int32_t Fvol = 0;
bool FMute = false;

namespace {

constexpr TColor clLightRed = 0x8282FF;  // (255, 130, 130)
constexpr TColor clSkyBlue = 0xF0CAA6;   // (166, 202, 240)

// Text as filled glyph shapes with an outline: a path of the glyphs (no character cells with
// the transparent background), filled with the brush and stroked with the pen.
void DrawOutlinedText(TCanvas* canvas, int32_t X, int32_t Y, const String& text) {
  HDC dc = canvas->Handle();
  int previous = SetBkMode(dc, TRANSPARENT);
  BeginPath(dc);
  canvas->TextOut(X, Y, text);
  EndPath(dc);
  StrokeAndFillPath(dc);
  SetBkMode(dc, previous);
}

}  // namespace

// ---------------------------------------------------------------------------------------------

QX_DEFINE_CLASS(TVolPanel, TPanel, [](auto&) {})

void TVolPanel::Paint() {
  TPanel::Paint();
  DrawBar();
}

void TVolPanel::DrawBar() {
  auto* form = dynamic_cast<TfrmVolume*>(Parent());
  TCanvas* c = Canvas();
  const int32_t vol = Fvol;
  const int32_t W = Width();
  const int32_t A = W - 172;
  // 64-bit product: a volume far outside 0..100 must not wrap around.
  int64_t L = Round(static_cast<double>(int64_t(A) * vol) / 100);
  if (FMute) L = 0;
  const int64_t redFrom = Round(static_cast<double>(int64_t(A) * 90) / 100);
  const TColor bars = form != nullptr ? form->barsColor : clYellow;
  const TColor dots = form != nullptr ? form->dotsColor : clWhite;

  c->Pen()->Style = psSolid;
  c->Pen()->Color = clBlack;
  c->Pen()->Width = 1;
  c->Brush()->Style = bsSolid;
  for (int32_t x = 10; x < A; x += 20) {
    if (x < L) {
      c->Brush()->Color = (vol > 90 && x > redFrom) ? clRed : bars;
      c->Rectangle(x, 20, x + 10, 80);
    } else {
      c->Brush()->Color = FMute ? clLightRed : dots;
      c->Rectangle(x, 45, x + 10, 60);
    }
  }

  c->Font()->Name = "ARIAL";
  c->Font()->Style = fsBold;
  c->Font()->Size = 48;
  c->Brush()->Style = bsSolid;
  c->Brush()->Color = FMute ? clLightRed : clSkyBlue;
  c->Pen()->Color = clBlack;
  c->Pen()->Width = 1;
  const String T = IntToStr(vol) + "%";
  const int32_t X = A + 86 - c->TextWidth(T) / 2;
  DrawOutlinedText(c, X, 15, T);

  if (form != nullptr && form->Image1 != nullptr && form->imgMute != nullptr) {
    form->Image1->SetVisible(!FMute);
    form->imgMute->SetVisible(FMute);
  }
}

// ---------------------------------------------------------------------------------------------

QX_DEFINE_CLASS(TfrmVolume, TForm, [](TPropsBuilder<TfrmVolume>& b) {
  b.Enum("VolumeAlign", AlignNames(), &TfrmVolume::VolumeAlign, &TfrmVolume::SetVolumeAlign,
         alBottom);
  b.Field("Panel1", &TfrmVolume::Panel1);
  b.Field("Timer1", &TfrmVolume::Timer1);
  b.Field("Image1", &TfrmVolume::Image1);
  b.Field("imgWiFi", &TfrmVolume::imgWiFi);
  b.Field("Timer2", &TfrmVolume::Timer2);
  b.Field("imgMute", &TfrmVolume::imgMute);
  b.Method("FormCreate", &TfrmVolume::FormCreate);
  b.Method("FormShow", &TfrmVolume::FormShow);
  b.Method("Timer1Timer", &TfrmVolume::Timer1Timer);
  b.Method("Timer2Timer", &TfrmVolume::Timer2Timer);
})

TfrmVolume::TfrmVolume(TComponent* AOwner) : TForm(AOwner) {
  // The published fields point at their components as the description is read.
  ReadComponentFromText(this, frmVolumeU_qxf, "frmVolumeU.qxf");
}

void TfrmVolume::ShowLevel(int32_t volume, bool mute, TAlign edge, TCustomForm* focusBack) {
  VolAlign = edge;
  SetAlphaBlend(false);
  SetAlphaBlendValue(255);
  Timer2->SetEnabled(false);
  Timer1->SetEnabled(false);
  Timer1->SetEnabled(true);
  Fvol = volume;
  FMute = mute;
  if (!Visible()) Show();
  if (focusBack != nullptr && focusBack->Visible()) focusBack->SetFocus();
  SetTopMost(Handle(), true, false);
  if (pnlVol != nullptr) pnlVol->Invalidate();
}

void TfrmVolume::CreateParams(TCreateParams& Params) {
  TForm::CreateParams(Params);
  // Its own taskbar button, and no owner window to hide or minimise it with. Shown on every
  // change, whoever made it, it must never take the focus from what the user is typing into.
  Params.ExStyle |= WS_EX_APPWINDOW | WS_EX_NOACTIVATE;
  Params.WndParent = GetDesktopWindow();
}

void TfrmVolume::FormCreate(TObject*) {
  SetScaled(false);
}

void TfrmVolume::FormShow(TObject*) {
  if (pnlVol == nullptr) {
    pnlVol = new TVolPanel(this);
    pnlVol->SetParent(this);
    pnlVol->SetAlign(alClient);
    pnlVol->SetCaption("");
    pnlVol->SetColor(clFuchsia);
    pnlVol->SetParentBackground(false);
    pnlVol->SetBevelOuter(bvNone);
    pnlVol->SetDoubleBuffered(true);
  }
  SetWidth(Screen->Width());
  SetLeft(0);
  const int32_t edge = GetTaskBarInfo();
  if (edge == 3) {
    SetLeft(FTaskBarWidth);
    SetWidth(Screen->Width() - FTaskBarWidth);
  } else if (edge == 4) {
    SetLeft(0);
    SetWidth(Screen->Width() - FTaskBarWidth);
  }
  if (VolAlign == alBottom) {
    SetTop(Screen->Height() - Height() - (edge == 2 ? FTaskBarHeight : 0));
  } else if (VolAlign == alTop) {
    SetTop(edge == 1 ? FTaskBarHeight : 0);
  }
  pnlVol->Repaint();
  SetTopMost(Handle(), true, false);
}

int32_t TfrmVolume::GetTaskBarInfo() {
  const int32_t h = Screen->Height();
  // No taskbar window leaves the rectangle empty: full width, no offset.
  RECT r{};
  GetWindowRect(FindWindowW("Shell_TrayWnd", nullptr), &r);
  FTaskBarWidth = r.right - r.left;
  FTaskBarHeight = r.bottom - r.top;
  if (h / 2 < r.top && FTaskBarWidth > FTaskBarHeight) return 2;
  if (h / 2 > r.top && FTaskBarWidth > FTaskBarHeight) return 1;
  return r.left == 0 ? 3 : 4;
}

void TfrmVolume::SetTopMost(HWND hwnd, bool onTop, bool activate) {
  UINT flags = SWP_NOMOVE | SWP_NOSIZE;
  if (!activate) flags |= SWP_NOACTIVATE;
  SetWindowPos(hwnd, onTop ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0, flags);
}

void TfrmVolume::Timer1Timer(TObject*) {
  Timer1->SetEnabled(false);
  Timer2->SetEnabled(true);
}

void TfrmVolume::Timer2Timer(TObject*) {
  SetAlphaBlend(true);
  const uint8_t alpha = static_cast<uint8_t>(AlphaBlendValue() - 2);
  SetAlphaBlendValue(alpha);
  if (alpha < 2) {
    Timer2->SetEnabled(false);
    Hide();
  }
}
