// IPv4 socket addresses from and to text: dotted addresses or host names, decimal ports or
// service names.
#pragma once

#include <netinet/in.h>

#include <qx/framework/core/System.h>

// Fills Out from Host and Port. Passive (for binding): an empty Host is the any-address. An empty
// Port is port 0. Dotted addresses and decimal ports are converted without a name lookup. Returns
// 0 or a Winsock-numbered error code (11001 for an unknown host, 10109 for an unknown service).
int ResolveSockAddr(const String& Host, const String& Port, bool Passive, sockaddr_in& Out);

// Dotted text of the address.
String SinIP(const sockaddr_in& Sin);
