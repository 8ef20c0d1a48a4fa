// A scripted mixer for tests: device count, open failure, a missing speakers line, a line without
// a volume control, details that cannot be read or written, and the value itself. While a
// TScopedMixerDouble lives, the mixer functions answer from it for the whole process and report
// every call to it, so a test can check the exact sequence and the values passed.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include <qx/platform/mixer/MixerDevice.h>

class TMixerDouble : public TMixerSource {
 public:
  TMixerDouble();

  void SetDeviceCount(UINT n);          // default 1
  void FailOpen(MMRESULT code);         // MMSYSERR_NOERROR = open works (default)
  void SetSpeakersLine(bool present);   // default true
  void SetVolumeControl(bool present);  // default true
  void FailGetDetails(MMRESULT code);   // MMSYSERR_NOERROR = reads work (default)
  void FailSetDetails(MMRESULT code);   // MMSYSERR_NOERROR = writes work (default)
  // The control's value, 0..65535 (default 0), as another program would set it.
  void SetValue(DWORD value);
  // Whether handles may watch for changes (CALLBACK_WINDOW); each SetValue then tells them, on
  // the calling thread. Default false: mixerOpen refuses the callback.
  void ReportChanges(bool on);
  DWORD Value() const;

  // The mixer functions called, in order, by name; and the same calls with their arguments.
  std::vector<String> Calls() const;
  std::vector<TMixerCall> CallLog() const;
  void ClearCalls();
  // Handles opened from this double and not yet closed.
  int OpenHandles() const;

  UINT NumDevs() override;
  MMRESULT Open(UINT id, std::unique_ptr<TMixerDevice>& device) override;
  void Record(const TMixerCall& call) override;

  struct TState;

 private:
  // Shared with the devices it opened, so a handle left open outlives the double safely.
  std::shared_ptr<TState> FState;
};

// Installs a TMixerDouble for the process while alive. Guards nest: each puts back what was
// installed before it, so they must end in reverse order of creation.
class TScopedMixerDouble {
 public:
  TScopedMixerDouble();
  ~TScopedMixerDouble();
  TScopedMixerDouble(const TScopedMixerDouble&) = delete;
  TScopedMixerDouble& operator=(const TScopedMixerDouble&) = delete;

  TMixerDouble& operator*() { return FDouble; }
  TMixerDouble* operator->() { return &FDouble; }

 private:
  TMixerDouble FDouble;
  TMixerSource* FPrevious;
};
