#include <qx/platform/mixer/SysVersion.h>

#include <mutex>
#include <optional>
#include <utility>

#include <qx/platform/mixer/SoundServerProbe.h>
#include <qx/platform/mixer/mmsystem.h>

namespace {

// Long enough for a busy local server, short enough not to stall a program's start.
constexpr std::chrono::milliseconds kServerTimeout{1000};

std::mutex gLock;
std::optional<std::pair<int, int>> gVersion;

// Asked through the mixer functions, so that a test's scripted mixer answers here too.
bool MixerHasSpeakersLine() {
  if (mixerGetNumDevs() < 1) return false;
  HMIXER mixer = nullptr;
  if (mixerOpen(&mixer, 0, 0, 0, 0) != MMSYSERR_NOERROR) return false;
  MIXERLINEW line{};
  line.cbStruct = sizeof line;
  line.dwComponentType = MIXERLINE_COMPONENTTYPE_DST_SPEAKERS;
  const bool found = mixerGetLineInfoW(reinterpret_cast<HMIXEROBJ>(mixer), &line,
                                       MIXER_GETLINEINFOF_COMPONENTTYPE) == MMSYSERR_NOERROR;
  mixerClose(mixer);
  return found;
}

std::pair<int, int> Detect() {
  if (SoundServerAnswers(kServerTimeout)) return {10, 0};
  if (MixerHasSpeakersLine()) return {5, 1};
  return {10, 0};
}

std::pair<int, int> Version() {
  std::lock_guard lock(gLock);
  if (!gVersion) gVersion = Detect();
  return *gVersion;
}

}  // namespace

int Win32MajorVersion() {
  return Version().first;
}
int Win32MinorVersion() {
  return Version().second;
}

void SetWin32Version(int major, int minor) {
  std::lock_guard lock(gLock);
  gVersion = {major, minor};
}

void ResetWin32Version() {
  std::lock_guard lock(gLock);
  gVersion.reset();
}
