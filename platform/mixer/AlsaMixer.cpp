#include <qx/platform/mixer/AlsaMixer.h>

#include <alsa/asoundlib.h>

#include <algorithm>

#include <qx/platform/mixer/MixerScale.h>

namespace {

constexpr const char* kDevice = "default";
constexpr const char* kSpeakersElements[] = {"Master", "Speaker", "PCM", "Headphone"};

struct TMixerCloser {
  void operator()(snd_mixer_t* m) const { snd_mixer_close(m); }
};
using TMixerPtr = std::unique_ptr<snd_mixer_t, TMixerCloser>;

bool IsPlayback(snd_mixer_elem_t* e) {
  return snd_mixer_selem_has_playback_volume(e) || snd_mixer_selem_has_playback_switch(e) ||
         snd_mixer_selem_has_common_volume(e) || snd_mixer_selem_has_common_switch(e);
}

snd_mixer_elem_t* FindSpeakers(snd_mixer_t* mixer) {
  snd_mixer_selem_id_t* id;
  snd_mixer_selem_id_alloca(&id);
  for (const char* name : kSpeakersElements) {
    snd_mixer_selem_id_set_index(id, 0);
    snd_mixer_selem_id_set_name(id, name);
    snd_mixer_elem_t* e = snd_mixer_find_selem(mixer, id);
    if (e && IsPlayback(e)) return e;
  }
  return nullptr;
}

class TAlsaMixer : public TMixerDevice {
 public:
  TAlsaMixer(TMixerPtr mixer, snd_mixer_elem_t* speakers)
      : FMixer(std::move(mixer)), FSpeakers(speakers) {}

  MMRESULT Speakers(TSpeakersLine& line) override {
    if (!FSpeakers) return MIXERR_INVALLINE;
    line.Name = snd_mixer_selem_get_name(FSpeakers);
    line.Channels = 0;
    for (int c = 0; c <= SND_MIXER_SCHN_LAST; ++c)
      if (snd_mixer_selem_has_playback_channel(FSpeakers, snd_mixer_selem_channel_id_t(c)))
        ++line.Channels;
    line.Channels = std::max<DWORD>(line.Channels, 1);
    line.HasVolume = HasVolume();
    long min = 0, max = 0;
    if (line.HasVolume && snd_mixer_selem_get_playback_volume_range(FSpeakers, &min, &max) == 0)
      line.Steps = static_cast<DWORD>(std::clamp<long>(max - min, 0, kMixerScaleMax));
    return MMSYSERR_NOERROR;
  }

  MMRESULT GetVolume(DWORD& value) override {
    if (!HasVolume()) return MIXERR_INVALCONTROL;
    Refresh();
    long min = 0, max = 0;
    if (snd_mixer_selem_get_playback_volume_range(FSpeakers, &min, &max) < 0) return MMSYSERR_ERROR;
    bool any = false;
    long loudest = min;
    for (int c = 0; c <= SND_MIXER_SCHN_LAST; ++c) {
      const auto channel = snd_mixer_selem_channel_id_t(c);
      long v = 0;
      if (!snd_mixer_selem_has_playback_channel(FSpeakers, channel)) continue;
      if (snd_mixer_selem_get_playback_volume(FSpeakers, channel, &v) < 0) return MMSYSERR_ERROR;
      loudest = any ? std::max(loudest, v) : v;
      any = true;
    }
    if (!any) return MMSYSERR_ERROR;
    value = ScaleToMixer(loudest, min, max);
    return MMSYSERR_NOERROR;
  }

  MMRESULT SetVolume(DWORD value) override {
    if (!HasVolume()) return MIXERR_INVALCONTROL;
    long min = 0, max = 0;
    if (snd_mixer_selem_get_playback_volume_range(FSpeakers, &min, &max) < 0) return MMSYSERR_ERROR;
    const long v = ScaleFromMixer(value, min, max);
    return snd_mixer_selem_set_playback_volume_all(FSpeakers, v) < 0 ? MMSYSERR_ERROR
                                                                     : MMSYSERR_NOERROR;
  }

 private:
  bool HasVolume() const {
    return FSpeakers && (snd_mixer_selem_has_playback_volume(FSpeakers) ||
                         snd_mixer_selem_has_common_volume(FSpeakers));
  }
  // The element caches its values; a handle kept open sees others' changes only after this.
  void Refresh() { snd_mixer_handle_events(FMixer.get()); }

  TMixerPtr FMixer;
  snd_mixer_elem_t* FSpeakers;
};

// ALSA prints its failures (a server that does not answer, a missing card) on standard error;
// here they become result codes only.
void Quiet(const char*, int, const char*, int, const char*, ...) {}

class TAlsaSource : public TMixerSource {
 public:
  TAlsaSource() { snd_lib_error_set_handler(Quiet); }

  UINT NumDevs() override {
    snd_ctl_t* ctl = nullptr;
    if (snd_ctl_open(&ctl, kDevice, 0) < 0) return 0;
    snd_ctl_close(ctl);
    return 1;
  }

  MMRESULT Open(UINT id, std::unique_ptr<TMixerDevice>& device) override {
    if (id != 0) return MMSYSERR_BADDEVICEID;
    snd_mixer_t* raw = nullptr;
    if (snd_mixer_open(&raw, 0) < 0) return MMSYSERR_NOMEM;
    TMixerPtr mixer(raw);
    if (snd_mixer_attach(mixer.get(), kDevice) < 0) return MMSYSERR_NODRIVER;
    if (snd_mixer_selem_register(mixer.get(), nullptr, nullptr) < 0 ||
        snd_mixer_load(mixer.get()) < 0)
      return MMSYSERR_ERROR;
    snd_mixer_elem_t* speakers = FindSpeakers(mixer.get());
    device = std::make_unique<TAlsaMixer>(std::move(mixer), speakers);
    return MMSYSERR_NOERROR;
  }
};

}  // namespace

TMixerSource& AlsaMixerSource() {
  static TAlsaSource source;
  return source;
}
