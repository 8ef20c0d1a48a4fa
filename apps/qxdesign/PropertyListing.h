// The object inspector's output: one line (or JSON object) per published property of a
// component, with its value, whether it is read-only, its editor's attributes and value list.
#pragma once

#include <qx/framework/design/FormDesigner.h>

void PrintProperties(const TFormDesigner& d, TComponent* c, bool json);
