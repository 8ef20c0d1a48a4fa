// The virtual desktop back end: windows exist as state only; their frames stay with the forms.
#pragma once

#include <vector>

#include "framework/ui/Desktop.h"

class THeadlessWindow;

class THeadlessBackend : public TWindowBackend {
 public:
  explicit THeadlessBackend(const TVirtualDesktop& desktop) : FDesktop(desktop) {}
  const char* Name() const override { return "headless"; }
  std::unique_ptr<TBackendWindow> CreateWindow(TCustomForm& form,
                                               const TCreateParams& params) override;
  TPoint ScreenSize() override { return {FDesktop.Width, FDesktop.Height}; }
  bool TaskbarRect(TRect& r) override;

  void SetDesktop(const TVirtualDesktop& d) { FDesktop = d; }
  const TVirtualDesktop& Desktop() const { return FDesktop; }

  // Stacking order, bottom to top.
  std::vector<THeadlessWindow*> Stack;
  THeadlessWindow* ActiveWindow = nullptr;
  void Raise(THeadlessWindow* w);

 private:
  TVirtualDesktop FDesktop;
};

// The one virtual desktop of the process (created on first use).
THeadlessBackend& HeadlessBackend();
