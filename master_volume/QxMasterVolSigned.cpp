// Signed commands of the volume component: the key, the check that sits where the peer check
// sits, and the preference that lets the linked UDP component's receive thread keep the lines
// that prove the key ahead of a flood, even one forged from the peer's own address.
#include <arpa/inet.h>

#include <mutex>

#include <qx/master_volume/QxMasterVol.h>

namespace {

// Runs on the UDP component's worker threads: a datagram goes ahead when its first line is
// signed by the key with a counter not yet used. Whatever fails the cheap tests (the address,
// the form of the line, the counter) costs no MAC, so that a flood of forged lines costs one MAC
// each at most.
class TSignedPreference : public IQxUDPSPreference {
 public:
  TSignedPreference(const TQxCommandKey& key, std::shared_ptr<std::atomic<uint64_t>> last,
                    uint32_t addr)
      : FMac(key), FLast(std::move(last)), FAddr(addr) {}

  bool Prefer(std::string_view datagram, const sockaddr_in& from) override {
    if (FAddr != 0 && from.sin_addr.s_addr != FAddr) return false;
    TSignedLine s;
    if (!ParseSignedLine(datagram.substr(0, datagram.find_first_of("\r\n")), s) ||
        s.Counter <= FLast->load(std::memory_order_relaxed))
      return false;
    std::lock_guard<std::mutex> g(FLock);
    return FMac.Verify(s);
  }

 private:
  std::mutex FLock;  // the receive thread and a one-shot send's thread may ask at once
  TCommandMac FMac;
  std::shared_ptr<std::atomic<uint64_t>> FLast;
  uint32_t FAddr;  // UdpRemoteIP, network order; 0: any sender
};

}  // namespace

void TQxMasterVol::SetUdpKey(const TQxCommandKey& Key) {
  FSigned.reset();  // its last counter is written before the new one reads it
  FSigned = std::make_unique<TSignedCommands>(Key, FUdpCounterFile);
  FUdpKeyWanted = true;
  if (String problem = FSigned->TakeProblem(); !problem.empty()) SayUdpKeyProblem(problem);
  InstallUdpPreference();
}

void TQxMasterVol::ClearUdpKey() {
  FSigned.reset();
  FUdpKeyWanted = false;
  InstallUdpPreference();
}

void TQxMasterVol::SetFUdpKeyFile(const String& Value) {
  FUdpKeyFile = Value;
  if (!IsLoading() && !IsDesigning()) LoadUdpKeyFile();
}

void TQxMasterVol::SetFUdpCounterFile(const String& Value) {
  FUdpCounterFile = Value;
  if (!FSigned) return;
  TQxCommandKey key = FSigned->Key();
  SetUdpKey(key);
  Cleanse(key.data(), key.size());
}

void TQxMasterVol::LoadUdpKeyFile() {
  if (FUdpKeyFile.empty()) {
    ClearUdpKey();
    return;
  }
  TQxCommandKey key;
  std::string error;
  if (ReadKeyFile(FUdpKeyFile, key, error)) {
    SetUdpKey(key);
    Cleanse(key.data(), key.size());
    return;
  }
  // A key was asked for: without it nothing is obeyed, rather than everything.
  FSigned.reset();
  FUdpKeyWanted = true;
  InstallUdpPreference();
  SayUdpKeyProblem(error + "; no command is obeyed");
}

void TQxMasterVol::SayUdpKeyProblem(const String& Problem) {
  FUdpKeyProblem = Problem;
  if (FOnUdpKeyProblem.Assigned()) FOnUdpKeyProblem(this, Problem);
}

void TQxMasterVol::InstallUdpPreference() {
  if (FUdp == nullptr || IsDesigning()) return;
  std::shared_ptr<IQxUDPSPreference> next;
  if (FSigned) {
    in_addr a{};
    const uint32_t addr = inet_pton(AF_INET, FUdpRemoteIP.c_str(), &a) == 1 ? a.s_addr : 0;
    next = std::make_shared<TSignedPreference>(FSigned->Key(), FSigned->LastCounter(), addr);
  }
  // Only ever replaces its own: a preference the program set stays while there is no key.
  if (next || (FUdpPreference && FUdp->Preference() == FUdpPreference)) FUdp->SetPreference(next);
  FUdpPreference = next;
}

void TQxMasterVol::ObeySignedPacket(const String& PeerIP, const String& PacketUDP,
                                    String& Response) {
  const std::vector<TQxUdpLine> lines = CutUdpLines(PacketUDP);
  // A non-empty UdpRemoteIP still narrows who may speak.
  if (!IsUdpPeer(PeerIP) || !FSigned) {
    FUdpSignedDropped += lines.size();
    return;
  }
  // The counter file is written on a thread of its own: a failure comes back with a later packet.
  if (String problem = FSigned->TakeProblem(); !problem.empty()) SayUdpKeyProblem(problem);
  // Each line is checked when its turn comes, after the lines before it were obeyed.
  for (const TQxUdpLine& line : lines) {
    std::string_view command;
    uint64_t counter = 0;
    // The bytes as they came on the wire (one per character): the tag covers those.
    const RawByteString wire = StringToAnsi(line.Text);
    if (!FSigned->Accept(wire.Bytes(), command, counter)) {
      ++FUdpSignedDropped;
      continue;
    }
    FAnswerCounter = counter;
    const String text = AnsiToString(RawByteString::FromBytes(command));
    if (!ObeyUdpCommand({text, MatchUdpCommand(text), line.LineEnd}, Response)) return;
    FAnswerCounter = 0;
  }
}

std::vector<TQxUdpLine> TQxMasterVol::SignedCommandLines(const String& PacketUDP) const {
  std::vector<TQxUdpLine> commands;
  if (!FSigned) return commands;
  for (const TQxUdpLine& line : CutUdpLines(PacketUDP)) {
    std::string_view command;
    const RawByteString wire = StringToAnsi(line.Text);
    if (FSigned->Check(wire.Bytes(), command))
      commands.push_back(
          {AnsiToString(RawByteString::FromBytes(command)), TQxUdpCommand::None, line.LineEnd});
  }
  return commands;
}

String TQxMasterVol::SignedAnswer(const String& answer) const {
  const RawByteString wire = StringToAnsi(answer);
  return AnsiToString(RawByteString(FSigned->SignAnswer(wire.Bytes(), FAnswerCounter)));
}
