// The virtual desktop that forms live on without a display, and what tests and tools can ask of
// it: its size and taskbar, and the state of each form's window on it.
#pragma once

#include <functional>
#include <vector>

#include <qx/framework/ui/Forms.h>
#include <qx/framework/ui/VirtualDesktop.h>

// nullptr when the form has no window on the virtual desktop.
const TVirtualWindowState* VirtualWindowState(const TCustomForm& form);
// Called with the form each time one of its frames is shown on the virtual desktop (for
// snapshots: TranslucentFrame() is what the screen would show). Returns the previous hook.
using TVirtualFrameHook = std::function<void(TCustomForm&)>;
TVirtualFrameHook SetVirtualFrameHook(TVirtualFrameHook hook);

// Visible and hidden virtual windows from the bottom of the stacking order to the top.
std::vector<const TCustomForm*> VirtualStacking();
