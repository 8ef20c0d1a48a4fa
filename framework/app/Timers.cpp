#include <qx/framework/app/Timers.h>

#include <chrono>

#include <qx/framework/app/Application.h>

QX_DEFINE_CLASS(TTimer, TComponent, [](TPropsBuilder<TTimer>& b) {
  b.Boolean("Enabled", &TTimer::Enabled, &TTimer::SetEnabled, true);
  b.Integer("Interval", &TTimer::Interval, &TTimer::SetInterval, 1000);
  b.Event<TNotifyEvent>("OnTimer", &TTimer::OnTimer, &TTimer::SetOnTimer);
})

TTimer::TTimer(TComponent* AOwner) : TComponent(AOwner) {}

TTimer::~TTimer() {
  if (FTimerId != 0) Application->CancelTimer(FTimerId);
}

void TTimer::SetEnabled(bool value) {
  FEnabled = value;
  UpdateTimer();
}

void TTimer::SetInterval(uint32_t value) {
  FInterval = value;
  UpdateTimer();
}

void TTimer::SetOnTimer(const TNotifyEvent& value) {
  FOnTimer = value;
  UpdateTimer();
}

void TTimer::Loaded() {
  TComponent::Loaded();
  UpdateTimer();
}

void TTimer::Timer() {
  // A copy: the handler may free the timer, and its own callable with it.
  TNotifyEvent handler = FOnTimer;
  handler(this);
}

// Restarts the period from now, or stops the timer when it has nothing to do. Streaming waits
// for Loaded, so that a form file's property order does not start the timer half-configured.
void TTimer::UpdateTimer() {
  if (FTimerId != 0) {
    Application->CancelTimer(FTimerId);
    FTimerId = 0;
  }
  if (!FEnabled || FInterval == 0 || !FOnTimer.Assigned() || IsDesigning() || IsLoading()) return;
  FTimerId = Application->StartTimer(std::chrono::milliseconds(FInterval), [this] { Tick(); });
}

// The next period is armed before the handler runs, so the handler may disable, restart or free
// the timer: each of those cancels the armed tick, and nothing here touches the object after
// the handler.
void TTimer::Tick() {
  FTimerId = 0;
  UpdateTimer();
  if (FTimerId == 0) return;
  Timer();
}
