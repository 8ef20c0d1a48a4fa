// The mixer functions' real device: ALSA's simple mixer on "default", the user's default mixer
// (through the sound server where ALSA's default goes there). Its speakers line is the first of
// the playback elements "Master", "Speaker", "PCM", "Headphone"; its volume control that
// element's playback volume.
#pragma once

#include <qx/platform/mixer/MixerDevice.h>

// One device (0) when the "default" control device opens, none otherwise.
TMixerSource& AlsaMixerSource();
