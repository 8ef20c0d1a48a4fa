// The Wayland back end's own classes: the back end over one compositor connection, and its
// windows. A borderless window that never takes the focus is an on-screen display: a surface on
// the overlay layer (top layer when not stay-on-top) anchored to the left, right and nearer
// horizontal edge, as wide as the compositor allows (the output less the panels' exclusive
// zones), never given the keyboard. Any other window is placed by margins from the output's top
// left corner. Frames go into shared-memory buffers in premultiplied ARGB, the key colour
// see-through and the window's alpha applied. Included only by the Wayland back end's files.
#pragma once

#include <memory>
#include <vector>

#include <qx/framework/ui/WaylandConnection.h>
#include <qx/framework/ui/WindowBackend.h>

class TWaylandWindow;

class TWaylandBackend : public TWindowBackend {
 public:
  TWaylandBackend(std::unique_ptr<TWaylandConnection> conn, const String& output);
  const char* Name() const override { return "wayland"; }
  std::unique_ptr<TBackendWindow> CreateWindow(IWindowEvents& events,
                                               const TWindowDesc& desc) override;
  // The chosen output's size (the first output's when the compositor chooses); the last size
  // known while the compositor is away.
  TPoint ScreenSize() override;
  // Panels are the compositor's to keep clear of: it says nothing of where they are.
  bool TaskbarRect(TRect&) override { return false; }

  // The connection, made again first when the compositor went away; nullptr while it is away.
  TWaylandConnection* Conn();
  // Sends what is buffered, when there is a connection.
  void Flush();
  // The output windows go on now: the named one, or the compositor's choice (nullptr) when
  // none is named or the named one is not there meanwhile. `at` is its registry name (0 for
  // the compositor's choice), which tells a window on another output that it should move.
  wl_output* PlaceOn(uint32_t& at);
  // A shown window lost its surface: look for the compositor again until it is back.
  void ScheduleRetry();
  // A shown window's surface is placed: the next loss is looked after soon again.
  void Placed();

  // Windows made from now on go on this output (empty: the compositor's choice).
  void SetOutputName(const String& output) { FOutputName = output; }

  std::vector<TWaylandWindow*> Windows;

 private:
  void Adopt(std::unique_ptr<TWaylandConnection> conn);
  void Lost();
  void RemapWindows();
  std::unique_ptr<TWaylandConnection> FConn;
  String FOutputName;
  TPoint FLastSize{1920, 1080};
  int64_t FRetry = 0;
  std::chrono::milliseconds FRetryDelay{500};
};

class TWaylandWindow : public TBackendWindow {
 public:
  TWaylandWindow(TWaylandBackend& b, IWindowEvents& events, const TWindowDesc& desc);
  ~TWaylandWindow() override;
  void SetBounds(const TRect& r) override;
  void SetVisible(bool visible) override;
  void SetCaption(const String&) override {}
  void SetIcon(const TBitmap&) override {}
  void Present(const TBitmap& frame, bool keyOn, TColor key) override;
  void SetAlpha(bool on, uint8_t value) override;
  void SetTopMost(bool onTop, bool activate) override;
  void Activate() override {}
  bool Active() const override { return false; }

  // Makes the surface when the window is shown and has none (after the compositor, or the
  // output, came back), or makes it anew where its surface lies elsewhere than it should (its
  // named output went, or came back).
  void Remap();
  // Forgets every object of the connection (before it ends).
  void Unmap();
  void Configure(uint32_t serial, uint32_t width, uint32_t height);
  void Closed();
  bool Shown() const { return FVisible; }

 private:
  bool Osd() const;
  uint32_t Layer() const;
  void Place();
  void Render();
  TWaylandBackend& B;
  IWindowEvents& FEvents;
  TWindowDesc FDesc;
  TRect FBounds;
  bool FVisible = false;
  bool FTopMost = false;
  bool FAlphaOn = false;
  uint8_t FAlpha = 255;
  // The last frame, kept to be drawn again with another alpha or on a new surface.
  std::vector<uint32_t> FPixels;
  int32_t FWidth = 0, FHeight = 0;
  bool FKeyOn = false;
  uint32_t FKeyWord = 0;

  wl_surface* FSurface = nullptr;
  zwlr_layer_surface_v1* FLayer = nullptr;
  uint32_t FLayerIs = 0;
  uint32_t FOutputAt = 0;  // the output the surface was made for (0: the compositor's choice)
  bool FConfigured = false;
  int32_t FConfWidth = 0, FConfHeight = 0;
  bool FRenderPending = false;
  std::vector<std::unique_ptr<TShmBuffer>> FBuffers;
  std::shared_ptr<bool> FAlive = std::make_shared<bool>(true);
};
