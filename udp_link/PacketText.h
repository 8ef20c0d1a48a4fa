// The text forms of a packet as the component hands it on: the bytes a line-end property names,
// the hexadecimal form, and a line end as it goes on the wire.
#pragma once

#include <netinet/in.h>

#include <string_view>

#include <qx/framework/core/System.h>

// The bytes a line-end property names: "CRLF" (any case) is CR LF, "CR" is CR, anything else is
// its own text in the ANSI code page, empty is none.
RawByteString LineEndBytes(const String& text);
// "HEX(n) " followed by two upper-case hexadecimal digits per byte.
String HexForm(const RawByteString& bytes);
void HexFormInto(std::string_view bytes, String& out);
// A line end as it goes on the wire: re-encoded to UTF-8 when `utf8` is set.
RawByteString WireLineEnd(const RawByteString& lineEnd, bool utf8);

// A packet in the forms its handler gets, built by the thread that received it; the strings are
// reused from packet to packet.
struct TPacketText {
  String Text, Hex, PeerIP, PeerPort;
  // From the bytes as they came off the wire, UTF-8 when `utf8`, and their sender.
  void Fill(std::string_view bytes, const sockaddr_in& from, bool utf8);
  // Trades the four forms with a component's slots; both sides keep their storage for next time.
  void SwapWith(String& text, String& hex, String& peerIP, String& peerPort);
};
