// One component taking over another's running receive thread.
#include <qx/udp_link/QxUDPS.h>
#include <qx/udp_link/UDPServerThread.h>

bool TQxUDPS::TakeOverReceiveThread(TQxUDPS* running) {
  if (running == nullptr || running == this || FUDPThread != nullptr || FUDPActive || IsDesigning())
    return false;
  TUDPThread* t = running->FUDPThread;
  // A thread still binding, or stopping, is no socket to take over.
  if (t == nullptr || t->F_STOP || running->FBoundPort == 0) return false;
  const bool samePort =
      FUDPRxPort == t->FUDPLocalPort || StrToIntDef(FUDPRxPort, -1) == running->FBoundPort;
  if (!SameText(FUDPLocalIP, t->FUDPLocalHostIP) || !samePort) return false;

  FBoundPort = running->FBoundPort.load();
  running->FUDPThread = nullptr;
  running->FUDPActive = false;
  running->FBoundPort = 0;
  FUDPThread = t;
  t->OnTerminate = TNotifyEvent(this, &TQxUDPS::KillUDPSrvThread);
  t->Rehome(static_cast<IQxUDPSOwner*>(this));
  FUDPError = 0;
  FUDPErrorDesc.clear();
  // Packets the thread has already cut by the other component's properties are cut again by
  // these: the versions must differ.
  FPropsVersion = running->FPropsVersion + 1;
  FUDPActive = true;
  return true;
}
