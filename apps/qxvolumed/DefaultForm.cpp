#include "VolumeRemote.h"

// Listens on the loopback interface only and obeys the local host only: a user lets a network
// peer in explicitly (--ip, --remote-ip), one peer at a time.
const char* const kDefaultForm = R"(object VolumeRemote: TVolumeRemote
  Caption = 'Volume remote'
  object Udp: TQxUDPS
    UDPRxPort = '2800'
    UDPLocalIP = '127.0.0.1'
    UDPLineEndTx = 'CRLF'
    UDPLineEndRx = 'CRLF'
    OnGetPacketUDP = UdpGetPacket
    OnUDPStatus = UdpStatus
  end
  object TrackBar: TTrackBar
  end
  object Volume: TQxMasterVol
    UdpRemoteIP = '127.0.0.1'
    VolumeTrackBar = TrackBar
    QxUDPS = Udp
    OnAudioChange = VolumeAudioChange
  end
end
)";
