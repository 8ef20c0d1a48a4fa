// The volume component's use of the mixer functions, step by step: open device 0, find the
// speakers line and its volume control, read or write the value (one uniform channel), close.
// Each step's result is kept in order; a failed step ends the finding. Shared by the unit and
// integration tests and the mixer benchmark.
#pragma once

#include <vector>

#include <qx/platform/mixer/mmsystem.h>

class TMixerCaller {
 public:
  std::vector<MMRESULT> Codes;  // open, line, controls (as far as they got), reads, writes, close
  MIXERLINEW Line{};
  MIXERCONTROLW Control{};

  TMixerCaller() {
    if (!Step(mixerOpen(&FHandle, 0, 0, 0, 0))) return;
    FOpen = true;
    Line.cbStruct = sizeof Line;
    Line.dwComponentType = MIXERLINE_COMPONENTTYPE_DST_SPEAKERS;
    if (!Step(mixerGetLineInfoW(Obj(), &Line, MIXER_GETLINEINFOF_COMPONENTTYPE))) return;
    MIXERLINECONTROLSW controls{};
    controls.cbStruct = sizeof controls;
    controls.dwLineID = Line.dwLineID;
    controls.dwControlType = MIXERCONTROL_CONTROLTYPE_VOLUME;
    controls.cControls = 1;
    controls.cbmxctrl = sizeof Control;
    controls.pamxctrl = &Control;
    FFound = Step(mixerGetLineControlsW(Obj(), &controls, MIXER_GETLINECONTROLSF_ONEBYTYPE));
  }
  ~TMixerCaller() { Close(); }
  TMixerCaller(const TMixerCaller&) = delete;
  TMixerCaller& operator=(const TMixerCaller&) = delete;

  bool Found() const { return FFound; }
  MMRESULT Read(DWORD& value) { return Details(value, false); }
  MMRESULT Write(DWORD value) { return Details(value, true); }
  void Close() {
    if (FOpen) Step(mixerClose(FHandle));
    FOpen = false;
  }

 private:
  HMIXEROBJ Obj() const { return reinterpret_cast<HMIXEROBJ>(FHandle); }
  bool Step(MMRESULT r) {
    Codes.push_back(r);
    return r == MMSYSERR_NOERROR;
  }
  MMRESULT Details(DWORD& value, bool write) {
    if (!FFound) return Codes.back();
    MIXERCONTROLDETAILS_UNSIGNED detail{write ? value : 0};
    MIXERCONTROLDETAILS d{};
    d.cbStruct = sizeof d;
    d.dwControlID = Control.dwControlID;
    d.cChannels = 1;
    d.cbDetails = sizeof detail;
    d.paDetails = &detail;
    const MMRESULT r = write ? mixerSetControlDetails(Obj(), &d, MIXER_SETCONTROLDETAILSF_VALUE)
                             : mixerGetControlDetailsW(Obj(), &d, MIXER_GETCONTROLDETAILSF_VALUE);
    Step(r);
    if (!write && r == MMSYSERR_NOERROR) value = detail.dwValue;
    return r;
  }

  HMIXER FHandle = nullptr;
  bool FOpen = false;
  bool FFound = false;
};
