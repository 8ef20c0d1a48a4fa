#include <qx/framework/ui/ComCtrls.h>

#include <algorithm>
#include <cmath>

QX_DEFINE_CLASS(TTrackBar, TWinControl, [](TPropsBuilder<TTrackBar>& b) {
  b.Enum("Align", AlignNames(), &TTrackBar::Align, &TTrackBar::SetAlign, alNone);
  b.Integer("Frequency", &TTrackBar::Frequency, &TTrackBar::SetFrequency, 1);
  b.Integer("Max", &TTrackBar::Max, &TTrackBar::SetMax, 10);
  b.Integer("Min", &TTrackBar::Min, &TTrackBar::SetMin, 0);
  b.Integer("Position", &TTrackBar::Position, &TTrackBar::SetPosition, 0);
  b.Boolean("ShowSelRange", &TTrackBar::ShowSelRange, &TTrackBar::SetShowSelRange, true);
  b.Enum("TickMarks", {"tmBottomRight", "tmTopLeft", "tmBoth"}, &TTrackBar::TickMarks,
         &TTrackBar::SetTickMarks, tmBottomRight);
  b.Boolean("Visible", &TTrackBar::Visible, &TTrackBar::SetVisible, true);
  b.Event("OnChange", &TTrackBar::OnChange);
})

namespace {
// Pixels between the control's edge and the ends of the scale.
constexpr int32_t kMargin = 12;
}  // namespace

TTrackBar::TTrackBar(TComponent* AOwner) : TWinControl(AOwner) {
  SetBounds(0, 0, 150, 45);
  SetColor(clBtnFace);
}

void TTrackBar::Changed() {
  // Streaming sets the position before the form is complete; no handler runs then.
  if (!IsLoading()) OnChange(this);
}

void TTrackBar::Loaded() {
  TWinControl::Loaded();
  Clamp();
}

void TTrackBar::Clamp() {
  if (IsLoading() || FMin > FMax) return;
  int32_t p = std::clamp(FPosition, FMin, FMax);
  if (p != FPosition) {
    FPosition = p;
    Invalidate();
    Changed();
  }
}

void TTrackBar::SetPosition(int32_t Value) {
  if (!IsLoading() && FMin <= FMax) Value = std::clamp(Value, FMin, FMax);
  if (Value == FPosition) return;
  FPosition = Value;
  Invalidate();
  Changed();
}

void TTrackBar::SetMin(int32_t Value) {
  if (Value == FMin) return;
  FMin = Value;
  Invalidate();
  Clamp();
}

void TTrackBar::SetMax(int32_t Value) {
  if (Value == FMax) return;
  FMax = Value;
  Invalidate();
  Clamp();
}

void TTrackBar::SetFrequency(int32_t Value) {
  FFrequency = Value;
  Invalidate();
}

void TTrackBar::SetTickMarks(TTickMark Value) {
  FTickMarks = Value;
  Invalidate();
}

void TTrackBar::SetShowSelRange(bool Value) {
  FShowSelRange = Value;
  Invalidate();
}

// Positions span up to 2^32 - 1 steps (Min = -2^31, Max = 2^31 - 1): the arithmetic is 64-bit,
// and offset (at most 2^32 - 1) times track (below 2^31) stays below 2^63.
int32_t TTrackBar::ThumbX(int32_t position) const {
  int64_t span = std::max<int64_t>(int64_t(FMax) - FMin, 1);
  int64_t track = std::max<int64_t>(int64_t(Width()) - 2 * kMargin, 1);
  int64_t offset = std::clamp<int64_t>(int64_t(position) - FMin, 0, span);
  return kMargin + static_cast<int32_t>(offset * track / span);
}

void TTrackBar::ClickAt(int32_t x) {
  int64_t track = std::max<int64_t>(int64_t(Width()) - 2 * kMargin, 1);
  double f = std::clamp(double(int64_t(x) - kMargin) / double(track), 0.0, 1.0);
  int64_t span = std::max<int64_t>(int64_t(FMax) - FMin, 0);
  int64_t p = int64_t(FMin) + std::llround(f * double(span));
  SetPosition(static_cast<int32_t>(std::clamp<int64_t>(p, FMin, std::max(FMin, FMax))));
}

void TTrackBar::Paint() {
  TCanvas* c = Canvas();
  int32_t mid = Height() / 2 - 4;
  // The channel.
  c->Pen()->Color = RGB(160, 160, 160);
  c->Brush()->Color = clWhite;
  c->Brush()->Style = bsSolid;
  c->Rectangle(kMargin - 2, mid - 2, Width() - kMargin + 2, mid + 3);
  // Ticks every Frequency positions, plus both ends.
  if (FFrequency > 0 && FMax > FMin) {
    c->Pen()->Color = clBlack;
    int64_t count = (int64_t(FMax) - FMin) / FFrequency;
    for (int64_t i = 0; i <= count && i <= Width(); ++i) {
      int32_t x = ThumbX(static_cast<int32_t>(FMin + i * FFrequency));
      if (FTickMarks == tmBottomRight || FTickMarks == tmBoth) {
        c->MoveTo(x, mid + 12);
        c->LineTo(x, mid + 16);
      }
      if (FTickMarks == tmTopLeft || FTickMarks == tmBoth) {
        c->MoveTo(x, mid - 16);
        c->LineTo(x, mid - 12);
      }
    }
  }
  // The thumb.
  int32_t x = ThumbX(std::clamp(FPosition, FMin, std::max(FMin, FMax)));
  c->Pen()->Color = RGB(0, 120, 215);
  c->Brush()->Color = RGB(0, 120, 215);
  c->Rectangle(x - 5, mid - 10, x + 6, mid + 11);
}
