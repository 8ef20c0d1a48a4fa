// qxvolume: the master volume component from the shell: get, set, step and mute the system
// volume, or follow every change made by any program.
#include <alsa/asoundlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include <qx/framework/app/Application.h>
#include <qx/framework/ui/Desktop.h>
#include <qx/framework/ui/Dialogs.h>
#include <qx/framework/ui/FontLeakSuppression.h>
#include <qx/framework/ui/WindowBackend.h>
#include <qx/master_volume/QxMasterVol.h>
#include <qx/master_volume/frmVolumeU.h>
#include <qx/platform/audio/AudioDevices.h>
#include <qx/platform/mixer/MixerControls.h>
#include <qx/platform/mixer/SysVersion.h>
#include "VolumeOptions.h"
#include "apps/common/EventOutput.h"
#include "apps/common/OutputQueue.h"
#include "apps/common/StopSignals.h"

namespace {

// The component with the inner steps the program needs.
class TShellVolume : public TQxMasterVol {
 public:
  using TQxMasterVol::CaptureDevice;
  using TQxMasterVol::EndpointOpen;
  using TQxMasterVol::GetActualVolume;
  using TQxMasterVol::GetWinXPMasterVolume;
  using TQxMasterVol::LegacyPath;
  using TQxMasterVol::ShowFrmVolume;
  using TQxMasterVol::TQxMasterVol;
};

int Fail(const String& text) {
  std::fprintf(stderr, "qxvolume: %s\n", text.c_str());
  return 1;
}

// Where the overlay goes: a virtual desktop nobody sees unless it was asked for. The component
// raises OnAudioChange from its overlay step, so the overlay stays on even when not shown.
String ChooseDesktop(const TVolumeOptions& o) {
  if (!o.Overlay || o.Display == "none") {
    UseVirtualDesktop();
    return "";
  }
  if (o.Snapshot.empty()) {
    String error, why;
    if (!ChooseWindowBackend(o.Display, o.Output, error, why)) return error;
    return UsingVirtualDesktop()
               ? "--overlay needs a display (" + why + "); --snapshot DIR writes the frames instead"
               : "";
  }
  if (mkdir(o.Snapshot.c_str(), 0777) != 0 && errno != EEXIST)
    return "cannot make the folder " + o.Snapshot;
  UseVirtualDesktop();
  SetVirtualFrameHook([dir = o.Snapshot, n = 0](TCustomForm& form) mutable {
    if (&form != frmVolume) return;
    char name[32];
    std::snprintf(name, sizeof name, "/frame-%05d.png", ++n);
    if (!form.TranslucentFrame().SaveToFile(dir + name))
      std::fprintf(stderr, "qxvolume: cannot write %s%s\n", dir.c_str(), name);
  });
  return "";
}

int32_t Percent(TShellVolume* v) {
  return v->GetActualVolume();
}

// Both paths report other programs' changes through OnAudioChange; a named device's coming and
// going through OnDeviceChange.
int Follow(TShellVolume* v, TEventPrinter& out) {
  if (!v->AudioDevice().empty())
    out.Device(v->AudioDevice(), v->DevicePresent(), v->CaptureDevice());
  if (v->DevicePresent()) out.Audio(Percent(v), v->GetMute());
  v->SetFOnAudioChange(TOnAudioChange::Callable(
      [&](TObject*, int32_t volume, bool mute) { out.Audio(volume, mute); }));
  v->SetFOnDeviceChange(TOnDeviceChange::Callable([&](TObject*, const String& name, bool present) {
    out.Device(name, present, v->CaptureDevice());
  }));
  Application->Run();
  v->SetFOnAudioChange(TOnAudioChange());
  v->SetFOnDeviceChange(TOnDeviceChange());
  return 0;
}

String Flag(bool on, const char* word) {
  return on ? String(word) : String(std::strlen(word), ' ');
}

// The sinks and sources, or with --audio alsa the mixers' controls, one per line.
int ListDevices(const TVolumeOptions& o) {
  if (o.Audio == "alsa") {
    for (const TMixerControlInfo& c : ListMixerControls())
      if (o.Json)
        Emit("{\"name\":" + JsonString(c.Name) + ",\"card\":" + JsonString(c.CardName) +
             ",\"capture\":" + (c.Capture ? "true" : "false") + "}");
      else
        Emit(c.Name + "  " + Flag(c.Capture, "capture") + "  " + c.CardName);
    return 0;
  }
  std::vector<TAudioDeviceInfo> devices;
  String error;
  if (!ListAudioDevices(devices, error)) return Fail(error);
  for (const TAudioDeviceInfo& d : devices) {
    const char* kind = d.Source ? (d.Monitor ? "monitor" : "source") : "sink";
    if (o.Json)
      Emit("{\"name\":" + JsonString(d.Name) + ",\"description\":" + JsonString(d.Description) +
           ",\"kind\":\"" + kind + "\",\"default\":" + (d.Default ? "true" : "false") +
           ",\"volume\":" + IntToStr(d.Volume) + ",\"mute\":" + (d.Mute ? "true" : "false") + "}");
    else
      Emit(String(d.Default ? "* " : "  ") + kind + String(8 - std::strlen(kind), ' ') + d.Name +
           "  " + IntToStr(d.Volume) + "%  " + Flag(d.Mute, "muted") + "  " + d.Description);
  }
  return 0;
}

// ALSA prints its own complaints (no card, no such control) to standard error; the program says
// in one line what it could not reach instead.
void QuietAlsa(const char*, int, const char*, int, const char*, ...) {}

int Run(const TVolumeOptions& o) {
  snd_lib_error_set_handler(&QuietAlsa);
  if (o.Command == "devices") return ListDevices(o);
  if (o.Audio == "pulse") SetWin32Version(10, 0);
  if (o.Audio == "alsa") SetWin32Version(5, 1);
  if (String e = ChooseDesktop(o); !e.empty()) return Fail(e);
  // The mixer's modal messages become the one line of the failure.
  String shown;
  SetShowMessageHook([&](const String& s) { shown = s; });

  TOwned<TComponent> root(new TComponent(nullptr));
  auto* v = new TShellVolume(root.get());
  if (!o.Device.empty()) {
    v->SetFAudioDevice(o.Device);
    if (!v->DevicePresent()) {
      std::vector<TAudioDeviceInfo> devices;
      String error;
      if (!v->LegacyPath() && !ListAudioDevices(devices, error)) return Fail(error);
      // follow waits for the device to appear.
      if (o.Command != "follow")
        return Fail("no device " + o.Device + " (qxvolume devices" +
                    (v->LegacyPath() ? String(" --audio alsa") : String()) + " lists them)");
    }
  } else if (v->LegacyPath()) {
    uint16_t value;
    if (!v->GetWinXPMasterVolume(value))
      return Fail("no ALSA mixer with a speakers volume control" +
                  (shown.empty() ? String() : " (" + shown + ")"));
  } else if (!v->EndpointOpen()) {
    return Fail("no sound server answers (PulseAudio or PipeWire)");
  }
  SetShowMessageHook(nullptr);
  TEventPrinter out(o.Json);

  if (o.Command == "follow") return Follow(v, out);
  if (o.Command == "get") {
    if (o.Overlay) v->ShowFrmVolume();
    if (o.Json)
      out.Audio(Percent(v), v->GetMute());
    else
      Emit(IntToStr(Percent(v)) + (o.ShowMute && v->GetMute() ? " muted" : ""));
  } else {
    if (o.Command == "set") v->SetVolume(o.Volume);
    // A step of N percent goes through SetVolume, which keeps the volume within 0..100.
    const int32_t now = Percent(v);
    if (o.Command == "up" && o.Step == 0) v->VolumeUp();
    if (o.Command == "down" && o.Step == 0) v->VolumeDown();
    if (o.Command == "up" && o.Step > 0) v->SetVolume(std::min(100, now + o.Step));
    if (o.Command == "down" && o.Step > 0) v->SetVolume(std::max(0, now - o.Step));
    if (o.Command == "mute") {
      if (v->LegacyPath()) return Fail("the ALSA mixer path has no mute; use --audio pulse");
      v->Mute(o.MuteMode == "toggle" ? !v->GetMute() : o.MuteMode == "on");
    }
    out.Audio(Percent(v), v->GetMute());
  }
  // The overlay holds and fades on the form's timers and hides itself at the end.
  while (o.Overlay && frmVolume != nullptr && frmVolume->Visible() && !Application->Terminated())
    Application->HandleMessage(std::chrono::milliseconds(100));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  OutputQueue::SetProgram("qxvolume");
  TVolumeOptions o;
  if (int status = ParseVolumeOptions(argc, argv, o); status >= 0) return status;
  WatchStopSignals();  // first, so that every thread started later has the signals blocked
  int status;
  try {
    status = Run(o);
  } catch (const std::exception& e) {
    status = Fail(e.what());
  }
  return status;
}
