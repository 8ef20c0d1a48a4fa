#include <qx/platform/windows/WinGdi.h>

int SetBkMode(HDC hdc, int mode) {
  TCanvas* c = TCanvas::FromHandle(hdc);
  return c != nullptr ? c->SetBkMode(mode) : 0;
}

BOOL BeginPath(HDC hdc) {
  TCanvas* c = TCanvas::FromHandle(hdc);
  return c != nullptr && c->BeginPath();
}

BOOL EndPath(HDC hdc) {
  TCanvas* c = TCanvas::FromHandle(hdc);
  return c != nullptr && c->EndPath();
}

BOOL StrokeAndFillPath(HDC hdc) {
  TCanvas* c = TCanvas::FromHandle(hdc);
  return c != nullptr && c->StrokeAndFillPath();
}
