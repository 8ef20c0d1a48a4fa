// The host's GDI calls on a canvas's device context (TCanvas::Handle): background mode and
// paths, over Cairo.
#pragma once

#include <qx/framework/ui/Graphics.h>
#include <qx/platform/windows/WinUser.h>

// Returns the previous mode, 0 for a bad mode or device context.
int SetBkMode(HDC hdc, int mode);
// While a path is open, text, rectangles and lines become its outlines instead of pixels.
BOOL BeginPath(HDC hdc);
BOOL EndPath(HDC hdc);
// Fills the path with the brush and outlines it with the pen, then discards it.
BOOL StrokeAndFillPath(HDC hdc);
