#include <qx/udp_link/PacketText.h>

#include <cstdio>

#include <qx/net/SockAddr.h>
#include <qx/net/synachar.h>

RawByteString LineEndBytes(const String& text) {
  if (SameText(text, "CRLF")) return RawByteString("\r\n");
  if (SameText(text, "CR")) return RawByteString("\r");
  return StringToAnsi(text);
}

String HexForm(const RawByteString& bytes) {
  String out;
  HexFormInto(bytes.Bytes(), out);
  return out;
}

void HexFormInto(std::string_view bytes, String& out) {
  static const char* kDigits = "0123456789ABCDEF";
  char count[24];
  const int n = std::snprintf(count, sizeof count, "HEX(%zu) ", bytes.size());
  out.assign(count, static_cast<size_t>(n));
  out.reserve(out.size() + bytes.size() * 2);
  for (unsigned char b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 0xF];
  }
}

RawByteString WireLineEnd(const RawByteString& lineEnd, bool utf8) {
  if (!utf8) return lineEnd;
  for (unsigned char c : lineEnd.Bytes())
    if (c >= 0x80) return CharsetConversion(lineEnd, CP1250, UTF_8);
  return lineEnd;
}

void TPacketText::Fill(std::string_view bytes, const sockaddr_in& from, bool utf8) {
  HexFormInto(bytes, Hex);
  if (utf8)
    AnsiToStringInto(CharsetConversion(RawByteString::FromBytes(bytes), UTF_8, CP1250).Bytes(),
                     Text);
  else
    AnsiToStringInto(bytes, Text);
  PeerIP = SinIP(from);
  PeerPort = IntToStr(ntohs(from.sin_port));
}

void TPacketText::SwapWith(String& text, String& hex, String& peerIP, String& peerPort) {
  Text.swap(text);
  Hex.swap(hex);
  PeerIP.swap(peerIP);
  PeerPort.swap(peerPort);
}
