// The daemon's form: a UDP component, the volume component linked to it and a track bar, and the
// handlers its form file binds. Every status, packet and audio event is printed; the configured
// peer's two queries are answered here, in the application's handler the link calls first, since
// the volume component's own command parser never answers.
#pragma once

#include <functional>

#include <qx/framework/ui/Forms.h>
#include <qx/master_volume/QxMasterVol.h>
#include "apps/common/EventOutput.h"

// The query the daemon answers with "VOL=" and the volume in percent.
extern const char* const kGetVolumeQuery;

// Whether `text` is the command `word` by the parser's rule: its first N characters equal the
// word (N the word's length); an empty word is no command.
bool IsCommand(const String& text, const String& word);

class TVolumeRemote : public TForm {
  QX_CLASS(TVolumeRemote)
 protected:
  ~TVolumeRemote() override = default;

 public:
  explicit TVolumeRemote(TComponent* AOwner) : TForm(AOwner) {}

  void UdpGetPacket(TObject* Sender, String PacketUDP, String PacketUDPHex, String PeerIP,
                    String PeerPort, String& Response);
  void UdpStatus(TObject* Sender, bool Active, int32_t Error, String ErrorDesc);
  void VolumeAudioChange(TObject* Sender, int32_t MasterVolume, bool Mute);

  // Finds the volume component and the UDP component it is linked to. Returns the error text,
  // empty when both are there.
  String FindParts();
  // Makes the link lead into this form's handlers whatever the form file bound: unlinks (which
  // gives the UDP component its own handlers back), installs the handlers, links again.
  void HookEvents();

  TQxUDPS* Udp = nullptr;
  TQxMasterVol* Volume = nullptr;
  TEventPrinter* Printer = nullptr;
  // Called after each audio event, once the overlay's new frame is composed.
  std::function<void()> OnOverlayFrame;
  // Bind failures reported so far.
  int Failures = 0;
};

// The built-in form file.
extern const char* const kDefaultForm;
