#include <qx/framework/ui/WaylandConnection.h>

#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include <qx/framework/app/Application.h>

namespace {

// Versions spoken here; a compositor offering less is met at its own.
constexpr uint32_t kCompositorVersion = 4;
constexpr uint32_t kLayerShellVersion = 4;
constexpr uint32_t kOutputVersion = 2;
constexpr uint32_t kXdgOutputVersion = 2;

template <class T>
T* Bind(wl_registry* r, uint32_t name, const wl_interface* iface, uint32_t offered,
        uint32_t wanted) {
  return static_cast<T*>(wl_registry_bind(r, name, iface, std::min(offered, wanted)));
}

void OutputGeometry(void*, wl_output*, int32_t, int32_t, int32_t, int32_t, int32_t, const char*,
                    const char*, int32_t) {}
void OutputMode(void* data, wl_output*, uint32_t flags, int32_t width, int32_t height, int32_t) {
  auto* o = static_cast<TWaylandOutput*>(data);
  if (flags & WL_OUTPUT_MODE_CURRENT) {
    o->ModeWidth = width;
    o->ModeHeight = height;
  }
}
void OutputDone(void* data, wl_output*) {
  auto* o = static_cast<TWaylandOutput*>(data);
  o->Conn->OutputDescribed();
}
void OutputScale(void* data, wl_output*, int32_t factor) {
  static_cast<TWaylandOutput*>(data)->Scale = std::max(factor, 1);
}
// Name and description come through xdg-output, which older compositors offer too.
void OutputText(void*, wl_output*, const char*) {}
const wl_output_listener kOutputListener = {OutputGeometry, OutputMode, OutputDone,
                                            OutputScale,    OutputText, OutputText};

void XdgPosition(void*, zxdg_output_v1*, int32_t, int32_t) {}
void XdgSize(void* data, zxdg_output_v1*, int32_t width, int32_t height) {
  auto* o = static_cast<TWaylandOutput*>(data);
  o->LogicalWidth = width;
  o->LogicalHeight = height;
}
void XdgDone(void* data, zxdg_output_v1*) {
  static_cast<TWaylandOutput*>(data)->Conn->OutputDescribed();
}
void XdgName(void* data, zxdg_output_v1*, const char* name) {
  static_cast<TWaylandOutput*>(data)->Connector = name != nullptr ? name : "";
}
void XdgDescription(void*, zxdg_output_v1*, const char*) {}
const zxdg_output_v1_listener kXdgOutputListener = {XdgPosition, XdgSize, XdgDone, XdgName,
                                                    XdgDescription};

void RegistryGlobal(void* data, wl_registry*, uint32_t name, const char* interface,
                    uint32_t version) {
  static_cast<TWaylandConnection*>(data)->GlobalAdded(name, interface, version);
}
void RegistryGlobalRemove(void* data, wl_registry*, uint32_t name) {
  static_cast<TWaylandConnection*>(data)->GlobalRemoved(name);
}
const wl_registry_listener kRegistryListener = {RegistryGlobal, RegistryGlobalRemove};

void BufferRelease(void* data, wl_buffer*) {
  auto* b = static_cast<TShmBuffer*>(data);
  b->Busy = false;
  if (b->OnRelease) b->OnRelease();
}
const wl_buffer_listener kBufferListener = {BufferRelease};

void SyncDone(void* data, wl_callback*, uint32_t) {
  *static_cast<bool*>(data) = true;
}
const wl_callback_listener kSyncListener = {SyncDone};

// A round trip that gives up after `limit`: a compositor that stalls must not stall the loop.
bool RoundTrip(wl_display* d, std::chrono::milliseconds limit) {
  bool done = false;
  wl_callback* cb = wl_display_sync(d);
  wl_callback_add_listener(cb, &kSyncListener, &done);
  const auto deadline = std::chrono::steady_clock::now() + limit;
  bool ok = true;
  while (!done && ok) {
    if (wl_display_dispatch_pending(d) < 0) {
      ok = false;
      break;
    }
    if (done) break;
    if (wl_display_flush(d) < 0 && errno != EAGAIN) {
      ok = false;
      break;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      ok = false;
      break;
    }
    if (wl_display_prepare_read(d) != 0) continue;
    pollfd p{wl_display_get_fd(d), POLLIN, 0};
    if (poll(&p, 1, int(left.count())) <= 0) {
      wl_display_cancel_read(d);
      continue;  // the deadline is checked above
    }
    if (wl_display_read_events(d) < 0) ok = false;
  }
  wl_callback_destroy(cb);
  return ok && done;
}

}  // namespace

TPoint TWaylandOutput::Size() const {
  if (LogicalWidth > 0 && LogicalHeight > 0) return {LogicalWidth, LogicalHeight};
  return {ModeWidth / Scale, ModeHeight / Scale};
}

TWaylandOutput::~TWaylandOutput() {
  if (XdgOutput != nullptr) zxdg_output_v1_destroy(XdgOutput);
  if (Output != nullptr) wl_output_destroy(Output);
}

std::unique_ptr<TShmBuffer> TShmBuffer::Make(wl_shm* shm, int32_t width, int32_t height) {
  if (width <= 0 || height <= 0) return nullptr;
  const size_t size = size_t(width) * height * 4;
  int fd = memfd_create("qx-frame", MFD_CLOEXEC);
  if (fd < 0) return nullptr;
  if (ftruncate(fd, off_t(size)) != 0) {
    close(fd);
    return nullptr;
  }
  void* mem = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (mem == MAP_FAILED) {
    close(fd);
    return nullptr;
  }
  std::unique_ptr<TShmBuffer> b(new TShmBuffer());
  b->Pixels = static_cast<uint32_t*>(mem);
  b->FSize = size;
  b->Width = width;
  b->Height = height;
  wl_shm_pool* pool = wl_shm_create_pool(shm, fd, int32_t(size));
  b->Buffer = wl_shm_pool_create_buffer(pool, 0, width, height, width * 4, WL_SHM_FORMAT_ARGB8888);
  // The buffer keeps what it needs of the pool and the file.
  wl_shm_pool_destroy(pool);
  close(fd);
  wl_buffer_add_listener(b->Buffer, &kBufferListener, b.get());
  return b;
}

TShmBuffer::~TShmBuffer() {
  if (Buffer != nullptr) wl_buffer_destroy(Buffer);
  if (Pixels != nullptr) munmap(Pixels, FSize);
}

std::unique_ptr<TWaylandConnection> TWaylandConnection::Open(String& error,
                                                             std::chrono::milliseconds limit) {
  const char* name = std::getenv("WAYLAND_DISPLAY");
  if (name == nullptr || *name == '\0') {
    error = "WAYLAND_DISPLAY is not set";
    return nullptr;
  }
  std::unique_ptr<TWaylandConnection> c(new TWaylandConnection());
  c->Display = wl_display_connect(nullptr);
  if (c->Display == nullptr) {
    error = String("cannot connect to the Wayland compositor at WAYLAND_DISPLAY=") + name + ": " +
            std::strerror(errno);
    return nullptr;
  }
  c->Registry = wl_display_get_registry(c->Display);
  wl_registry_add_listener(c->Registry, &kRegistryListener, c.get());
  // The first round trip lists the globals; the second brings the outputs' descriptions.
  if (!RoundTrip(c->Display, limit) || !RoundTrip(c->Display, limit)) {
    error = String("the Wayland compositor at WAYLAND_DISPLAY=") + name +
            " did not answer within " + std::to_string(limit.count()) + " ms";
    return nullptr;
  }
  if (c->LayerShell == nullptr) {
    error = String("the Wayland compositor at WAYLAND_DISPLAY=") + name +
            " offers no layer shell (zwlr_layer_shell_v1)";
    return nullptr;
  }
  if (c->Compositor == nullptr || c->Shm == nullptr) {
    error = String("the Wayland compositor at WAYLAND_DISPLAY=") + name +
            " offers no wl_compositor or wl_shm";
    return nullptr;
  }
  c->FReady = true;
  return c;
}

TWaylandConnection::~TWaylandConnection() {
  *FAlive = false;
  if (FWatch >= 0 && Application != nullptr) Application->RemoveWatch(FWatch);
  Outputs.clear();
  if (XdgOutputs != nullptr) zxdg_output_manager_v1_destroy(XdgOutputs);
  if (LayerShell != nullptr) {
    if (LayerShellVersion >= 3) {
      zwlr_layer_shell_v1_destroy(LayerShell);
    } else {
      wl_proxy_destroy(reinterpret_cast<wl_proxy*>(LayerShell));
    }
  }
  if (Shm != nullptr) wl_shm_destroy(Shm);
  if (Compositor != nullptr) wl_compositor_destroy(Compositor);
  if (Registry != nullptr) wl_registry_destroy(Registry);
  if (Display != nullptr) {
    if (!FBroken) wl_display_flush(Display);
    wl_display_disconnect(Display);
  }
}

void TWaylandConnection::WatchOutput(TWaylandOutput& o) {
  if (XdgOutputs == nullptr || o.XdgOutput != nullptr) return;
  o.XdgOutput = zxdg_output_manager_v1_get_xdg_output(XdgOutputs, o.Output);
  zxdg_output_v1_add_listener(o.XdgOutput, &kXdgOutputListener, &o);
}

void TWaylandConnection::GlobalAdded(uint32_t name, const char* interface, uint32_t version) {
  const String iface = interface;
  if (iface == wl_compositor_interface.name) {
    Compositor =
        Bind<wl_compositor>(Registry, name, &wl_compositor_interface, version, kCompositorVersion);
  } else if (iface == wl_shm_interface.name) {
    Shm = Bind<wl_shm>(Registry, name, &wl_shm_interface, version, 1);
  } else if (iface == zwlr_layer_shell_v1_interface.name) {
    LayerShellVersion = std::min(version, kLayerShellVersion);
    LayerShell = Bind<zwlr_layer_shell_v1>(Registry, name, &zwlr_layer_shell_v1_interface, version,
                                           kLayerShellVersion);
  } else if (iface == zxdg_output_manager_v1_interface.name) {
    XdgOutputs = Bind<zxdg_output_manager_v1>(Registry, name, &zxdg_output_manager_v1_interface,
                                              version, kXdgOutputVersion);
    for (auto& o : Outputs) WatchOutput(*o);
  } else if (iface == wl_output_interface.name) {
    auto o = std::make_unique<TWaylandOutput>();
    o->Name = name;
    o->Conn = this;
    o->Output = Bind<wl_output>(Registry, name, &wl_output_interface, version, kOutputVersion);
    wl_output_add_listener(o->Output, &kOutputListener, o.get());
    WatchOutput(*o);
    Outputs.push_back(std::move(o));
  }
}

void TWaylandConnection::GlobalRemoved(uint32_t name) {
  auto it = std::find_if(Outputs.begin(), Outputs.end(),
                         [name](const auto& o) { return o->Name == name; });
  if (it == Outputs.end()) return;
  Outputs.erase(it);
  if (FReady && OnOutputsChanged) OnOutputsChanged();
}

void TWaylandConnection::OutputDescribed() {
  // A new output's name and size arrive after the global; told once they are in.
  if (FReady && OnOutputsChanged) OnOutputsChanged();
}

TWaylandOutput* TWaylandConnection::FindOutput(const String& connector) const {
  for (const auto& o : Outputs)
    if (o->Connector == connector) return o.get();
  return nullptr;
}

void TWaylandConnection::Serve(std::function<void()> lost) {
  FLost = std::move(lost);
  if (FWatch < 0)
    FWatch = Application->AddWatch(wl_display_get_fd(Display), [this] { Readable(); });
  Flush();
}

void TWaylandConnection::Flush() {
  if (FBroken) return;
  if (wl_display_flush(Display) < 0 && errno != EAGAIN) {
    Lose();
    return;
  }
  // Events read by a round trip wait in the queue without making the descriptor readable.
  if (!FDispatchQueued && Application != nullptr) {
    FDispatchQueued = true;
    std::weak_ptr<bool> alive = FAlive;
    Application->Queue([alive, this] {
      auto a = alive.lock();
      if (!a || !*a) return;
      FDispatchQueued = false;
      if (!FBroken && wl_display_dispatch_pending(Display) < 0) Lose();
      if (!FBroken && wl_display_flush(Display) < 0 && errno != EAGAIN) Lose();
    });
  }
}

void TWaylandConnection::Readable() {
  if (FBroken) return;
  while (wl_display_prepare_read(Display) != 0) {
    if (wl_display_dispatch_pending(Display) < 0) return Lose();
  }
  // The loop said the descriptor is readable, so reading does not block.
  if (wl_display_read_events(Display) < 0) return Lose();
  if (wl_display_dispatch_pending(Display) < 0) return Lose();
  if (wl_display_flush(Display) < 0 && errno != EAGAIN) return Lose();
}

void TWaylandConnection::Lose() {
  if (FBroken) return;
  FBroken = true;
  if (FWatch >= 0) {
    Application->RemoveWatch(FWatch);
    FWatch = -1;
  }
  // Told from the loop: whoever is told may end this connection.
  if (FLost) {
    auto lost = std::move(FLost);
    std::weak_ptr<bool> alive = FAlive;
    Application->Queue([alive, lost] {
      if (auto a = alive.lock(); a && *a) lost();
    });
  }
}
