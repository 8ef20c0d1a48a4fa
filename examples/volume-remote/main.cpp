// volume-remote: a form built in code that holds a TQxUDPS and a TQxMasterVol linked to it, so
// that the system volume obeys AT commands (AT+SETVOL=40, AT+VOLUP, AT+MUTE, ...) sent from PEER
// to 127.0.0.1:PORT. Every change, by a command or by any other program, is printed.
//   volume-remote [PORT [PEER]]   (defaults: 2800 127.0.0.1)
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdio>

#include <qx/framework/app/Application.h>
#include <qx/framework/ui/Forms.h>
#include <qx/master_volume/QxMasterVol.h>
#include <qx/udp_link/QxUDPS.h>

namespace {

// The stop signals reach the main loop through a descriptor; blocked before any thread starts,
// so that the components' threads never take them.
void StopOnSignals() {
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);
  Application->AddWatch(signalfd(-1, &stop, SFD_CLOEXEC), [] { Application->Terminate(); });
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 3) {
    std::fprintf(stderr, "usage: volume-remote [PORT [PEER]]\n");
    return 2;
  }
  StopOnSignals();
  TOwned<TForm> form(new TForm(nullptr));
  form->SetName("VolumeRemote");

  auto* udp = new TQxUDPS(form.get());
  udp->SetName("Udp");
  udp->SetFUDPLocalIP("127.0.0.1");
  udp->SetFUDPLineEndRx("CRLF");
  udp->SetFOnUDPStatus(
      TOnUDPStatus::Callable([](TObject*, bool active, int32_t error, String desc) {
        if (error != 0) {
          std::fprintf(stderr, "volume-remote: %s\n", desc.c_str());
          Application->Terminate();
        } else {
          std::printf("udp: %s\n", active ? "listening" : "stopped");
          std::fflush(stdout);
        }
      }));

  auto* volume = new TQxMasterVol(form.get());
  volume->SetName("Volume");
  volume->SetFOnAudioChange(TOnAudioChange::Callable([](TObject*, int32_t percent, bool mute) {
    std::printf("audio: volume %d%s\n", percent, mute ? " (muted)" : "");
    std::fflush(stdout);
  }));
  // The link installs the volume component's command parser on the UDP component (calling the
  // status handler above first) and carries the port to it.
  volume->setFUdp(udp);
  volume->SetFUdpRxPort(argc > 1 ? argv[1] : "2800");
  volume->SetFUdpRemoteIP(argc > 2 ? argv[2] : "127.0.0.1");

  udp->SetUDPActive(true);
  Application->Run();
  udp->SetUDPActive(false);
  return udp->UDPError() != 0 ? 1 : 0;
}
