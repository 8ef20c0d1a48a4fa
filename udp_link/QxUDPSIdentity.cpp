// The component's host-identity properties and methods, each a view of the host identity.
#include <qx/net/blcksock.h>
#include <qx/udp_link/HostIdentity.h>
#include <qx/udp_link/QxUDPS.h>

void TQxUDPS::RefreshPcIP() {
  TStringList list;
  GetAdapterList(&list, false, false);
  if (list.Count() > 0) FpcIP = list[0];
}

String TQxUDPS::GetFpcIP() {
  RefreshPcIP();
  return FpcIP;
}

void TQxUDPS::SetFpcIPs(TStrings* /*Value*/) {
  GetAdapterList(FpcIPs.get(), true, false);
}

void TQxUDPS::SetFpcName(const String& /*Value*/) {
  TUDPBlockSocket sock;
  FpcName = sock.LocalName();
}

void TQxUDPS::SetFpcMAC(const String& /*Value*/) {
  TStringList list;
  GetAdapterList(&list, false, true);
  if (list.Count() > 0) FpcMAC = list[0];
  FpcMAC = StringReplace(FpcMAC, "-", "", rfReplaceAll);
}

String TQxUDPS::GetMACAdress() {
  return NetbiosMacAddress();
}
