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

#include <qx/platform/mixer/SysVersion.h>
#include <qx/platform/mixer/mmsystem.h>
#include "tests/platform/mixer_caller.h"

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

}  // namespace
