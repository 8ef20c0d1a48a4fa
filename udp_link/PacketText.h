// The text forms of a packet as the component hands it on: the bytes a line-end property names,
// the hexadecimal form, and a line end as it goes on the wire.
#pragma once

#include <string_view>

#include "framework/core/System.h"

// The bytes a line-end property names: "CRLF" (any case) is CR LF, "CR" is CR, anything else is
// its own text in the ANSI code page, empty is none.
RawByteString LineEndBytes(const String& text);
// "HEX(n) " followed by two upper-case hexadecimal digits per byte.
String HexForm(const RawByteString& bytes);
void HexFormInto(std::string_view bytes, String& out);
// A line end as it goes on the wire: re-encoded to UTF-8 when `utf8` is set.
RawByteString WireLineEnd(const RawByteString& lineEnd, bool utf8);
