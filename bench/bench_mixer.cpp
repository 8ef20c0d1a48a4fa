// One legacy-mixer read and one write the way the volume component makes them (count devices,
// open, find the speakers line and its volume control, read or write, close) on ALSA's "default"
// mixer, against the same work done with bare ALSA calls in the same run (open, attach, load,
// find the element, read or write, close); and, for scale, a bare read or write on a mixer held
// open. The mixer functions answer from a state their own thread keeps, so a write is also timed
// until the sink has it. Run under scripts/with-pulse: "default" then goes through the private
// daemon.
#include <alsa/asoundlib.h>
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

#include <qx/platform/mixer/MixerScale.h>
#include <qx/platform/mixer/mmsystem.h>
#include "tests/platform/mixer_caller.h"

namespace {

using Clock = std::chrono::steady_clock;

double MedianMicroseconds(std::vector<double> us) {
  std::sort(us.begin(), us.end());
  return us[us.size() / 2];
}

void Time(const std::function<void()>& step, std::vector<double>& out) {
  const auto t0 = Clock::now();
  step();
  out.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
}

// The component's sequence; a read counts the devices first.
void MixerCycle(bool write, DWORD value) {
  if (!write && mixerGetNumDevs() < 1) std::exit(1);
  TMixerCaller caller;
  if ((write ? caller.Write(value) : caller.Read(value)) != MMSYSERR_NOERROR) std::exit(1);
}

snd_mixer_t* BareOpen(snd_mixer_elem_t*& master) {
  snd_mixer_t* m = nullptr;
  if (snd_mixer_open(&m, 0) < 0 || snd_mixer_attach(m, "default") < 0 ||
      snd_mixer_selem_register(m, nullptr, nullptr) < 0 || snd_mixer_load(m) < 0)
    std::exit(1);
  snd_mixer_selem_id_t* id;
  snd_mixer_selem_id_alloca(&id);
  snd_mixer_selem_id_set_name(id, "Master");
  master = snd_mixer_find_selem(m, id);
  if (!master) std::exit(1);
  return m;
}

void BareStep(snd_mixer_t* m, snd_mixer_elem_t* master, bool write, long value) {
  if (write) {
    snd_mixer_selem_set_playback_volume_all(master, value);
  } else {
    long v = 0;
    snd_mixer_handle_events(m);
    snd_mixer_selem_get_playback_volume(master, SND_MIXER_SCHN_FRONT_LEFT, &v);
  }
}

void BareCycle(bool write, long value) {
  snd_mixer_elem_t* master = nullptr;
  snd_mixer_t* m = BareOpen(master);
  BareStep(m, master, write, value);
  snd_mixer_close(m);
}

// A write through the mixer functions, until the held mixer sees the sink at that value: the
// calls now leave the write to the mixer's own thread, so this is what the server takes.
void MixerWriteSeen(snd_mixer_t* held, snd_mixer_elem_t* master, DWORD value) {
  long min = 0, max = 0;
  snd_mixer_selem_get_playback_volume_range(master, &min, &max);
  const long want = ScaleFromMixer(value, min, max);
  MixerCycle(true, value);
  const auto deadline = Clock::now() + std::chrono::seconds(5);
  for (long now = -1; now != want;) {
    if (Clock::now() > deadline) std::exit(1);
    pollfd fds[4];
    const int n = snd_mixer_poll_descriptors(held, fds, 4);
    poll(fds, static_cast<nfds_t>(n), 10);
    snd_mixer_handle_events(held);
    snd_mixer_selem_get_playback_volume(master, SND_MIXER_SCHN_FRONT_LEFT, &now);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QX_PULSE_START")) {
    std::fprintf(stderr, "bench_mixer: run under scripts/with-pulse\n");
    return 77;
  }
  int rounds = argc > 1 ? std::atoi(argv[1]) : 400;
  rounds = std::max(rounds, 20);
  snd_mixer_elem_t* heldMaster = nullptr;
  snd_mixer_t* held = BareOpen(heldMaster);
  std::vector<double> read, write, bareRead, bareWrite, heldRead, heldWrite, seen;
  // Every write changes the level: a write of the level already set may cost nothing.
  auto next = [k = 0u]() mutable { return 1000 + (k++ % 7) * 9000; };
  // Interleaved, so that a change in load hits every side alike.
  for (int i = 0; i < rounds; ++i) {
    Time([&] { MixerCycle(false, 0); }, read);
    Time([&] { BareCycle(false, 0); }, bareRead);
    Time([&] { MixerCycle(true, next()); }, write);
    Time([&] { BareCycle(true, next()); }, bareWrite);
    Time([&] { BareStep(held, heldMaster, false, 0); }, heldRead);
    Time([&] { BareStep(held, heldMaster, true, next()); }, heldWrite);
    Time([&] { MixerWriteSeen(held, heldMaster, next()); }, seen);
  }
  snd_mixer_close(held);
  const double r = MedianMicroseconds(read), w = MedianMicroseconds(write);
  const double br = MedianMicroseconds(bareRead), bw = MedianMicroseconds(bareWrite);
  std::printf("rounds per side: %d (medians)\n", rounds);
  std::printf("mixer read  (count, open, find, read, close): %9.1f us\n", r);
  std::printf("bare ALSA read  (open, load, find, read, close): %9.1f us   ratio %.2f\n", br,
              r / br);
  std::printf("mixer write (open, find, write, close)      : %9.1f us\n", w);
  std::printf("bare ALSA write (open, load, find, write, close): %9.1f us   ratio %.2f\n", bw,
              w / bw);
  std::printf("bare ALSA on a mixer held open: read %.1f us, write %.1f us\n",
              MedianMicroseconds(heldRead), MedianMicroseconds(heldWrite));
  const double sw = MedianMicroseconds(seen);
  std::printf(
      "mixer write until the sink has it           : %9.1f us   ratio %.2f to the bare write\n", sw,
      sw / bw);
  return 0;
}
