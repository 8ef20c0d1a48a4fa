// The mixer functions as the volume component calls them, over the scripted mixer: the outcome
// of each step for every scripted fault, the arguments seen, the argument checks, and the map
// between an element's range and 0..65535.
#include <gtest/gtest.h>

#include <functional>

#include <qx/platform/mixer/MixerDouble.h>
#include <qx/platform/mixer/MixerScale.h>
#include <qx/platform/mixer/mmsystem.h>
#include "tests/platform/mixer_caller.h"

namespace {

HMIXEROBJ Obj(HMIXER h) {
  return reinterpret_cast<HMIXEROBJ>(h);
}

struct TCallerStructs {
  MIXERLINEW Line{};
  MIXERCONTROLW Control{};
  MIXERLINECONTROLSW Controls{};
  MIXERCONTROLDETAILS_UNSIGNED Detail{};
  MIXERCONTROLDETAILS Details{};

  TCallerStructs() {
    Line.cbStruct = sizeof Line;
    Line.dwComponentType = MIXERLINE_COMPONENTTYPE_DST_SPEAKERS;
    Controls.cbStruct = sizeof Controls;
    Controls.dwControlType = MIXERCONTROL_CONTROLTYPE_VOLUME;
    Controls.cControls = 1;
    Controls.cbmxctrl = sizeof Control;
    Controls.pamxctrl = &Control;
    Details.cbStruct = sizeof Details;
    Details.cChannels = 1;
    Details.cbDetails = sizeof Detail;
    Details.paDetails = &Detail;
  }
};

// The count, then a read and a write as the component makes them; every code, in order.
std::vector<MMRESULT> ReadThenWrite(DWORD& read, DWORD write) {
  std::vector<MMRESULT> codes{mixerGetNumDevs()};
  TMixerCaller caller;
  if (caller.Found()) {
    caller.Read(read);
    caller.Write(write);
  }
  caller.Close();
  codes.insert(codes.end(), caller.Codes.begin(), caller.Codes.end());
  return codes;
}

TEST(MixerCalls, EachScriptedFaultStopsTheCallerAtItsStep) {
  const MMRESULT ok = MMSYSERR_NOERROR;
  struct TCase {
    const char* Name;
    std::function<void(TMixerDouble&)> Script;
    std::vector<MMRESULT> Codes;
    DWORD Read;
    DWORD ValueAfter;
  } cases[] = {
      {"works", [](TMixerDouble&) {}, {1, ok, ok, ok, ok, ok, ok}, 40000, 1234},
      {"no device",
       [](TMixerDouble& d) { d.SetDeviceCount(0); },
       {0, MMSYSERR_BADDEVICEID},
       0,
       40000},
      {"open fails",
       [](TMixerDouble& d) { d.FailOpen(MMSYSERR_ALLOCATED); },
       {1, MMSYSERR_ALLOCATED},
       0,
       40000},
      {"no speakers line",
       [](TMixerDouble& d) { d.SetSpeakersLine(false); },
       {1, ok, MIXERR_INVALLINE, ok},
       0,
       40000},
      {"line without volume",
       [](TMixerDouble& d) { d.SetVolumeControl(false); },
       {1, ok, ok, MIXERR_INVALCONTROL, ok},
       0,
       40000},
      {"unreadable",
       [](TMixerDouble& d) { d.FailGetDetails(MMSYSERR_ERROR); },
       {1, ok, ok, ok, MMSYSERR_ERROR, ok, ok},
       0,
       1234},
      {"unwritable",
       [](TMixerDouble& d) { d.FailSetDetails(MMSYSERR_NODRIVER); },
       {1, ok, ok, ok, ok, MMSYSERR_NODRIVER, ok},
       40000,
       40000},
  };
  for (const TCase& c : cases) {
    TScopedMixerDouble mixer;
    mixer->SetValue(40000);
    c.Script(*mixer);
    DWORD read = 0;
    EXPECT_EQ(ReadThenWrite(read, 1234), c.Codes) << c.Name;
    EXPECT_EQ(read, c.Read) << c.Name;
    EXPECT_EQ(mixer->Value(), c.ValueAfter) << c.Name;
    EXPECT_EQ(mixer->OpenHandles(), 0) << c.Name;
  }
}

TEST(MixerCalls, TheDoubleSeesTheCallsAndTheirArguments) {
  TScopedMixerDouble mixer;
  DWORD read = 0;
  ReadThenWrite(read, 0xFFFF);
  EXPECT_EQ(mixer->Calls(),
            (std::vector<String>{"mixerGetNumDevs", "mixerOpen", "mixerGetLineInfoW",
                                 "mixerGetLineControlsW", "mixerGetControlDetailsW",
                                 "mixerSetControlDetails", "mixerClose"}));
  const auto log = mixer->CallLog();
  EXPECT_EQ(log[2].CbStruct, sizeof(MIXERLINEW));
  EXPECT_EQ(log[2].Flags, MIXER_GETLINEINFOF_COMPONENTTYPE);
  EXPECT_EQ(log[2].ComponentType, MIXERLINE_COMPONENTTYPE_DST_SPEAKERS);
  EXPECT_EQ(log[3].ControlType, MIXERCONTROL_CONTROLTYPE_VOLUME);
  EXPECT_EQ(log[3].CbControl, sizeof(MIXERCONTROLW));
  EXPECT_EQ(log[4].Channels, 1u);
  EXPECT_EQ(log[4].CbDetails, 4u);
  EXPECT_EQ(log[5].Value, 0xFFFFu);
  EXPECT_EQ(log[1].Object, 0u);
  EXPECT_EQ(log[6].Object, log[2].Object);
  EXPECT_EQ(mixer->Value(), 0xFFFFu);
}

TEST(MixerCalls, BadArgumentsAreRefusedWithTheirCodes) {
  TScopedMixerDouble mixer;
  HMIXER h = nullptr;
  ASSERT_EQ(mixerOpen(&h, 0, 0, 0, 0), MMSYSERR_NOERROR);
  HMIXER closed = nullptr;
  ASSERT_EQ(mixerOpen(&closed, 0, 0, 0, 0), MMSYSERR_NOERROR);
  ASSERT_EQ(mixerClose(closed), MMSYSERR_NOERROR);
  const auto garbage = reinterpret_cast<HMIXEROBJ>(uintptr_t{0xDEADBEEF});
  struct TCase {
    const char* Name;
    std::function<MMRESULT(TCallerStructs&)> Call;
    MMRESULT Expected;
  } cases[] = {
      {"closed twice", [&](TCallerStructs&) { return mixerClose(closed); }, MMSYSERR_INVALHANDLE},
      {"open without out", [](TCallerStructs&) { return mixerOpen(nullptr, 0, 0, 0, 0); },
       MMSYSERR_INVALPARAM},
      {"open device 1",
       [](TCallerStructs&) {
         HMIXER x;
         return mixerOpen(&x, 1, 0, 0, 0);
       },
       MMSYSERR_BADDEVICEID},
      // Change messages go to a window, from a mixer that reports changes.
      {"window callback without a window",
       [](TCallerStructs&) {
         HMIXER x;
         return mixerOpen(&x, 0, 0, 0, CALLBACK_WINDOW);
       },
       MMSYSERR_INVALPARAM},
      {"window callback, mixer without change reports",
       [](TCallerStructs&) {
         HMIXER x;
         return mixerOpen(&x, 0, 1, 0, CALLBACK_WINDOW);
       },
       MMSYSERR_NOTSUPPORTED},
      {"function callback",
       [](TCallerStructs&) {
         HMIXER x;
         return mixerOpen(&x, 0, 1, 0, CALLBACK_FUNCTION);
       },
       MMSYSERR_NOTSUPPORTED},
      {"closed handle",
       [&](TCallerStructs& s) { return mixerGetLineInfoW(Obj(closed), &s.Line, 3); },
       MMSYSERR_INVALHANDLE},
      {"garbage handle", [&](TCallerStructs& s) { return mixerGetLineInfoW(garbage, &s.Line, 3); },
       MMSYSERR_INVALHANDLE},
      {"short MIXERLINEW",
       [&](TCallerStructs& s) {
         s.Line.cbStruct = 24;
         return mixerGetLineInfoW(Obj(h), &s.Line, 3);
       },
       MMSYSERR_INVALPARAM},
      {"null MIXERLINEW", [&](TCallerStructs&) { return mixerGetLineInfoW(Obj(h), nullptr, 3); },
       MMSYSERR_INVALPARAM},
      {"unknown flag", [&](TCallerStructs& s) { return mixerGetLineInfoW(Obj(h), &s.Line, 0x103); },
       MMSYSERR_INVALFLAG},
      {"headphones line",
       [&](TCallerStructs& s) {
         s.Line.dwComponentType = MIXERLINE_COMPONENTTYPE_DST_HEADPHONES;
         return mixerGetLineInfoW(Obj(h), &s.Line, 3);
       },
       MIXERR_INVALLINE},
      {"mute control",
       [&](TCallerStructs& s) {
         s.Controls.dwLineID = 0xFFFF0000;
         s.Controls.dwControlType = MIXERCONTROL_CONTROLTYPE_MUTE;
         return mixerGetLineControlsW(Obj(h), &s.Controls, 2);
       },
       MIXERR_INVALCONTROL},
      {"no control buffer",
       [&](TCallerStructs& s) {
         s.Controls.pamxctrl = nullptr;
         return mixerGetLineControlsW(Obj(h), &s.Controls, 2);
       },
       MMSYSERR_INVALPARAM},
      {"two channels",
       [&](TCallerStructs& s) {
         s.Details.dwControlID = 1;
         s.Details.cChannels = 2;
         return mixerGetControlDetailsW(Obj(h), &s.Details, 0);
       },
       MMSYSERR_INVALPARAM},
      {"unknown control",
       [&](TCallerStructs& s) {
         s.Details.dwControlID = 7;
         return mixerGetControlDetailsW(Obj(h), &s.Details, 0);
       },
       MIXERR_INVALCONTROL},
      {"value above 65535",
       [&](TCallerStructs& s) {
         s.Details.dwControlID = 1;
         s.Detail.dwValue = 65536;
         return mixerSetControlDetails(Obj(h), &s.Details, 0);
       },
       MIXERR_INVALVALUE},
      {"device identifier as object",
       [&](TCallerStructs& s) { return mixerGetLineInfoW(nullptr, &s.Line, 3); }, MMSYSERR_NOERROR},
  };
  for (const TCase& c : cases) {
    TCallerStructs s;
    EXPECT_EQ(c.Call(s), c.Expected) << c.Name;
  }
  EXPECT_EQ(mixer->Value(), 0u);
  EXPECT_EQ(mixerClose(h), MMSYSERR_NOERROR);
  EXPECT_EQ(mixer->OpenHandles(), 0);
}

TEST(MixerScale, ElementRangesMapOntoTheFullScale) {
  struct TCase {
    long Min, Max, Element;
    DWORD Mixer;
  } cases[] = {
      {0, 65536, 65536, 65535}, {0, 65536, 0, 0},    {0, 65536, 26214, 26214},
      {0, 87, 87, 65535},       {0, 87, 44, 33144},  {-100, 100, 0, 32768},
      {-100, 100, -100, 0},     {0, 87, 200, 65535}, {5, 5, 5, 0},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(ScaleToMixer(c.Element, c.Min, c.Max), c.Mixer) << c.Min << ".." << c.Max;
    EXPECT_EQ(ScaleFromMixer(c.Mixer, c.Min, c.Max), std::clamp(c.Element, c.Min, c.Max))
        << c.Min << ".." << c.Max << " " << c.Mixer;
  }
  for (DWORD v = 0; v <= 65535; v += 257)
    EXPECT_EQ(ScaleToMixer(ScaleFromMixer(v, 0, 65536), 0, 65536), v);
}

}  // namespace
