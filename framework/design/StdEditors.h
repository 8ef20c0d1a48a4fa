// The editors every property kind gets unless a package registers another, and the text form
// of property values that the inspector shows and accepts.
#pragma once

#include <qx/framework/design/DesignIntf.h>

const TPropertyEditorClass* DefaultEditorClass(const TPropInfo* prop);

// Text forms: Boolean and enumerations by name, sets as "[a, b]", colours by name or number,
// references by component name (empty: none), events by the root's method name (empty: none),
// string lists as their lines joined by ", " (set: split at commas).
String PropertyValueText(TComponent* root, const TPersistent* obj, const TPropInfo* prop);
// Writes through the property's setter; throws Exception naming the property for a read-only
// property or text it cannot hold.
void SetPropertyFromText(TComponent* root, TPersistent* obj, const TPropInfo* prop,
                         const String& text);
