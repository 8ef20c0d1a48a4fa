// Reading, setting, stepping and muting on both paths, the roundings, the legacy mixer's calls and
// messages, outside changes and OnAudioChange.
#include "volume_fixture.h"

namespace {

using Ops = VolumeTest;

TEST_F(Ops, VersionNames) {
  struct Row {
    int Major, Minor;
    const char* Name;
  };
  const Row rows[] = {{4, 0, "Windows 95"},
                      {4, 10, "Windows 98"},
                      {4, 90, "Windows ME"},
                      {5, 0, "Windows 2000"},
                      {5, 1, "Windows XP"},
                      {6, 0, "Windows Vista"},
                      {6, 1, "Windows 7"},
                      {6, 2, "Windows 8"},
                      {6, 3, "Windows 8.1"},
                      {10, 0, "Windows 10"},
                      {5, 2, "Unknown (Windows 5.2)"},
                      {6, 4, "Unknown (Windows 6.4)"},
                      {11, 0, "Unknown (Windows 11.0)"}};
  auto v = Make();
  for (const Row& r : rows) {
    SetWin32Version(r.Major, r.Minor);
    EXPECT_EQ(v->GetWindowsVersion(), r.Name) << r.Major << "." << r.Minor;
  }
}

TEST_F(Ops, SetVolumeClampsAboveAndAppliesNothingBelowZero) {
  struct Row {
    int32_t Asked, Stored;
    float Level;
  };
  for (Row r : {Row{40, 40, 0.4f}, Row{150, 100, 1.0f}, Row{0, 0, 0.0f}, Row{-5, -5, 0.0f}}) {
    auto v = Make();
    // The write's own notification stores the system's level into the overlay's cell from its
    // thread; held back, the cell shows what the setter stored.
    endpoint->HoldNotifications(true);
    v->SetVolume(r.Asked);
    EXPECT_EQ(v->Volume(), r.Stored) << r.Asked;
    EXPECT_EQ(v->LastVol(), r.Stored);
    EXPECT_FLOAT_EQ(endpoint->Level(), r.Level) << r.Asked;
    EXPECT_EQ(Fvol, r.Stored);  // the overlay paints what was asked, minus sign and all
    endpoint->HoldNotifications(false);
  }
}

TEST_F(Ops, EndpointLevelsReadWithHalvesToEven) {
  for (auto [level, percent] : {std::pair{0.125f, 12}, {0.994f, 99}, {1.0f, 100}, {0.0f, 0}}) {
    endpoint->ChangeLevel(level);
    EXPECT_EQ(Make()->Volume(), percent) << level;
  }
}

TEST_F(Ops, LegacyMixerValuesBothWays) {
  SetWin32Version(5, 1);
  for (auto [value, percent] : {std::pair{32768u, 50}, {65535u, 100}, {0u, 0}, {655u, 1}}) {
    mixer->SetValue(value);
    EXPECT_EQ(Make()->Volume(), percent) << value;
  }
  auto v = Make();
  for (auto [percent, value] : {std::pair{50, 32768u}, {1, 655u}, {100, 65535u}, {-7, 0u}}) {
    v->SetVolume(percent);
    EXPECT_EQ(mixer->Value(), value) << percent;
  }
  v->SetFVolume(500);  // written straight, then applied: no wrap-around
  v->SetVolume();
  EXPECT_EQ(mixer->Value(), 65535u);
  EXPECT_FALSE(v->EndpointOpen());
  EXPECT_EQ(mixer->OpenHandles(), 0);
}

TEST_F(Ops, LegacyMixerCallsAndMessages) {
  SetWin32Version(5, 1);
  auto v = Make();
  mixer->ClearCalls();
  uint16_t value = 0;
  ASSERT_TRUE(v->GetWinXPMasterVolume(value));
  EXPECT_EQ(mixer->Calls(), (std::vector<String>{"mixerGetNumDevs", "mixerOpen",
                                                 "mixerGetLineInfoW", "mixerGetLineControlsW",
                                                 "mixerGetControlDetailsW", "mixerClose"}));
  mixer->ClearCalls();
  EXPECT_EQ(v->SetWinXPMasterVolume(1234), MMSYSERR_NOERROR);
  EXPECT_EQ(mixer->Calls(),
            (std::vector<String>{"mixerOpen", "mixerGetLineInfoW", "mixerGetLineControlsW",
                                 "mixerSetControlDetails", "mixerClose"}));
  const TMixerCall set = mixer->CallLog()[3];
  EXPECT_EQ(set.Value, 1234u);
  EXPECT_EQ(set.Channels, 1u);
  EXPECT_EQ(set.CbDetails, 4u);

  struct Row {
    const char* What;
    std::function<void(TMixerDouble&)> Script;
    std::vector<String> Messages;
  };
  const Row rows[] = {
      {"no device", [](TMixerDouble& m) { m.SetDeviceCount(0); }, {}},
      {"open fails", [](TMixerDouble& m) { m.FailOpen(MMSYSERR_NODRIVER); }, {}},
      {"no speakers", [](TMixerDouble& m) { m.SetSpeakersLine(false); }, {}},
      {"no volume", [](TMixerDouble& m) { m.SetVolumeControl(false); }, {"GetLineInfo Error"}},
      {"unreadable",
       [](TMixerDouble& m) { m.FailGetDetails(MMSYSERR_ERROR); },
       {"GetControlDetails Error"}},
  };
  for (const Row& r : rows) {
    TScopedMixerDouble m;
    m->SetValue(30000);
    r.Script(*m);
    messages.clear();
    v->SetFVolume(37);
    EXPECT_FALSE(v->GetWinXPMasterVolume(value)) << r.What;
    // A failed read gives the volume known before it.
    EXPECT_EQ(v->GetActualVolume(), 37) << r.What;
    EXPECT_EQ(messages.size(), 2 * r.Messages.size()) << r.What;  // once per read
    if (!r.Messages.empty()) {
      EXPECT_EQ(messages[0], r.Messages[0]);
    }
    messages.clear();
    m->FailSetDetails(MMSYSERR_ERROR);
    EXPECT_NE(v->SetWinXPMasterVolume(1), MMSYSERR_NOERROR) << r.What;
    EXPECT_TRUE(messages.empty()) << r.What;  // writes stay silent
    EXPECT_EQ(m->OpenHandles(), 0) << r.What;
  }
}

TEST_F(Ops, StepsAtBothEndsOnBothPaths) {
  struct Row {
    int Major, Minor;
    float Level;
    DWORD Mixer;
    bool Up;
    int32_t Expected;
  };
  const Row rows[] = {{10, 0, 1.0f, 0, true, 100}, {10, 0, 0.0f, 0, false, 0},
                      {10, 0, 0.4f, 0, true, 42},  {10, 0, 0.4f, 0, false, 38},
                      {5, 1, 0, 65535, true, 100}, {5, 1, 0, 0, false, 0},
                      {5, 1, 0, 26214, true, 41}};
  for (const Row& r : rows) {
    SetWin32Version(r.Major, r.Minor);
    endpoint->ChangeLevel(r.Level);
    mixer->SetValue(r.Mixer);
    TOwned<TTrackBar> bar(new TTrackBar(nullptr));
    auto v = Make();
    v->setFVolumeTrackBar(bar.get());
    events.clear();
    r.Up ? v->VolumeUp() : v->VolumeDown();
    EXPECT_EQ(v->Volume(), r.Expected) << r.Major << (r.Up ? " up " : " down ") << r.Level;
    EXPECT_EQ(bar->Position(), r.Expected);
    // Shown even where the value could not move; the legacy path shows it twice. The first
    // report already has the new level.
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.front().Volume, r.Expected);
    v->setFVolumeTrackBar(nullptr);
  }
}

TEST_F(Ops, LegacyPathHasNoMute) {
  SetWin32Version(5, 1);
  auto v = Make();
  v->Mute(true);
  EXPECT_FALSE(v->GetMute());
  EXPECT_FALSE(endpoint->Muted());
  EXPECT_TRUE(events.empty());
}

TEST_F(Ops, OwnChangesComeBackAsNotifications) {
  auto v = Make();
  v->SetVolume(60);
  ASSERT_EQ(events.size(), 1u);
  ASSERT_TRUE(Delivered(1));
  EXPECT_EQ(events, (std::vector<TAudioEvent>{{60, false, v.get()}, {60, false, v.get()}}));
  v->Mute(true);
  ASSERT_TRUE(Delivered(2));
  EXPECT_EQ(events.back(), (TAudioEvent{60, true, v.get()}));
  EXPECT_TRUE(FMute);
}

TEST_F(Ops, OutsideChanges) {
  auto v = Make();
  TOwned<TTrackBar> bar(new TTrackBar(nullptr));
  v->setFVolumeTrackBar(bar.get());
  endpoint->ChangeMute(true);  // the volume stays, the mute state is re-read
  ASSERT_TRUE(Delivered(1));
  EXPECT_EQ(events, (std::vector<TAudioEvent>{{40, true, v.get()}}));
  v->setFShowScreenVol(false);
  endpoint->ChangeLevel(0.7f);
  ASSERT_TRUE(Delivered(2));
  EXPECT_EQ(v->Volume(), 70);
  EXPECT_EQ(bar->Position(), 40);  // only the overlay step moves the bar
  EXPECT_EQ(events.size(), 1u);
  v->SetVolume(20);  // SetVolume moves it, still without an event
  EXPECT_EQ(bar->Position(), 20);
  EXPECT_EQ(events.size(), 1u);
}

// The mixer's change messages do on the legacy path what the endpoint's notifications do.
TEST_F(Ops, OutsideChangesOnTheLegacyPath) {
  SetWin32Version(5, 1);
  mixer->ReportChanges(true);
  mixer->SetValue(26214);
  auto v = Make();
  TOwned<TTrackBar> bar(new TTrackBar(nullptr));
  v->setFVolumeTrackBar(bar.get());
  mixer->SetValue(45875);
  ASSERT_TRUE(LoopUntil([&] { return !events.empty(); }));
  EXPECT_EQ(events, (std::vector<TAudioEvent>{{70, false, v.get()}}));
  EXPECT_EQ(bar->Position(), 70);
  v->setFShowScreenVol(false);
  mixer->SetValue(6554);
  ASSERT_TRUE(LoopUntil([&] { return v->Volume() == 10; }));
  EXPECT_EQ(bar->Position(), 70);
  EXPECT_EQ(events.size(), 1u);
  EXPECT_EQ(mixer->OpenHandles(), 1);  // the watch; gone with the component
  v.reset();
  EXPECT_EQ(mixer->OpenHandles(), 0);
}

TEST_F(Ops, WritingVolumeOnlyStoresIt) {
  auto v = Make();
  v->ClassInfo()->FindProperty("Volume")->SetOrd(v.get(), 90);
  EXPECT_EQ(v->Volume(), 90);
  EXPECT_FLOAT_EQ(endpoint->Level(), 0.4f);
  v->SetVolume();
  EXPECT_FLOAT_EQ(endpoint->Level(), 0.9f);
}

TEST_F(Ops, WithoutAnEndpoint) {
  endpoint->ChangeLevel(0.8f);
  endpoint->SetServerPresent(false);
  auto v = Make();
  EXPECT_FALSE(v->EndpointOpen());
  EXPECT_EQ(v->Volume(), 0);
  v->SetVolume(30);  // stored and shown, nothing applied
  EXPECT_EQ(v->Volume(), 30);
  v->VolumeUp();
  v->Mute(true);
  EXPECT_FALSE(v->GetMute());
  EXPECT_EQ(v->Volume(), 30);
  EXPECT_EQ(events.size(), 1u);
  EXPECT_FLOAT_EQ(endpoint->Level(), 0.8f);
}

}  // namespace
