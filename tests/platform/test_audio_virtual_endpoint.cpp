#include <gtest/gtest.h>

#include <qx/platform/audio/VirtualEndpoint.h>
#include "tests/platform/test_audio_endpoint.h"

namespace {

using namespace std::chrono_literals;

class VirtualEndpointTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(OpenAndRegister(FVolume, FCallback), S_OK); }
  void TearDown() override {
    if (FVolume) FVolume->UnregisterControlChangeNotify(FCallback.Get());
  }
  // Waits until every notification so far has been delivered.
  bool Delivered(size_t count) { return FEndpoint->WaitForNotifications(count, 10s); }

  TScopedVirtualEndpoint FEndpoint;
  TComPtr<IAudioEndpointVolume> FVolume;
  TComPtr<TRecordingCallback> FCallback;
};

TEST_F(VirtualEndpointTest, WritesChangeTheStateAndComeBackOnTheEndpointsThread) {
  EXPECT_FLOAT_EQ(LevelOf(FVolume.Get()), 0.4f);
  ASSERT_EQ(FVolume->SetMasterVolumeLevelScalar(0.7f, nullptr), S_OK);
  EXPECT_FLOAT_EQ(LevelOf(FVolume.Get()), 0.7f);
  EXPECT_FLOAT_EQ(FEndpoint->Level(), 0.7f);
  ASSERT_EQ(FVolume->SetMute(1, nullptr), S_OK);
  BOOL mute = 0;
  EXPECT_EQ(FVolume->GetMute(&mute), S_OK);
  EXPECT_EQ(mute, 1);
  ASSERT_TRUE(Delivered(2));
  const std::vector<TNotified> seen = FCallback->Seen();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_FLOAT_EQ(seen[0].Level, 0.7f);
  EXPECT_FALSE(seen[0].Mute);
  EXPECT_TRUE(seen[1].Mute);
  for (const TNotified& n : seen) {
    EXPECT_NE(n.Thread, std::this_thread::get_id());
    EXPECT_TRUE(n.EmptyContext);
    EXPECT_EQ(n.Channels, TVirtualEndpoint::Channels);
  }
}

TEST_F(VirtualEndpointTest, StepsAreTwoPercentClampedAtBothEnds) {
  struct {
    float From;
    bool Up;
    float To;
  } cases[] = {{0.4f, true, 0.42f}, {0.4f, false, 0.38f}, {0.99f, true, 1.0f},
               {1.0f, true, 1.0f},  {0.01f, false, 0.0f}, {0.0f, false, 0.0f}};
  for (const auto& c : cases) {
    FEndpoint->ChangeLevel(c.From);
    ASSERT_EQ(c.Up ? FVolume->VolumeStepUp(nullptr) : FVolume->VolumeStepDown(nullptr), S_OK);
    EXPECT_NEAR(LevelOf(FVolume.Get()), c.To, 1e-6) << c.From << (c.Up ? " up" : " down");
  }
}

TEST_F(VirtualEndpointTest, OutsideChangesAndADeviceSwitchNotify) {
  FEndpoint->ChangeLevel(1.5f);  // clamped
  FEndpoint->ChangeMute(true);
  FEndpoint->SwitchDefaultDevice(0.25f, false);
  ASSERT_TRUE(Delivered(3));
  const std::vector<TNotified> seen = FCallback->Seen();
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_FLOAT_EQ(seen[0].Level, 1.0f);
  EXPECT_TRUE(seen[1].Mute);
  EXPECT_FLOAT_EQ(seen[2].Level, 0.25f);
  EXPECT_FALSE(seen[2].Mute);
  EXPECT_FLOAT_EQ(LevelOf(FVolume.Get()), 0.25f);
}

TEST_F(VirtualEndpointTest, RefusedAndBadCallsChangeNothing) {
  FEndpoint->RefuseCalls(E_FAIL);
  EXPECT_EQ(FVolume->SetMasterVolumeLevelScalar(0.9f, nullptr), E_FAIL);
  EXPECT_EQ(FVolume->VolumeStepUp(nullptr), E_FAIL);
  EXPECT_EQ(FVolume->SetMute(1, nullptr), E_FAIL);
  float level = -1;
  EXPECT_EQ(FVolume->GetMasterVolumeLevelScalar(&level), E_FAIL);
  FEndpoint->RefuseCalls(S_OK);
  EXPECT_EQ(FVolume->SetMasterVolumeLevelScalar(1.5f, nullptr), E_INVALIDARG);
  EXPECT_EQ(FVolume->SetMasterVolumeLevelScalar(-0.1f, nullptr), E_INVALIDARG);
  EXPECT_EQ(FVolume->GetMasterVolumeLevelScalar(nullptr), E_POINTER);
  EXPECT_FLOAT_EQ(FEndpoint->Level(), 0.4f);
  EXPECT_FALSE(FEndpoint->Muted());
  EXPECT_EQ(FEndpoint->NotificationsSent(), 0u);
}

TEST_F(VirtualEndpointTest, HeldNotificationsArriveInOrderOnRelease) {
  FEndpoint->HoldNotifications(true);
  FEndpoint->ChangeLevel(0.1f);
  FEndpoint->ChangeLevel(0.2f);
  EXPECT_EQ(FEndpoint->NotificationsSent(), 0u);
  FEndpoint->HoldNotifications(false);
  ASSERT_TRUE(Delivered(2));
  const std::vector<TNotified> seen = FCallback->Seen();
  EXPECT_FLOAT_EQ(seen.at(0).Level, 0.1f);
  EXPECT_FLOAT_EQ(seen.at(1).Level, 0.2f);
}

TEST_F(VirtualEndpointTest, UnregisteredCallbackIsReleasedAndNotCalledAgain) {
  EXPECT_EQ(FEndpoint->RegisteredCallbacks(), 1u);
  EXPECT_EQ(FCallback->RefCount(), 2u);  // ours and the registration's
  EXPECT_EQ(FVolume->RegisterControlChangeNotify(FCallback.Get()), E_INVALIDARG);
  FEndpoint->HoldNotifications(true);
  FEndpoint->ChangeLevel(0.9f);
  ASSERT_EQ(FVolume->UnregisterControlChangeNotify(FCallback.Get()), S_OK);
  EXPECT_EQ(FVolume->UnregisterControlChangeNotify(FCallback.Get()), E_INVALIDARG);
  EXPECT_EQ(FEndpoint->RegisteredCallbacks(), 0u);
  EXPECT_EQ(FCallback->RefCount(), 1u);
  FEndpoint->HoldNotifications(false);
  FEndpoint->ChangeLevel(0.8f);
  // The endpoint's thread has drained the queue when a fresh registration sees the next change.
  TComPtr<TRecordingCallback> probe(new TRecordingCallback);
  ASSERT_EQ(FVolume->RegisterControlChangeNotify(probe.Get()), S_OK);
  FEndpoint->ChangeLevel(0.7f);
  ASSERT_TRUE(probe->WaitFor([](const TNotified& n) { return n.Level == 0.7f; }));
  EXPECT_TRUE(FCallback->Seen().empty());
  FVolume->UnregisterControlChangeNotify(probe.Get());
}

TEST(VirtualEndpointAbsence, AbsentServerOrDeviceFailsTheOpening) {
  struct {
    bool Server, Device;
    HRESULT Expected;
  } cases[] = {
      {true, true, S_OK}, {false, true, AUDCLNT_E_SERVICE_NOT_RUNNING}, {true, false, E_NOTFOUND}};
  for (const auto& c : cases) {
    TScopedVirtualEndpoint endpoint;
    endpoint->SetServerPresent(c.Server);
    endpoint->SetDevicePresent(c.Device);
    HRESULT hr = S_OK;
    TComPtr<IAudioEndpointVolume> volume = OpenDefaultEndpoint(hr);
    EXPECT_EQ(hr, c.Expected) << c.Server << c.Device;
    EXPECT_EQ(static_cast<bool>(volume), SUCCEEDED(c.Expected));
  }
}

TEST(VirtualEndpointAbsence, AnOpenEndpointOutlivingItsDoubleFailsQuietly) {
  TComPtr<IAudioEndpointVolume> volume;
  TComPtr<TRecordingCallback> callback(new TRecordingCallback);
  {
    TScopedVirtualEndpoint endpoint;
    HRESULT hr;
    volume = OpenDefaultEndpoint(hr);
    ASSERT_EQ(volume->RegisterControlChangeNotify(callback.Get()), S_OK);
    endpoint->SetDevicePresent(false);
    EXPECT_EQ(volume->SetMute(1, nullptr), AUDCLNT_E_DEVICE_INVALIDATED);
  }
  EXPECT_EQ(callback->RefCount(), 1u);  // the registration went with the double
  EXPECT_EQ(volume->SetMasterVolumeLevelScalar(0.5f, nullptr), AUDCLNT_E_DEVICE_INVALIDATED);
}

}  // namespace

namespace {

TEST(EndpointInterfaces, BadArgumentsGetClearResults) {
  TScopedVirtualEndpoint endpoint;
  TComPtr<IMMDeviceEnumerator> e;
  const GUID otherClass = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
  TComPtr<TRecordingCallback> outer(new TRecordingCallback);  // any object would do
  struct {
    const GUID* Class;
    IUnknown* Outer;
    const IID* Iid;
    HRESULT Expected;
  } creations[] = {{&CLSID_MMDeviceEnumerator, nullptr, &IID_IMMDeviceEnumerator, S_OK},
                   {&CLSID_MMDeviceEnumerator, nullptr, &IID_IUnknown, S_OK},
                   {&otherClass, nullptr, &IID_IMMDeviceEnumerator, REGDB_E_CLASSNOTREG},
                   {&CLSID_MMDeviceEnumerator, outer.Get(), &IID_IMMDeviceEnumerator,
                    static_cast<HRESULT>(0x80040110u)},
                   {&CLSID_MMDeviceEnumerator, nullptr, &IID_IMMDevice, E_NOINTERFACE}};
  for (const auto& c : creations) {
    void* p = nullptr;
    EXPECT_EQ(CoCreateInstance(*c.Class, c.Outer, CLSCTX_INPROC_SERVER, *c.Iid, &p), c.Expected);
    EXPECT_EQ(p != nullptr, SUCCEEDED(c.Expected));
    if (p != nullptr) static_cast<IUnknown*>(p)->Release();
  }
  EXPECT_EQ(CoCreateInstance(CLSID_MMDeviceEnumerator, nullptr, CLSCTX_INPROC_SERVER,
                             IID_IMMDeviceEnumerator, nullptr),
            E_POINTER);

  ASSERT_EQ(CoCreateInstance(CLSID_MMDeviceEnumerator, nullptr, CLSCTX_INPROC_SERVER,
                             IID_IMMDeviceEnumerator, e.PutVoid()),
            S_OK);
  TComPtr<IMMDevice> d;
  EXPECT_EQ(e->GetDefaultAudioEndpoint(eCapture, eConsole, d.Put()), E_NOTFOUND);
  EXPECT_EQ(e->GetDefaultAudioEndpoint(eAll, eConsole, d.Put()), E_INVALIDARG);
  EXPECT_EQ(e->GetDefaultAudioEndpoint(eRender, eConsole, nullptr), E_POINTER);
  ASSERT_EQ(e->GetDefaultAudioEndpoint(eRender, eMultimedia, d.Put()), S_OK);
  void* v = nullptr;
  EXPECT_EQ(d->Activate(IID_IMMDevice, CLSCTX_INPROC_SERVER, nullptr, &v), E_NOINTERFACE);
  int params = 0;
  EXPECT_EQ(d->Activate(IID_IAudioEndpointVolume, CLSCTX_INPROC_SERVER, &params, &v), E_INVALIDARG);
  EXPECT_EQ(v, nullptr);
}

}  // namespace
