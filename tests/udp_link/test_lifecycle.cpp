// Starting and stopping: status events, bind failures, the owner form's close hook, the designer,
// destruction while active, and a receive thread that does not end in time.
#include <gtest/gtest.h>
#include <cerrno>

#include <thread>

#include <qx/framework/core/FormStream.h>
#include <qx/framework/threads/Threads.h>
#include <qx/framework/ui/Forms.h>
#include <qx/udp_link/UDPServerThread.h>
#include "UdpTestKit.h"

namespace {

// Exposes the stop wait's length so that a stuck thread can be tested quickly.
class TShortWaitUDPS : public TQxUDPS {
 public:
  explicit TShortWaitUDPS(TComponent* o) : TQxUDPS(o) { SetStopWaitCycles(30); }
};

}  // namespace

TEST(Lifecycle, ValuesAfterCreate) {
  TOwned<TQxUDPS> u(new TQxUDPS(nullptr));
  EXPECT_FALSE(u->UDPActive());
  EXPECT_EQ(u->UDPRxPort(), "0");
  EXPECT_EQ(u->UDPTxPort(), "0");
  EXPECT_EQ(u->UDPLocalIP(), "127.0.0.1");
  EXPECT_EQ(u->UDPRxTimeout(), 100);
  EXPECT_EQ(u->Version(), "1.5");
  EXPECT_EQ(u->UDPLineEndRx(), "");
  EXPECT_FALSE(u->UTF8());
  EXPECT_FALSE(u->OnGetPacketUDP());
  const TPropInfo* version = u->ClassInfo()->FindProperty("Version");
  ASSERT_NE(version, nullptr);
  EXPECT_TRUE(version->IsReadOnly());
  EXPECT_THROW(version->SetStr(u.get(), "2"), Exception);
}

TEST(Lifecycle, OneStatusOnStartAndOneOnStopBeforeTheAssignmentReturns) {
  TOwned<TQxUDPS> u(new TQxUDPS(nullptr));
  Recorder r;
  r.Attach(u.get());
  u->SetUDPActive(true);
  EXPECT_TRUE(u->UDPActive());  // before the bind
  u->SetUDPActive(true);        // again: nothing new
  ASSERT_TRUE(Pump([&] { return !r.Statuses.empty(); }));
  PumpFor(std::chrono::milliseconds(30));
  ASSERT_EQ(r.Statuses.size(), 1u);
  EXPECT_TRUE(r.Statuses[0].Active);
  EXPECT_EQ(r.Statuses[0].Error, 0);
  EXPECT_EQ(r.Statuses[0].Desc, "");
  u->SetUDPActive(false);
  ASSERT_EQ(r.Statuses.size(), 2u);
  EXPECT_FALSE(r.Statuses[1].Active);
  EXPECT_EQ(r.Statuses[1].Error, 0);
  EXPECT_FALSE(u->UDPActive());
  u->SetUDPActive(false);
  PumpFor(std::chrono::milliseconds(20));
  EXPECT_EQ(r.Statuses.size(), 2u);
}

// The bind outcome reaches the component on the main thread, which has set its own fields by the
// time the status event shows them.
TEST(Lifecycle, TheBindOutcomeIsTheComponentsOwnWhenItsStatusIsRaised) {
  Peer holder;
  struct Case {
    bool Taken;
    int32_t Error;
    int Errno;
  };
  for (const Case c : {Case{true, 10048, EADDRINUSE}, Case{false, 0, 0}}) {
    SCOPED_TRACE(c.Taken);
    TOwned<TQxUDPS> u(new TQxUDPS(nullptr));
    u->SetFUDPRxPort(c.Taken ? IntToStr(holder.Port()) : "0");
    const auto mainThread = std::this_thread::get_id();
    int raised = 0;
    u->SetFOnUDPStatus(TOnUDPStatus::Callable([&](TObject*, bool active, int32_t error, String) {
      ++raised;
      EXPECT_EQ(std::this_thread::get_id(), mainThread);
      EXPECT_EQ(error, c.Error);
      EXPECT_EQ(u->UDPError(), error);
      EXPECT_EQ(u->UDPErrno(), c.Errno);
      EXPECT_EQ(u->UDPActive(), active);
      EXPECT_EQ(u->BoundPort() > 0, active);
    }));
    u->SetUDPActive(true);
    ASSERT_TRUE(Pump([&] { return raised > 0; }));
    EXPECT_EQ(u->UDPActive(), !c.Taken);
    u->SetUDPActive(false);
  }
}

TEST(Lifecycle, BindingAHeldPortReportsTwiceAndCanStartAgain) {
  Peer holder;  // holds a port on 127.0.0.1
  TOwned<TQxUDPS> u(new TQxUDPS(nullptr));
  Recorder r;
  r.Attach(u.get());
  u->SetFUDPRxPort(IntToStr(holder.Port()));
  u->SetUDPActive(true);
  EXPECT_TRUE(u->UDPActive());
  ASSERT_TRUE(Pump([&] { return r.Statuses.size() >= 2; }));
  for (const auto& s : r.Statuses) {
    EXPECT_FALSE(s.Active);
    EXPECT_EQ(s.Error, 10048);
    EXPECT_FALSE(s.Desc.empty());
  }
  EXPECT_FALSE(u->UDPActive());
  u->SetFUDPRxPort("0");
  r.Statuses.clear();
  ASSERT_TRUE(StartOnLoopback(u.get(), r));
  EXPECT_EQ(r.Statuses.back().Error, 0);
  u->SetUDPActive(false);
}

TEST(Lifecycle, StopIsPromptAndQueuedDatagramsAreDiscarded) {
  TOwned<TQxUDPS> u(new TQxUDPS(nullptr));
  Recorder r;
  r.Attach(u.get());
  ASSERT_TRUE(StartOnLoopback(u.get(), r));
  auto t0 = std::chrono::steady_clock::now();
  u->SetUDPActive(false);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
  EXPECT_FALSE(u->UDPActive());
}

// A handler that stops its own component (a "quit" packet) must not wait for the thread that
// waits for this very handler: the stop takes effect when the handler returns. The handler's
// response still goes out, nothing after it is delivered, and the stop's status follows.
TEST(Lifecycle, AHandlerThatStopsItsOwnComponentDoesNotWaitForItself) {
  TOwned<TQxUDPS> u(new TQxUDPS(nullptr));
  Recorder r;
  r.Attach(u.get());
  ASSERT_TRUE(StartOnLoopback(u.get(), r));
  bool activeAfterStop = true;
  r.Respond = [&](const PacketEvent&) {
    u->SetUDPActive(false);
    activeAfterStop = u->UDPActive();
    return String("bye");
  };
  Peer peer;
  peer.SendTo(u->BoundPort(), "quit");
  peer.SendTo(u->BoundPort(), "more");
  auto reply = peer.Receive();
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->Bytes, "bye");
  ASSERT_TRUE(Pump([&] { return r.Statuses.size() >= 2; }));
  EXPECT_FALSE(activeAfterStop);
  EXPECT_FALSE(r.Statuses[1].Active);
  EXPECT_EQ(r.Statuses[1].Error, 0);
  PumpFor(std::chrono::milliseconds(20));
  EXPECT_EQ(r.Packets.size(), 1u);
  EXPECT_EQ(r.Statuses.size(), 2u);
  EXPECT_FALSE(u->UDPActive());
}

// A component takes over another's bound socket and thread: datagrams that waited in the socket
// reach it, its responses leave from the same port, and the port is never free in between.
TEST(Lifecycle, AComponentTakesOverTheRunningSocketOfAnotherOnTheSameAddressAndPort) {
  TOwned<TQxUDPS> old(new TQxUDPS(nullptr));
  Recorder oldRec;
  oldRec.Attach(old.get());
  ASSERT_TRUE(StartOnLoopback(old.get(), oldRec));
  const int port = old->BoundPort();
  Peer peer;
  peer.SendTo(port, "waiting");  // the main loop does not turn until the takeover

  struct Refused {
    const char* Why;
    String Ip, Port;
  };
  for (const Refused& c : {Refused{"another port", "127.0.0.1", IntToStr(port + 1)},
                           Refused{"another address", "127.0.0.2", IntToStr(port)}}) {
    TOwned<TQxUDPS> other(new TQxUDPS(nullptr));
    other->SetFUDPLocalIP(c.Ip);
    other->SetFUDPRxPort(c.Port);
    EXPECT_FALSE(other->TakeOverReceiveThread(old.get())) << c.Why;
    EXPECT_TRUE(old->UDPActive()) << c.Why;
  }

  TOwned<TQxUDPS> now(new TQxUDPS(nullptr));
  Recorder rec;
  rec.Attach(now.get());
  rec.Respond = [](const PacketEvent& p) { return "got " + p.Packet; };
  now->SetFUDPRxPort(IntToStr(port));
  ASSERT_TRUE(now->TakeOverReceiveThread(old.get()));
  EXPECT_FALSE(old->UDPActive());
  EXPECT_TRUE(now->UDPActive());
  EXPECT_EQ(now->BoundPort(), port);
  old.reset();
  {
    // The port was never free for anyone else.
    const int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    EXPECT_NE(bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    close(s);
  }
  auto reply = peer.Receive();
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->Bytes, "got waiting");
  EXPECT_EQ(reply->FromPort, port);
  EXPECT_TRUE(oldRec.Packets.empty());
  EXPECT_EQ(oldRec.Statuses.size(), 1u);  // no status for the takeover
  now->SetUDPActive(false);
  ASSERT_EQ(rec.Statuses.size(), 1u);
  EXPECT_FALSE(rec.Statuses[0].Active);
}

TEST(Lifecycle, DestroyingRightAfterStartingIsClean) {
  for (int i = 0; i < 20; ++i) {
    TOwned<TQxUDPS> u(new TQxUDPS(nullptr));
    Recorder r;
    r.Attach(u.get());
    u->SetUDPActive(true);
    u.reset();
  }
  PumpFor(std::chrono::milliseconds(20));
}

TEST(Lifecycle, TheDesignerNeverStartsAnything) {
  TOwned<TComponent> root(new TComponent(nullptr));
  root->SetDesigning(true);
  auto* u = new TQxUDPS(root.get());
  Recorder r;
  r.Attach(u);
  u->SetUDPActive(true);
  EXPECT_FALSE(u->UDPActive());
  PumpFor(std::chrono::milliseconds(30));
  EXPECT_TRUE(r.Statuses.empty());
}

TEST(Lifecycle, DestroyingAnActiveComponentStopsItsThreadFirst) {
  Peer peer;
  TOwned<TQxUDPS> u(new TQxUDPS(nullptr));
  Recorder r;
  r.Attach(u.get());
  ASSERT_TRUE(StartOnLoopback(u.get(), r));
  int port = u->BoundPort();
  u.reset();
  // Traffic after the component is gone reaches nobody (and touches nothing freed).
  peer.SendTo(port, "late");
  PumpFor(std::chrono::milliseconds(50));
  EXPECT_TRUE(r.Packets.empty());
}

TEST(Lifecycle, AThreadThatDoesNotEndInTimeIsCutOffAndTheComponentStartsAgain) {
  TOwned<TShortWaitUDPS> u(new TShortWaitUDPS(nullptr));
  Recorder r;
  r.Attach(u.get());
  ASSERT_TRUE(StartOnLoopback(u.get(), r));
  Peer peer;
  // Holding the process-wide queue lock keeps the receive thread from finishing its send step.
  csCriticalSection->Enter();
  u->UDPServerSendTo("127.0.0.1", IntToStr(peer.Port()), RawByteString("stuck"));
  PumpFor(std::chrono::milliseconds(30));
  size_t before = r.Statuses.size();
  u->SetUDPActive(false);  // the wait runs out: the thread is abandoned
  EXPECT_FALSE(u->UDPActive());
  EXPECT_EQ(r.Statuses.size(), before);  // no status for an abandoned thread
  // Startable again at once.
  ASSERT_TRUE(StartOnLoopback(u.get(), r));
  u->SetUDPActive(false);
  // The component goes away while the abandoned thread still waits for the lock; letting the
  // thread go on must not touch it (the sanitizer builds watch this).
  u.reset();
  csCriticalSection->Leave();
  PumpFor(std::chrono::milliseconds(100));
  EXPECT_FALSE(peer.Receive(std::chrono::milliseconds(50)));
}

TEST(CloseHook, TheFormsOwnHandlerRunsFirstThenTheThreadStopsEvenIfTheCloseIsCancelled) {
  struct App : TObject {
    std::vector<String> log;
    TQxUDPS* udp = nullptr;
    void FormClose(TObject*, TCloseAction& a) {
      log.push_back(udp->UDPActive() ? "form handler (active)" : "form handler (inactive)");
      a = caNone;
    }
  };
  App app;
  TOwned<TForm> form(new TForm(nullptr));
  form->OnClose = TCloseEvent(&app, &App::FormClose);
  auto* u = new TQxUDPS(form.get());
  app.udp = u;
  Recorder r;
  r.Attach(u);
  u->SetLoadingState();  // as when read from a form file: Loaded installs the hook
  static_cast<TComponent*>(u)->Loaded();
  (void)form->Handle();
  ASSERT_TRUE(StartOnLoopback(u, r));
  form->Close();
  EXPECT_EQ(app.log, (std::vector<String>{"form handler (active)"}));
  EXPECT_FALSE(u->UDPActive());
  EXPECT_FALSE(r.Statuses.back().Active);
  // Freeing the component gives the form its handler back.
  TObject::Free(u);
  EXPECT_EQ(form->OnClose, TCloseEvent(&app, &App::FormClose));
}

TEST(CloseHook, OnlyAHookThatWasInstalledIsTakenBack) {
  TOwned<TForm> form(new TForm(nullptr));
  auto* u = new TQxUDPS(form.get());  // created by code: no Loaded, no hook
  int calls = 0;
  auto later = TCloseEvent::Callable([&](TObject*, TCloseAction&) { ++calls; });
  form->OnClose = later;  // assigned after the component exists
  TObject::Free(u);
  EXPECT_EQ(form->OnClose, later);
}

TEST(Streaming, AConfiguredComponentRoundTrips) {
  TOwned<TForm> form(new TForm(nullptr));
  form->SetName("Remote");
  auto* u = new TQxUDPS(form.get());
  u->SetName("Udp");
  u->SetFUDPRxPort("2800");
  u->SetFUDPLineEndRx("CRLF");
  u->SetFUDPLineEndTx("CR");
  u->SetFUTF8(true);
  u->SetFUDPRxTimeout(250);
  String text = WriteComponentToText(form.get());
  EXPECT_NE(text.find("UDPRxPort = '2800'"), String::npos);
  EXPECT_NE(text.find("UDPRxTimeout = 250"), String::npos);
  EXPECT_EQ(text.find("UDPActive"), String::npos);
  EXPECT_EQ(text.find("Version"), String::npos);

  TOwned<TForm> again(new TForm(nullptr));
  ReadComponentFromText(again.get(), text, "remote.qxf");
  auto* v = dynamic_cast<TQxUDPS*>(again->FindComponent("Udp"));
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->UDPRxPort(), "2800");
  EXPECT_EQ(v->UDPLineEndRx(), "CRLF");
  EXPECT_EQ(v->UDPLineEndTx(), "CR");
  EXPECT_TRUE(v->UTF8());
  EXPECT_EQ(v->UDPRxTimeout(), 250);
  // pcMAC comes from NetBIOS when created and from the adapter table when loaded, so the first
  // loaded copy may differ there; from then on the text is stable.
  String loaded = WriteComponentToText(again.get());
  TOwned<TForm> third(new TForm(nullptr));
  ReadComponentFromText(third.get(), loaded, "remote.qxf");
  EXPECT_EQ(WriteComponentToText(third.get()), loaded);
}

TEST(Streaming, AnActiveComponentInTheFileStartsAtRunTimeWithTheFilesPort) {
  int free;
  {
    Peer probe;  // a port that was free a moment ago
    free = probe.Port();
  }
  TOwned<TForm> form(new TForm(nullptr));
  // UDPActive comes before UDPRxPort in the file: it takes effect once the port is set.
  ReadComponentFromText(form.get(),
                        "object F: TForm\n  object Udp: TQxUDPS\n    UDPActive = True\n"
                        "    UDPRxPort = '" +
                            IntToStr(free) + "'\n  end\nend\n");
  auto* u = dynamic_cast<TQxUDPS*>(form->FindComponent("Udp"));
  ASSERT_NE(u, nullptr);
  EXPECT_TRUE(u->UDPActive());
  EXPECT_TRUE(Pump([&] { return u->BoundPort() != 0; }));
  EXPECT_EQ(u->BoundPort(), free);
  u->SetUDPActive(false);
  // In the designer the same file leaves it inactive.
  TOwned<TForm> designed(new TForm(nullptr));
  ReadComponentFromText(
      designed.get(), "object F: TForm\n  object Udp: TQxUDPS\n    UDPActive = True\n  end\nend\n",
      "f.qxf", true);
  EXPECT_FALSE(dynamic_cast<TQxUDPS*>(designed->FindComponent("Udp"))->UDPActive());
}

TEST(ThrDelay, WaitsItsTimeUnlessAnotherCallerEndsItEarly) {
  using namespace std::chrono;
  auto t0 = steady_clock::now();
  TUDPThread::ThrDelay(100);
  TUDPThread::ThrDelay(100);  // nobody left a count behind: waits again
  EXPECT_GE(steady_clock::now() - t0, milliseconds(190));

  // A long delay on another thread ends when a short one here finishes and releases.
  steady_clock::time_point longEnded;
  std::thread longer([&] {
    TUDPThread::ThrDelay(20000);
    longEnded = steady_clock::now();
  });
  std::this_thread::sleep_for(milliseconds(50));
  auto t1 = steady_clock::now();
  TUDPThread::ThrDelay(50);
  longer.join();
  EXPECT_LT(longEnded - t1, seconds(5));
}
