// Pairing a phone with the page: the token (random, or kept in a file so that a paired phone
// stays paired across restarts), the addresses the page is reached by, and the QR code of its
// address drawn with text blocks for a terminal.
#pragma once

#include <vector>

#include <qx/framework/core/System.h>

// 128 random bits from OpenSSL's generator as 32 hexadecimal digits; empty if it fails.
String NewPairingToken();
// Reads the token from the file's first line; a missing file is created (mode 0600) holding a
// new token. Returns the error text, empty on success.
String TokenFromFile(const String& path, String& token);
// What the Host header may name for a server bound to `address`: that address (for 0.0.0.0
// every address of the host), localhost for a loopback one, and the host's name.
std::vector<String> PageHostNames(const String& address);
// The address a phone scans: for 0.0.0.0 the host's first address with a gateway (else its first
// address, else 127.0.0.1).
String PageAddress(bool tls, const String& address, uint16_t port, const String& token);
// The QR code of `text` as lines of half blocks (two rows of modules per line), dark on light
// whatever the terminal's colours; empty if it cannot be encoded.
std::vector<String> QrLines(const String& text);
