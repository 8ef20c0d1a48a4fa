// The endpoint over a real sound server: the private daemon scripts/with-pulse starts (its null
// sink "qx_null" is the default). Checked from outside with pactl.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>
#include <thread>

#include <qx/platform/audio/PulseEndpoint.h>
#include "tests/platform/test_audio_endpoint.h"

// libpulse creates some of its mutexes lazily and publishes them with atomics of its own, which
// the thread sanitizer cannot see in the uninstrumented library.
#if defined(__SANITIZE_THREAD__)
extern "C" const char* __tsan_default_suppressions() {
  return "race:pa_mutex_lock\n";
}
#endif

namespace {

using namespace std::chrono_literals;
using TClock = std::chrono::steady_clock;

// What a caller on the main thread may be held at most by a stalled server.
constexpr auto kResponsive = 100ms;

std::string Shell(const std::string& command) {
  std::string out;
  if (FILE* p = popen((command + " 2>&1").c_str(), "r")) {
    char buf[512];
    while (fgets(buf, sizeof buf, p) != nullptr) out += buf;
    pclose(p);
  }
  return out;
}

// The raw channel volumes of a sink, as pactl reports them.
std::vector<long> SinkVolumes(const std::string& sink) {
  const std::string out = Shell("pactl get-sink-volume " + sink);
  std::vector<long> v;
  static const std::regex raw("(\\d+) /");
  for (auto it = std::sregex_iterator(out.begin(), out.end(), raw); it != std::sregex_iterator();
       ++it)
    v.push_back(std::stol((*it)[1]));
  return v;
}

bool SinkMuted(const std::string& sink) {
  return Shell("pactl get-sink-mute " + sink).find("yes") != std::string::npos;
}

long Raw(float level) {
  return std::lround(level * PA_VOLUME_NORM);
}

bool Near(float a, float b) {
  return std::fabs(a - b) < 0.001f;
}

class PulseEndpointTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::getenv("QX_PULSE_START") == nullptr) GTEST_SKIP() << "run under scripts/with-pulse";
    Shell("pactl set-sink-volume qx_null 40%; pactl set-sink-mute qx_null 0");
    ASSERT_EQ(OpenAndRegister(FVolume, FCallback), S_OK);
  }
  void TearDown() override {
    if (FVolume) {
      EXPECT_EQ(FVolume->UnregisterControlChangeNotify(FCallback.Get()), S_OK);
    }
  }
  bool Sees(float level, bool mute, std::chrono::milliseconds within = 10s) {
    return FCallback->WaitFor(
        [&](const TNotified& n) {
          return Near(n.Level, level) && n.Mute == mute && n.EmptyContext &&
                 n.Thread != std::this_thread::get_id();
        },
        within);
  }

  TComPtr<IAudioEndpointVolume> FVolume;
  TComPtr<TRecordingCallback> FCallback;
};

TEST_F(PulseEndpointTest, LevelStepsAndMuteReachTheServerAndReadBackAtOnce) {
  struct {
    float From;
    int Step;  // 0: a plain set
    float To;
  } cases[] = {{0.4f, 0, 0.4f},  {0.4f, +1, 0.42f}, {0.4f, -1, 0.38f}, {0.99f, +1, 1.0f},
               {1.0f, +1, 1.0f}, {0.01f, -1, 0.0f}, {0.0f, -1, 0.0f}};
  for (const auto& c : cases) {
    ASSERT_EQ(FVolume->SetMasterVolumeLevelScalar(c.From, nullptr), S_OK);
    if (c.Step != 0) {
      ASSERT_EQ(c.Step > 0 ? FVolume->VolumeStepUp(nullptr) : FVolume->VolumeStepDown(nullptr),
                S_OK);
    }
    EXPECT_NEAR(LevelOf(FVolume.Get()), c.To, 1e-4) << c.From << " " << c.Step;
    for (long raw : SinkVolumes("qx_null"))
      EXPECT_NEAR(raw, Raw(c.To), 1) << c.From << " " << c.Step;
  }
  for (BOOL mute : {1, 0}) {
    ASSERT_EQ(FVolume->SetMute(mute, nullptr), S_OK);
    BOOL now = -1;
    EXPECT_EQ(FVolume->GetMute(&now), S_OK);
    EXPECT_EQ(now, mute);
    EXPECT_EQ(SinkMuted("qx_null"), mute != 0);
  }
}

TEST_F(PulseEndpointTest, SettingTheLevelKeepsTheBalance) {
  Shell("pactl set-sink-volume qx_null 50% 25%");
  ASSERT_TRUE(Sees(0.5f, false));
  ASSERT_EQ(FVolume->SetMasterVolumeLevelScalar(0.8f, nullptr), S_OK);
  const std::vector<long> v = SinkVolumes("qx_null");
  ASSERT_EQ(v.size(), 2u);
  EXPECT_NEAR(v[0], Raw(0.8f), 1);
  EXPECT_NEAR(v[1], Raw(0.4f), 2);
}

TEST_F(PulseEndpointTest, EveryRealChangeNotifiesOnceAndOtherSinkEventsDoNot) {
  ASSERT_EQ(FVolume->SetMasterVolumeLevelScalar(0.6f, nullptr), S_OK);
  // The write's own notification has been delivered by the time the write returns.
  ASSERT_TRUE(Sees(0.6f, false, 0ms));
  Shell("pactl suspend-sink qx_null 1; pactl suspend-sink qx_null 0");
  Shell("pactl set-sink-volume qx_null 25%");
  ASSERT_TRUE(Sees(0.25f, false));
  Shell("pactl set-sink-mute qx_null 1");
  ASSERT_TRUE(Sees(0.25f, true));
  const std::vector<TNotified> seen = FCallback->Seen();
  ASSERT_EQ(seen.size(), 3u);  // no echo twice, nothing for the suspension
  EXPECT_FLOAT_EQ(LevelOf(FVolume.Get()), 0.25f);
}

TEST_F(PulseEndpointTest, FollowsANewDefaultSink) {
  Shell("pactl load-module module-null-sink sink_name=qx_second");
  Shell("pactl set-sink-volume qx_second 30%; pactl set-sink-mute qx_second 1");
  Shell("pactl set-default-sink qx_second");
  EXPECT_TRUE(Sees(0.3f, true));
  EXPECT_EQ(FVolume->SetMasterVolumeLevelScalar(0.5f, nullptr), S_OK);
  EXPECT_EQ(SinkVolumes("qx_second"), std::vector<long>(2, Raw(0.5f)));
  EXPECT_EQ(SinkVolumes("qx_null"), std::vector<long>(2, Raw(0.4f)));
  // Its removal hands the default back.
  Shell(
      "pactl unload-module module-null-sink >/dev/null; "
      "pactl load-module module-null-sink sink_name=qx_null >/dev/null; "
      "pactl set-default-sink qx_null");
  EXPECT_TRUE(FCallback->WaitFor([](const TNotified& n) { return !n.Mute; }));
}

TEST_F(PulseEndpointTest, SurvivesAServerRestartAndGoesOnNotifying) {
  Shell("\"$QX_PULSE_STOP\"");
  // Calls fail, and fail promptly, while the server is away.
  const auto before = TClock::now();
  for (int i = 0; i < 5; ++i) FVolume->SetMasterVolumeLevelScalar(0.5f, nullptr);
  EXPECT_LT(TClock::now() - before, 5 * TPulseEndpoint::DrainTimeout);
  float level;
  const auto deadline = TClock::now() + 10s;
  while (SUCCEEDED(FVolume->GetMasterVolumeLevelScalar(&level)) && TClock::now() < deadline)
    std::this_thread::sleep_for(10ms);
  EXPECT_EQ(FVolume->GetMasterVolumeLevelScalar(&level), AUDCLNT_E_SERVICE_NOT_RUNNING);

  ASSERT_NE(Shell("\"$QX_PULSE_START\" && echo started").find("started"), std::string::npos);
  while (FAILED(FVolume->GetMasterVolumeLevelScalar(&level)) && TClock::now() < deadline)
    std::this_thread::sleep_for(10ms);
  ASSERT_EQ(FVolume->GetMasterVolumeLevelScalar(&level), S_OK);
  Shell("pactl set-sink-volume qx_null 35%");
  EXPECT_TRUE(Sees(0.35f, false));
}

// A stopped server (SIGSTOP) holds no caller: every write returns at once and reads give what
// was asked; once it runs again it ends at the last level and mute asked for.
TEST_F(PulseEndpointTest, AStalledServerHoldsNoCallerAndEndsAtTheLastValueAsked) {
  Shell("kill -STOP $(cat \"$QX_PULSE_PIDFILE\")");
  auto longest = TClock::duration::zero();
  const auto stallEnd = TClock::now() + 3s;
  int asked = 50;
  for (; TClock::now() < stallEnd; std::this_thread::sleep_for(100ms)) {
    ++asked;
    const auto before = TClock::now();
    const HRESULT set = FVolume->SetMasterVolumeLevelScalar(asked / 100.0f, nullptr);
    const HRESULT mute = FVolume->SetMute(asked % 2, nullptr);
    const float level = LevelOf(FVolume.Get());
    longest = std::max(longest, TClock::now() - before);
    EXPECT_EQ(set, S_OK);
    EXPECT_EQ(mute, S_OK);
    EXPECT_TRUE(Near(level, asked / 100.0f)) << level;
  }
  Shell("kill -CONT $(cat \"$QX_PULSE_PIDFILE\")");
  EXPECT_LT(longest, kResponsive);
  const long want = Raw(asked / 100.0f);
  const auto deadline = TClock::now() + 10s;
  while (SinkVolumes("qx_null") != std::vector<long>(2, want) && TClock::now() < deadline)
    std::this_thread::sleep_for(20ms);
  EXPECT_EQ(SinkVolumes("qx_null"), std::vector<long>(2, want));
  EXPECT_EQ(SinkMuted("qx_null"), asked % 2 == 1);
  EXPECT_TRUE(Sees(asked / 100.0f, asked % 2 == 1));
}

TEST_F(PulseEndpointTest, CallsFromTheMainThreadWhileNotificationsArrive) {
  std::thread outside([] {
    for (int i = 0; i < 20; ++i)
      Shell("pactl set-sink-volume qx_null " + std::to_string(30 + i) + "%");
  });
  for (int i = 0; i < 200; ++i) {
    EXPECT_EQ(FVolume->SetMute(i % 2, nullptr), S_OK);
    BOOL mute = -1;
    EXPECT_EQ(FVolume->GetMute(&mute), S_OK);
    EXPECT_EQ(mute, i % 2);
    EXPECT_GE(LevelOf(FVolume.Get()), 0.0f);
  }
  outside.join();
  EXPECT_TRUE(FCallback->WaitFor([](const TNotified& n) { return Near(n.Level, 0.49f); }));
}

// Without a server, opening fails within the connect time-out. Runs itself again in a child with
// a server address where none listens, since this process keeps its connection once made.
TEST(PulseNoServer, OpeningFailsWithinTheConnectTimeout) {
  if (std::getenv("QX_NO_SERVER_CHILD") == nullptr) {
    const std::string self = std::string("/proc/") + std::to_string(getpid()) + "/exe";
    const int status = std::system(("QX_NO_SERVER_CHILD=1 PULSE_SERVER=unix:/nonexistent/native " +
                                    self + " --gtest_filter=PulseNoServer.* >/dev/null")
                                       .c_str());
    EXPECT_EQ(status, 0);
    return;
  }
  const auto before = TClock::now();
  HRESULT hr = S_OK;
  TComPtr<IAudioEndpointVolume> volume = OpenDefaultEndpoint(hr);
  EXPECT_TRUE(FAILED(hr));
  EXPECT_FALSE(volume);
  EXPECT_LT(TClock::now() - before, TPulseEndpoint::ConnectTimeout + 500ms);
}

}  // namespace
