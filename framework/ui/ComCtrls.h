// The track bar: a position between Min and Max on a horizontal scale with tick marks.
#pragma once

#include <qx/framework/ui/Controls.h>

enum TTickMark : int32_t { tmBottomRight, tmTopLeft, tmBoth };

class TTrackBar : public TWinControl {
  QX_CLASS(TTrackBar)
 protected:
  ~TTrackBar() override = default;

 public:
  explicit TTrackBar(TComponent* AOwner);

  int32_t Position() const { return FPosition; }
  // Kept within Min..Max; raises OnChange when the position changes.
  void SetPosition(int32_t Value);
  int32_t Min() const { return FMin; }
  void SetMin(int32_t Value);
  int32_t Max() const { return FMax; }
  void SetMax(int32_t Value);
  int32_t Frequency() const { return FFrequency; }
  void SetFrequency(int32_t Value);
  TTickMark TickMarks() const { return FTickMarks; }
  void SetTickMarks(TTickMark Value);
  bool ShowSelRange() const { return FShowSelRange; }
  void SetShowSelRange(bool Value);

  // Moves the thumb as a click at x (client pixels) would.
  void ClickAt(int32_t x);
  void MouseDown(int32_t X, int32_t) override { ClickAt(X); }
  void MouseMove(int32_t X, int32_t) override { ClickAt(X); }

  TNotifyEvent OnChange;

 protected:
  void Paint() override;
  void Loaded() override;
  virtual void Changed();

 private:
  int32_t ThumbX(int32_t position) const;
  void Clamp();
  int32_t FPosition = 0;
  int32_t FMin = 0;
  int32_t FMax = 10;
  int32_t FFrequency = 1;
  TTickMark FTickMarks = tmBottomRight;
  bool FShowSelRange = true;
};
