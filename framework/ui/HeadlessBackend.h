// The virtual desktop back end: windows exist as state only; their frames stay with the forms.
#pragma once

#include <functional>
#include <vector>

#include <qx/framework/ui/VirtualDesktop.h>

class THeadlessWindow;

class THeadlessBackend : public TWindowBackend {
 public:
  explicit THeadlessBackend(const TVirtualDesktop& desktop) : FDesktop(desktop) {}
  const char* Name() const override { return "headless"; }
  std::unique_ptr<TBackendWindow> CreateWindow(IWindowEvents& events,
                                               const TWindowDesc& desc) override;
  TPoint ScreenSize() override { return {FDesktop.Width, FDesktop.Height}; }
  bool TaskbarRect(TRect& r) override;

  void SetDesktop(const TVirtualDesktop& d) { FDesktop = d; }
  const TVirtualDesktop& Desktop() const { return FDesktop; }

  // Stacking order, bottom to top.
  std::vector<THeadlessWindow*> Stack;
  THeadlessWindow* ActiveWindow = nullptr;
  void Raise(THeadlessWindow* w);

  // The state of the window made for `events`; nullptr when it has none here.
  const TVirtualWindowState* StateOf(const IWindowEvents& events) const;
  // Whoever made each window, bottom to top.
  std::vector<IWindowEvents*> Stacking() const;
  // Called each time a frame of a visible window is shown (empty: nothing is called).
  std::function<void(IWindowEvents&)> PresentHook;

 private:
  TVirtualDesktop FDesktop;
};

// The one virtual desktop of the process (created on first use).
THeadlessBackend& HeadlessBackend();
