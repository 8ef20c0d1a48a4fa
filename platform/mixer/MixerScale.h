// The linear map between an ALSA element's own volume range and the mixer functions' 0..65535,
// rounding to the nearest step, so that a value written and read back is the value written
// whenever the element has at least 65536 steps.
#pragma once

#include <algorithm>
#include <cstdint>

#include <qx/platform/hostinfo/WinDef.h>

constexpr DWORD kMixerScaleMax = 65535;

// An element value (clamped to min..max) on the 0..65535 scale; 0 for an empty range.
constexpr DWORD ScaleToMixer(long value, long min, long max) {
  if (max <= min) return 0;
  const int64_t range = int64_t{max} - min;
  const int64_t v = std::clamp<int64_t>(value, min, max) - min;
  return static_cast<DWORD>((v * kMixerScaleMax + range / 2) / range);
}

// A 0..65535 value (clamped) as an element value in min..max.
constexpr long ScaleFromMixer(DWORD value, long min, long max) {
  if (max <= min) return min;
  const int64_t range = int64_t{max} - min;
  const int64_t v = std::min<DWORD>(value, kMixerScaleMax);
  return static_cast<long>(min + (v * range + kMixerScaleMax / 2) / kMixerScaleMax);
}
