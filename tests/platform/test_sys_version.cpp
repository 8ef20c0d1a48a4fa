// The run-time version numbers: set by a program, or detected once from what answers.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

#include <qx/platform/mixer/MixerDouble.h>
#include <qx/platform/mixer/SysVersion.h>

namespace {

// Points libpulse at a socket that cannot exist, so detection sees no sound server without
// reaching the machine's own; puts the environment back afterwards.
class TNoSoundServer {
 public:
  TNoSoundServer() {
    if (const char* v = std::getenv("PULSE_SERVER")) FSaved = v;
    setenv("PULSE_SERVER", "unix:/nonexistent/qx-test-no-server", 1);
  }
  ~TNoSoundServer() {
    if (FSaved)
      setenv("PULSE_SERVER", FSaved->c_str(), 1);
    else
      unsetenv("PULSE_SERVER");
    ResetWin32Version();
  }

 private:
  std::optional<std::string> FSaved;
};

TEST(SysVersion, SetNumbersHoldUntilReset) {
  TNoSoundServer noServer;
  TScopedMixerDouble mixer;
  SetWin32Version(6, 3);
  EXPECT_EQ(Win32MajorVersion(), 6);
  EXPECT_EQ(Win32MinorVersion(), 3);
  EXPECT_TRUE(mixer->Calls().empty());
  ResetWin32Version();
  EXPECT_EQ(Win32MajorVersion(), 5);
  EXPECT_EQ(Win32MinorVersion(), 1);
}

TEST(SysVersion, WithoutASoundServerTheMixerDecides) {
  struct TCase {
    const char* Name;
    UINT Devices;
    bool Speakers;
    int Major, Minor;
  } cases[] = {
      {"speakers line", 1, true, 5, 1},
      {"mixer without speakers line", 1, false, 10, 0},
      {"no mixer", 0, true, 10, 0},
  };
  TNoSoundServer noServer;
  for (const TCase& c : cases) {
    TScopedMixerDouble mixer;
    mixer->SetDeviceCount(c.Devices);
    mixer->SetSpeakersLine(c.Speakers);
    ResetWin32Version();
    EXPECT_EQ(Win32MajorVersion(), c.Major) << c.Name;
    EXPECT_EQ(Win32MinorVersion(), c.Minor) << c.Name;
    const size_t calls = mixer->Calls().size();
    Win32MajorVersion();
    EXPECT_EQ(mixer->Calls().size(), calls) << c.Name << ": detected once";
    EXPECT_EQ(mixer->OpenHandles(), 0) << c.Name;
  }
}

}  // namespace
