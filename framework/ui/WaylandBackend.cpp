#include <qx/framework/ui/WaylandBackend.h>

#include <algorithm>

#include <qx/framework/app/Application.h>
#include <qx/framework/ui/WaylandWindows.h>

namespace {

// How often a compositor that went away is looked for again while a window waits to be shown:
// soon at first, then less often, so that one that hangs (and is given a short while to answer
// each time) takes little of the loop's time.
constexpr std::chrono::milliseconds kFirstRetry{500}, kLastRetry{8000};
constexpr std::chrono::milliseconds kRetryAnswer{250};

String OutputNames(const TWaylandConnection& c) {
  String names;
  for (const auto& o : c.Outputs) {
    if (o->Connector.empty()) continue;
    names += (names.empty() ? "" : ", ") + o->Connector;
  }
  return names.empty() ? String("none named") : names;
}

}  // namespace

TWaylandBackend::TWaylandBackend(std::unique_ptr<TWaylandConnection> conn, const String& output)
    : FOutputName(output) {
  Adopt(std::move(conn));
}

void TWaylandBackend::Adopt(std::unique_ptr<TWaylandConnection> conn) {
  FConn = std::move(conn);
  FConn->OnOutputsChanged = [this] { RemapWindows(); };
  FConn->Serve([this] { Lost(); });
  ScreenSize();
  // Windows shown while the compositor was away appear again; from the loop, as this may be
  // reached while one of them is making its surface.
  if (Application != nullptr) Application->Queue([this] { RemapWindows(); });
}

std::unique_ptr<TBackendWindow> TWaylandBackend::CreateWindow(IWindowEvents& events,
                                                              const TWindowDesc& desc) {
  return std::make_unique<TWaylandWindow>(*this, events, desc);
}

TWaylandConnection* TWaylandBackend::Conn() {
  // A broken connection stays until its loss is handled from the loop: it may be in the middle
  // of dispatching its events now, and requests on it go nowhere meanwhile.
  if (FConn) return FConn.get();
  String error;
  if (auto c = TWaylandConnection::Open(error, kRetryAnswer)) {
    FRetryDelay = kFirstRetry;
    Adopt(std::move(c));
  }
  return FConn.get();
}

wl_output* TWaylandBackend::PlaceOn(uint32_t& at) {
  at = 0;
  TWaylandConnection* c = FOutputName.empty() ? nullptr : Conn();
  TWaylandOutput* o = c != nullptr ? c->FindOutput(FOutputName) : nullptr;
  if (o == nullptr) return nullptr;
  at = o->Name;
  return o->Output;
}

void TWaylandBackend::Placed() {
  FRetryDelay = kFirstRetry;
}

TPoint TWaylandBackend::ScreenSize() {
  if (TWaylandConnection* c = Conn()) {
    // While the named output is away, windows are where the compositor chooses.
    TWaylandOutput* o = FOutputName.empty() ? nullptr : c->FindOutput(FOutputName);
    if (o == nullptr && !c->Outputs.empty()) o = c->Outputs.front().get();
    if (o != nullptr && o->Size().X > 0 && o->Size().Y > 0) FLastSize = o->Size();
  }
  return FLastSize;
}

void TWaylandBackend::Lost() {
  if (FConn) {
    // Every object of the old connection goes before the connection itself.
    for (TWaylandWindow* w : Windows) w->Unmap();
    FConn.reset();
  }
  ScheduleRetry();
}

void TWaylandBackend::ScheduleRetry() {
  // Only a window waiting to be shown looks for the compositor; others ask when they show.
  bool waiting = false;
  for (TWaylandWindow* w : Windows) waiting = waiting || w->Shown();
  if (FRetry != 0 || !waiting || Application == nullptr) return;
  const auto delay = FRetryDelay;
  FRetryDelay = std::min(FRetryDelay * 2, kLastRetry);
  FRetry = Application->StartTimer(delay, [this] {
    FRetry = 0;
    if (Conn() != nullptr) {
      RemapWindows();
    } else {
      ScheduleRetry();
    }
  });
}

void TWaylandBackend::Flush() {
  if (FConn) FConn->Flush();
}

void TWaylandBackend::RemapWindows() {
  for (TWaylandWindow* w : Windows) w->Remap();
  Flush();
}

TWindowBackend* WaylandBackend(const String& output, String& error) {
  // Lives as long as the process, as windows may outlive static destruction.
  static TWaylandBackend* backend = nullptr;
  std::unique_ptr<TWaylandConnection> conn;
  TWaylandConnection* c = backend != nullptr ? backend->Conn() : nullptr;
  if (c == nullptr) {
    conn = TWaylandConnection::Open(error);
    if (!conn) return nullptr;
    c = conn.get();
  }
  if (!output.empty() && c->FindOutput(output) == nullptr) {
    error = "no Wayland output is named \"" + output + "\" (outputs: " + OutputNames(*c) + ")";
    return nullptr;
  }
  if (backend == nullptr) {
    backend = new TWaylandBackend(std::move(conn), output);
  } else {
    backend->SetOutputName(output);
  }
  return backend;
}
