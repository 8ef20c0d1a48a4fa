#include "AudioSetup.h"

#include <chrono>
#include <memory>

#include <qx/platform/mixer/AlsaMixer.h>
#include <qx/platform/mixer/MixerDevice.h>
#include <qx/platform/mixer/SoundServerProbe.h>
#include <qx/platform/mixer/SysVersion.h>

namespace {

constexpr std::chrono::milliseconds kProbeTimeout{2000};

// The legacy path needs a mixer with a speakers line that has a volume control.
bool MixerAnswers() {
  TMixerSource& source = AlsaMixerSource();
  if (source.NumDevs() == 0) return false;
  std::unique_ptr<TMixerDevice> device;
  if (source.Open(0, device) != 0 || !device) return false;
  TSpeakersLine line;
  return device->Speakers(line) == 0 && line.HasVolume;
}

}  // namespace

String SetUpAudio(TAudioChoice choice, const String& device, String& note) {
  if (choice != TAudioChoice::Alsa && SoundServerAnswers(kProbeTimeout)) {
    SetWin32Version(10, 0);
    return "";
  }
  if (choice == TAudioChoice::Pulse)
    return "--audio pulse: no sound server answers (is PulseAudio or PipeWire running?)";
  if (MixerAnswers() || (choice == TAudioChoice::Alsa && !device.empty())) {
    SetWin32Version(5, 1);
    return "";
  }
  if (choice == TAudioChoice::Alsa)
    return "--audio alsa: no ALSA mixer with a volume control on device \"default\"";
  // The endpoint path with no endpoint: commands are taken and do nothing.
  SetWin32Version(10, 0);
  note = "no sound server and no ALSA mixer answer: running without audio";
  return "";
}
