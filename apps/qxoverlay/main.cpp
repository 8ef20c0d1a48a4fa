// qxoverlay: renders the volume overlay exactly as its form shows it, to a PNG file or on the
// display.
#include <chrono>
#include <cstdio>

#include <qx/framework/app/Application.h>
#include <qx/framework/ui/FontLeakSuppression.h>
#include <qx/framework/ui/WindowBackend.h>
#include <qx/master_volume/QxMasterVol.h>
#include <qx/master_volume/frmVolumeU.h>
#include "OverlayOptions.h"

namespace {

// What the volume component does each time it shows the overlay.
void ShowOverlay(TfrmVolume* form, const TOverlayOptions& o) {
  form->ShowLevel(o.Volume, o.Mute, o.Align);
}

// The volume component reads the device's level and mute, and says whether it records.
String ReadDevice(TOverlayOptions& o, TOwned<TComponent>& root, bool& capture) {
  root.reset(new TComponent(nullptr));
  auto* v = new TQxMasterVol(root.get());
  v->SetFAudioDevice(*o.Device);
  if (!v->DevicePresent()) return "no device " + *o.Device;
  o.Volume = v->Volume();
  o.Mute = v->GetMute();
  capture = v->CaptureDevice();
  return "";
}

int Run(TOverlayOptions& o) {
  if (!o.Show || o.DesktopGiven) {
    if (o.Show) {
      std::fprintf(stderr,
                   "qxoverlay: --screen and --taskbar describe a virtual desktop; "
                   "--show uses the real one\n");
      return 2;
    }
    UseVirtualDesktop(o.Desktop);
  } else {
    String error, why;
    if (!ChooseWindowBackend(o.Display, o.Output, error, why)) {
      std::fprintf(stderr, "qxoverlay: %s\n", error.c_str());
      return 1;
    }
    if (UsingVirtualDesktop()) {
      std::fprintf(stderr, "qxoverlay: --show needs a display (%s)\n", why.c_str());
      return 1;
    }
  }

  TOwned<TComponent> root;
  bool capture = false;
  if (o.Device) {
    if (String e = ReadDevice(o, root, capture); !e.empty()) {
      std::fprintf(stderr, "qxoverlay: %s\n", e.c_str());
      return 1;
    }
  }
  // The volume component made the process's one form already when it read the device.
  auto* form = frmVolume != nullptr ? frmVolume : new TfrmVolume(Application);
  frmVolume = form;
  form->ShowCapture(capture);
  form->SetScaled(false);
  form->SetTransparentColorValue(clFuchsia);
  form->SetTransparentColor(true);
  form->SetCaption("VOLUME");
  form->barsColor = o.BarsColor;
  form->dotsColor = o.DotsColor;
  form->imgWiFi->SetVisible(o.WiFi);
  ShowOverlay(form, o);

  if (!o.Png.empty()) {
    form->Update();
    if (!form->TranslucentFrame().SaveToFile(o.Png)) {
      std::fprintf(stderr, "qxoverlay: cannot write %s\n", o.Png.c_str());
      return 1;
    }
  }
  if (o.Show) {
    // The hold and the fade run on the form's timers; the form hides itself at the end.
    while (form->Visible()) Application->HandleMessage(std::chrono::milliseconds(100));
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  TOverlayOptions o;
  if (int status = ParseOverlayOptions(argc, argv, o); status >= 0) return status;
  try {
    return Run(o);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "qxoverlay: %s\n", e.what());
    return 1;
  }
}
