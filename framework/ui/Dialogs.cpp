#include "framework/ui/Dialogs.h"

#include <cstdio>

#include "framework/ui/WindowBackend.h"

namespace {
TShowMessageHook& Hook() {
  static TShowMessageHook hook;
  return hook;
}
}  // namespace

TShowMessageHook SetShowMessageHook(TShowMessageHook hook) {
  TShowMessageHook previous = std::move(Hook());
  Hook() = std::move(hook);
  return previous;
}

void ShowMessage(const String& text) {
  if (Hook()) {
    Hook()(text);
    return;
  }
  if (WindowBackend().ShowModalMessage(text)) return;
  std::fprintf(stderr, "%s\n", text.c_str());
  std::fflush(stderr);
}
