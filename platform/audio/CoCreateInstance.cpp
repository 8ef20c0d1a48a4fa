// The one class this process serves: the device enumerator, over the installed virtual endpoint
// when a test has installed one, otherwise over the sound server.
#include <qx/platform/audio/EndpointObjects.h>
#include <qx/platform/audio/PulseEndpoint.h>
#include <qx/platform/audio/VirtualEndpoint.h>

namespace {

constexpr HRESULT CLASS_E_NOAGGREGATION = static_cast<HRESULT>(0x80040110u);

HRESULT OpenBackend(std::shared_ptr<TEndpointBackend>& backend, TEndpointOpener& opener) {
  if (std::shared_ptr<TVirtualEndpoint> v = InstalledVirtualEndpoint()) {
    if (!v->ServerPresent()) return AUDCLNT_E_SERVICE_NOT_RUNNING;
    backend = std::move(v);
    opener = nullptr;  // the virtual endpoint is the default output and no other device
    return S_OK;
  }
  opener = [](const String& id, std::shared_ptr<TEndpointBackend>& named) {
    return TPulseEndpoint::Open(id, named);
  };
  return TPulseEndpoint::Open("", backend);
}

}  // namespace

HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD, REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (pUnkOuter != nullptr) return CLASS_E_NOAGGREGATION;
  if (!(rclsid == CLSID_MMDeviceEnumerator)) return REGDB_E_CLASSNOTREG;
  std::shared_ptr<TEndpointBackend> backend;
  TEndpointOpener opener = nullptr;
  if (const HRESULT hr = OpenBackend(backend, opener); FAILED(hr)) return hr;
  TComPtr<IMMDeviceEnumerator> enumerator =
      TComPtr<IMMDeviceEnumerator>::Attach(NewEndpointEnumerator(std::move(backend), opener));
  return enumerator->QueryInterface(riid, ppv);
}
