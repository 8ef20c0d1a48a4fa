// The host's network identity as the component shows it: its adapters' addresses and hardware
// addresses.
#pragma once

#include <qx/framework/core/Classes.h>

// Fills List with one line per selected adapter, or with one failure line: every adapter, or
// only those with a gateway; their IPv4 addresses, or their hardware addresses as "AA-BB-...".
void GetAdapterList(TStrings* List, bool AllAdapters, bool MACOnly);
// The hardware address of the first NetBIOS adapter whose status answers with one, as twelve
// hexadecimal digits; "000000000000" or empty when none does.
String NetbiosMacAddress();
