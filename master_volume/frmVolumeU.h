// The on-screen volume overlay: a borderless, always-on-top strip along the top or bottom screen
// edge with a speaker picture, an optional network badge and the bar panel, held opaque for
// four seconds after the last change and then faded out. One form serves the whole process.
#pragma once

#include <cstdint>

#include <qx/framework/app/Timers.h>
#include <qx/framework/ui/ExtCtrls.h>
#include <qx/framework/ui/Forms.h>

// The bar panel: the volume as a row of bars (lit) and dots (unlit), with a red zone above
// 90 percent, and as a large outlined percentage figure at the right end.
class TVolPanel : public TPanel {
  QX_CLASS(TVolPanel)
 protected:
  ~TVolPanel() override = default;

 public:
  explicit TVolPanel(TComponent* AOwner) : TPanel(AOwner) {}
  // Paints bars, dots and figure from Fvol and FMute, and shows the speaker picture that fits.
  void DrawBar();

 protected:
  void Paint() override;
};

class TfrmVolume : public TForm {
  QX_CLASS(TfrmVolume)
 protected:
  ~TfrmVolume() override = default;

 public:
  // Reads the form description (pictures, timers, colour key) into the new form.
  explicit TfrmVolume(TComponent* AOwner);

  // The one way to show a level: volume and mute along edge, opaque again with the hold
  // restarted (a fade in progress is cancelled), placed only when it was hidden, on top and
  // repainted. Stores both in Fvol and FMute. focusBack, when given and visible, gets the input
  // focus back before the overlay is put on top (the window that was being typed into).
  void ShowLevel(int32_t volume, bool mute, TAlign edge, TCustomForm* focusBack = nullptr);
  // The pictures of a capture device (a microphone, struck through when muted) instead of the
  // speaker's, from the next paint on.
  void ShowCapture(bool capture);

  TPanel* Panel1 = nullptr;
  TTimer* Timer1 = nullptr;
  TImage* Image1 = nullptr;
  TImage* imgWiFi = nullptr;
  TTimer* Timer2 = nullptr;
  TImage* imgMute = nullptr;

  void FormCreate(TObject* Sender);
  void FormShow(TObject* Sender);
  void Timer1Timer(TObject* Sender);
  void Timer2Timer(TObject* Sender);

  void SetTopMost(HWND hwnd, bool onTop, bool activate);

  TVolPanel* pnlVol = nullptr;
  TColor dotsColor = clWhite;
  TColor barsColor = clYellow;
  TAlign VolAlign = alBottom;

  TAlign VolumeAlign() const { return VolAlign; }
  void SetVolumeAlign(TAlign Value) { VolAlign = Value; }

 protected:
  void CreateParams(TCreateParams& Params) override;
  // The taskbar's edge: 1 top, 2 bottom, 3 left, 4 right; measures its width and height.
  int32_t GetTaskBarInfo();

 private:
  int32_t FTaskBarWidth = 0;
  int32_t FTaskBarHeight = 0;
};

// The one overlay form of the process, or nullptr.
extern TfrmVolume* frmVolume;
// The volume in percent the overlay shows (main thread only).
extern int32_t Fvol;
// The mute state the overlay shows (main thread only).
extern bool FMute;

// The form description of TfrmVolume (compiled in from frmVolumeU.qxf).
extern const char* const frmVolumeU_qxf;
