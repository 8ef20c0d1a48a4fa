// udp-echo: a TQxUDPS on 127.0.0.1:PORT that answers every packet with its own text, until SIGINT
// or SIGTERM, or until COUNT packets are answered. Port 0 takes a free one; the line says which.
//   udp-echo PORT [COUNT]
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include <qx/framework/app/Application.h>
#include <qx/udp_link/QxUDPS.h>

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: udp-echo PORT [COUNT]\n");
    return 2;
  }
  const long count = argc == 3 ? std::atol(argv[2]) : 0;

  // The stop signals reach the main loop through a descriptor; blocked before any thread starts,
  // so that the component's threads never take them.
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);
  const int signals = signalfd(-1, &stop, SFD_CLOEXEC);
  Application->AddWatch(signals, [] { Application->Terminate(); });

  TOwned<TComponent> root(new TComponent(nullptr));
  auto* udp = new TQxUDPS(root.get());
  udp->SetFUDPLocalIP("127.0.0.1");
  udp->SetFUDPRxPort(argv[1]);
  udp->SetFOnUDPStatus(
      TOnUDPStatus::Callable([udp](TObject*, bool active, int32_t error, String desc) {
        if (error != 0) {
          std::fprintf(stderr, "udp-echo: %s\n", desc.c_str());
          Application->Terminate();
        } else if (active) {
          std::printf("listening on 127.0.0.1:%d\n", udp->BoundPort());
        }
        std::fflush(stdout);
      }));
  long answered = 0;
  udp->SetFOnGetPacketUDP(TOnGetPacketUDP::Callable(
      [&](TObject*, String text, String, String peer, String port, String& response) {
        std::printf("%s:%s: %s\n", peer.c_str(), port.c_str(), text.c_str());
        std::fflush(stdout);
        response = text;
        if (count > 0 && ++answered == count) Application->Terminate();
      }));
  udp->SetUDPActive(true);
  Application->Run();
  return udp->UDPError() != 0 ? 1 : 0;
}
