// A framework colour (blue-green-red bytes) as Cairo's source, for the units that draw with
// Cairo directly.
#pragma once

#include <cairo.h>

#include <qx/framework/core/System.h>

inline void SetCairoSource(cairo_t* cr, TColor c) {
  cairo_set_source_rgb(cr, GetRValue(c) / 255.0, GetGValue(c) / 255.0, GetBValue(c) / 255.0);
}
