#include <qx/framework/ui/WaylandWindows.h>

#include <algorithm>
#include <cstring>

#include <qx/framework/app/Application.h>

namespace {

// Buffers a window may have in flight at once; a frame beyond them waits for a release.
constexpr size_t kMaxBuffers = 3;

void LayerConfigure(void* data, zwlr_layer_surface_v1*, uint32_t serial, uint32_t width,
                    uint32_t height) {
  static_cast<TWaylandWindow*>(data)->Configure(serial, width, height);
}
void LayerClosed(void* data, zwlr_layer_surface_v1*) {
  static_cast<TWaylandWindow*>(data)->Closed();
}
const zwlr_layer_surface_v1_listener kLayerListener = {LayerConfigure, LayerClosed};

uint32_t Premultiplied(uint32_t p, uint32_t a) {
  auto scale = [a](uint32_t v) { return (v * a + 127) / 255; };
  return a << 24 | scale((p >> 16) & 0xFF) << 16 | scale((p >> 8) & 0xFF) << 8 | scale(p & 0xFF);
}

}  // namespace

TWaylandWindow::TWaylandWindow(TWaylandBackend& b, IWindowEvents& events, const TWindowDesc& desc)
    : B(b), FEvents(events), FDesc(desc) {
  const TCreateParams& p = FDesc.Params;
  FBounds = {p.X, p.Y, p.X + p.Width, p.Y + p.Height};
  FTopMost = (p.ExStyle & WS_EX_TOPMOST) != 0;
  B.Windows.push_back(this);
}

TWaylandWindow::~TWaylandWindow() {
  *FAlive = false;
  Unmap();
  B.Windows.erase(std::remove(B.Windows.begin(), B.Windows.end(), this), B.Windows.end());
  B.Flush();
}

bool TWaylandWindow::Osd() const {
  return FDesc.Borderless && (FDesc.Params.ExStyle & WS_EX_NOACTIVATE) != 0;
}

uint32_t TWaylandWindow::Layer() const {
  return FTopMost ? ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY : ZWLR_LAYER_SHELL_V1_LAYER_TOP;
}

void TWaylandWindow::Place() {
  const int32_t w = std::max(FBounds.Width(), 1), h = std::max(FBounds.Height(), 1);
  if (Osd()) {
    // The edge nearer to the window's middle; the compositor gives the width between panels.
    const int32_t screenHeight = B.ScreenSize().Y;
    const bool bottom = FBounds.Top + h / 2 > screenHeight / 2;
    zwlr_layer_surface_v1_set_anchor(
        FLayer,
        ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT | ZWLR_LAYER_SURFACE_V1_ANCHOR_RIGHT |
            (bottom ? ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM : ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP));
    zwlr_layer_surface_v1_set_size(FLayer, 0, uint32_t(h));
    // Kept clear of the zones panels reserve: the strip lies next to them, not under.
    zwlr_layer_surface_v1_set_exclusive_zone(FLayer, 0);
    zwlr_layer_surface_v1_set_margin(FLayer, 0, 0, 0, 0);
  } else {
    zwlr_layer_surface_v1_set_anchor(
        FLayer, ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP | ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT);
    zwlr_layer_surface_v1_set_size(FLayer, uint32_t(w), uint32_t(h));
    // Placed in the output's own coordinates, whatever panels reserve.
    zwlr_layer_surface_v1_set_exclusive_zone(FLayer, -1);
    zwlr_layer_surface_v1_set_margin(FLayer, FBounds.Top, 0, 0, FBounds.Left);
  }
}

void TWaylandWindow::Remap() {
  if (!FVisible) return;
  TWaylandConnection* c = B.Conn();
  if (c == nullptr) {
    B.ScheduleRetry();
    return;
  }
  uint32_t at = 0;
  wl_output* output = B.PlaceOn(at);
  if (FSurface != nullptr) {
    if (at == FOutputAt) return;
    // Made anew on the other output: the old surface goes with its buffers, and the new one
    // shows the last frame whole once it is configured.
    Unmap();
  }
  FOutputAt = at;
  FSurface = wl_compositor_create_surface(c->Compositor);
  FLayerIs = Layer();
  const String ns = FDesc.InstanceName.empty() ? String("qx") : FDesc.InstanceName;
  FLayer =
      zwlr_layer_shell_v1_get_layer_surface(c->LayerShell, FSurface, output, FLayerIs, ns.c_str());
  zwlr_layer_surface_v1_add_listener(FLayer, &kLayerListener, this);
  const bool focusable = !Osd() && !(FDesc.Params.ExStyle & WS_EX_NOACTIVATE);
  zwlr_layer_surface_v1_set_keyboard_interactivity(
      FLayer, focusable && c->LayerShellVersion >= 4
                  ? ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_ON_DEMAND
                  : ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_NONE);
  Place();
  // The first commit carries no buffer: the compositor answers with the size to draw.
  FConfigured = false;
  wl_surface_commit(FSurface);
  c->Flush();
}

void TWaylandWindow::Unmap() {
  FBuffers.clear();
  if (FLayer != nullptr) zwlr_layer_surface_v1_destroy(FLayer);
  if (FSurface != nullptr) wl_surface_destroy(FSurface);
  FLayer = nullptr;
  FSurface = nullptr;
  FConfigured = false;
  FRenderPending = false;
}

void TWaylandWindow::Configure(uint32_t serial, uint32_t width, uint32_t height) {
  zwlr_layer_surface_v1_ack_configure(FLayer, serial);
  FConfWidth = width > 0 ? int32_t(width) : FBounds.Width();
  FConfHeight = height > 0 ? int32_t(height) : FBounds.Height();
  FConfigured = true;
  B.Placed();
  Render();
}

void TWaylandWindow::Closed() {
  // Its output went, or the compositor took it away. A surface that was placed is made again at
  // once (from the loop, not inside the compositor's event), on the compositor's choice of the
  // outputs left; one closed before it was placed, or with no output there, waits for the retry
  // or for an output to come, so that a compositor refusing it is not asked again and again.
  const bool placed = FConfigured;
  Unmap();
  TWaylandConnection* c = B.Conn();
  if (!placed || c == nullptr || c->Outputs.empty()) {
    B.ScheduleRetry();
    return;
  }
  std::weak_ptr<bool> alive = FAlive;
  Application->Queue([alive, this] {
    if (auto a = alive.lock(); a && *a) {
      Remap();
      B.Flush();
    }
  });
}

void TWaylandWindow::SetBounds(const TRect& r) {
  if (r == FBounds) return;
  FBounds = r;
  if (FLayer == nullptr) return;
  Place();
  wl_surface_commit(FSurface);
  B.Flush();
}

void TWaylandWindow::SetVisible(bool visible) {
  if (visible == FVisible) return;
  FVisible = visible;
  if (visible) {
    Remap();
  } else {
    Unmap();
    B.Flush();
  }
}

void TWaylandWindow::SetTopMost(bool onTop, bool) {
  if (onTop == FTopMost) return;
  FTopMost = onTop;
  TWaylandConnection* c = FLayer != nullptr ? B.Conn() : nullptr;
  if (c == nullptr) return;
  if (c->LayerShellVersion >= 2) {
    FLayerIs = Layer();
    zwlr_layer_surface_v1_set_layer(FLayer, FLayerIs);
    wl_surface_commit(FSurface);
    B.Flush();
  } else {
    // Without set_layer only a new surface changes layers.
    Unmap();
    Remap();
  }
}

void TWaylandWindow::Present(const TBitmap& frame, bool keyOn, TColor key) {
  FWidth = frame.Width();
  FHeight = frame.Height();
  FPixels.resize(size_t(std::max(FWidth, 0)) * std::max(FHeight, 0));
  const uint8_t* data = frame.Data();
  for (int32_t y = 0; y < FHeight && data != nullptr; ++y)
    std::memcpy(FPixels.data() + size_t(y) * FWidth, data + size_t(y) * frame.Stride(),
                size_t(FWidth) * 4);
  FKeyOn = keyOn;
  // The frame is opaque: a key pixel is stored as 0xFF, red, green, blue.
  FKeyWord =
      0xFF000000u | uint32_t(GetRValue(key)) << 16 | uint32_t(GetGValue(key)) << 8 | GetBValue(key);
  Render();
}

void TWaylandWindow::SetAlpha(bool on, uint8_t value) {
  if (on == FAlphaOn && value == FAlpha) return;
  FAlphaOn = on;
  FAlpha = value;
  Render();
}

void TWaylandWindow::Render() {
  if (FSurface == nullptr || !FConfigured || FPixels.empty()) return;
  if (FWidth != FConfWidth || FHeight != FConfHeight) {
    // The compositor gave another size (panels at the sides): the window is composed anew at
    // that size, and only a frame of that size is shown, never a cut or stretched one.
    const int32_t w = FConfWidth, h = FConfHeight;
    std::weak_ptr<bool> alive = FAlive;
    Application->Queue([alive, this, w, h] {
      if (auto a = alive.lock(); a && *a) FEvents.Resized(w, h);
    });
    return;
  }
  TShmBuffer* buffer = nullptr;
  for (auto& b : FBuffers)
    if (!b->Busy && b->Width == FWidth && b->Height == FHeight) buffer = b.get();
  if (buffer == nullptr) {
    // Buffers of an old size go first; a frame with every buffer in flight waits for one.
    FBuffers.erase(std::remove_if(FBuffers.begin(), FBuffers.end(),
                                  [&](const auto& b) {
                                    return !b->Busy && (b->Width != FWidth || b->Height != FHeight);
                                  }),
                   FBuffers.end());
    if (FBuffers.size() >= kMaxBuffers) {
      FRenderPending = true;
      return;
    }
    TWaylandConnection* c = B.Conn();
    auto made = c != nullptr ? TShmBuffer::Make(c->Shm, FWidth, FHeight) : nullptr;
    if (!made) return;
    made->OnRelease = [this] {
      if (FRenderPending) {
        FRenderPending = false;
        Render();
      }
    };
    buffer = made.get();
    FBuffers.push_back(std::move(made));
  }
  const uint32_t a = FAlphaOn ? FAlpha : 255;
  const size_t n = FPixels.size();
  uint32_t* out = buffer->Pixels;
  if (a == 255 && !FKeyOn) {
    std::memcpy(out, FPixels.data(), n * 4);
  } else {
    for (size_t i = 0; i < n; ++i) {
      const uint32_t p = FPixels[i];
      out[i] = FKeyOn && p == FKeyWord ? 0 : a == 255 ? p : Premultiplied(p, a);
    }
  }
  wl_surface_attach(FSurface, buffer->Buffer, 0, 0);
  wl_surface_damage(FSurface, 0, 0, FWidth, FHeight);
  wl_surface_commit(FSurface);
  buffer->Busy = true;
  FRenderPending = false;
  B.Flush();
}
