// The host's multimedia mixer functions by their Windows names, with the Windows structures,
// flags and result codes. Device 0 is the user's default ALSA mixer; its one destination line is
// the speakers line with one volume control (see AlsaMixer.h). A test installs a scripted mixer
// instead (MixerDouble.h).
//
// The structures keep the Windows layout byte for byte, byte-packed like the Windows header. With
// 4-byte pointers MIXERLINEW is 280 bytes, MIXERLINECONTROLSW 24, MIXERCONTROLW 228 and
// MIXERCONTROLDETAILS 24. A 64-bit build keeps every field, so the pointer-sized ones widen the
// structures: MIXERLINEW 284, MIXERLINECONTROLSW 28, MIXERCONTROLDETAILS 32 (MIXERCONTROLW has no
// pointer and stays 228). Callers set cbStruct to sizeof the structure; a smaller size is refused
// with MMSYSERR_INVALPARAM.
#pragma once

#include <cstdint>

#include <qx/platform/hostinfo/WinDef.h>

using LONG = int32_t;
using UINT_PTR = uintptr_t;
using DWORD_PTR = uintptr_t;
using WCHAR = char16_t;  // two bytes, as on Windows, so that the layouts match
using MMRESULT = UINT;
using MMVERSION = UINT;

struct HWND__;
using HWND = HWND__*;
struct HMIXER__;
using HMIXER = HMIXER__*;
using LPHMIXER = HMIXER*;
struct HMIXEROBJ__;
using HMIXEROBJ = HMIXEROBJ__*;

constexpr int MIXER_SHORT_NAME_CHARS = 16;
constexpr int MIXER_LONG_NAME_CHARS = 64;
constexpr int MAXPNAMELEN = 32;

// Result codes.
constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_ERROR = 1;
constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
constexpr MMRESULT MMSYSERR_NOTENABLED = 3;
constexpr MMRESULT MMSYSERR_ALLOCATED = 4;
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
constexpr MMRESULT MMSYSERR_NODRIVER = 6;
constexpr MMRESULT MMSYSERR_NOMEM = 7;
constexpr MMRESULT MMSYSERR_NOTSUPPORTED = 8;
constexpr MMRESULT MMSYSERR_BADERRNUM = 9;
constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
constexpr MMRESULT MIXERR_BASE = 1024;
constexpr MMRESULT MIXERR_INVALLINE = MIXERR_BASE + 0;
constexpr MMRESULT MIXERR_INVALCONTROL = MIXERR_BASE + 1;
constexpr MMRESULT MIXERR_INVALVALUE = MIXERR_BASE + 2;

// How hmxobj (or mixerOpen's uMxId) is to be read: the top four bits of every flags argument.
// Zero means a mixer device identifier; an open mixer handle is accepted there too.
constexpr DWORD MIXER_OBJECTF_HANDLE = 0x80000000;
constexpr DWORD MIXER_OBJECTF_MIXER = 0x00000000;
constexpr DWORD MIXER_OBJECTF_HMIXER = MIXER_OBJECTF_HANDLE | MIXER_OBJECTF_MIXER;
constexpr DWORD MIXER_OBJECTF_WAVEOUT = 0x10000000;
constexpr DWORD MIXER_OBJECTF_HWAVEOUT = MIXER_OBJECTF_HANDLE | MIXER_OBJECTF_WAVEOUT;
constexpr DWORD MIXER_OBJECTF_WAVEIN = 0x20000000;
constexpr DWORD MIXER_OBJECTF_HWAVEIN = MIXER_OBJECTF_HANDLE | MIXER_OBJECTF_WAVEIN;
constexpr DWORD MIXER_OBJECTF_MIDIOUT = 0x30000000;
constexpr DWORD MIXER_OBJECTF_HMIDIOUT = MIXER_OBJECTF_HANDLE | MIXER_OBJECTF_MIDIOUT;
constexpr DWORD MIXER_OBJECTF_MIDIIN = 0x40000000;
constexpr DWORD MIXER_OBJECTF_HMIDIIN = MIXER_OBJECTF_HANDLE | MIXER_OBJECTF_MIDIIN;
constexpr DWORD MIXER_OBJECTF_AUX = 0x50000000;
constexpr DWORD MIXER_OBJECTF_TYPEMASK = 0xF0000000;

// mixerOpen's notification choice: CALLBACK_NULL, or CALLBACK_WINDOW, where dwCallback is a
// window that MM_MIXM_CONTROL_CHANGE (wParam the mixer handle, lParam the volume control's
// identifier) is posted to each time another hand changes the speakers' volume, or the mixer
// comes or goes.
constexpr DWORD CALLBACK_TYPEMASK = 0x00070000;
constexpr DWORD CALLBACK_NULL = 0x00000000;
constexpr DWORD CALLBACK_WINDOW = 0x00010000;
constexpr DWORD CALLBACK_FUNCTION = 0x00030000;
constexpr UINT MM_MIXM_CONTROL_CHANGE = 0x3D1;

// Lines.
constexpr DWORD MIXERLINE_LINEF_ACTIVE = 0x00000001;
constexpr DWORD MIXERLINE_LINEF_DISCONNECTED = 0x00008000;
constexpr DWORD MIXERLINE_LINEF_SOURCE = 0x80000000;
constexpr DWORD MIXERLINE_COMPONENTTYPE_DST_FIRST = 0;
constexpr DWORD MIXERLINE_COMPONENTTYPE_DST_UNDEFINED = 0;
constexpr DWORD MIXERLINE_COMPONENTTYPE_DST_DIGITAL = 1;
constexpr DWORD MIXERLINE_COMPONENTTYPE_DST_LINE = 2;
constexpr DWORD MIXERLINE_COMPONENTTYPE_DST_MONITOR = 3;
constexpr DWORD MIXERLINE_COMPONENTTYPE_DST_SPEAKERS = 4;
constexpr DWORD MIXERLINE_COMPONENTTYPE_DST_HEADPHONES = 5;
constexpr DWORD MIXERLINE_COMPONENTTYPE_DST_TELEPHONE = 6;
constexpr DWORD MIXERLINE_COMPONENTTYPE_DST_WAVEIN = 7;
constexpr DWORD MIXERLINE_COMPONENTTYPE_DST_VOICEIN = 8;
constexpr DWORD MIXERLINE_TARGETTYPE_UNDEFINED = 0;
constexpr DWORD MIXERLINE_TARGETTYPE_WAVEOUT = 1;

constexpr DWORD MIXER_GETLINEINFOF_DESTINATION = 0;
constexpr DWORD MIXER_GETLINEINFOF_SOURCE = 1;
constexpr DWORD MIXER_GETLINEINFOF_LINEID = 2;
constexpr DWORD MIXER_GETLINEINFOF_COMPONENTTYPE = 3;
constexpr DWORD MIXER_GETLINEINFOF_TARGETTYPE = 4;
constexpr DWORD MIXER_GETLINEINFOF_QUERYMASK = 0x0000000F;

// Controls.
constexpr DWORD MIXERCONTROL_CONTROLF_UNIFORM = 0x00000001;
constexpr DWORD MIXERCONTROL_CONTROLF_MULTIPLE = 0x00000002;
constexpr DWORD MIXERCONTROL_CONTROLF_DISABLED = 0x80000000;
constexpr DWORD MIXERCONTROL_CT_CLASS_FADER = 0x50000000;
constexpr DWORD MIXERCONTROL_CT_CLASS_SWITCH = 0x20000000;
constexpr DWORD MIXERCONTROL_CT_UNITS_BOOLEAN = 0x00010000;
constexpr DWORD MIXERCONTROL_CT_UNITS_UNSIGNED = 0x00030000;
constexpr DWORD MIXERCONTROL_CT_SC_SWITCH_BOOLEAN = 0x00000000;
constexpr DWORD MIXERCONTROL_CONTROLTYPE_FADER =
    MIXERCONTROL_CT_CLASS_FADER | MIXERCONTROL_CT_UNITS_UNSIGNED;
constexpr DWORD MIXERCONTROL_CONTROLTYPE_VOLUME = MIXERCONTROL_CONTROLTYPE_FADER + 1;
constexpr DWORD MIXERCONTROL_CONTROLTYPE_BOOLEAN = MIXERCONTROL_CT_CLASS_SWITCH |
                                                   MIXERCONTROL_CT_SC_SWITCH_BOOLEAN |
                                                   MIXERCONTROL_CT_UNITS_BOOLEAN;
constexpr DWORD MIXERCONTROL_CONTROLTYPE_MUTE = MIXERCONTROL_CONTROLTYPE_BOOLEAN + 2;
static_assert(MIXERCONTROL_CONTROLTYPE_VOLUME == 0x50030001);

constexpr DWORD MIXER_GETLINECONTROLSF_ALL = 0;
constexpr DWORD MIXER_GETLINECONTROLSF_ONEBYID = 1;
constexpr DWORD MIXER_GETLINECONTROLSF_ONEBYTYPE = 2;
constexpr DWORD MIXER_GETLINECONTROLSF_QUERYMASK = 0x0000000F;

constexpr DWORD MIXER_GETCONTROLDETAILSF_VALUE = 0;
constexpr DWORD MIXER_GETCONTROLDETAILSF_LISTTEXT = 1;
constexpr DWORD MIXER_GETCONTROLDETAILSF_QUERYMASK = 0x0000000F;
constexpr DWORD MIXER_SETCONTROLDETAILSF_VALUE = 0;
constexpr DWORD MIXER_SETCONTROLDETAILSF_CUSTOM = 1;
constexpr DWORD MIXER_SETCONTROLDETAILSF_QUERYMASK = 0x0000000F;

#pragma pack(push, 1)

struct MIXERLINEW {
  DWORD cbStruct;
  DWORD dwDestination;
  DWORD dwSource;
  DWORD dwLineID;
  DWORD fdwLine;
  DWORD_PTR dwUser;
  DWORD dwComponentType;
  DWORD cChannels;
  DWORD cConnections;
  DWORD cControls;
  WCHAR szShortName[MIXER_SHORT_NAME_CHARS];
  WCHAR szName[MIXER_LONG_NAME_CHARS];
  struct {
    DWORD dwType;
    DWORD dwDeviceID;
    WORD wMid;
    WORD wPid;
    MMVERSION vDriverVersion;
    WCHAR szPname[MAXPNAMELEN];
  } Target;
};
using PMIXERLINEW = MIXERLINEW*;
using LPMIXERLINEW = MIXERLINEW*;

struct MIXERCONTROLW {
  DWORD cbStruct;
  DWORD dwControlID;
  DWORD dwControlType;
  DWORD fdwControl;
  DWORD cMultipleItems;
  WCHAR szShortName[MIXER_SHORT_NAME_CHARS];
  WCHAR szName[MIXER_LONG_NAME_CHARS];
  union {
    struct {
      LONG lMinimum;
      LONG lMaximum;
    };
    struct {
      DWORD dwMinimum;
      DWORD dwMaximum;
    };
    DWORD dwReserved[6];
  } Bounds;
  union {
    DWORD cSteps;
    DWORD cbCustomData;
    DWORD dwReserved[6];
  } Metrics;
};
using PMIXERCONTROLW = MIXERCONTROLW*;
using LPMIXERCONTROLW = MIXERCONTROLW*;

struct MIXERLINECONTROLSW {
  DWORD cbStruct;
  DWORD dwLineID;
  union {
    DWORD dwControlID;
    DWORD dwControlType;
  };
  DWORD cControls;
  DWORD cbmxctrl;
  LPMIXERCONTROLW pamxctrl;
};
using PMIXERLINECONTROLSW = MIXERLINECONTROLSW*;
using LPMIXERLINECONTROLSW = MIXERLINECONTROLSW*;

struct MIXERCONTROLDETAILS {
  DWORD cbStruct;
  DWORD dwControlID;
  DWORD cChannels;
  union {
    HWND hwndOwner;
    DWORD cMultipleItems;
  };
  DWORD cbDetails;
  void* paDetails;
};
using PMIXERCONTROLDETAILS = MIXERCONTROLDETAILS*;
using LPMIXERCONTROLDETAILS = MIXERCONTROLDETAILS*;

struct MIXERCONTROLDETAILS_UNSIGNED {
  DWORD dwValue;
};
using PMIXERCONTROLDETAILS_UNSIGNED = MIXERCONTROLDETAILS_UNSIGNED*;
using LPMIXERCONTROLDETAILS_UNSIGNED = MIXERCONTROLDETAILS_UNSIGNED*;

#pragma pack(pop)

constexpr unsigned kPointerWidening = sizeof(void*) - 4;
static_assert(sizeof(MIXERLINEW) == 280 + kPointerWidening);
static_assert(sizeof(MIXERLINECONTROLSW) == 24 + kPointerWidening);
static_assert(sizeof(MIXERCONTROLW) == 228);
static_assert(sizeof(MIXERCONTROLDETAILS) == 24 + 2 * kPointerWidening);
static_assert(sizeof(MIXERCONTROLDETAILS_UNSIGNED) == 4);

// The number of mixer devices: 1 when the default ALSA control device opens, else 0.
UINT mixerGetNumDevs();
// Opens device uMxId (fdwOpen: MIXER_OBJECTF_MIXER with CALLBACK_NULL, or CALLBACK_WINDOW with
// the window in dwCallback; MMSYSERR_NOTSUPPORTED for a mixer that reports no changes).
MMRESULT mixerOpen(LPHMIXER phmx, UINT uMxId, DWORD_PTR dwCallback, DWORD_PTR dwInstance,
                   DWORD fdwOpen);
MMRESULT mixerGetLineInfoW(HMIXEROBJ hmxobj, LPMIXERLINEW pmxl, DWORD fdwInfo);
MMRESULT mixerGetLineControlsW(HMIXEROBJ hmxobj, LPMIXERLINECONTROLSW pmxlc, DWORD fdwControls);
// Only the one-channel (uniform) form is served: cChannels must be 1 and cbDetails at least 4.
MMRESULT mixerGetControlDetailsW(HMIXEROBJ hmxobj, LPMIXERCONTROLDETAILS pmxcd, DWORD fdwDetails);
MMRESULT mixerSetControlDetails(HMIXEROBJ hmxobj, LPMIXERCONTROLDETAILS pmxcd, DWORD fdwDetails);
// A closed or unknown handle gives MMSYSERR_INVALHANDLE; handle values are never reused.
MMRESULT mixerClose(HMIXER hmx);
// An identifier for mixerOpen naming one ALSA mixer device and control, "DEVICE/CONTROL" (for
// example "hw:1/PCM", "default/Capture", "hw:1"); the same name gives the same identifier for
// the life of the process. The device need not be there: its handles answer once it appears.
// MMSYSERR_INVALPARAM for a null or empty name.
MMRESULT mixerGetIDByName(const char* pszName, UINT* puMxId);
