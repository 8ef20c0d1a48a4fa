// Chooses the window back end.
#include <cstdlib>

#include <qx/framework/ui/HeadlessBackend.h>
#include <qx/framework/ui/WaylandBackend.h>
#include <qx/framework/ui/X11Backend.h>

namespace {

TWindowBackend* Current = nullptr;

String Env(const char* name) {
  const char* v = std::getenv(name);
  return v != nullptr ? String(v) : String();
}

// One back end by mode; nullptr with the reason it is not available.
TWindowBackend* Open(const String& mode, const String& output, String& error, String& why) {
  if (mode == "none") {
    why = "none: no display asked for; windows are kept on a virtual desktop";
    return &HeadlessBackend();
  }
  if (mode == "wayland") {
    if (Env("WAYLAND_DISPLAY").empty()) {
      error = "WAYLAND_DISPLAY is not set";
      return nullptr;
    }
    TWindowBackend* b = WaylandBackend(output, error);
    if (b != nullptr) {
      why = "wayland: WAYLAND_DISPLAY=" + Env("WAYLAND_DISPLAY") + " offers the layer shell";
      if (!output.empty()) why += ", output " + output;
    }
    return b;
  }
  if (mode == "x11") {
    const String display = Env("DISPLAY");
    if (display.empty()) {
      error = "DISPLAY is not set";
      return nullptr;
    }
    TWindowBackend* b = X11Backend();
    if (b == nullptr) error = "cannot open the X display DISPLAY=" + display;
    if (b != nullptr) why = "x11: DISPLAY=" + display + " opens";
    return b;
  }
  // auto: Wayland, then X11, then none; each failure becomes part of the reason.
  String waylandWhy, x11Why;
  if (!Env("WAYLAND_DISPLAY").empty() || !output.empty()) {
    if (TWindowBackend* b = Open("wayland", output, waylandWhy, why)) return b;
    if (!output.empty()) {
      error = waylandWhy;
      return nullptr;
    }
  } else {
    waylandWhy = "WAYLAND_DISPLAY is not set";
  }
  if (TWindowBackend* b = Open("x11", output, x11Why, why)) {
    why += " (" + waylandWhy + ")";
    return b;
  }
  why = "none: " + waylandWhy + "; " + x11Why;
  return &HeadlessBackend();
}

}  // namespace

TWindowBackend& WindowBackend() {
  if (Current == nullptr) {
    const String force = Env("QX_WINDOWS");
    String error, why;
    if (force == "headless" || force == "none") {
      Current = &HeadlessBackend();
    } else if (force == "wayland" || force == "x11" || force == "auto") {
      Current = Open(force, "", error, why);
    } else {
      // Without a choice made, an X display comes first, as before there was a Wayland back end.
      if (!Env("DISPLAY").empty()) Current = X11Backend();
      if (Current == nullptr && !Env("WAYLAND_DISPLAY").empty())
        Current = Open("wayland", "", error, why);
    }
    if (Current == nullptr) Current = &HeadlessBackend();
  }
  return *Current;
}

bool ChooseWindowBackend(const String& mode, const String& output, String& error, String& why) {
  const String m = LowerCase(mode);
  if (m != "auto" && m != "wayland" && m != "x11" && m != "none") {
    error = "unknown display '" + mode + "' (auto, wayland, x11 or none)";
    return false;
  }
  if (!output.empty() && (m == "x11" || m == "none")) {
    error = "an output by name (" + output + ") needs the Wayland display";
    return false;
  }
  String reason;
  TWindowBackend* b = Open(m, output, reason, why);
  if (b == nullptr) {
    error = m == "auto" ? reason : "cannot use the " + m + " display: " + reason;
    return false;
  }
  Current = b;
  return true;
}

void UseVirtualDesktop(const TVirtualDesktop& desktop) {
  HeadlessBackend().SetDesktop(desktop);
  Current = &HeadlessBackend();
}

bool UsingVirtualDesktop() {
  return &WindowBackend() == &HeadlessBackend();
}
