#include <qx/platform/mixer/AlsaMixer.h>

#include <alsa/asoundlib.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include <qx/platform/mixer/MixerScale.h>

namespace {

constexpr const char* kDefaultDevice = "default";
constexpr const char* kSpeakersElements[] = {"Master", "Speaker", "PCM", "Headphone"};
// The first answer waits this long for the mixer (a program's start); none after it waits.
constexpr std::chrono::milliseconds kFirstStateTimeout{2000};
// A mixer that would not open, or went away, is tried again this often.
constexpr std::chrono::milliseconds kRetryInterval{500};
// At exit, a write still waiting gets this long to reach a mixer that answers.
constexpr std::chrono::milliseconds kDrainTimeout{1000};

struct TMixerCloser {
  void operator()(snd_mixer_t* m) const { snd_mixer_close(m); }
};
using TMixerPtr = std::unique_ptr<snd_mixer_t, TMixerCloser>;

bool IsPlayback(snd_mixer_elem_t* e) {
  return snd_mixer_selem_has_playback_volume(e) || snd_mixer_selem_has_playback_switch(e) ||
         snd_mixer_selem_has_common_volume(e) || snd_mixer_selem_has_common_switch(e);
}

// A control steered on its capture side: one with a capture volume and no playback volume.
bool IsCapture(snd_mixer_elem_t* e) {
  return !snd_mixer_selem_has_playback_volume(e) && !snd_mixer_selem_has_common_volume(e) &&
         snd_mixer_selem_has_capture_volume(e);
}

bool HasVolume(snd_mixer_elem_t* e) {
  return snd_mixer_selem_has_playback_volume(e) || snd_mixer_selem_has_common_volume(e) ||
         snd_mixer_selem_has_capture_volume(e);
}

int VolumeRange(snd_mixer_elem_t* e, long& min, long& max) {
  return IsCapture(e) ? snd_mixer_selem_get_capture_volume_range(e, &min, &max)
                      : snd_mixer_selem_get_playback_volume_range(e, &min, &max);
}

bool HasChannel(snd_mixer_elem_t* e, snd_mixer_selem_channel_id_t c) {
  return IsCapture(e) ? snd_mixer_selem_has_capture_channel(e, c)
                      : snd_mixer_selem_has_playback_channel(e, c);
}

// The control a mixer device is steered by: the one named (NAME or NAME,INDEX), or the first
// playback control of kSpeakersElements.
snd_mixer_elem_t* FindSpeakers(snd_mixer_t* mixer, const String& control) {
  snd_mixer_selem_id_t* id;
  snd_mixer_selem_id_alloca(&id);
  if (!control.empty()) {
    const size_t comma = control.rfind(',');
    int32_t index = 0;
    const bool indexed = comma != String::npos && TryStrToInt(control.substr(comma + 1), index);
    snd_mixer_selem_id_set_index(id, indexed ? static_cast<unsigned>(index) : 0);
    snd_mixer_selem_id_set_name(id, (indexed ? control.substr(0, comma) : control).c_str());
    snd_mixer_elem_t* e = snd_mixer_find_selem(mixer, id);
    return e && (IsPlayback(e) || IsCapture(e)) ? e : nullptr;
  }
  for (const char* name : kSpeakersElements) {
    snd_mixer_selem_id_set_index(id, 0);
    snd_mixer_selem_id_set_name(id, name);
    snd_mixer_elem_t* e = snd_mixer_find_selem(mixer, id);
    if (e && IsPlayback(e)) return e;
  }
  return nullptr;
}

// What the mixer functions answer from.
struct TAlsaState {
  bool Present = false;   // the mixer is open
  bool Speakers = false;  // and has a speakers element
  TSpeakersLine Line;
  DWORD Value = 0;  // the loudest channel, 0..65535

  bool operator==(const TAlsaState& o) const {
    return Present == o.Present && Speakers == o.Speakers && Line.Name == o.Line.Name &&
           Line.Channels == o.Line.Channels && Line.HasVolume == o.Line.HasVolume &&
           Line.Steps == o.Line.Steps && Value == o.Value;
  }
};

// The speakers element as it is now; false when its value cannot be read.
bool ReadSpeakers(snd_mixer_elem_t* e, TAlsaState& s) {
  s.Speakers = true;
  s.Line.Name = snd_mixer_selem_get_name(e);
  s.Line.Channels = 0;
  for (int c = 0; c <= SND_MIXER_SCHN_LAST; ++c)
    if (HasChannel(e, snd_mixer_selem_channel_id_t(c))) ++s.Line.Channels;
  s.Line.Channels = std::max<DWORD>(s.Line.Channels, 1);
  s.Line.HasVolume = HasVolume(e);
  if (!s.Line.HasVolume) return true;
  long min = 0, max = 0;
  if (VolumeRange(e, min, max) < 0) return false;
  s.Line.Steps = static_cast<DWORD>(std::clamp<long>(max - min, 0, kMixerScaleMax));
  bool any = false;
  long loudest = min;
  for (int c = 0; c <= SND_MIXER_SCHN_LAST; ++c) {
    const auto channel = snd_mixer_selem_channel_id_t(c);
    long v = 0;
    if (!HasChannel(e, channel)) continue;
    const int got = IsCapture(e) ? snd_mixer_selem_get_capture_volume(e, channel, &v)
                                 : snd_mixer_selem_get_playback_volume(e, channel, &v);
    if (got < 0) return false;
    loudest = any ? std::max(loudest, v) : v;
    any = true;
  }
  if (!any) return false;
  s.Value = ScaleToMixer(loudest, min, max);
  return true;
}

bool WriteSpeakers(snd_mixer_elem_t* e, DWORD value) {
  long min = 0, max = 0;
  if (VolumeRange(e, min, max) < 0) return false;
  const long v = ScaleFromMixer(value, min, max);
  return (IsCapture(e) ? snd_mixer_selem_set_capture_volume_all(e, v)
                       : snd_mixer_selem_set_playback_volume_all(e, v)) >= 0;
}

// The mixer seen from one thread of its own, which alone calls ALSA: through the sound server's
// plugin an ALSA call waits as long as the server does, without a time-out. Others read the
// known state and leave writes in a slot where the latest replaces one not yet written, so a
// stalled server holds nobody and gets, once it runs again, the last value asked for. The thread
// follows the mixer's own change events (poll on its descriptors) and tells the watchers.
class TAlsaService {
 public:
  TAlsaService(String device, String control)
      : FWake(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)),
        FDevice(std::move(device)),
        FControl(std::move(control)) {}
  ~TAlsaService() {
    if (FWake >= 0) close(FWake);
  }

  // Runs the thread on a reference of its own, so that one left blocked at exit stays valid.
  static void Run(std::shared_ptr<TAlsaService> self) { self->Loop(); }

  // The known state, a write not yet done counted as done. Only the first call may wait, for
  // the first state.
  TAlsaState State() {
    std::unique_lock lock(FLock);
    if (!FWaitedForStart) {
      FChanged.wait_for(lock, kFirstStateTimeout, [&] { return FStarted; });
      FWaitedForStart = true;
    }
    return FoldedLocked();
  }

  MMRESULT Write(DWORD value) {
    {
      std::lock_guard lock(FLock);
      if (!FState.Present) return MMSYSERR_NODRIVER;
      if (!FState.Speakers || !FState.Line.HasVolume) return MIXERR_INVALCONTROL;
      FWaiting = value;
    }
    Wake();
    return MMSYSERR_NOERROR;
  }

  int Watch(std::function<void()> changed) {
    std::lock_guard lock(FWatchLock);
    FWatchers.emplace(FNextWatch, std::move(changed));
    return FNextWatch++;
  }
  // Once it returns, the watcher is not called again.
  void Unwatch(int id) {
    std::lock_guard deliver(FDeliverLock);
    std::lock_guard lock(FWatchLock);
    FWatchers.erase(id);
  }

  // Gives a waiting write up to timeout, then ends the thread; true when it has ended.
  bool Stop(std::chrono::milliseconds timeout) {
    std::unique_lock lock(FLock);
    FChanged.wait_for(lock, timeout, [&] { return !FState.Present || (!FWaiting && !FWriting); });
    FStop = true;
    lock.unlock();
    Wake();
    lock.lock();
    return FChanged.wait_for(lock, std::chrono::milliseconds(200), [&] { return FEnded; });
  }

 private:
  TAlsaState FoldedLocked() const {
    TAlsaState s = FState;
    if (FWaiting)
      s.Value = *FWaiting;
    else if (FWriting)
      s.Value = *FWriting;
    return s;
  }

  void Wake() {
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t n = write(FWake, &one, sizeof one);
  }

  // Records what the mixer says now; watchers hear of it when it changes what readers see.
  void Publish(const TAlsaState& now) {
    bool changed;
    {
      std::lock_guard lock(FLock);
      const TAlsaState before = FoldedLocked();
      const bool first = !FStarted;
      FState = now;
      FStarted = true;
      changed = !first && !(before == FoldedLocked());
    }
    FChanged.notify_all();
    if (!changed) return;
    std::lock_guard deliver(FDeliverLock);
    std::vector<std::function<void()>> watchers;
    {
      std::lock_guard lock(FWatchLock);
      for (auto& [id, w] : FWatchers) watchers.push_back(w);
    }
    for (auto& w : watchers) w();
  }

  static int OnElement(snd_mixer_elem_t* e, unsigned int mask) {
    auto* self = static_cast<TAlsaService*>(snd_mixer_elem_get_callback_private(e));
    if (mask == SND_CTL_EVENT_MASK_REMOVE)
      self->FElementGone = true;
    else
      self->FElementChanged = true;
    return 0;
  }

  bool Open() {
    snd_mixer_t* raw = nullptr;
    if (snd_mixer_open(&raw, 0) < 0) return false;
    TMixerPtr mixer(raw);
    if (snd_mixer_attach(mixer.get(), FDevice.c_str()) < 0 ||
        snd_mixer_selem_register(mixer.get(), nullptr, nullptr) < 0 ||
        snd_mixer_load(mixer.get()) < 0)
      return false;
    FMixer = std::move(mixer);
    FSpeakers = FindSpeakers(FMixer.get(), FControl);
    if (FSpeakers != nullptr) {
      snd_mixer_elem_set_callback_private(FSpeakers, this);
      snd_mixer_elem_set_callback(FSpeakers, OnElement);
    }
    FElementGone = false;
    FElementChanged = false;
    return true;
  }

  void Close() {
    FSpeakers = nullptr;
    FMixer.reset();
    Publish(TAlsaState{});
  }

  void Refresh() {
    TAlsaState s;
    s.Present = true;
    if (FSpeakers != nullptr && !ReadSpeakers(FSpeakers, s)) s = FState;  // keep what was known
    Publish(s);
  }

  void WriteWaiting() {
    DWORD value;
    {
      std::lock_guard lock(FLock);
      value = *FWaiting;
      FWaiting.reset();
      FWriting = value;
    }
    const bool ok = FSpeakers != nullptr && WriteSpeakers(FSpeakers, value);
    {
      std::lock_guard lock(FLock);
      FWriting.reset();
      if (ok) FState.Value = value;
    }
    FChanged.notify_all();
    if (!ok) Refresh();  // what the mixer holds after a refused write
  }

  // Waits for the mixer, a write, a stop, or (without a mixer) the next try.
  void Wait() {
    std::vector<pollfd> fds(1, pollfd{FWake, POLLIN, 0});
    if (FMixer) {
      const int n = snd_mixer_poll_descriptors_count(FMixer.get());
      if (n > 0) {
        fds.resize(1 + n);
        snd_mixer_poll_descriptors(FMixer.get(), fds.data() + 1, static_cast<unsigned>(n));
      }
    }
    const int timeout = FMixer ? -1 : static_cast<int>(kRetryInterval.count());
    if (poll(fds.data(), fds.size(), timeout) < 0) return;
    if (fds[0].revents & POLLIN) {
      uint64_t count;
      [[maybe_unused]] ssize_t r = read(FWake, &count, sizeof count);
    }
    if (!FMixer || fds.size() < 2) return;
    unsigned short revents = 0;
    snd_mixer_poll_descriptors_revents(FMixer.get(), fds.data() + 1,
                                       static_cast<unsigned>(fds.size() - 1), &revents);
    if (revents == 0) return;
    // The server gone: the plugin reports an error on every call from now on.
    if ((revents & (POLLERR | POLLNVAL)) || snd_mixer_handle_events(FMixer.get()) < 0 ||
        FElementGone) {
      Close();
      return;
    }
    if (FElementChanged) {
      FElementChanged = false;
      Refresh();
    }
  }

  void Loop() {
    for (;;) {
      bool writeWaiting;
      {
        std::lock_guard lock(FLock);
        if (FStop) break;
        writeWaiting = FWaiting.has_value();
      }
      if (!FMixer) {
        if (Open()) {
          Refresh();
          continue;
        }
        Publish(TAlsaState{});
        // A write asked for while there is no mixer has nowhere to go.
        {
          std::lock_guard lock(FLock);
          FWaiting.reset();
        }
        Wait();
        continue;
      }
      if (writeWaiting) {
        WriteWaiting();
        continue;
      }
      Wait();
    }
    FSpeakers = nullptr;
    FMixer.reset();
    {
      std::lock_guard lock(FLock);
      FEnded = true;
    }
    FChanged.notify_all();
  }

  const int FWake;
  const String FDevice;   // as snd_mixer_attach takes it
  const String FControl;  // empty: the first of kSpeakersElements

  // The worker's own.
  TMixerPtr FMixer;
  snd_mixer_elem_t* FSpeakers = nullptr;
  bool FElementChanged = false;
  bool FElementGone = false;

  std::mutex FLock;
  std::condition_variable FChanged;
  TAlsaState FState;
  bool FStarted = false;
  bool FWaitedForStart = false;
  bool FStop = false;
  bool FEnded = false;
  std::optional<DWORD> FWaiting;  // asked for, not yet taken by the thread
  std::optional<DWORD> FWriting;  // being written

  // Held for a whole delivery and by Unwatch, so that Unwatch never returns mid-delivery.
  std::mutex FDeliverLock;
  std::mutex FWatchLock;
  std::map<int, std::function<void()>> FWatchers;
  int FNextWatch = 1;
};

// The process's service, started on first use; at exit a waiting write gets its chance and the
// thread ends, or is left behind should the mixer still hold it.
class TAlsaServiceHolder {
 public:
  TAlsaServiceHolder(String device, String control)
      : FService(std::make_shared<TAlsaService>(std::move(device), std::move(control))),
        FThread(TAlsaService::Run, FService) {}
  ~TAlsaServiceHolder() {
    if (FService->Stop(kDrainTimeout))
      FThread.join();
    else
      FThread.detach();
  }
  const std::shared_ptr<TAlsaService>& Service() const { return FService; }

 private:
  std::shared_ptr<TAlsaService> FService;
  std::thread FThread;
};

// A handle left open past the end of the process's statics keeps the service it names.
const std::shared_ptr<TAlsaService>& Service() {
  static TAlsaServiceHolder holder(kDefaultDevice, "");
  return holder.Service();
}

// The service of one "DEVICE/CONTROL", started on first use and kept for the process.
std::shared_ptr<TAlsaService> NamedService(const String& name) {
  static std::mutex lock;
  static std::map<String, std::unique_ptr<TAlsaServiceHolder>> holders;
  std::lock_guard guard(lock);
  std::unique_ptr<TAlsaServiceHolder>& h = holders[name];
  if (!h) {
    const size_t slash = name.rfind('/');
    String device = slash == String::npos ? name : name.substr(0, slash);
    const String control = slash == String::npos ? String() : name.substr(slash + 1);
    if (device.empty()) device = kDefaultDevice;
    h = std::make_unique<TAlsaServiceHolder>(device, control);
  }
  return h->Service();
}

class TAlsaMixer : public TMixerDevice {
 public:
  explicit TAlsaMixer(std::shared_ptr<TAlsaService> service) : FService(std::move(service)) {}
  ~TAlsaMixer() override {
    if (FWatch != 0) FService->Unwatch(FWatch);
  }

  MMRESULT Speakers(TSpeakersLine& line) override {
    const TAlsaState s = FService->State();
    if (!s.Present || !s.Speakers) return MIXERR_INVALLINE;
    line = s.Line;
    return MMSYSERR_NOERROR;
  }

  MMRESULT GetVolume(DWORD& value) override {
    const TAlsaState s = FService->State();
    if (!s.Present) return MMSYSERR_NODRIVER;
    if (!s.Speakers || !s.Line.HasVolume) return MIXERR_INVALCONTROL;
    value = s.Value;
    return MMSYSERR_NOERROR;
  }

  MMRESULT SetVolume(DWORD value) override { return FService->Write(value); }

  bool Watch(std::function<void()> changed) override {
    if (FWatch != 0) FService->Unwatch(FWatch);
    FWatch = FService->Watch(std::move(changed));
    return true;
  }

 private:
  std::shared_ptr<TAlsaService> FService;
  int FWatch = 0;
};

// ALSA prints its failures (a server that does not answer, a missing card) on standard error;
// here they become result codes only.
void Quiet(const char*, int, const char*, int, const char*, ...) {}

class TAlsaSource : public TMixerSource {
 public:
  TAlsaSource() { snd_lib_error_set_handler(Quiet); }

  UINT NumDevs() override { return Service()->State().Present ? 1 : 0; }

  MMRESULT Open(UINT id, std::unique_ptr<TMixerDevice>& device) override {
    if (id != 0) return MMSYSERR_BADDEVICEID;
    if (!Service()->State().Present) return MMSYSERR_NODRIVER;
    device = std::make_unique<TAlsaMixer>(Service());
    return MMSYSERR_NOERROR;
  }

  // Opens whether or not the device is there now: its handle answers once it appears.
  MMRESULT OpenNamed(const String& name, std::unique_ptr<TMixerDevice>& device) override {
    device = std::make_unique<TAlsaMixer>(NamedService(name));
    return MMSYSERR_NOERROR;
  }
};

}  // namespace

TMixerSource& AlsaMixerSource() {
  static TAlsaSource source;
  return source;
}
