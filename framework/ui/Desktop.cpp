#include <qx/framework/ui/Desktop.h>

#include <qx/framework/ui/HeadlessBackend.h>

namespace {
TVirtualFrameHook& FrameHook() {
  static TVirtualFrameHook hook;
  return hook;
}
}  // namespace

TVirtualFrameHook SetVirtualFrameHook(TVirtualFrameHook hook) {
  TVirtualFrameHook previous = std::move(FrameHook());
  FrameHook() = std::move(hook);
  // The virtual desktop reports windows by whoever made them; here they are forms.
  if (FrameHook()) {
    HeadlessBackend().PresentHook = [](IWindowEvents& events) {
      if (auto* form = dynamic_cast<TCustomForm*>(&events); form && FrameHook()) FrameHook()(*form);
    };
  } else {
    HeadlessBackend().PresentHook = nullptr;
  }
  return previous;
}

const TVirtualWindowState* VirtualWindowState(const TCustomForm& form) {
  return HeadlessBackend().StateOf(form);
}

std::vector<const TCustomForm*> VirtualStacking() {
  std::vector<const TCustomForm*> out;
  for (IWindowEvents* events : HeadlessBackend().Stacking())
    out.push_back(dynamic_cast<const TCustomForm*>(events));
  return out;
}
