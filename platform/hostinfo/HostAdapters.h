// The host's adapters as the kernel reports them: interfaces from getifaddrs in interface-index
// order with their IPv4 and hardware addresses, default gateways from /proc/net/route.
#pragma once

#include <map>
#include <string_view>
#include <vector>

#include <qx/platform/hostinfo/AdapterTable.h>

// Fills adapters and returns ERROR_SUCCESS, or returns a Windows error code when the interfaces
// cannot be read. The loopback interface is left out (Windows does not list it either); an
// interface without an IPv4 address is kept with none, so that it shows as "0.0.0.0".
DWORD ReadHostAdapters(std::vector<TAdapterRecord>& adapters);

// The default gateways of each interface in the text of /proc/net/route, the lowest metric first.
// Lines that do not parse are skipped.
std::map<String, std::vector<String>> ParseDefaultGateways(std::string_view routeTable);
