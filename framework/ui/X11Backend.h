// The X11 back end: each window is a top-level X window; the connection is served
// by the application's loop.
#pragma once

#include <qx/framework/ui/WindowBackend.h>

// The back end on the display named by DISPLAY, made on first call; nullptr when the display
// cannot be opened.
TWindowBackend* X11Backend();
