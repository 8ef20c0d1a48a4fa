// Shared by the overlay tests: a fresh overlay form on a chosen virtual desktop, and the steps
// the volume component takes each time it shows the overlay.
#pragma once

#include <gtest/gtest.h>

#include <qx/framework/ui/Desktop.h>
#include <qx/master_volume/frmVolumeU.h>
#include "overlay_step.h"

// Exposes the taskbar probe.
class TProbedFrmVolume : public TfrmVolume {
 public:
  using TfrmVolume::GetTaskBarInfo;
  using TfrmVolume::TfrmVolume;
  TCreateParams Params() {
    TCreateParams p;
    CreateParams(p);
    return p;
  }
};

class OverlayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Fvol = 0;
    FMute = false;
  }
  void TearDown() override {
    frmVolume = nullptr;
    form.reset();
    Fvol = 0;
    FMute = false;
  }

  // A desktop `screenWidth` wide (1080 high) with the taskbar given as "edge:size" or "none".
  void MakeForm(int32_t screenWidth = 1920, const char* taskbar = "bottom:40",
                int32_t screenHeight = 1080) {
    TVirtualDesktop d;
    d.Width = screenWidth;
    d.Height = screenHeight;
    ASSERT_TRUE(ParseTaskbar(taskbar, d));
    MakeForm(d);
  }
  void MakeForm(const TVirtualDesktop& d) {
    UseVirtualDesktop(d);
    form.reset(new TProbedFrmVolume(nullptr));
    frmVolume = form.get();
    form->SetTransparentColorValue(clFuchsia);
    form->SetTransparentColor(true);
  }

  void ShowOverlay(int32_t volume, bool mute = false, TAlign align = alBottom) {
    ShowOverlayStep(form.get(), volume, mute, align);
    form->Update();
  }

  // A pixel of the bar panel's client area in the current frame.
  TColor PanelPixel(int32_t x, int32_t y) {
    TPoint o = form->pnlVol->FormOrigin();
    return form->Frame().Pixel(o.X + x, o.Y + y);
  }

  TOwned<TProbedFrmVolume> form;
};
