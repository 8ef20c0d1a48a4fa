// The daemon's form: a UDP component, the volume component linked to it and a track bar. The form
// file is a plain TForm, which the designer opens like any other; the daemon binds its own
// handlers to the parts it finds. Every status and audio event is printed, the peer's commands
// too, and packets that are ignored (strangers, non-commands) are summed up per sender once a
// second. The peer's queries are answered through the volume component's OnUdpQuery.
#pragma once

#include <functional>
#include <map>

#include <qx/framework/ui/Forms.h>
#include <qx/master_volume/QxMasterVol.h>
#include "VolumeListeners.h"
#include "apps/common/EventOutput.h"

class TVolumeRemote : public TForm {
  QX_CLASS(TVolumeRemote)
 protected:
  ~TVolumeRemote() override;

 public:
  explicit TVolumeRemote(TComponent* AOwner) : TForm(AOwner) {}
  // Its files are plain TForm files: the class adds only the daemon's handlers.
  const TClassInfo* StreamedClass() const override { return TForm::StaticClassInfo(); }

  // Published so that form files of earlier versions, which bound them by name, still load; the
  // daemon binds its handlers itself whatever a file says.
  void UdpGetPacket(TObject* Sender, String PacketUDP, String PacketUDPHex, String PeerIP,
                    String PeerPort, String& Response);
  void UdpStatus(TObject* Sender, bool Active, int32_t Error, String ErrorDesc);
  void VolumeAudioChange(TObject* Sender, int32_t MasterVolume, bool Mute);
  void VolumeUdpQuery(TObject* Sender, TQxUdpCommand Query, String& Answer);
  // Prints a packet that holds a command (any packet, with Verbose) and counts the others.
  void VolumeUdpCommand(TObject* Sender, String PeerIP, bool FromPeer,
                        std::vector<TQxUdpLine> Lines);

  // Finds the volume component and the UDP component it is linked to. Returns the error text,
  // empty when both are there.
  String FindParts();
  // Makes the link lead into this form's handlers whatever the form file bound: unlinks (which
  // gives the UDP component its own handlers back), installs the handlers, links again.
  void HookEvents();
  // Prints which device the volume component steers, then each coming and going of it.
  void HookDevice();

  TQxUDPS* Udp = nullptr;
  TQxMasterVol* Volume = nullptr;
  TEventPrinter* Printer = nullptr;
  // Every OnAudioChange also goes to these (the daemon's bridges).
  TVolumeListeners* AudioListeners = nullptr;
  // Every packet printed, ignored ones too.
  bool Verbose = false;
  // Called after each audio event, once the overlay's new frame is composed.
  std::function<void()> OnOverlayFrame;
  // Called once when the UDP component cannot bind: the code and text of its status event (the
  // daemon ends when its first form cannot; a form read again leaves the running one serving).
  std::function<void(int32_t error, const String& desc)> OnBindFailure;
  bool BindFailed = false;

 private:
  struct TIgnored {
    size_t Packets = 0, Bytes = 0;
  };
  void Ignore(const String& peer, size_t bytes);
  void ReportIgnored();

  // The packet the UDP component raised last, until the volume component's parse of it.
  struct TPacket {
    String Text, Hex, PeerIP, PeerPort;
  } FPacket;
  std::map<String, TIgnored> FIgnored;
  int64_t FIgnoredTimer = 0;
  int64_t FIgnoredSince = 0;
};

// The built-in form file.
extern const char* const kDefaultForm;
