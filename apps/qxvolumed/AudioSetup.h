// Chooses the volume component's audio path before any component exists: the sound server, the
// ALSA mixer (the legacy path), or none.
#pragma once

#include "DaemonOptions.h"

// Fixes the run-time version numbers the component chooses its path by. Returns the error text
// when the forced path is not there (the daemon then exits 1); empty otherwise. `note` gets a
// line for standard error when auto finds nothing.
// A named device (--device) need not be there yet: it is steered once it appears.
String SetUpAudio(TAudioChoice choice, const String& device, String& note);
