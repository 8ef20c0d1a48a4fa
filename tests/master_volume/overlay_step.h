// The overlay step as the volume component drives the form: edge, opaque again, hold restarted,
// values, shown (placed on the first show only), on top, repainted. Shared by the headless and
// the X11 overlay tests.
#pragma once

#include <qx/master_volume/frmVolumeU.h>

inline void ShowOverlayStep(TfrmVolume* form, int32_t volume, bool mute, TAlign align) {
  form->ShowLevel(volume, mute, align);
}
