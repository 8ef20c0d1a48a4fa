#include "VolumeRemote.h"

// Listens on the loopback interface only and obeys the local host only: a user lets a network
// peer in explicitly (--ip, --remote-ip), one peer at a time. Every line of a datagram is a
// command, so that commands sent close together are all obeyed.
const char* const kDefaultForm = R"(object VolumeRemote: TForm
  Caption = 'Volume remote'
  object Udp: TQxUDPS
    UDPRxPort = '2800'
    UDPLocalIP = '127.0.0.1'
    UDPLineEndTx = 'CRLF'
    UDPLineEndRx = 'CRLF'
  end
  object TrackBar: TTrackBar
  end
  object Volume: TQxMasterVol
    UdpAtEachLine = True
    UdpRemoteIP = '127.0.0.1'
    VolumeTrackBar = TrackBar
    QxUDPS = Udp
  end
end
)";
