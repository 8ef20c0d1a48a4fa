#include <qx/platform/mixer/MixerDouble.h>

#include <map>

struct TMixerDouble::TState {
  mutable std::mutex Lock;
  UINT DeviceCount = 1;
  MMRESULT OpenResult = MMSYSERR_NOERROR;
  bool SpeakersLine = true;
  bool VolumeControl = true;
  MMRESULT GetResult = MMSYSERR_NOERROR;
  MMRESULT SetResult = MMSYSERR_NOERROR;
  DWORD Value = 0;
  int OpenHandles = 0;
  std::vector<TMixerCall> Calls;
  bool ReportChanges = false;
  std::map<const void*, std::function<void()>> Watchers;  // by device
};

namespace {

class TScriptedMixer : public TMixerDevice {
 public:
  explicit TScriptedMixer(std::shared_ptr<TMixerDouble::TState> state) : FState(std::move(state)) {
    std::lock_guard lock(FState->Lock);
    ++FState->OpenHandles;
  }
  ~TScriptedMixer() override {
    std::lock_guard lock(FState->Lock);
    --FState->OpenHandles;
    FState->Watchers.erase(this);
  }

  MMRESULT Speakers(TSpeakersLine& line) override {
    std::lock_guard lock(FState->Lock);
    if (!FState->SpeakersLine) return MIXERR_INVALLINE;
    line.Name = "Master";
    line.Channels = 2;
    line.HasVolume = FState->VolumeControl;
    line.Steps = 65535;
    return MMSYSERR_NOERROR;
  }
  MMRESULT GetVolume(DWORD& value) override {
    std::lock_guard lock(FState->Lock);
    if (FState->GetResult == MMSYSERR_NOERROR) value = FState->Value;
    return FState->GetResult;
  }
  MMRESULT SetVolume(DWORD value) override {
    std::lock_guard lock(FState->Lock);
    if (FState->SetResult == MMSYSERR_NOERROR) FState->Value = value;
    return FState->SetResult;
  }
  bool Watch(std::function<void()> changed) override {
    std::lock_guard lock(FState->Lock);
    if (!FState->ReportChanges) return false;
    FState->Watchers[this] = std::move(changed);
    return true;
  }

 private:
  std::shared_ptr<TMixerDouble::TState> FState;
};

}  // namespace

TMixerDouble::TMixerDouble() : FState(std::make_shared<TState>()) {}

namespace {

template <class T>
void Store(TMixerDouble::TState& state, T TMixerDouble::TState::*field, T value) {
  std::lock_guard lock(state.Lock);
  state.*field = value;
}

}  // namespace

void TMixerDouble::SetDeviceCount(UINT n) {
  Store(*FState, &TState::DeviceCount, n);
}
void TMixerDouble::FailOpen(MMRESULT code) {
  Store(*FState, &TState::OpenResult, code);
}
void TMixerDouble::SetSpeakersLine(bool present) {
  Store(*FState, &TState::SpeakersLine, present);
}
void TMixerDouble::SetVolumeControl(bool present) {
  Store(*FState, &TState::VolumeControl, present);
}
void TMixerDouble::FailGetDetails(MMRESULT code) {
  Store(*FState, &TState::GetResult, code);
}
void TMixerDouble::FailSetDetails(MMRESULT code) {
  Store(*FState, &TState::SetResult, code);
}
void TMixerDouble::SetValue(DWORD value) {
  std::vector<std::function<void()>> watchers;
  {
    std::lock_guard lock(FState->Lock);
    FState->Value = value;
    for (auto& [device, w] : FState->Watchers) watchers.push_back(w);
  }
  for (auto& w : watchers) w();
}

void TMixerDouble::ReportChanges(bool on) {
  Store(*FState, &TState::ReportChanges, on);
}

DWORD TMixerDouble::Value() const {
  std::lock_guard lock(FState->Lock);
  return FState->Value;
}

std::vector<String> TMixerDouble::Calls() const {
  std::lock_guard lock(FState->Lock);
  std::vector<String> names;
  for (const TMixerCall& c : FState->Calls) names.push_back(c.Name);
  return names;
}

std::vector<TMixerCall> TMixerDouble::CallLog() const {
  std::lock_guard lock(FState->Lock);
  return FState->Calls;
}

void TMixerDouble::ClearCalls() {
  std::lock_guard lock(FState->Lock);
  FState->Calls.clear();
}

int TMixerDouble::OpenHandles() const {
  std::lock_guard lock(FState->Lock);
  return FState->OpenHandles;
}

UINT TMixerDouble::NumDevs() {
  std::lock_guard lock(FState->Lock);
  return FState->DeviceCount;
}

MMRESULT TMixerDouble::Open(UINT id, std::unique_ptr<TMixerDevice>& device) {
  {
    std::lock_guard lock(FState->Lock);
    if (id >= FState->DeviceCount) return MMSYSERR_BADDEVICEID;
    if (FState->OpenResult != MMSYSERR_NOERROR) return FState->OpenResult;
  }
  device = std::make_unique<TScriptedMixer>(FState);
  return MMSYSERR_NOERROR;
}

void TMixerDouble::Record(const TMixerCall& call) {
  std::lock_guard lock(FState->Lock);
  FState->Calls.push_back(call);
}

TScopedMixerDouble::TScopedMixerDouble() : FPrevious(InstallMixerSource(&FDouble)) {}

TScopedMixerDouble::~TScopedMixerDouble() {
  InstallMixerSource(FPrevious);
}
