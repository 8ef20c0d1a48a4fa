// What a sender's address can say about it. Some IPv4 addresses name no single host (a socket
// not yet configured, every host at once, a group), so a datagram "from" one of them was forged
// or sent by a machine that does not know its own address: it can be nobody's command.
#pragma once

#include <qx/framework/core/System.h>

// 0.0.0.0/8 ("this host", what DHCP clients send from), 224.0.0.0/4 (multicast groups) and
// 240.0.0.0/4 (reserved, with 255.255.255.255, the limited broadcast). False for anything that
// is not dotted IPv4.
bool IsNoHostIPv4(const String& ip);
// A dotted IPv4 address ending in .255: the broadcast address of the common /24 networks (and of
// every wider one whose host part it fills), so almost never one host.
bool LooksLikeBroadcastIPv4(const String& ip);
