// The overlay step as the volume component drives the form: edge, opaque again, hold restarted,
// values, shown (placed on the first show only), on top, repainted. Shared by the headless and
// the X11 overlay tests.
#pragma once

#include <qx/master_volume/frmVolumeU.h>

inline void ShowOverlayStep(TfrmVolume* form, int32_t volume, bool mute, TAlign align) {
  form->VolAlign = align;
  form->SetAlphaBlend(false);
  form->SetAlphaBlendValue(255);
  form->Timer2->SetEnabled(false);
  form->Timer1->SetEnabled(false);
  form->Timer1->SetEnabled(true);
  Fvol = volume;
  FMute = mute;
  if (!form->Visible()) form->Show();
  form->SetTopMost(form->Handle(), true, false);
  form->pnlVol->Invalidate();
}
