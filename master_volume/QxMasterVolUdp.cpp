// The link to a TQxUDPS: the QxUDPS and port write methods and the two handlers the component
// installs on the linked UDP component (AT commands from the configured peer, and the network
// badge of the overlay). This file is where that link lives.
#include "master_volume/QxMasterVol.h"

void TQxMasterVol::setFUdp(TQxUDPS* Value) {
  FUdp = Value;
  if (Value == nullptr) return;
  Value->FreeNotification(this);
}

void TQxMasterVol::ReleaseUdpLink() {
  if (FUdp == nullptr) return;
  RemoveFreeNotification(FUdp);
  FUdp = nullptr;
}

void TQxMasterVol::MyOnGetPacketUDP(TObject*, String, String, String, String, String&) {}

void TQxMasterVol::MyOnUDPStatus(TObject*, bool, int32_t, String) {}

void TQxMasterVol::SetFUdpRxPort(const String& Value) {
  FUdpRxPort = Value;
}

void TQxMasterVol::SetFUdpTxPort(const String& Value) {
  FUdpTxPort = Value;
}
