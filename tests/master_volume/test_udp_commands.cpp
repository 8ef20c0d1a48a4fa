// The volume component linked to a UDP component: the AT command parser, the status handler and
// the network badge, the port copies, and the link's life (saved handlers, relinking, either
// component destroyed first).
#include <cmath>

#include <qx/framework/core/FormStream.h>
#include <qx/udp_link/PacketText.h>
#include "volume_fixture.h"

namespace {

// What the application installed on the UDP component before the link: records each call.
struct TAppHandlers {
  std::vector<TObject*> PacketSenders;
  std::vector<TObject*> StatusSenders;
  String Answer;
  void Install(TQxUDPS* udp) {
    udp->SetFOnGetPacketUDP(
        TOnGetPacketUDP::Callable([this](TObject* s, String, String, String, String, String& r) {
          PacketSenders.push_back(s);
          if (!Answer.empty()) r = Answer;
        }));
    udp->SetFOnUDPStatus(TOnUDPStatus::Callable(
        [this](TObject* s, bool, int32_t, String) { StatusSenders.push_back(s); }));
  }
};

class UdpLink : public VolumeTest {
 protected:
  void SetUp() override {
    VolumeTest::SetUp();
    owner.reset(new TComponent(nullptr));
    udp = new TQxUDPS(owner.get());
  }
  void TearDown() override {
    owner.reset();
    VolumeTest::TearDown();
  }
  // The packet event as the UDP component raises it; returns the response.
  String Packet(const String& text, const String& peer = "127.0.0.1", TQxUDPS* from = nullptr) {
    String response;
    TQxUDPS* u = from ? from : udp;
    u->OnGetPacketUDP()(u, text, HexForm(StringToAnsi(text)), peer, "50000", response);
    return response;
  }
  TProbedMasterVol* Linked(TQxUDPS* to = nullptr) {
    auto* v = new TProbedMasterVol(owner.get());
    Record(v);
    v->SetFUdpRemoteIP("127.0.0.1");
    v->setFUdp(to ? to : udp);
    return v;
  }
  int32_t Percent() { return static_cast<int32_t>(std::lround(endpoint->Level() * 100)); }

  TOwned<TComponent> owner;
  TQxUDPS* udp = nullptr;
};

// A form whose file binds the UDP component's packet event to a method of its own.
class TRemoteForm : public TComponent {
  QX_CLASS(TRemoteForm)
 protected:
  ~TRemoteForm() override = default;

 public:
  using TComponent::TComponent;
  void Got(TObject*, String, String, String, String, String& Response) { Response = "SEEN"; }
};
QX_DEFINE_CLASS(TRemoteForm, TComponent,
                [](TPropsBuilder<TRemoteForm>& p) { p.Method("Got", &TRemoteForm::Got); })

struct TCommandCase {
  const char* Text;
  const char* Peer;
  int32_t Volume;  // after, starting from 20 % unmuted
  bool Mute;
};

}  // namespace

TEST_F(UdpLink, CommandsFromTheConfiguredPeer) {
  const TCommandCase cases[] = {
      {"AT+SETVOL=40", "127.0.0.1", 40, false},    {"AT+SETVOL=150", "127.0.0.1", 100, false},
      {"AT+SETVOL=-5", "127.0.0.1", 20, false},    {"AT+SETVOL=", "127.0.0.1", 20, false},
      {"AT+SETVOL=40 ", "127.0.0.1", 20, false},   {"AT+SETVOL=40\r", "127.0.0.1", 20, false},
      {"AT+SETVOL= 40", "127.0.0.1", 40, false},   {"AT+SETVOL=$1E", "127.0.0.1", 30, false},
      {"AT+SETVOL=0", "127.0.0.1", 0, false},      {"at+setvol=40", "127.0.0.1", 20, false},
      {"AT+SETVOL=40", "127.0.0.2", 20, false},    {"AT+SETVOL=40", "127.000.0.1", 20, false},
      {"AT+MUTE", "127.0.0.1", 20, true},          {"AT+MUTE now", "127.0.0.1", 20, true},
      {"at+mute", "127.0.0.1", 20, false},         {"AT+MUTE", "127.0.0.2", 20, false},
      {"AT+GETMUTE", "127.0.0.1", 20, false},      {"AT+VOLUP", "127.0.0.1", 22, false},
      {"AT+VOLDOWN", "127.0.0.1", 18, false},      {"AT+VOLDOWNWARD", "127.0.0.1", 18, false},
      {"AT+VOL", "127.0.0.1", 20, false},          {"", "127.0.0.1", 20, false},
      {"\xff\x01garbage", "127.0.0.1", 20, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string("\"") + c.Text + "\" from " + c.Peer);
    endpoint->ChangeLevel(0.2f);
    endpoint->ChangeMute(false);
    auto* v = Linked();
    EXPECT_EQ(Packet(c.Text, c.Peer), "");  // the parser never answers
    EXPECT_EQ(Percent(), c.Volume);
    EXPECT_EQ(endpoint->Muted(), c.Mute);
    TObject::Free(v);
  }
}

// Packets as remotes send them: several lines at once, a line end left on a datagram, queries
// among commands. Each row starts from 20 % unmuted; the answers come from the application's
// OnUdpQuery, in the order of the queries.
TEST_F(UdpLink, EveryLineIsOneCommandWhenAsked) {
  struct TCase {
    bool EachLine;
    const char* Text;
    int32_t Volume;
    const char* Response;
  };
  const TCase cases[] = {
      {true, "AT+VOLUP\r\nAT+VOLUP\r\nAT+VOLUP\r\nAT+VOLUP\r\nAT+VOLUP", 30, ""},
      {true, "AT+SETVOL=40\r\n", 40, ""},
      {true, "AT+SETVOL=40\r\nAT+MUTE", 40, ""},
      {true, "AT+SETVOL=20\r\nAT+GETVOL", 20, "VOL=20"},
      {true, "AT+SETVOL=35\nAT+GETVOL\r\rAT+GETMUTE\n", 35, "VOL=35\rMUTE=0\n"},
      {true, "\r\n\r\n", 20, ""},
      {true, "AT+SETVOL=40 \r\nAT+VOLDOWN", 18, ""},
      // The whole packet is one command: the first line's argument takes the rest.
      {false, "AT+VOLUP\r\nAT+VOLUP", 22, ""},
      {false, "AT+SETVOL=40\r\n", 20, ""},
      {false, "AT+SETVOL=20\r\nAT+GETVOL", 20, ""},
      {false, "AT+GETVOL", 20, "VOL=20"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.EachLine ? "each line: " : "whole: ") + c.Text);
    endpoint->ChangeLevel(0.2f);
    endpoint->ChangeMute(false);
    auto* v = Linked();
    v->SetFUdpAtEachLine(c.EachLine);
    udp->SetFUDPLineEndRx("CRLF");
    v->SetFOnUdpQuery(TOnUdpQuery::Callable([v](TObject* s, TQxUdpCommand q, String& answer) {
      EXPECT_EQ(s, v);
      answer = q == TQxUdpCommand::GetVolume ? "VOL=" + IntToStr(v->Volume())
                                             : String(v->GetMute() ? "MUTE=1" : "MUTE=0");
    }));
    EXPECT_EQ(Packet(c.Text), c.Response);
    EXPECT_EQ(Percent(), c.Volume);
    EXPECT_EQ(Packet("AT+GETVOL", "127.0.0.2"), "");  // never to another peer
    TObject::Free(v);
  }
}

// Whole datagrams, as the daemon takes them: each answer ends as its question did, none when
// none, so that a remote reads back what it would have sent.
TEST_F(UdpLink, EachAnswerEndsWithItsQuestionsLineEnd) {
  const std::pair<const char*, const char*> cases[] = {
      {"AT+GETVOL", "VOL=20"},
      {"AT+GETVOL\r\n", "VOL=20\r\n"},
      {"AT+GETVOL\n", "VOL=20\n"},
      {"AT+GETVOL\r\nAT+GETMUTE\r\n", "VOL=20\r\nMUTE=0\r\n"},
      {"AT+GETVOL\nAT+GETMUTE", "VOL=20\nMUTE=0"},
      {"AT+SETVOL=30\r\nAT+GETVOL\r\nAT+VOLUP\r\n", "VOL=30\r\n"},
  };
  for (const auto& [question, answer] : cases) {
    SCOPED_TRACE(question);
    endpoint->ChangeLevel(0.2f);
    auto* v = Linked();
    v->SetFUdpAtEachLine(true);
    udp->SetFUDPLineEndRx("");
    v->SetFOnUdpQuery(TOnUdpQuery::Callable([v](TObject*, TQxUdpCommand q, String& a) {
      a = q == TQxUdpCommand::GetVolume ? "VOL=" + IntToStr(v->Volume()) : String("MUTE=0");
    }));
    EXPECT_EQ(Packet(question), answer);
    TObject::Free(v);
  }
}

// 0.0.0.0 names no sender: a datagram "from" it (a host without an address yet, or a forgery)
// is never the peer's, even when the peer is written so.
TEST_F(UdpLink, NoDatagramFromAnAddressOfNobodyIsObeyed) {
  for (const char* peer : {"0.0.0.0", "255.255.255.255", "224.0.0.1"}) {
    SCOPED_TRACE(peer);
    endpoint->ChangeLevel(0.2f);
    auto* v = Linked();
    v->SetFUdpRemoteIP(peer);
    Packet("AT+SETVOL=90", peer);
    EXPECT_EQ(Percent(), 20);
    TObject::Free(v);
  }
}

TEST_F(UdpLink, WithoutARemoteIPNothingActsButTheApplicationSeesEveryPacket) {
  TAppHandlers app;
  app.Install(udp);
  auto* v = Linked();
  v->SetFUdpRemoteIP("");
  for (const char* peer : {"127.0.0.1", "0.0.0.0", "10.1.2.3"}) Packet("AT+SETVOL=90", peer);
  EXPECT_EQ(Percent(), 40);
  EXPECT_EQ(app.PacketSenders, (std::vector<TObject*>(3, v)));
}

// The application learns what the parser made of each packet, before the component acts on it.
TEST_F(UdpLink, EveryPacketIsHandedOnAsParsedBeforeItIsObeyed) {
  struct Case {
    const char* Text;
    const char* Peer;
    bool FromPeer;
    std::vector<TQxUdpLine> Lines;
  };
  const Case cases[] = {
      {"AT+VOLUP\r\nhello",
       "127.0.0.1",
       true,
       {{"AT+VOLUP", TQxUdpCommand::VolumeUp, "\r\n"}, {"hello", TQxUdpCommand::None}}},
      {"AT+GETVOL", "127.0.0.1", true, {{"AT+GETVOL", TQxUdpCommand::GetVolume}}},
      {"AT+VOLUP", "127.0.0.2", false, {}},
  };
  auto* v = Linked();
  v->SetFUdpAtEachLine(true);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Text);
    int calls = 0;
    const int32_t before = Percent();
    v->SetFOnUdpCommand(TOnUdpCommand::Callable(
        [&](TObject* s, String peer, bool fromPeer, std::vector<TQxUdpLine> lines) {
          ++calls;
          EXPECT_EQ(s, v);
          EXPECT_EQ(peer, c.Peer);
          EXPECT_EQ(fromPeer, c.FromPeer);
          EXPECT_EQ(lines, c.Lines);
          EXPECT_EQ(Percent(), before);  // nothing obeyed yet
        }));
    Packet(c.Text, c.Peer);
    EXPECT_EQ(calls, 1);
  }
}

TEST_F(UdpLink, AnEmptySetVolumeWordTakesEveryPacketAsANumber) {
  auto* v = Linked();
  v->SetFUdpAtCmdIn("");
  Packet("30");
  EXPECT_EQ(Percent(), 30);
  Packet("AT+MUTE");  // not a number, and the other words are never reached
  Packet("AT+VOLUP");
  EXPECT_EQ(Percent(), 30);
  EXPECT_FALSE(endpoint->Muted());
}

TEST_F(UdpLink, StepUpAtFullOnTheLegacyPathStillAppliesAndShows) {
  SetWin32Version(5, 1);
  mixer->SetValue(65535);
  auto* v = Linked();
  events.clear();
  Packet("AT+VOLUP");
  EXPECT_EQ(v->Volume(), 100);
  EXPECT_EQ(mixer->Value(), 65535u);
  EXPECT_FALSE(events.empty());
  Packet("AT+MUTE");  // no mute on that path
  EXPECT_FALSE(v->GetMute());
}

TEST_F(UdpLink, TheApplicationsHandlersRunFirstWithTheVolumeComponentAsSender) {
  TAppHandlers app;
  app.Answer = "OK";
  app.Install(udp);
  auto* v = Linked();
  EXPECT_EQ(Packet("AT+SETVOL=55"), "OK");
  EXPECT_EQ(Percent(), 55);
  udp->OnUDPStatus()(udp, false, 0, "");
  EXPECT_EQ(app.PacketSenders, std::vector<TObject*>{v});
  EXPECT_EQ(app.StatusSenders, std::vector<TObject*>{v});
}

TEST_F(UdpLink, StatusEventsShowTheBadgeFromTheComponentsState) {
  auto* v = Linked();
  ASSERT_NE(frmVolume, nullptr);
  v->SetFUdpRxPort("0");
  udp->SetFUDPLocalIP("127.0.0.1");
  udp->SetUDPActive(true);  // the status event arrives from the receive thread
  ASSERT_TRUE(LoopUntil([&] { return !events.empty(); }));
  EXPECT_TRUE(frmVolume->imgWiFi->Visible());
  EXPECT_TRUE(frmVolume->Visible());
  events.clear();
  udp->SetUDPActive(false);
  ASSERT_TRUE(LoopUntil([&] { return !events.empty(); }));
  EXPECT_FALSE(frmVolume->imgWiFi->Visible());
  EXPECT_EQ(events.back().Volume, v->Volume());
  // A failed bind, and an event whose argument disagrees with the component, change nothing.
  events.clear();
  frmVolume->imgWiFi->SetVisible(true);
  udp->OnUDPStatus()(udp, false, 10048, "Address already in use");
  EXPECT_TRUE(events.empty());
  EXPECT_TRUE(frmVolume->imgWiFi->Visible());
  udp->OnUDPStatus()(udp, true, 0, "");
  EXPECT_FALSE(frmVolume->imgWiFi->Visible());  // UDPActive is false
}

TEST_F(UdpLink, PortWritesReachTheLinkedComponentOnly) {
  udp->SetFUDPRxPort("1111");
  udp->SetFUDPTxPort("1112");
  auto* v = new TProbedMasterVol(owner.get());
  v->SetFUdpRxPort("2222");  // before the link
  v->setFUdp(udp);           // linking copies nothing
  EXPECT_EQ(udp->UDPRxPort(), "1111");
  v->SetFUdpRxPort("3333");
  v->SetFUdpTxPort("3334");
  EXPECT_EQ(udp->UDPRxPort(), "3333");
  EXPECT_EQ(udp->UDPTxPort(), "3334");
  // In the designer: the ports follow, no handler is taken over.
  TAppHandlers app;
  auto* du = new TQxUDPS(owner.get());
  app.Install(du);
  auto* dv = new TProbedMasterVol(owner.get());
  du->SetDesigning(true);
  dv->SetDesigning(true);
  dv->setFUdp(du);
  dv->SetFUdpRxPort("4444");
  EXPECT_EQ(du->UDPRxPort(), "4444");
  Packet("AT+SETVOL=10", "", du);
  EXPECT_EQ(app.PacketSenders, std::vector<TObject*>{du});
}

// Each scenario ends with the UDP component's handlers checked: the application's, or none.
TEST_F(UdpLink, NoInstalledHandlerOutlivesTheLink) {
  TAppHandlers app;
  app.Install(udp);
  const TOnGetPacketUDP appPacket = udp->OnGetPacketUDP();
  const TOnUDPStatus appStatus = udp->OnUDPStatus();
  auto restored = [&](TQxUDPS* u) {
    return u->OnGetPacketUDP() == appPacket && u->OnUDPStatus() == appStatus;
  };

  auto* v = Linked();
  v->setFUdp(udp);  // written twice: the application's handler is still the saved one
  app.PacketSenders.clear();
  Packet("AT+SETVOL=10");
  EXPECT_EQ(app.PacketSenders, std::vector<TObject*>{v});
  v->setFUdp(nullptr);
  EXPECT_TRUE(restored(udp));

  auto* other = new TQxUDPS(owner.get());
  v->setFUdp(udp);
  v->setFUdp(other);  // relinked: the first gets its handlers back
  EXPECT_TRUE(restored(udp));
  EXPECT_FALSE(other->OnGetPacketUDP() == TOnGetPacketUDP());
  TObject::Free(other);  // the linked UDP component goes first: forgotten
  EXPECT_EQ(v->QxUDPS(), nullptr);

  // Two volume components on one UDP component; the first one linked goes first.
  v->setFUdp(udp);
  auto* second = Linked();
  TObject::Free(v);
  app.PacketSenders.clear();
  Packet("AT+SETVOL=12");
  EXPECT_EQ(Percent(), 12);
  EXPECT_EQ(app.PacketSenders, std::vector<TObject*>{second});
  TObject::Free(second);
  EXPECT_TRUE(restored(udp));
}

TEST_F(UdpLink, AStreamedFormKeepsItsOwnHandlerInFrontOfTheParser) {
  TOwned<TComponent> form(CreateComponentFromText(R"(object F: TRemoteForm
  object U: TQxUDPS
    OnGetPacketUDP = Got
  end
  object V: TQxMasterVol
    UdpRemoteIP = '127.0.0.1'
    QxUDPS = U
  end
end
)",
                                                  nullptr));
  auto* u = dynamic_cast<TQxUDPS*>(form->FindComponent("U"));
  ASSERT_NE(u, nullptr);
  EXPECT_EQ(Packet("AT+SETVOL=33", "127.0.0.1", u), "SEEN");
  EXPECT_EQ(Percent(), 33);
}
