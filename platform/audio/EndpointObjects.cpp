#include <qx/platform/audio/EndpointObjects.h>

#include <utility>

#include <qx/platform/audio/DeviceNotifications.h>

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

class TEndpointFlow : public TInterfacedObjectOf<IMMEndpoint> {
 public:
  explicit TEndpointFlow(TBackendPtr backend) : FBackend(std::move(backend)) {}
  HRESULT GetDataFlow(EDataFlow* pDataFlow) override {
    if (pDataFlow == nullptr) return E_POINTER;
    *pDataFlow = FBackend->DataFlow();
    return S_OK;
  }

 private:
  TBackendPtr FBackend;
};

class TEndpointDevice : public TInterfacedObjectOf<IMMDevice> {
 public:
  explicit TEndpointDevice(TBackendPtr backend) : FBackend(std::move(backend)) {}

  HRESULT QueryInterface(REFIID riid, void** ppvObject) override {
    if (ppvObject != nullptr && riid == IID_IMMEndpoint)
      return (new TEndpointFlow(FBackend))->QueryInterface(riid, ppvObject);
    return TInterfacedObjectOf<IMMDevice>::QueryInterface(riid, ppvObject);
  }

  HRESULT Activate(REFIID iid, DWORD, void* pActivationParams, void** ppInterface) override {
    if (ppInterface == nullptr) return E_POINTER;
    *ppInterface = nullptr;
    if (pActivationParams != nullptr) return E_INVALIDARG;
    if (!(iid == IID_IAudioEndpointVolume)) return E_NOINTERFACE;
    auto* volume = new TEndpointVolume(FBackend);
    return volume->QueryInterface(iid, ppInterface);
  }
  HRESULT GetState(DWORD* pdwState) override {
    if (pdwState == nullptr) return E_POINTER;
    *pdwState =
        SUCCEEDED(FBackend->DefaultDevice()) ? DEVICE_STATE_ACTIVE : DEVICE_STATE_NOTPRESENT;
    return S_OK;
  }

 private:
  TBackendPtr FBackend;
};

class TEndpointEnumerator : public TInterfacedObjectOf<IMMDeviceEnumerator> {
 public:
  TEndpointEnumerator(TBackendPtr backend, TEndpointOpener opener)
      : FBackend(std::move(backend)), FOpener(opener) {}

  HRESULT GetDefaultAudioEndpoint(EDataFlow dataFlow, ERole role, IMMDevice** ppEndpoint) override {
    if (ppEndpoint == nullptr) return E_POINTER;
    *ppEndpoint = nullptr;
    if (dataFlow != eRender && dataFlow != eCapture) return E_INVALIDARG;
    if (role != eConsole && role != eMultimedia && role != eCommunications) return E_INVALIDARG;
    TBackendPtr backend = FBackend;
    if (dataFlow == eCapture) {
      if (FAILED(Open(kDefaultSource, backend))) return E_NOTFOUND;
      if (FAILED(backend->DefaultDevice())) return E_NOTFOUND;
    } else if (const HRESULT hr = backend->DefaultDevice(); FAILED(hr)) {
      return hr;
    }
    *ppEndpoint = NewDevice(std::move(backend));
    return S_OK;
  }

  HRESULT GetDevice(LPCWSTR pwstrId, IMMDevice** ppDevice) override {
    if (ppDevice == nullptr) return E_POINTER;
    *ppDevice = nullptr;
    if (pwstrId == nullptr || *pwstrId == 0) return E_INVALIDARG;
    TBackendPtr backend;
    if (const HRESULT hr = Open(pwstrId, backend); FAILED(hr)) return hr;
    *ppDevice = NewDevice(std::move(backend));
    return S_OK;
  }

  HRESULT RegisterEndpointNotificationCallback(IMMNotificationClient* pClient) override {
    return DeviceNotifications().Register(pClient);
  }
  HRESULT UnregisterEndpointNotificationCallback(IMMNotificationClient* pClient) override {
    return DeviceNotifications().Unregister(pClient);
  }

 private:
  static constexpr const char* kDefaultSource = "@DEFAULT_SOURCE@";

  HRESULT Open(const String& id, TBackendPtr& backend) {
    return FOpener != nullptr ? FOpener(id, backend) : E_NOTFOUND;
  }
  static IMMDevice* NewDevice(TBackendPtr backend) {
    auto* device = new TEndpointDevice(std::move(backend));
    device->AddRef();
    return device;
  }

  TBackendPtr FBackend;
  TEndpointOpener FOpener;
};

}  // namespace

IMMDeviceEnumerator* NewEndpointEnumerator(std::shared_ptr<TEndpointBackend> backend,
                                           TEndpointOpener opener) {
  auto* e = new TEndpointEnumerator(std::move(backend), opener);
  e->AddRef();
  return e;
}
