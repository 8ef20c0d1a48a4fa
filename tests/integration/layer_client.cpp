// A layer surface of the tests' own, filled with one colour: a desktop background or a panel
// reserving an exclusive zone.
//   layer_client LAYER EDGES WIDTH HEIGHT ZONE RRGGBB [OUTPUT]
// LAYER is background, bottom, top or overlay; EDGES a list of top, bottom, left, right joined
// by '+'; a size of 0 stretches between opposite edges; OUTPUT names the output (the
// compositor's choice without it). Prints "ready WIDTHxHEIGHT" once its
// first frame is committed and seen by the compositor, then stays until standard input closes.
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "qx-layer-shell-client.h"
#include "qx-xdg-output-client.h"

namespace {

struct TState {
  wl_compositor* Compositor = nullptr;
  wl_shm* Shm = nullptr;
  zwlr_layer_shell_v1* Shell = nullptr;
  zxdg_output_manager_v1* XdgOutputs = nullptr;
  std::vector<wl_output*> Outputs;
  std::string Wanted;
  wl_output* Output = nullptr;
  uint32_t Serial = 0, Width = 0, Height = 0;
  bool Configured = false, Closed = false;
};

void Global(void* data, wl_registry* r, uint32_t name, const char* iface, uint32_t) {
  auto* s = static_cast<TState*>(data);
  if (std::strcmp(iface, wl_compositor_interface.name) == 0)
    s->Compositor =
        static_cast<wl_compositor*>(wl_registry_bind(r, name, &wl_compositor_interface, 1));
  if (std::strcmp(iface, wl_shm_interface.name) == 0)
    s->Shm = static_cast<wl_shm*>(wl_registry_bind(r, name, &wl_shm_interface, 1));
  if (std::strcmp(iface, zwlr_layer_shell_v1_interface.name) == 0)
    s->Shell = static_cast<zwlr_layer_shell_v1*>(
        wl_registry_bind(r, name, &zwlr_layer_shell_v1_interface, 1));
  if (std::strcmp(iface, zxdg_output_manager_v1_interface.name) == 0)
    s->XdgOutputs = static_cast<zxdg_output_manager_v1*>(
        wl_registry_bind(r, name, &zxdg_output_manager_v1_interface, 2));
  if (std::strcmp(iface, wl_output_interface.name) == 0)
    s->Outputs.push_back(
        static_cast<wl_output*>(wl_registry_bind(r, name, &wl_output_interface, 1)));
}
void GlobalRemove(void*, wl_registry*, uint32_t) {}
const wl_registry_listener kRegistry = {Global, GlobalRemove};

void Configure(void* data, zwlr_layer_surface_v1*, uint32_t serial, uint32_t w, uint32_t h) {
  auto* s = static_cast<TState*>(data);
  s->Serial = serial;
  s->Width = w;
  s->Height = h;
  s->Configured = true;
}
void Closed(void* data, zwlr_layer_surface_v1*) {
  static_cast<TState*>(data)->Closed = true;
}
const zwlr_layer_surface_v1_listener kLayer = {Configure, Closed};

// The output's name comes through xdg-output; the output it names is kept.
struct TNamed {
  TState* State;
  wl_output* Output;
};
void XdgName(void* data, zxdg_output_v1*, const char* name) {
  auto* n = static_cast<TNamed*>(data);
  if (n->State->Wanted == name) n->State->Output = n->Output;
}
void XdgPosition(void*, zxdg_output_v1*, int32_t, int32_t) {}
void XdgSize(void*, zxdg_output_v1*, int32_t, int32_t) {}
void XdgDone(void*, zxdg_output_v1*) {}
void XdgDescription(void*, zxdg_output_v1*, const char*) {}
const zxdg_output_v1_listener kXdgOutput = {XdgPosition, XdgSize, XdgDone, XdgName, XdgDescription};

int Fail(const char* what) {
  std::fprintf(stderr, "layer_client: %s\n", what);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 7 && argc != 8)
    return Fail("usage: layer_client LAYER EDGES WIDTH HEIGHT ZONE RRGGBB [OUTPUT]");
  const std::string layerName = argv[1], edges = argv[2];
  const uint32_t layers[] = {ZWLR_LAYER_SHELL_V1_LAYER_BACKGROUND, ZWLR_LAYER_SHELL_V1_LAYER_BOTTOM,
                             ZWLR_LAYER_SHELL_V1_LAYER_TOP, ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY};
  const char* layerNames[] = {"background", "bottom", "top", "overlay"};
  int layer = -1;
  for (int i = 0; i < 4; ++i)
    if (layerName == layerNames[i]) layer = i;
  if (layer < 0) return Fail("unknown layer");
  uint32_t anchor = 0;
  if (edges.find("top") != std::string::npos) anchor |= ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP;
  if (edges.find("bottom") != std::string::npos) anchor |= ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM;
  if (edges.find("left") != std::string::npos) anchor |= ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT;
  if (edges.find("right") != std::string::npos) anchor |= ZWLR_LAYER_SURFACE_V1_ANCHOR_RIGHT;
  const uint32_t width = std::strtoul(argv[3], nullptr, 10),
                 height = std::strtoul(argv[4], nullptr, 10);
  const int32_t zone = std::atoi(argv[5]);
  const uint32_t rgb = std::strtoul(argv[6], nullptr, 16);

  wl_display* d = wl_display_connect(nullptr);
  if (d == nullptr) return Fail("no compositor at WAYLAND_DISPLAY");
  TState s;
  if (argc == 8) s.Wanted = argv[7];
  wl_registry* registry = wl_display_get_registry(d);
  wl_registry_add_listener(registry, &kRegistry, &s);
  wl_display_roundtrip(d);
  if (s.Compositor == nullptr || s.Shm == nullptr || s.Shell == nullptr)
    return Fail("the compositor offers no layer shell");
  if (!s.Wanted.empty()) {
    if (s.XdgOutputs == nullptr) return Fail("the compositor offers no output names");
    std::vector<TNamed> named;
    named.reserve(s.Outputs.size());
    for (wl_output* o : s.Outputs) {
      named.push_back({&s, o});
      zxdg_output_v1_add_listener(zxdg_output_manager_v1_get_xdg_output(s.XdgOutputs, o),
                                  &kXdgOutput, &named.back());
    }
    wl_display_roundtrip(d);
    if (s.Output == nullptr) return Fail("no output of that name");
  }

  wl_surface* surface = wl_compositor_create_surface(s.Compositor);
  zwlr_layer_surface_v1* ls =
      zwlr_layer_shell_v1_get_layer_surface(s.Shell, surface, s.Output, layers[layer], "qx-test");
  zwlr_layer_surface_v1_add_listener(ls, &kLayer, &s);
  zwlr_layer_surface_v1_set_anchor(ls, anchor);
  zwlr_layer_surface_v1_set_size(ls, width, height);
  zwlr_layer_surface_v1_set_exclusive_zone(ls, zone);
  wl_surface_commit(surface);
  while (!s.Configured && !s.Closed)
    if (wl_display_dispatch(d) < 0) return Fail("the compositor hung up");
  if (s.Closed || s.Width == 0 || s.Height == 0) return Fail("the compositor refused the surface");
  zwlr_layer_surface_v1_ack_configure(ls, s.Serial);

  const size_t size = size_t(s.Width) * s.Height * 4;
  int fd = memfd_create("qx-test", MFD_CLOEXEC);
  if (fd < 0 || ftruncate(fd, off_t(size)) != 0) return Fail("no shared memory");
  auto* px = static_cast<uint32_t*>(mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
  if (px == MAP_FAILED) return Fail("no shared memory");
  for (size_t i = 0; i < size / 4; ++i) px[i] = 0xFF000000u | rgb;
  wl_shm_pool* pool = wl_shm_create_pool(s.Shm, fd, int32_t(size));
  wl_buffer* buffer = wl_shm_pool_create_buffer(pool, 0, int32_t(s.Width), int32_t(s.Height),
                                                int32_t(s.Width) * 4, WL_SHM_FORMAT_ARGB8888);
  wl_surface_attach(surface, buffer, 0, 0);
  wl_surface_damage(surface, 0, 0, int32_t(s.Width), int32_t(s.Height));
  wl_surface_commit(surface);
  wl_display_roundtrip(d);
  std::printf("ready %ux%u\n", s.Width, s.Height);
  std::fflush(stdout);

  // Serves the compositor until standard input closes (the test is done with this surface).
  pollfd fds[2] = {{wl_display_get_fd(d), POLLIN, 0}, {0, POLLIN, 0}};
  for (;;) {
    wl_display_flush(d);
    if (poll(fds, 2, -1) < 0) break;
    if (fds[1].revents != 0) break;
    if (fds[0].revents != 0 && wl_display_dispatch(d) < 0) break;
  }
  wl_buffer_destroy(buffer);
  wl_shm_pool_destroy(pool);
  zwlr_layer_surface_v1_destroy(ls);
  wl_surface_destroy(surface);
  wl_shm_destroy(s.Shm);
  wl_compositor_destroy(s.Compositor);
  wl_proxy_destroy(reinterpret_cast<wl_proxy*>(s.Shell));  // version 1: no destroy request
  wl_registry_destroy(registry);
  wl_display_disconnect(d);
  munmap(px, size);
  close(fd);
  return 0;
}
