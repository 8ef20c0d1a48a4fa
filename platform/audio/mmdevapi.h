// The host's audio endpoint interfaces by their Windows names: the device enumerator, the device
// and its endpoint volume with change notifications, created through CoCreateInstance. Behind them
// is the sound server's default sink (or a virtual endpoint a test installs).
#pragma once

#include <cstdint>

#include <qx/framework/core/ComObj.h>

using DWORD = uint32_t;
using UINT = uint32_t;
using BOOL = int32_t;

enum EDataFlow { eRender = 0, eCapture = 1, eAll = 2 };
enum ERole { eConsole = 0, eMultimedia = 1, eCommunications = 2 };

constexpr DWORD CLSCTX_INPROC_SERVER = 1;
constexpr DWORD CLSCTX_ALL = 23;

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
};

class IMMDeviceEnumerator : public IUnknown {
 public:
  static constexpr const IID& iid() { return IID_IMMDeviceEnumerator; }
  virtual HRESULT GetDefaultAudioEndpoint(EDataFlow dataFlow, ERole role,
                                          IMMDevice** ppEndpoint) = 0;
};

// Only CLSID_MMDeviceEnumerator is a known class; pUnkOuter must be nullptr.
HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid,
                         void** ppv);
