// The mixer functions on the real ALSA path (run under scripts/with-pulse): ALSA's "default"
// mixer goes through the private daemon, so a value written here is the daemon's sink volume as
// pactl shows it, and a change made with pactl is what the next read returns.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <regex>
#include <string>
#include <thread>

#include <qx/framework/app/Messages.h>
#include <qx/platform/mixer/SysVersion.h>
#include <qx/platform/mixer/mmsystem.h>
#include "tests/framework/test_app_wait.h"
#include "tests/platform/mixer_caller.h"

// libpulse (under ALSA's plugin on the mixer's thread, and in the version probe on this one)
// recycles its packets through lock-free lists whose atomics the thread sanitizer cannot see in
// the uninstrumented library.
#if defined(__SANITIZE_THREAD__)
extern "C" const char* __tsan_default_suppressions() {
  return "race:libpulsecommon\nrace:pa_mutex_lock\n";
}
#endif

namespace {

std::string Shell(const std::string& command) {
  std::string out;
  if (FILE* p = popen((command + " 2>&1").c_str(), "r")) {
    char buffer[512];
    while (size_t n = fread(buffer, 1, sizeof buffer, p)) out.append(buffer, n);
    pclose(p);
  }
  return out;
}

// The raw channel volumes of the default sink ("front-left: 26214 /  40% / ...").
std::vector<long> SinkVolume() {
  const std::string text = Shell("pactl get-sink-volume @DEFAULT_SINK@");
  static const std::regex channel(R"(:\s*(\d+)\s*/\s*\d+%)");
  std::vector<long> values;
  for (auto it = std::sregex_iterator(text.begin(), text.end(), channel);
       it != std::sregex_iterator(); ++it)
    values.push_back(std::stol((*it)[1]));
  return values;
}

bool WaitFor(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

DWORD Read() {
  DWORD value = 0xDEAD;
  EXPECT_EQ(TMixerCaller().Read(value), MMSYSERR_NOERROR);
  return value;
}

MMRESULT Write(DWORD value) {
  return TMixerCaller().Write(value);
}

class MixerAlsa : public ::testing::Test {
 protected:
  void SetUp() override {
    // Only ever against the private daemon.
    if (!std::getenv("QX_PULSE_START")) GTEST_SKIP() << "run under scripts/with-pulse";
  }
};

TEST_F(MixerAlsa, DefaultMixerShowsTheSinkAsTheSpeakersLine) {
  EXPECT_EQ(mixerGetNumDevs(), 1u);
  TMixerCaller s;
  ASSERT_TRUE(s.Found());
  EXPECT_EQ(std::u16string(s.Line.szName), u"Master");
  EXPECT_EQ(s.Line.cChannels, 2u);
  EXPECT_EQ(s.Line.cControls, 1u);
  EXPECT_EQ(s.Control.Bounds.dwMaximum, 65535u);
  ResetWin32Version();
  EXPECT_EQ(Win32MajorVersion(), 10);
  EXPECT_EQ(Win32MinorVersion(), 0);
}

TEST_F(MixerAlsa, WritesAndReadsAreTheSinkVolume) {
  // The daemon's range is 0..65536 (65536 = 100 %), mapped onto 0..65535.
  struct TCase {
    DWORD Mixer;
    long Sink;
  } cases[] = {{26214, 26214}, {65535, 65536}, {0, 0}, {32768, 32769}, {1, 1}};
  for (const TCase& c : cases) {
    ASSERT_EQ(Write(c.Mixer), MMSYSERR_NOERROR) << c.Mixer;
    EXPECT_TRUE(WaitFor([&] {
      return SinkVolume() == std::vector<long>{c.Sink, c.Sink};
    })) << c.Mixer
        << " gave " << Shell("pactl get-sink-volume @DEFAULT_SINK@");
    EXPECT_EQ(Read(), c.Mixer);
  }
}

TEST_F(MixerAlsa, ReadsTheLoudestChannelAndWritesAllOfThem) {
  Shell("pactl set-sink-volume @DEFAULT_SINK@ 19661 39322");
  ASSERT_TRUE(WaitFor([] { return SinkVolume() == std::vector<long>{19661, 39322}; }));
  EXPECT_EQ(Read(), 39321u);  // 39322 of 65536
  ASSERT_EQ(Write(13107), MMSYSERR_NOERROR);
  EXPECT_TRUE(WaitFor([] { return SinkVolume() == std::vector<long>{13107, 13107}; }));
}

TEST_F(MixerAlsa, NoServerMeansNoDeviceAndTheEndpointVersion) {
  ASSERT_EQ(std::system("\"$QX_PULSE_STOP\""), 0);
  EXPECT_EQ(mixerGetNumDevs(), 0u);
  HMIXER h = nullptr;
  EXPECT_NE(mixerOpen(&h, 0, 0, 0, 0), MMSYSERR_NOERROR);
  ResetWin32Version();
  EXPECT_EQ(Win32MajorVersion(), 10);
  ASSERT_EQ(std::system("\"$QX_PULSE_START\""), 0);
  EXPECT_TRUE(WaitFor([] { return mixerGetNumDevs() == 1; }));
  EXPECT_EQ(Write(6554), MMSYSERR_NOERROR);
}

// A stopped server (SIGSTOP) holds no caller: each write (open, find, set, close) returns at
// once and reads give what was asked; once the server runs again it ends at the last value.
TEST_F(MixerAlsa, AStalledServerHoldsNoCallerAndEndsAtTheLastValueAsked) {
  using Clock = std::chrono::steady_clock;
  ASSERT_EQ(Write(13107), MMSYSERR_NOERROR);
  ASSERT_TRUE(WaitFor([] { return SinkVolume() == std::vector<long>{13107, 13107}; }));
  ASSERT_EQ(std::system("kill -STOP $(cat \"$QX_PULSE_PIDFILE\")"), 0);
  auto longest = Clock::duration::zero();
  const auto stallEnd = Clock::now() + std::chrono::seconds(3);
  DWORD asked = 20000;
  while (Clock::now() < stallEnd) {
    // Ends at 26214, which the server keeps as it is.
    asked = Clock::now() + std::chrono::milliseconds(150) < stallEnd ? asked + 100 : 26214;
    const auto before = Clock::now();
    EXPECT_EQ(Write(asked), MMSYSERR_NOERROR);
    EXPECT_EQ(mixerGetNumDevs(), 1u);
    EXPECT_EQ(Read(), asked);
    longest = std::max(longest, Clock::now() - before);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ASSERT_EQ(std::system("kill -CONT $(cat \"$QX_PULSE_PIDFILE\")"), 0);
  EXPECT_LT(longest, std::chrono::milliseconds(100));
  EXPECT_EQ(asked, 26214u);
  EXPECT_TRUE(WaitFor([] {
    return SinkVolume() == std::vector<long>{26214, 26214};
  })) << Shell("pactl get-sink-volume @DEFAULT_SINK@");
}

// Another program's change reaches a handle opened with a window, and the next read has it.
TEST_F(MixerAlsa, OtherProgramsChangesReachAWatchingHandle) {
  int changes = 0;
  HWND window = AllocateHWnd(TWndMethod::Callable([&](TMessage& m) {
    if (m.Msg == MM_MIXM_CONTROL_CHANGE) ++changes;
  }));
  HMIXER watch = nullptr;
  ASSERT_EQ(mixerOpen(&watch, 0, reinterpret_cast<DWORD_PTR>(window), 0, CALLBACK_WINDOW),
            MMSYSERR_NOERROR);
  // (pactl percent, the mixer value the sink then reads as)
  for (auto [percent, value] : {std::pair{"77%", 50461u}, {"33%", 21626u}}) {
    const int before = changes;
    Shell(std::string("pactl set-sink-volume @DEFAULT_SINK@ ") + percent);
    EXPECT_TRUE(
        LoopUntil([&] { return changes > before && Read() == value; }, std::chrono::seconds(10)))
        << percent << " read " << Read() << " after " << changes - before << " messages";
  }
  EXPECT_EQ(mixerClose(watch), MMSYSERR_NOERROR);
  DeallocateHWnd(window);
}

}  // namespace
