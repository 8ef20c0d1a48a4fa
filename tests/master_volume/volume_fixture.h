// Shared by the volume component tests: a virtual endpoint, a scripted mixer and a virtual
// desktop for the whole test, the version numbers chosen per test, captured modal messages, the
// component's inner steps within reach, and the overlay freed afterwards.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include <qx/framework/ui/Desktop.h>
#include <qx/framework/ui/Dialogs.h>
#include <qx/master_volume/QxMasterVol.h>
#include <qx/master_volume/frmVolumeU.h>
#include <qx/platform/audio/VirtualEndpoint.h>
#include <qx/platform/mixer/MixerDouble.h>
#include <qx/platform/mixer/SysVersion.h>
#include "../framework/test_app_wait.h"

class TProbedMasterVol : public TQxMasterVol {
 public:
  using TQxMasterVol::EndpointOpen;
  using TQxMasterVol::GetActualVolume;
  using TQxMasterVol::GetWindowsVersion;
  using TQxMasterVol::GetWinXPMasterVolume;
  using TQxMasterVol::LastVol;
  using TQxMasterVol::MMChangeMessage;
  using TQxMasterVol::SetWinXPMasterVolume;
  using TQxMasterVol::TQxMasterVol;
  using TQxMasterVol::WindowHandle;
};

struct TAudioEvent {
  int32_t Volume;
  bool Mute;
  TObject* Sender;
  friend bool operator==(const TAudioEvent&, const TAudioEvent&) = default;
};

class VolumeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UseVirtualDesktop();
    SetWin32Version(10, 0);
    previousHook = SetShowMessageHook([this](const String& s) { messages.push_back(s); });
  }
  void TearDown() override {
    SetShowMessageHook(previousHook);
    TObject::Free(frmVolume);  // the next test starts without an overlay
    frmVolume = nullptr;
  }

  TOwned<TProbedMasterVol> Make(TComponent* owner = nullptr) {
    TOwned<TProbedMasterVol> v(new TProbedMasterVol(owner));
    Record(v.get());
    return v;
  }
  void Record(TQxMasterVol* v) {
    v->SetFOnAudioChange(TOnAudioChange::Callable([this](TObject* s, int32_t vol, bool mute) {
      events.push_back({vol, mute, s});
    }));
  }
  // Turns the loop until the endpoint has sent `count` notifications and their messages ran.
  bool Delivered(size_t count) {
    bool ok = LoopUntil([&] { return endpoint->NotificationsSent() >= count; });
    Application->ProcessMessages();
    return ok;
  }

  TScopedVirtualEndpoint endpoint;
  TScopedMixerDouble mixer;
  std::vector<String> messages;
  std::vector<TAudioEvent> events;
  TShowMessageHook previousHook;
};
