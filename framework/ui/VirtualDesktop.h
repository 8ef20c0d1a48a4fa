// The virtual desktop that windows live on without a display: its size and taskbar, and the
// state of each window on it as the screen would show it.
#pragma once

#include <optional>

#include <qx/framework/ui/WindowBackend.h>

struct TVirtualDesktop {
  int32_t Width = 1920;
  int32_t Height = 1080;
  TTaskbarEdge TaskbarEdge = TTaskbarEdge::Bottom;
  int32_t TaskbarSize = 40;
  // Any taskbar rectangle, overriding edge and size.
  std::optional<TRect> TaskbarRect;
  // The taskbar's rectangle; empty when there is none.
  TRect Taskbar() const;
};

// Puts windows on the virtual desktop from now on (windows made earlier keep their back end), or
// changes the desktop they are on.
void UseVirtualDesktop(const TVirtualDesktop& desktop = TVirtualDesktop());
bool UsingVirtualDesktop();
TVirtualDesktop CurrentVirtualDesktop();

// "bottom:40", "top:30", "left:60", "right:60" or "none". False for anything else.
bool ParseTaskbar(const String& text, TVirtualDesktop& desktop);
// "1920x1080". False for anything else or a side outside 1..32767.
bool ParseScreenSize(const String& text, TVirtualDesktop& desktop);

// A window on the virtual desktop, as the screen would show it.
struct TVirtualWindowState {
  TCreateParams Params;
  TRect Bounds;
  String Caption;
  bool Visible = false;
  bool TopMost = false;
  bool AlphaOn = false;
  uint8_t Alpha = 255;
  bool KeyOn = false;
  TColor Key = clBlack;
  bool HasIcon = false;
  int Activations = 0;  // times the window was given the focus
  uint64_t Frames = 0;  // frames presented
};
