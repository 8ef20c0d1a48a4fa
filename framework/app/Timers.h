// TTimer: a component that raises OnTimer on the main thread every Interval milliseconds while
// it is Enabled, driven by the application's loop.
#pragma once

#include <cstdint>

#include <qx/framework/core/Classes.h>

class TTimer : public TComponent {
  QX_CLASS(TTimer)
  explicit TTimer(TComponent* AOwner);

 protected:
  ~TTimer() override;

 public:
  bool Enabled() const { return FEnabled; }
  // Switching on (again) starts a full period; switching off cancels the pending tick.
  void SetEnabled(bool value);
  uint32_t Interval() const { return FInterval; }
  // A new interval starts a full period; 0 stops the timer.
  void SetInterval(uint32_t value);
  const TNotifyEvent& OnTimer() const { return FOnTimer; }
  void SetOnTimer(const TNotifyEvent& value);

  void Loaded() override;

 protected:
  // Raises OnTimer.
  virtual void Timer();

 private:
  void UpdateTimer();
  void Tick();
  bool FEnabled = true;
  uint32_t FInterval = 1000;
  TNotifyEvent FOnTimer;
  int64_t FTimerId = 0;
};
