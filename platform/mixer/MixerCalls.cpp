// The seven mixer functions over a TMixerSource: argument checks, the handle table and the
// Windows structures. Every call runs under one process-wide lock, so a handle closed on one
// thread is never in use on another, and a test's source is not uninstalled mid-call.
#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include <qx/framework/app/Messages.h>
#include <qx/platform/mixer/AlsaMixer.h>
#include <qx/platform/mixer/mmsystem.h>

namespace {

// The one destination line and its one control, as the mixer reports them.
constexpr DWORD kSpeakersLineID = 0xFFFF0000;
constexpr DWORD kVolumeControlID = 1;
// Handles count up from here and are never reused, so a stale handle is always recognised and
// never mistaken for a device identifier.
constexpr UINT_PTR kFirstHandle = 0x10000;
// Identifiers of named devices (mixerGetIDByName), apart from the counted devices and handles.
constexpr UINT kFirstNamedId = 0x8000;

std::recursive_mutex gLock;
TMixerSource* gInstalled = nullptr;
std::map<UINT_PTR, std::unique_ptr<TMixerDevice>> gHandles;
UINT_PTR gNextHandle = kFirstHandle;
std::vector<String> gNames;  // named devices, by identifier less kFirstNamedId

TMixerSource& Source() {
  return gInstalled ? *gInstalled : AlsaMixerSource();
}

MMRESULT Finish(TMixerCall& call, MMRESULT result) {
  call.Result = result;
  if (gInstalled) gInstalled->Record(call);
  return result;
}

// Element names are ASCII; anything else shows as '?'. Always terminated.
template <size_t N>
void CopyName(WCHAR (&to)[N], const String& from) {
  size_t i = 0;
  for (; i + 1 < N && i < from.size(); ++i) {
    const auto c = static_cast<unsigned char>(from[i]);
    to[i] = c < 0x80 ? c : u'?';
  }
  to[i] = 0;
}

// The mixer an object argument names. Object type 0 takes an open handle or a device identifier
// (the latter opened for this one call, into temporary).
MMRESULT Resolve(HMIXEROBJ object, DWORD flags, TMixerDevice*& device,
                 std::unique_ptr<TMixerDevice>& temporary) {
  const DWORD type = flags & MIXER_OBJECTF_TYPEMASK;
  if (type != MIXER_OBJECTF_MIXER && type != MIXER_OBJECTF_HMIXER) return MMSYSERR_NOTSUPPORTED;
  const auto value = reinterpret_cast<UINT_PTR>(object);
  if (auto it = gHandles.find(value); it != gHandles.end()) {
    device = it->second.get();
    return MMSYSERR_NOERROR;
  }
  if (type == MIXER_OBJECTF_HMIXER || value >= kFirstHandle) return MMSYSERR_INVALHANDLE;
  if (value >= Source().NumDevs()) return MMSYSERR_BADDEVICEID;
  const MMRESULT r = Source().Open(static_cast<UINT>(value), temporary);
  device = temporary.get();
  return r;
}

// Flags hold an object type, a query type up to maxQuery and nothing else.
MMRESULT CheckFlags(DWORD flags, DWORD maxQuery) {
  if (flags & ~(MIXER_OBJECTF_TYPEMASK | 0xF)) return MMSYSERR_INVALFLAG;
  return (flags & 0xF) <= maxQuery ? MMSYSERR_NOERROR : MMSYSERR_INVALFLAG;
}

// The speakers line with its volume control, for the control calls.
MMRESULT FindVolume(TMixerDevice& device, DWORD controlID, TSpeakersLine& line) {
  if (const MMRESULT r = device.Speakers(line)) return r;
  return line.HasVolume && controlID == kVolumeControlID ? MMSYSERR_NOERROR : MIXERR_INVALCONTROL;
}

void FillLine(MIXERLINEW& l, const TSpeakersLine& line) {
  std::memset(&l, 0, sizeof l);
  l.cbStruct = sizeof l;
  l.dwLineID = kSpeakersLineID;
  l.fdwLine = MIXERLINE_LINEF_ACTIVE;
  l.dwComponentType = MIXERLINE_COMPONENTTYPE_DST_SPEAKERS;
  l.cChannels = line.Channels;
  l.cControls = line.HasVolume ? 1 : 0;
  CopyName(l.szShortName, line.Name);
  CopyName(l.szName, line.Name);
  l.Target.dwType = MIXERLINE_TARGETTYPE_WAVEOUT;
  CopyName(l.Target.szPname, "ALSA default");
}

void FillControl(MIXERCONTROLW& c, const TSpeakersLine& line) {
  std::memset(&c, 0, sizeof c);
  c.cbStruct = sizeof c;
  c.dwControlID = kVolumeControlID;
  c.dwControlType = MIXERCONTROL_CONTROLTYPE_VOLUME;
  c.fdwControl = line.Channels == 1 ? MIXERCONTROL_CONTROLF_UNIFORM : 0;
  CopyName(c.szShortName, "Volume");
  CopyName(c.szName, line.Name + " Volume");
  c.Bounds.dwMinimum = 0;
  c.Bounds.dwMaximum = 65535;
  c.Metrics.cSteps = line.Steps;
}

TMixerCall DetailsCall(const char* name, HMIXEROBJ object, const MIXERCONTROLDETAILS* d,
                       DWORD flags) {
  TMixerCall call{.Name = name, .Object = reinterpret_cast<UINT_PTR>(object), .Flags = flags};
  if (d) {
    call.CbStruct = d->cbStruct;
    call.ControlID = d->dwControlID;
    call.Channels = d->cChannels;
    call.MultipleItems = d->cMultipleItems;
    call.CbDetails = d->cbDetails;
  }
  return call;
}

// Everything the two detail calls check before touching the value: the structure, the flags,
// the mixer and the control. Only values, one uniform channel, are served.
MMRESULT CheckDetails(HMIXEROBJ object, const MIXERCONTROLDETAILS* d, DWORD flags,
                      TMixerDevice*& device, std::unique_ptr<TMixerDevice>& temporary) {
  if (!d || d->cbStruct < sizeof *d) return MMSYSERR_INVALPARAM;
  if (const MMRESULT r = CheckFlags(flags, 1)) return r;
  if ((flags & 0xF) != 0) return MMSYSERR_NOTSUPPORTED;
  if (d->cChannels != 1 || d->cMultipleItems != 0 || !d->paDetails ||
      d->cbDetails < sizeof(MIXERCONTROLDETAILS_UNSIGNED))
    return MMSYSERR_INVALPARAM;
  if (const MMRESULT r = Resolve(object, flags, device, temporary)) return r;
  TSpeakersLine line;
  return FindVolume(*device, d->dwControlID, line);
}

}  // namespace

TMixerSource* InstallMixerSource(TMixerSource* source) {
  std::lock_guard lock(gLock);
  return std::exchange(gInstalled, source);
}

UINT mixerGetNumDevs() {
  std::lock_guard lock(gLock);
  TMixerCall call{.Name = "mixerGetNumDevs"};
  return Finish(call, Source().NumDevs());
}

MMRESULT mixerOpen(LPHMIXER phmx, UINT uMxId, DWORD_PTR dwCallback, DWORD_PTR dwInstance,
                   DWORD fdwOpen) {
  (void)dwInstance;
  std::lock_guard lock(gLock);
  TMixerCall call{.Name = "mixerOpen", .Object = uMxId, .Flags = fdwOpen};
  if (!phmx) return Finish(call, MMSYSERR_INVALPARAM);
  *phmx = nullptr;
  if (fdwOpen & ~(MIXER_OBJECTF_TYPEMASK | CALLBACK_TYPEMASK))
    return Finish(call, MMSYSERR_INVALFLAG);
  const DWORD callback = fdwOpen & CALLBACK_TYPEMASK;
  if (callback != CALLBACK_NULL && callback != CALLBACK_WINDOW)
    return Finish(call, MMSYSERR_NOTSUPPORTED);
  if (callback == CALLBACK_WINDOW && dwCallback == 0) return Finish(call, MMSYSERR_INVALPARAM);
  if ((fdwOpen & MIXER_OBJECTF_TYPEMASK) != MIXER_OBJECTF_MIXER)
    return Finish(call, MMSYSERR_NOTSUPPORTED);
  const bool named = uMxId >= kFirstNamedId && uMxId - kFirstNamedId < gNames.size();
  if (!named && uMxId >= Source().NumDevs()) return Finish(call, MMSYSERR_BADDEVICEID);
  std::unique_ptr<TMixerDevice> device;
  if (const MMRESULT r = named ? Source().OpenNamed(gNames[uMxId - kFirstNamedId], device)
                               : Source().Open(uMxId, device))
    return Finish(call, r);
  if (!device) return Finish(call, MMSYSERR_ERROR);
  const UINT_PTR handle = gNextHandle;
  if (callback == CALLBACK_WINDOW) {
    const auto window = reinterpret_cast<HWND>(dwCallback);
    const bool watching = device->Watch([window, handle] {
      PostMessageW(window, MM_MIXM_CONTROL_CHANGE, handle, kVolumeControlID);
    });
    if (!watching) return Finish(call, MMSYSERR_NOTSUPPORTED);
  }
  ++gNextHandle;
  gHandles.emplace(handle, std::move(device));
  *phmx = reinterpret_cast<HMIXER>(handle);
  return Finish(call, MMSYSERR_NOERROR);
}

MMRESULT mixerGetIDByName(const char* pszName, UINT* puMxId) {
  std::lock_guard lock(gLock);
  if (pszName == nullptr || *pszName == 0 || puMxId == nullptr) return MMSYSERR_INVALPARAM;
  auto it = std::find(gNames.begin(), gNames.end(), pszName);
  if (it == gNames.end()) it = gNames.insert(gNames.end(), pszName);
  *puMxId = kFirstNamedId + static_cast<UINT>(it - gNames.begin());
  return MMSYSERR_NOERROR;
}

MMRESULT mixerClose(HMIXER hmx) {
  std::lock_guard lock(gLock);
  TMixerCall call{.Name = "mixerClose", .Object = reinterpret_cast<UINT_PTR>(hmx)};
  return Finish(call, gHandles.erase(call.Object) ? MMSYSERR_NOERROR : MMSYSERR_INVALHANDLE);
}

MMRESULT mixerGetLineInfoW(HMIXEROBJ hmxobj, LPMIXERLINEW pmxl, DWORD fdwInfo) {
  std::lock_guard lock(gLock);
  TMixerCall call{
      .Name = "mixerGetLineInfoW", .Object = reinterpret_cast<UINT_PTR>(hmxobj), .Flags = fdwInfo};
  if (pmxl) {
    call.CbStruct = pmxl->cbStruct;
    call.ComponentType = pmxl->dwComponentType;
    call.LineID = pmxl->dwLineID;
  }
  if (!pmxl || pmxl->cbStruct < sizeof *pmxl) return Finish(call, MMSYSERR_INVALPARAM);
  if (const MMRESULT r = CheckFlags(fdwInfo, MIXER_GETLINEINFOF_TARGETTYPE)) return Finish(call, r);
  TMixerDevice* device = nullptr;
  std::unique_ptr<TMixerDevice> temporary;
  if (const MMRESULT r = Resolve(hmxobj, fdwInfo, device, temporary)) return Finish(call, r);
  TSpeakersLine line;
  if (const MMRESULT r = device->Speakers(line)) return Finish(call, r);
  bool match = false;
  switch (fdwInfo & MIXER_GETLINEINFOF_QUERYMASK) {
    case MIXER_GETLINEINFOF_DESTINATION:
      match = pmxl->dwDestination == 0;
      break;
    case MIXER_GETLINEINFOF_LINEID:
      match = pmxl->dwLineID == kSpeakersLineID;
      break;
    case MIXER_GETLINEINFOF_COMPONENTTYPE:
      match = pmxl->dwComponentType == MIXERLINE_COMPONENTTYPE_DST_SPEAKERS;
      break;
    case MIXER_GETLINEINFOF_TARGETTYPE:
      match = pmxl->Target.dwType == MIXERLINE_TARGETTYPE_WAVEOUT;
      break;
    default:
      break;  // the line has no sources
  }
  if (!match) return Finish(call, MIXERR_INVALLINE);
  FillLine(*pmxl, line);
  return Finish(call, MMSYSERR_NOERROR);
}

MMRESULT mixerGetLineControlsW(HMIXEROBJ hmxobj, LPMIXERLINECONTROLSW pmxlc, DWORD fdwControls) {
  std::lock_guard lock(gLock);
  TMixerCall call{.Name = "mixerGetLineControlsW",
                  .Object = reinterpret_cast<UINT_PTR>(hmxobj),
                  .Flags = fdwControls};
  if (pmxlc) {
    call.CbStruct = pmxlc->cbStruct;
    call.LineID = pmxlc->dwLineID;
    call.ControlType = pmxlc->dwControlType;
    call.Controls = pmxlc->cControls;
    call.CbControl = pmxlc->cbmxctrl;
  }
  if (!pmxlc || pmxlc->cbStruct < sizeof *pmxlc || !pmxlc->pamxctrl ||
      pmxlc->cbmxctrl < sizeof(MIXERCONTROLW) || pmxlc->cControls != 1)
    return Finish(call, MMSYSERR_INVALPARAM);
  const DWORD query = fdwControls & MIXER_GETLINECONTROLSF_QUERYMASK;
  if (const MMRESULT r = CheckFlags(fdwControls, MIXER_GETLINECONTROLSF_ONEBYTYPE))
    return Finish(call, r);
  TMixerDevice* device = nullptr;
  std::unique_ptr<TMixerDevice> temporary;
  if (const MMRESULT r = Resolve(hmxobj, fdwControls, device, temporary)) return Finish(call, r);
  TSpeakersLine line;
  if (const MMRESULT r = device->Speakers(line)) return Finish(call, r);
  if (query != MIXER_GETLINECONTROLSF_ONEBYID && pmxlc->dwLineID != kSpeakersLineID)
    return Finish(call, MIXERR_INVALLINE);
  const bool match =
      line.HasVolume &&
      (query == MIXER_GETLINECONTROLSF_ALL ||
       (query == MIXER_GETLINECONTROLSF_ONEBYID && pmxlc->dwControlID == kVolumeControlID) ||
       (query == MIXER_GETLINECONTROLSF_ONEBYTYPE &&
        pmxlc->dwControlType == MIXERCONTROL_CONTROLTYPE_VOLUME));
  if (!match) return Finish(call, MIXERR_INVALCONTROL);
  if (query == MIXER_GETLINECONTROLSF_ONEBYID) pmxlc->dwLineID = kSpeakersLineID;
  FillControl(*pmxlc->pamxctrl, line);
  return Finish(call, MMSYSERR_NOERROR);
}

MMRESULT mixerGetControlDetailsW(HMIXEROBJ hmxobj, LPMIXERCONTROLDETAILS pmxcd, DWORD fdwDetails) {
  std::lock_guard lock(gLock);
  TMixerCall call = DetailsCall("mixerGetControlDetailsW", hmxobj, pmxcd, fdwDetails);
  TMixerDevice* device = nullptr;
  std::unique_ptr<TMixerDevice> temporary;
  if (const MMRESULT r = CheckDetails(hmxobj, pmxcd, fdwDetails, device, temporary))
    return Finish(call, r);
  DWORD value = 0;
  if (const MMRESULT r = device->GetVolume(value)) return Finish(call, r);
  const MIXERCONTROLDETAILS_UNSIGNED detail{value};
  std::memcpy(pmxcd->paDetails, &detail, sizeof detail);
  return Finish(call, MMSYSERR_NOERROR);
}

MMRESULT mixerSetControlDetails(HMIXEROBJ hmxobj, LPMIXERCONTROLDETAILS pmxcd, DWORD fdwDetails) {
  std::lock_guard lock(gLock);
  TMixerCall call = DetailsCall("mixerSetControlDetails", hmxobj, pmxcd, fdwDetails);
  MIXERCONTROLDETAILS_UNSIGNED detail{0};
  if (pmxcd && pmxcd->paDetails && pmxcd->cbDetails >= sizeof detail) {
    std::memcpy(&detail, pmxcd->paDetails, sizeof detail);
    call.Value = detail.dwValue;
  }
  TMixerDevice* device = nullptr;
  std::unique_ptr<TMixerDevice> temporary;
  if (const MMRESULT r = CheckDetails(hmxobj, pmxcd, fdwDetails, device, temporary))
    return Finish(call, r);
  if (detail.dwValue > 65535) return Finish(call, MIXERR_INVALVALUE);
  return Finish(call, device->SetVolume(detail.dwValue));
}
