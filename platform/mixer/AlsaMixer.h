// The mixer functions' real device: ALSA's simple mixer on "default", the user's default mixer
// (through the sound server where ALSA's default goes there). Its speakers line is the first of
// the playback elements "Master", "Speaker", "PCM", "Headphone"; its volume control that
// element's playback volume.
//
// One thread of the process's own makes every ALSA call, since through the sound server's plugin
// a call waits as long as the server does. The mixer functions answer from the state it keeps
// (never waiting, except for the first state at start-up, at most 2 s); a write is left for it,
// the latest replacing one not yet made; the mixer's change events reach the handles opened with
// CALLBACK_WINDOW. A mixer that will not open or goes away is tried again every 500 ms.
#pragma once

#include <qx/platform/mixer/MixerDevice.h>

// One device (0) while the "default" mixer is open, none otherwise.
TMixerSource& AlsaMixerSource();
