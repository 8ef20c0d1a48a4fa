// The version split and the legacy mixer: naming the running system from the run-time version
// numbers, and reading and writing the speakers' volume control through the mixer functions.
#include <qx/framework/ui/Dialogs.h>
#include <qx/master_volume/QxMasterVol.h>
#include <qx/platform/mixer/SysVersion.h>
#include <qx/platform/mixer/mmsystem.h>

namespace {

struct TVersionName {
  int Major;
  int Minor;
  const char* Name;
};

constexpr TVersionName kVersionNames[] = {
    {4, 0, "Windows 95"},  {4, 10, "Windows 98"},   {4, 90, "Windows ME"}, {5, 0, "Windows 2000"},
    {5, 1, "Windows XP"},  {6, 0, "Windows Vista"}, {6, 1, "Windows 7"},   {6, 2, "Windows 8"},
    {6, 3, "Windows 8.1"}, {10, 0, "Windows 10"},
};

HMIXEROBJ MixerObject(HMIXER mixer) {
  // The object-type bits of the flags stay zero: the handle is taken as a mixer handle.
  return reinterpret_cast<HMIXEROBJ>(mixer);
}

// The speakers destination line of an open mixer.
MMRESULT FindSpeakersLine(HMIXER mixer, MIXERLINEW& line) {
  line = MIXERLINEW{};
  // 280 bytes in the platform's 32-bit layout; the pointer-sized user field widens it here.
  line.cbStruct = sizeof(MIXERLINEW);
  line.dwComponentType = MIXERLINE_COMPONENTTYPE_DST_SPEAKERS;
  return mixerGetLineInfoW(MixerObject(mixer), &line, MIXER_GETLINEINFOF_COMPONENTTYPE);
}

// The volume control of a line.
MMRESULT FindVolumeControl(HMIXER mixer, const MIXERLINEW& line, MIXERCONTROLW& control) {
  control = MIXERCONTROLW{};
  MIXERLINECONTROLSW controls{};
  // 24 and 228 bytes in the 32-bit layout; the control pointer widens the first one here.
  controls.cbStruct = sizeof(MIXERLINECONTROLSW);
  controls.dwLineID = line.dwLineID;
  controls.dwControlType = MIXERCONTROL_CONTROLTYPE_VOLUME;
  controls.cControls = 1;
  controls.cbmxctrl = sizeof(MIXERCONTROLW);
  controls.pamxctrl = &control;
  return mixerGetLineControlsW(MixerObject(mixer), &controls, MIXER_GETLINECONTROLSF_ONEBYTYPE);
}

// One uniform channel, one unsigned value.
MIXERCONTROLDETAILS ValueDetails(const MIXERCONTROLW& control,
                                 MIXERCONTROLDETAILS_UNSIGNED& value) {
  MIXERCONTROLDETAILS details{};
  // 24 bytes in the 32-bit layout; the detail pointer widens it here.
  details.cbStruct = sizeof(MIXERCONTROLDETAILS);
  details.dwControlID = control.dwControlID;
  details.cChannels = 1;
  details.cMultipleItems = 0;
  details.cbDetails = sizeof(MIXERCONTROLDETAILS_UNSIGNED);
  details.paDetails = &value;
  return details;
}

}  // namespace

String TQxMasterVol::GetWindowsVersion() {
  const int major = Win32MajorVersion();
  const int minor = Win32MinorVersion();
  String name = "Unknown (Windows " + IntToStr(major) + "." + IntToStr(minor) + ")";
  for (const TVersionName& v : kVersionNames)
    if (v.Major == major && v.Minor == minor) name = v.Name;
  return name;
}

bool TQxMasterVol::GetWinXPMasterVolume(uint16_t& value) {
  // A named mixer device is counted apart from the first card's; its open says whether it is there.
  if (FMixerId == 0 && mixerGetNumDevs() < 1) return false;
  HMIXER mixer = nullptr;
  if (mixerOpen(&mixer, FMixerId, 0, 0, 0) != MMSYSERR_NOERROR) return false;
  MIXERLINEW line;
  if (FindSpeakersLine(mixer, line) != MMSYSERR_NOERROR) {
    mixerClose(mixer);
    return false;
  }
  MIXERCONTROLW control;
  if (FindVolumeControl(mixer, line, control) != MMSYSERR_NOERROR) {
    ShowMessage("GetLineInfo Error");
    mixerClose(mixer);
    return false;
  }
  MIXERCONTROLDETAILS_UNSIGNED detail{};
  MIXERCONTROLDETAILS details = ValueDetails(control, detail);
  if (mixerGetControlDetailsW(MixerObject(mixer), &details, MIXER_GETCONTROLDETAILSF_VALUE) !=
      MMSYSERR_NOERROR) {
    ShowMessage("GetControlDetails Error");
    mixerClose(mixer);
    return false;
  }
  value = static_cast<uint16_t>(detail.dwValue & 0xFFFF);
  mixerClose(mixer);
  return true;
}

uint32_t TQxMasterVol::SetWinXPMasterVolume(uint16_t value) {
  HMIXER mixer = nullptr;
  MMRESULT result = mixerOpen(&mixer, FMixerId, 0, 0, 0);
  if (result != MMSYSERR_NOERROR) return result;
  MIXERLINEW line;
  MIXERCONTROLW control;
  result = FindSpeakersLine(mixer, line);
  if (result == MMSYSERR_NOERROR) result = FindVolumeControl(mixer, line, control);
  if (result == MMSYSERR_NOERROR) {
    MIXERCONTROLDETAILS_UNSIGNED detail{};
    detail.dwValue = value;
    MIXERCONTROLDETAILS details = ValueDetails(control, detail);
    result = mixerSetControlDetails(MixerObject(mixer), &details, MIXER_SETCONTROLDETAILSF_VALUE);
  }
  mixerClose(mixer);
  return result;
}
