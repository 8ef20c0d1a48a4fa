// The Windows integer type names the host-service stand-ins are declared with, at the widths
// Windows gives them (ULONG stays 32 bits on a 64-bit host).
#pragma once

#include <cstdint>

using BYTE = uint8_t;
using UCHAR = uint8_t;
using PUCHAR = UCHAR*;
using WORD = uint16_t;
using DWORD = uint32_t;
using UINT = uint32_t;
using ULONG = uint32_t;
using PULONG = ULONG*;
using BOOL = int32_t;
using HANDLE = void*;
