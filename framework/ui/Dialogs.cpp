#include <qx/framework/ui/Dialogs.h>

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <vector>

#include <qx/framework/ui/WindowBackend.h>

namespace {
TShowMessageHook& Hook() {
  static TShowMessageHook hook;
  return hook;
}

// The message box as every back end shows it: the text in lines, an OK button beneath. Returns
// the button's rectangle in the picture.
TRect PaintMessageBox(const String& text, TBitmap& img) {
  std::vector<String> lines;
  std::istringstream in(text);
  for (String l; std::getline(in, l);) lines.push_back(l);
  if (lines.empty()) lines.push_back("");
  TCanvas measure;
  measure.Font()->Name = "Sans";
  measure.Font()->Size = 10;
  int32_t lineH = measure.TextHeight("Ag") + 2, textW = 0;
  for (const String& l : lines) textW = std::max(textW, measure.TextWidth(l));
  const int32_t w = std::clamp(textW + 48, 240, 1200);
  const int32_t h = 24 + lineH * int32_t(lines.size()) + 60;
  const TRect button{w / 2 - 40, h - 44, w / 2 + 40, h - 16};
  img.SetSize(w, h);
  img.Clear(clBtnFace);
  TCanvas* c = img.Canvas();
  c->Font()->Name = "Sans";
  c->Font()->Size = 10;
  c->SetBkMode(TRANSPARENT);
  for (size_t i = 0; i < lines.size(); ++i) c->TextOut(24, 20 + int32_t(i) * lineH, lines[i]);
  c->Pen()->Color = RGB(0, 120, 215);
  c->Brush()->Color = RGB(225, 225, 225);
  c->Rectangle(button);
  c->TextOut(button.Left + (button.Width() - c->TextWidth("OK")) / 2,
             button.Top + (button.Height() - c->TextHeight("OK")) / 2, "OK");
  return button;
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
  TWindowBackend& backend = WindowBackend();
  if (backend.ModalWindows()) {
    TBitmap img;
    const TRect button = PaintMessageBox(text, img);
    // Return, Escape, the button or closing the window dismisses it.
    backend.RunModal("Message", img, button);
    return;
  }
  std::fprintf(stderr, "%s\n", text.c_str());
  std::fflush(stderr);
}
