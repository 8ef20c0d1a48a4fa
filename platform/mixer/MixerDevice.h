// One opened mixer as the mixer functions see it: at most one destination line (the speakers)
// with at most one control, its volume, in the 0..65535 scale of the mixer functions. The ALSA
// mixer and the scripted test mixer each provide one; MixerCalls.cpp turns it into the Windows
// structures and result codes.
#pragma once

#include <functional>
#include <memory>

#include <qx/framework/core/System.h>
#include <qx/platform/mixer/mmsystem.h>

struct TSpeakersLine {
  String Name;         // the element's name, e.g. "Master"
  DWORD Channels = 1;  // playback channels of the element
  bool HasVolume = false;
  DWORD Steps = 0;  // distinct volume settings the element has, less one
};

class TMixerDevice {
 public:
  virtual ~TMixerDevice() = default;
  // MIXERR_INVALLINE when the mixer has no speakers line.
  virtual MMRESULT Speakers(TSpeakersLine& line) = 0;
  // The loudest channel's volume, scaled to 0..65535.
  virtual MMRESULT GetVolume(DWORD& value) = 0;
  // value in 0..65535, set on every channel.
  virtual MMRESULT SetVolume(DWORD value) = 0;
  // From now until the device is destroyed, changed is called (on a thread of the mixer's own)
  // each time what GetVolume or Speakers answer changes by someone else's hand, or the mixer
  // comes or goes. False when this mixer cannot report changes.
  virtual bool Watch(std::function<void()> changed) {
    (void)changed;
    return false;
  }
};

// One call of a mixer function as the caller made it: the structure fields that steer it and
// its result. Fields a function does not take stay 0.
struct TMixerCall {
  String Name;          // "mixerOpen", "mixerGetLineInfoW", ...
  UINT_PTR Object = 0;  // hmxobj, the handle closed, or mixerOpen's uMxId
  DWORD Flags = 0;      // fdwOpen, fdwInfo, fdwControls or fdwDetails
  DWORD CbStruct = 0;
  DWORD ComponentType = 0;
  DWORD LineID = 0;
  DWORD ControlType = 0;  // dwControlType or dwControlID (one field in the structure)
  DWORD ControlID = 0;    // MIXERCONTROLDETAILS::dwControlID
  DWORD Controls = 0;     // cControls
  DWORD CbControl = 0;    // cbmxctrl
  DWORD Channels = 0;
  DWORD MultipleItems = 0;
  DWORD CbDetails = 0;
  DWORD Value = 0;      // the detail value passed to mixerSetControlDetails
  MMRESULT Result = 0;  // for mixerGetNumDevs, the count
};

// Where opened mixers come from: the ALSA mixer, or the scripted one a test installed.
class TMixerSource {
 public:
  virtual ~TMixerSource() = default;
  virtual UINT NumDevs() = 0;
  virtual MMRESULT Open(UINT id, std::unique_ptr<TMixerDevice>& device) = 0;
  // A mixer device by name (mixerGetIDByName); the scripted mixer has none.
  virtual MMRESULT OpenNamed(const String& name, std::unique_ptr<TMixerDevice>& device) {
    (void)name;
    (void)device;
    return MMSYSERR_NODRIVER;
  }
  // Sees every call made while this source is installed.
  virtual void Record(const TMixerCall&) {}
};

// Installs source for the whole process (nullptr: back to ALSA) and returns the one it replaces.
TMixerSource* InstallMixerSource(TMixerSource* source);
