#include <qx/udp_link/QxUDPSThreadU.h>

TQxUDPSThread::TQxUDPSThread(TQxUDPS* AQxUDPS, bool Suspended) : TThread(true), FQxUDPS(AQxUDPS) {
  FreeOnTerminate = true;
  if (!Suspended) Start();
}

TQxUDPSThread::~TQxUDPSThread() = default;

void TQxUDPSThread::Execute() {}
