// The Wayland back end: each window is a layer surface of a compositor that offers the layer
// shell (sway, Hyprland, KDE Plasma and other wlroots compositors); the connection is served by
// the application's loop, and made again when the compositor comes back after going away.
#pragma once

#include <qx/framework/ui/WindowBackend.h>

// The back end on the compositor WAYLAND_DISPLAY names, made on the first call that finds one;
// nullptr with a one-line reason when none answers, it offers no layer shell, or `output` (when
// not empty) names none of its outputs. Windows then go on that output, or on the one the
// compositor chooses.
TWindowBackend* WaylandBackend(const String& output, String& error);
