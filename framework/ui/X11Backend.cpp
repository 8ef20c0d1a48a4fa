#include <qx/framework/ui/X11Backend.h>

#include <qx/framework/ui/X11Windows.h>

std::unique_ptr<TBackendWindow> TX11Backend::CreateWindow(IWindowEvents& events,
                                                          const TWindowDesc& desc) {
  return std::make_unique<TX11Window>(*this, events, desc);
}

TWindowBackend* X11Backend() {
  static TWindowBackend* backend = []() -> TWindowBackend* {
    Display* dpy = XOpenDisplay(nullptr);
    if (dpy == nullptr) return nullptr;
    return new TX11Backend(dpy);  // lives as long as the process
  }();
  return backend;
}
