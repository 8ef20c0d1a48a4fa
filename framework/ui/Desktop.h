// The virtual desktop that forms live on without a display, and what tests and tools can ask of
// it: its size and taskbar, and the state of each form's window on it.
#pragma once

#include <functional>
#include <optional>
#include <vector>

#include "framework/ui/WindowBackend.h"

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

// Puts forms on the virtual desktop from now on (windows made earlier keep their back end), or
// changes the desktop they are on.
void UseVirtualDesktop(const TVirtualDesktop& desktop = TVirtualDesktop());
bool UsingVirtualDesktop();
TVirtualDesktop CurrentVirtualDesktop();

// "bottom:40", "top:30", "left:60", "right:60" or "none". False for anything else.
bool ParseTaskbar(const String& text, TVirtualDesktop& desktop);
// "1920x1080". False for anything else or a side outside 1..32767.
bool ParseScreenSize(const String& text, TVirtualDesktop& desktop);

// A form window on the virtual desktop, as the screen would show it.
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
// nullptr when the form has no window on the virtual desktop.
const TVirtualWindowState* VirtualWindowState(const TCustomForm& form);
// Called with the form each time one of its frames is shown on the virtual desktop (for
// snapshots: TranslucentFrame() is what the screen would show). Returns the previous hook.
using TVirtualFrameHook = std::function<void(TCustomForm&)>;
TVirtualFrameHook SetVirtualFrameHook(TVirtualFrameHook hook);

// Visible and hidden virtual windows from the bottom of the stacking order to the top.
std::vector<const TCustomForm*> VirtualStacking();
