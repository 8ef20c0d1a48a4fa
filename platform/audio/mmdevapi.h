// The host's audio endpoint interfaces by their Windows names: the device enumerator, the device
// and its endpoint volume with change notifications, created through CoCreateInstance. Behind them
// is the sound server's default sink (or a virtual endpoint a test installs).
#pragma once

#include <cstdint>

#include <qx/framework/core/ComObj.h>

using DWORD = uint32_t;
using UINT = uint32_t;
using BOOL = int32_t;
// Device identifiers are UTF-8 text here: the sound server's sink and source names.
using LPCWSTR = const char*;

enum EDataFlow { eRender = 0, eCapture = 1, eAll = 2 };
enum ERole { eConsole = 0, eMultimedia = 1, eCommunications = 2 };

constexpr DWORD CLSCTX_INPROC_SERVER = 1;
constexpr DWORD CLSCTX_ALL = 23;

// IMMDevice::GetState and IMMNotificationClient::OnDeviceStateChanged.
constexpr DWORD DEVICE_STATE_ACTIVE = 0x1;
constexpr DWORD DEVICE_STATE_NOTPRESENT = 0x4;

// No default device of the asked-for flow and role.
constexpr HRESULT E_NOTFOUND = static_cast<HRESULT>(0x80070490u);
// The device or the sound server behind it is gone.
constexpr HRESULT AUDCLNT_E_DEVICE_INVALIDATED = static_cast<HRESULT>(0x88890004u);
constexpr HRESULT AUDCLNT_E_SERVICE_NOT_RUNNING = static_cast<HRESULT>(0x88890010u);

inline constexpr CLSID CLSID_MMDeviceEnumerator = {
    0xBCDE0395, 0xE52F, 0x467C, {0x8E, 0x3D, 0xC4, 0x57, 0x92, 0x91, 0x69, 0x2E}};
inline constexpr IID IID_IMMDeviceEnumerator = {
    0xA95664D2, 0x9614, 0x4F35, {0xA7, 0x46, 0xDE, 0x8D, 0xB6, 0x36, 0x17, 0xE6}};
inline constexpr IID IID_IMMDevice = {
    0xD666063F, 0x1587, 0x4E43, {0x81, 0xF1, 0xB9, 0x48, 0xE8, 0x07, 0x36, 0x3F}};
inline constexpr IID IID_IMMEndpoint = {
    0x1BE09788, 0x6894, 0x4089, {0x85, 0x86, 0x9A, 0x2A, 0x6C, 0x26, 0x5A, 0xC5}};
inline constexpr IID IID_IMMNotificationClient = {
    0x7991EEC9, 0x7E89, 0x4D85, {0x83, 0x90, 0x6C, 0x70, 0x3C, 0xEC, 0x60, 0xC0}};
inline constexpr IID IID_IAudioEndpointVolume = {
    0x5CDF2C82, 0x841E, 0x4546, {0x97, 0x22, 0x0C, 0xF7, 0x40, 0x78, 0x22, 0x9A}};
inline constexpr IID IID_IAudioEndpointVolumeCallback = {
    0x657804FA, 0xD6AD, 0x4496, {0x8A, 0x60, 0x35, 0x27, 0x52, 0xAF, 0x4F, 0x89}};

struct AUDIO_VOLUME_NOTIFICATION_DATA {
  GUID guidEventContext;  // the context the change was made with (all zero for none)
  BOOL bMuted;
  float fMasterVolume;
  UINT nChannels;
  float afChannelVolumes[1];  // nChannels entries; the record is allocated to hold them
};
using PAUDIO_VOLUME_NOTIFICATION_DATA = AUDIO_VOLUME_NOTIFICATION_DATA*;

class IAudioEndpointVolumeCallback : public IUnknown {
 public:
  static constexpr const IID& iid() { return IID_IAudioEndpointVolumeCallback; }
  // Called on the endpoint's notification thread, once per change of the level or the mute.
  virtual HRESULT OnNotify(PAUDIO_VOLUME_NOTIFICATION_DATA pNotify) = 0;
};

class IAudioEndpointVolume : public IUnknown {
 public:
  static constexpr const IID& iid() { return IID_IAudioEndpointVolume; }
  virtual HRESULT RegisterControlChangeNotify(IAudioEndpointVolumeCallback* pNotify) = 0;
  virtual HRESULT UnregisterControlChangeNotify(IAudioEndpointVolumeCallback* pNotify) = 0;
  virtual HRESULT GetChannelCount(UINT* pnChannelCount) = 0;
  virtual HRESULT SetMasterVolumeLevelScalar(float fLevel, LPCGUID pguidEventContext) = 0;
  virtual HRESULT GetMasterVolumeLevelScalar(float* pfLevel) = 0;
  virtual HRESULT SetMute(BOOL bMute, LPCGUID pguidEventContext) = 0;
  virtual HRESULT GetMute(BOOL* pbMute) = 0;
  virtual HRESULT GetVolumeStepInfo(UINT* pnStep, UINT* pnStepCount) = 0;
  virtual HRESULT VolumeStepUp(LPCGUID pguidEventContext) = 0;
  virtual HRESULT VolumeStepDown(LPCGUID pguidEventContext) = 0;
};

class IMMDevice : public IUnknown {
 public:
  static constexpr const IID& iid() { return IID_IMMDevice; }
  // pActivationParams stands for the platform's PROPVARIANT*; only nullptr is accepted.
  virtual HRESULT Activate(REFIID iid, DWORD dwClsCtx, void* pActivationParams,
                           void** ppInterface) = 0;
  // DEVICE_STATE_ACTIVE while the device is there, DEVICE_STATE_NOTPRESENT while it is not. An
  // endpoint volume activated on a device that is not there fails its calls until it comes back.
  virtual HRESULT GetState(DWORD* pdwState) = 0;
};

// Asked of an IMMDevice (QueryInterface): whether it plays (eRender) or records (eCapture).
class IMMEndpoint : public IUnknown {
 public:
  static constexpr const IID& iid() { return IID_IMMEndpoint; }
  virtual HRESULT GetDataFlow(EDataFlow* pDataFlow) = 0;
};

// Told of devices that come and go, on the endpoint's notification thread. Only the devices
// someone asked for by identifier (GetDevice) are watched.
class IMMNotificationClient : public IUnknown {
 public:
  static constexpr const IID& iid() { return IID_IMMNotificationClient; }
  virtual HRESULT OnDeviceStateChanged(LPCWSTR pwstrDeviceId, DWORD dwNewState) = 0;
  virtual HRESULT OnDeviceAdded(LPCWSTR pwstrDeviceId) = 0;
  virtual HRESULT OnDeviceRemoved(LPCWSTR pwstrDeviceId) = 0;
  virtual HRESULT OnDefaultDeviceChanged(EDataFlow flow, ERole role,
                                         LPCWSTR pwstrDefaultDeviceId) = 0;
};

class IMMDeviceEnumerator : public IUnknown {
 public:
  static constexpr const IID& iid() { return IID_IMMDeviceEnumerator; }
  virtual HRESULT GetDefaultAudioEndpoint(EDataFlow dataFlow, ERole role,
                                          IMMDevice** ppEndpoint) = 0;
  // A device by its identifier: a sink's or a source's name, or "@DEFAULT_SOURCE@" for whatever
  // source is the default (following it). A device not there now still gives a device object,
  // NOTPRESENT, that becomes ACTIVE when a device of that name appears.
  virtual HRESULT GetDevice(LPCWSTR pwstrId, IMMDevice** ppDevice) = 0;
  virtual HRESULT RegisterEndpointNotificationCallback(IMMNotificationClient* pClient) = 0;
  virtual HRESULT UnregisterEndpointNotificationCallback(IMMNotificationClient* pClient) = 0;
};

// Only CLSID_MMDeviceEnumerator is a known class; pUnkOuter must be nullptr.
HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid,
                         void** ppv);
