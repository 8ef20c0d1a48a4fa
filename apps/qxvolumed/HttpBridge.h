// The phone page and its JSON interface: an HTTP server (libmicrohttpd, on its own thread) that
// answers the page, reads the last known state, pushes every change to open pages as
// Server-Sent Events, and hands each command to the main thread, where it drives the volume
// component through its public surface. Every read and command needs the pairing token.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include <qx/framework/core/System.h>

class TQxMasterVol;

struct THttpOptions {
  String Address = "127.0.0.1";  // dotted IPv4; 0.0.0.0 for every interface
  uint16_t Port = 0;             // 0: any free port (see THttpBridge::Port)
  String Token;
  // Both set: HTTPS with this certificate and key (PEM text, not file names).
  String CertPem, KeyPem;
  // Names and addresses the Host header may carry (lower case); the port is checked apart.
  std::vector<String> HostNames;
};

class THttpBridge {
 public:
  THttpBridge();
  // Stops serving: answers what waits for the main thread, ends every event stream and joins the
  // server's thread.
  ~THttpBridge();
  THttpBridge(const THttpBridge&) = delete;
  THttpBridge& operator=(const THttpBridge&) = delete;

  // Binds and starts serving. Returns the error text, empty on success.
  String Start(const THttpOptions& options);
  uint16_t Port() const;

  // Main thread. The volume component commands go to; null while the daemon replaces its form
  // (commands then get 503).
  void Attach(TQxMasterVol* volume);
  // Main thread. An audio change: the new state for reads, pushed to every open page when it
  // differs from the last one.
  void Publish(int32_t volume, bool mute);

  struct TCore;

 private:
  void SchedulePing();

  std::shared_ptr<TCore> FCore;
  int64_t FPingTimer = 0;
};

// The built-in page.
extern const char* const kHttpPage;
