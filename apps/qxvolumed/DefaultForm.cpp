#include "VolumeRemote.h"

// Listens on the loopback interface only and obeys the local host only: a user lets a network
// peer in explicitly (--ip, --remote-ip), one peer at a time. Each datagram is taken whole, as
// remotes send them (with CR LF, LF or no line end at all), and every line of it is a command, so
// that commands sent close together are all obeyed and nothing waits for a line end.
const char* const kDefaultForm = R"(object VolumeRemote: TForm
  Caption = 'Volume remote'
  object Udp: TQxUDPS
    UDPRxPort = '2800'
    UDPLocalIP = '127.0.0.1'
    UDPLineEndTx = 'CRLF'
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
