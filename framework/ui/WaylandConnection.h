// The connection to a Wayland compositor behind the Wayland back end: the globals it binds
// (compositor, shared memory, layer shell, outputs with their names and logical sizes), the event
// pump served by the application's loop, and shared-memory buffers. Included only by the Wayland
// back end's files.
#pragma once

#include <wayland-client.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include <qx/framework/core/System.h>
#include <qx/framework/ui/Graphics.h>

#include "qx-layer-shell-client.h"
#include "qx-xdg-output-client.h"

class TWaylandConnection;

struct TWaylandOutput {
  TWaylandConnection* Conn = nullptr;
  uint32_t Name = 0;  // the registry's name of the global
  wl_output* Output = nullptr;
  zxdg_output_v1* XdgOutput = nullptr;
  String Connector;  // "HEADLESS-1", "DP-2": what users call the output
  int32_t ModeWidth = 0, ModeHeight = 0, Scale = 1;
  int32_t LogicalWidth = 0, LogicalHeight = 0;
  // Its size in the surface coordinates layer surfaces are placed in.
  TPoint Size() const;
  ~TWaylandOutput();
};

// One wl_buffer over its own shared-memory file, busy from commit until the compositor releases
// it.
class TShmBuffer {
 public:
  static std::unique_ptr<TShmBuffer> Make(wl_shm* shm, int32_t width, int32_t height);
  ~TShmBuffer();
  wl_buffer* Buffer = nullptr;
  uint32_t* Pixels = nullptr;
  int32_t Width = 0, Height = 0;
  bool Busy = false;
  std::function<void()> OnRelease;

 private:
  TShmBuffer() = default;
  size_t FSize = 0;
};

class TWaylandConnection {
 public:
  // Connects to the compositor WAYLAND_DISPLAY names and learns its globals and outputs; nullptr
  // with a one-line reason when there is none to connect to, it does not answer within `limit`,
  // or it offers no layer shell.
  static std::unique_ptr<TWaylandConnection> Open(
      String& error, std::chrono::milliseconds limit = std::chrono::milliseconds(2000));
  ~TWaylandConnection();
  TWaylandConnection(const TWaylandConnection&) = delete;
  TWaylandConnection& operator=(const TWaylandConnection&) = delete;

  // Starts serving the connection's events from the application's loop; `lost` is called (from
  // the loop, once) when the compositor goes away.
  void Serve(std::function<void()> lost);
  // Sends what is buffered, and serves events already read.
  void Flush();
  bool Broken() const { return FBroken; }

  // The output of that connector name, or nullptr.
  TWaylandOutput* FindOutput(const String& connector) const;

  wl_display* Display = nullptr;
  wl_registry* Registry = nullptr;
  wl_compositor* Compositor = nullptr;
  wl_shm* Shm = nullptr;
  zwlr_layer_shell_v1* LayerShell = nullptr;
  uint32_t LayerShellVersion = 0;
  zxdg_output_manager_v1* XdgOutputs = nullptr;
  std::vector<std::unique_ptr<TWaylandOutput>> Outputs;
  // Told when an output comes or goes (after the first round trips).
  std::function<void()> OnOutputsChanged;

  // Internal: registry events.
  void GlobalAdded(uint32_t name, const char* interface, uint32_t version);
  void GlobalRemoved(uint32_t name);
  // Internal: an output's description is complete.
  void OutputDescribed();

 private:
  TWaylandConnection() = default;
  void WatchOutput(TWaylandOutput& o);
  void Readable();
  void Lose();
  int FWatch = -1;
  bool FBroken = false;
  bool FReady = false;
  bool FDispatchQueued = false;
  std::function<void()> FLost;
  std::shared_ptr<bool> FAlive = std::make_shared<bool>(true);
};
