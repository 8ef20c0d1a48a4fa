#include <qx/platform/mixer/MixerControls.h>

#include <alsa/asoundlib.h>

namespace {

void AddControls(const String& device, const String& cardName,
                 std::vector<TMixerControlInfo>& out) {
  snd_mixer_t* mixer = nullptr;
  if (snd_mixer_open(&mixer, 0) < 0) return;
  if (snd_mixer_attach(mixer, device.c_str()) >= 0 &&
      snd_mixer_selem_register(mixer, nullptr, nullptr) >= 0 && snd_mixer_load(mixer) >= 0) {
    for (snd_mixer_elem_t* e = snd_mixer_first_elem(mixer); e; e = snd_mixer_elem_next(e)) {
      const bool playback =
          snd_mixer_selem_has_playback_volume(e) || snd_mixer_selem_has_common_volume(e);
      const bool capture = !playback && snd_mixer_selem_has_capture_volume(e);
      if (!playback && !capture) continue;
      String name = device + "/" + snd_mixer_selem_get_name(e);
      if (const unsigned index = snd_mixer_selem_get_index(e); index != 0)
        name += "," + IntToStr(static_cast<int32_t>(index));
      out.push_back({name, cardName, capture});
    }
  }
  snd_mixer_close(mixer);
}

}  // namespace

std::vector<TMixerControlInfo> ListMixerControls() {
  std::vector<TMixerControlInfo> out;
  AddControls("default", "default", out);
  for (int card = -1; snd_card_next(&card) >= 0 && card >= 0;) {
    char* longName = nullptr;
    String cardName;
    if (snd_card_get_longname(card, &longName) >= 0 && longName != nullptr) {
      cardName = longName;
      free(longName);
    }
    AddControls("hw:" + IntToStr(card), cardName, out);
  }
  return out;
}
