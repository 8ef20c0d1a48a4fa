// Signed commands: the line format, the key file, and the volume component with a key (what it
// obeys, what it drops unanswered, its signed answers, its counter across a restart).
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>

#include <qx/master_volume/SignedCommand.h>
#include "volume_fixture.h"

namespace {

// Bytes 00 01 .. 1f; tags below were computed with Python's hmac module.
TQxCommandKey TestKey() {
  TQxCommandKey k;
  for (size_t i = 0; i < k.size(); ++i) k[i] = static_cast<uint8_t>(i);
  return k;
}
const char* const kKeyHex = "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f";

String TempDir() {
  char tmpl[] = "/tmp/qx-signed-XXXXXX";
  return mkdtemp(tmpl);
}

String WriteFile(const String& path, const String& text, mode_t mode) {
  std::ofstream(path) << text;
  chmod(path.c_str(), mode);
  return path;
}

}  // namespace

TEST(SignedLine, KnownTagsAndTheirCheck) {
  TCommandMac mac(TestKey());
  EXPECT_EQ(mac.Sign("AT+SETVOL=40", 1), "AT+SETVOL=40;n=1;h=b6045c7d58a838299d6e5e5645a2abeb");
  EXPECT_EQ(mac.Sign("VOL=40", 1700000000000),
            "VOL=40;n=1700000000000;h=4021ae50bddd10352e0f8d5ce39b31b0");
  struct TCase {
    const char* Line;
    bool Parses, Verifies;
  };
  const TCase cases[] = {
      {"AT+SETVOL=40;n=1;h=b6045c7d58a838299d6e5e5645a2abeb", true, true},
      {"AT+SETVOL=40;n=1;h=B6045C7D58A838299D6E5E5645A2ABEB", true, true},     // upper case
      {"AT+SETVOL=41;n=1;h=b6045c7d58a838299d6e5e5645a2abeb", true, false},    // other command
      {"AT+SETVOL=40;n=2;h=b6045c7d58a838299d6e5e5645a2abeb", true, false},    // other counter
      {"AT+SETVOL=40;n=01;h=b6045c7d58a838299d6e5e5645a2abeb", false, false},  // leading zero
      {"AT+SETVOL=40;n=0;h=b6045c7d58a838299d6e5e5645a2abeb", false, false},
      {"AT+SETVOL=40;n=9223372036854775808;h=b6045c7d58a838299d6e5e5645a2abeb", false, false},
      {"AT+SETVOL=40;n=12345678901234567890;h=b6045c7d58a838299d6e5e5645a2abeb", false, false},
      {"AT+SETVOL=40;n=-1;h=b6045c7d58a838299d6e5e5645a2abeb", false, false},
      {"AT+SETVOL=40;n=1;h=b6045c7d58a838299d6e5e5645a2abe", false, false},    // 31 digits
      {"AT+SETVOL=40;n=1;h=b6045c7d58a838299d6e5e5645a2abebb", false, false},  // 33 digits
      {"AT+SETVOL=40;n=1;h=g6045c7d58a838299d6e5e5645a2abeb", false, false},   // non-hex
      {"AT+SETVOL=40;h=b6045c7d58a838299d6e5e5645a2abeb;n=1", false, false},   // wrong order
      {"AT+SETVOL=40;n=1", false, false},                                      // no ;h=
      {"AT+SETVOL=40", false, false},
      {";n=1;h=b6045c7d58a838299d6e5e5645a2abeb", true, false},  // empty command
      {"", false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Line);
    TSignedLine s;
    EXPECT_EQ(ParseSignedLine(c.Line, s), c.Parses);
    if (c.Parses) EXPECT_EQ(mac.Verify(s), c.Verifies);
  }
}

TEST(SignedLine, KeyFiles) {
  const String dir = TempDir();
  struct TCase {
    String Text;
    mode_t Mode;
    const char* Error;  // a part of the error; empty: read
  };
  const String key = kKeyHex;
  const TCase cases[] = {
      {key + "\n", 0600, ""},
      {" " + key + " \r\n", 0400, ""},
      {key + "\n", 0640, "permissions 0640 are too open"},
      {key + "\n", 0604, "permissions 0604 are too open"},
      {"", 0600, "is empty"},
      {"\n", 0600, "is empty"},
      {key.substr(0, 62), 0600, "holds 62 hexadecimal digits"},
      {key + "00", 0600, "holds 66 hexadecimal digits"},
      {"x" + key.substr(1), 0600, "no hexadecimal digit"},
      {key + "\n" + key, 0600, "no hexadecimal digit"},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Text);
    const String path = WriteFile(dir + "/key" + std::to_string(n++), c.Text, c.Mode);
    TQxCommandKey k{};
    std::string error;
    EXPECT_EQ(ReadKeyFile(path, k, error), c.Error[0] == '\0');
    EXPECT_NE(error.find(c.Error), std::string::npos) << error;
    if (c.Error[0] == '\0') EXPECT_EQ(k, TestKey());
  }
  // A new key: mode 0600, 64 digits, never written over an existing file.
  const String fresh = dir + "/fresh";
  std::string error;
  ASSERT_TRUE(WriteNewKeyFile(fresh, error)) << error;
  struct stat st;
  ASSERT_EQ(stat(fresh.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  TQxCommandKey a{}, b{};
  EXPECT_TRUE(ReadKeyFile(fresh, a, error)) << error;
  EXPECT_FALSE(WriteNewKeyFile(fresh, error));
  EXPECT_NE(error.find("never overwritten"), std::string::npos);
  ASSERT_TRUE(WriteNewKeyFile(dir + "/fresh2", error));
  EXPECT_TRUE(ReadKeyFile(dir + "/fresh2", b, error));
  EXPECT_NE(a, b);
  std::system(("rm -rf " + dir).c_str());
}

namespace {

class SignedLink : public VolumeTest {
 protected:
  void SetUp() override {
    VolumeTest::SetUp();
    dir = TempDir();
    owner.reset(new TComponent(nullptr));
    udp = new TQxUDPS(owner.get());
    endpoint->ChangeLevel(0.2f);
    endpoint->ChangeMute(false);
  }
  void TearDown() override {
    owner.reset();
    std::system(("rm -rf " + dir).c_str());
    VolumeTest::TearDown();
  }
  TProbedMasterVol* Linked(const String& remote) {
    auto* v = new TProbedMasterVol(owner.get());
    v->SetFUdpCounterFile(dir + "/counter");
    v->SetUdpKey(TestKey());
    v->SetFUdpRemoteIP(remote);
    v->setFUdp(udp);
    v->SetFOnUdpQuery(TOnUdpQuery::Callable([v](TObject*, TQxUdpCommand q, String& a) {
      if (q == TQxUdpCommand::GetVolume) a = "VOL=" + IntToStr(v->Volume());
    }));
    return v;
  }
  String Packet(const String& text, const String& peer = "127.0.0.1") {
    String response;
    udp->OnGetPacketUDP()(udp, text, "", peer, "50000", response);
    return response;
  }
  int32_t Percent() { return static_cast<int32_t>(std::lround(endpoint->Level() * 100)); }

  String dir;
  TOwned<TComponent> owner;
  TQxUDPS* udp = nullptr;
  TCommandMac mac{TestKey()};
};

}  // namespace

TEST_F(SignedLink, OnlyFreshLinesSignedByTheKeyAreObeyed) {
  struct TCase {
    String Text;
    const char* Peer;
    int32_t Volume;  // after, starting from 20 %, the last accepted counter being 100
  };
  const TCase cases[] = {
      {mac.Sign("AT+SETVOL=40", 101), "127.0.0.1", 40},
      {mac.Sign("AT+SETVOL=40", 100), "127.0.0.1", 20},  // replayed
      {mac.Sign("AT+SETVOL=40", 99), "127.0.0.1", 20},   // lower
      {"AT+SETVOL=40;n=101;h=00000000000000000000000000000000", "127.0.0.1", 20},
      {"AT+SETVOL=40", "127.0.0.1", 20},                          // unsigned
      {mac.Sign("AT+SETVOL=40", 101) + "x", "127.0.0.1", 20},     // malformed
      {mac.Sign("AT+SETVOL=40", 101), "127.0.0.2", 20},           // another sender
      {mac.Sign("AT+SETVOL=40", 101) + "\r\n", "127.0.0.1", 40},  // a datagram with its line end
      {mac.Sign("AT+VOLUP", 101) + "\r\n" + mac.Sign("AT+SETVOL=60", 102), "127.0.0.1", 60},
      {mac.Sign("AT+SETVOL=60", 102) + "\r\n" + mac.Sign("AT+SETVOL=70", 101), "127.0.0.1", 60},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Text + " from " + c.Peer);
    endpoint->ChangeLevel(0.2f);
    auto* v = Linked("127.0.0.1");
    ASSERT_EQ(Packet(mac.Sign("AT+SETVOL=20", 100)), "");
    const uint64_t dropped = v->UdpSignedDropped();
    EXPECT_EQ(Packet(c.Text, c.Peer), "");
    EXPECT_EQ(Percent(), c.Volume);
    if (c.Volume == 20) EXPECT_GT(v->UdpSignedDropped(), dropped);
    TObject::Free(v);
    std::remove((dir + "/counter").c_str());
  }
}

TEST_F(SignedLink, AnyProvingSenderIsThePeerWhenNoAddressIsSet) {
  auto* v = Linked("");
  EXPECT_EQ(Packet(mac.Sign("AT+SETVOL=40", 5), "127.0.0.9"), "");
  EXPECT_EQ(Percent(), 40);
  EXPECT_TRUE(v->IsUdpPeer("127.0.0.9"));
  // The answer carries the query's counter and the key's tag over its own text.
  EXPECT_EQ(Packet(mac.Sign("AT+GETVOL", 6), "127.0.0.10"), mac.Sign("VOL=40", 6));
  EXPECT_EQ(Packet("AT+GETVOL", "127.0.0.10"), "");  // unsigned: no answer
  // Without a key, an empty UdpRemoteIP is nobody again.
  v->ClearUdpKey();
  EXPECT_FALSE(v->IsUdpPeer("127.0.0.9"));
}

TEST_F(SignedLink, TheLastCounterOutlivesTheComponent) {
  auto* v = Linked("127.0.0.1");
  Packet(mac.Sign("AT+SETVOL=40", 1000));
  TObject::Free(v);
  std::ifstream kept(dir + "/counter");
  uint64_t counter = 0;
  kept >> counter;
  EXPECT_EQ(counter, 1000u);
  // A line captured before the restart is refused after it.
  v = Linked("127.0.0.1");
  Packet(mac.Sign("AT+SETVOL=70", 999));
  EXPECT_EQ(Percent(), 40);
  Packet(mac.Sign("AT+SETVOL=70", 1001));
  EXPECT_EQ(Percent(), 70);
}

TEST_F(SignedLink, ACounterFileThatCannotBeWrittenIsSaidOnceAndServingGoesOn) {
  auto* v = Linked("127.0.0.1");
  std::vector<String> said;
  v->SetFOnUdpKeyProblem(
      TOnUdpKeyProblem::Callable([&](TObject*, String p) { said.push_back(p); }));
  WriteFile(dir + "/blocked", "", 0600);
  v->SetFUdpCounterFile(dir + "/blocked/counter");  // a file where a folder should be
  // The file is written aside: its failure is said with a later packet.
  uint64_t n = 0;
  EXPECT_TRUE(LoopUntil([&] {
    ++n;
    Packet(mac.Sign("AT+SETVOL=" + IntToStr(30 + n % 50), n));
    return std::any_of(said.begin(), said.end(), [](const String& p) {
      return p.find("cannot keep the last counter") != String::npos;
    });
  }));
  for (int i = 0; i < 20; ++i) Packet(mac.Sign("AT+SETVOL=" + IntToStr(30 + ++n % 50), n));
  EXPECT_EQ(Percent(), static_cast<int32_t>(30 + n % 50));
  EXPECT_EQ(std::count_if(said.begin(), said.end(),
                          [](const String& p) {
                            return p.find("cannot keep the last counter") != String::npos;
                          }),
            1);
}

TEST_F(SignedLink, AKeyFileThatCannotBeReadLeavesEveryLineDropped) {
  auto* v = Linked("127.0.0.1");
  v->ClearUdpKey();
  v->SetFUdpKeyFile(WriteFile(dir + "/key", kKeyHex, 0644));
  EXPECT_TRUE(v->UdpKeySet());
  EXPECT_NE(v->UdpKeyProblem().find("too open"), String::npos);
  Packet(mac.Sign("AT+SETVOL=40", 1));
  Packet("AT+SETVOL=40");
  EXPECT_EQ(Percent(), 20);
  chmod((dir + "/key").c_str(), 0600);
  v->SetFUdpKeyFile(dir + "/key");
  Packet(mac.Sign("AT+SETVOL=40", 1));
  EXPECT_EQ(Percent(), 40);
}
