#include <qx/platform/audio/EndpointObjects.h>

#include <utility>

namespace {

using TBackendPtr = std::shared_ptr<TEndpointBackend>;

class TEndpointVolume : public TInterfacedObjectOf<IAudioEndpointVolume> {
 public:
  explicit TEndpointVolume(TBackendPtr backend) : FBackend(std::move(backend)) {}

  HRESULT RegisterControlChangeNotify(IAudioEndpointVolumeCallback* pNotify) override {
    return FBackend->Register(pNotify);
  }
  HRESULT UnregisterControlChangeNotify(IAudioEndpointVolumeCallback* pNotify) override {
    return FBackend->Unregister(pNotify);
  }
  HRESULT GetChannelCount(UINT* pnChannelCount) override {
    if (pnChannelCount == nullptr) return E_POINTER;
    return FBackend->GetChannelCount(*pnChannelCount);
  }
  HRESULT SetMasterVolumeLevelScalar(float fLevel, LPCGUID) override {
    if (std::isnan(fLevel) || fLevel < 0.0f || fLevel > 1.0f) return E_INVALIDARG;
    return FBackend->SetLevel(fLevel);
  }
  HRESULT GetMasterVolumeLevelScalar(float* pfLevel) override {
    if (pfLevel == nullptr) return E_POINTER;
    return FBackend->GetLevel(*pfLevel);
  }
  HRESULT SetMute(BOOL bMute, LPCGUID) override { return FBackend->SetMute(bMute != 0); }
  HRESULT GetMute(BOOL* pbMute) override {
    if (pbMute == nullptr) return E_POINTER;
    bool mute = false;
    const HRESULT hr = FBackend->GetMute(mute);
    if (SUCCEEDED(hr)) *pbMute = mute ? 1 : 0;
    return hr;
  }
  HRESULT GetVolumeStepInfo(UINT* pnStep, UINT* pnStepCount) override {
    if (pnStep == nullptr || pnStepCount == nullptr) return E_POINTER;
    float level = 0.0f;
    const HRESULT hr = FBackend->GetLevel(level);
    if (FAILED(hr)) return hr;
    *pnStep = static_cast<UINT>(std::lround(level / TEndpointBackend::StepSize));
    *pnStepCount = TEndpointBackend::StepCount;
    return S_OK;
  }
  HRESULT VolumeStepUp(LPCGUID) override { return FBackend->StepLevel(+1); }
  HRESULT VolumeStepDown(LPCGUID) override { return FBackend->StepLevel(-1); }

 private:
  TBackendPtr FBackend;
};

class TEndpointDevice : public TInterfacedObjectOf<IMMDevice> {
 public:
  explicit TEndpointDevice(TBackendPtr backend) : FBackend(std::move(backend)) {}

  HRESULT Activate(REFIID iid, DWORD, void* pActivationParams, void** ppInterface) override {
    if (ppInterface == nullptr) return E_POINTER;
    *ppInterface = nullptr;
    if (pActivationParams != nullptr) return E_INVALIDARG;
    if (!(iid == IID_IAudioEndpointVolume)) return E_NOINTERFACE;
    auto* volume = new TEndpointVolume(FBackend);
    return volume->QueryInterface(iid, ppInterface);
  }

 private:
  TBackendPtr FBackend;
};

class TEndpointEnumerator : public TInterfacedObjectOf<IMMDeviceEnumerator> {
 public:
  explicit TEndpointEnumerator(TBackendPtr backend) : FBackend(std::move(backend)) {}

  HRESULT GetDefaultAudioEndpoint(EDataFlow dataFlow, ERole role, IMMDevice** ppEndpoint) override {
    if (ppEndpoint == nullptr) return E_POINTER;
    *ppEndpoint = nullptr;
    if (dataFlow != eRender && dataFlow != eCapture) return E_INVALIDARG;
    if (role != eConsole && role != eMultimedia && role != eCommunications) return E_INVALIDARG;
    // Only output devices stand behind these endpoints.
    if (dataFlow == eCapture) return E_NOTFOUND;
    const HRESULT hr = FBackend->DefaultDevice();
    if (FAILED(hr)) return hr;
    auto* device = new TEndpointDevice(FBackend);
    device->AddRef();
    *ppEndpoint = device;
    return S_OK;
  }

 private:
  TBackendPtr FBackend;
};

}  // namespace

IMMDeviceEnumerator* NewEndpointEnumerator(std::shared_ptr<TEndpointBackend> backend) {
  auto* e = new TEndpointEnumerator(std::move(backend));
  e->AddRef();
  return e;
}
