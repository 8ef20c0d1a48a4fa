// Modal messages: a small modal window on a display, the text on standard error without one.
#pragma once

#include <functional>

#include <qx/framework/core/System.h>

// Shows `text` and returns when the user has dismissed it (at once when headless).
void ShowMessage(const String& text);

// Replaces the presentation of ShowMessage (tests capture the text this way); an empty function
// puts the default back. Returns the previous hook.
using TShowMessageHook = std::function<void(const String&)>;
TShowMessageHook SetShowMessageHook(TShowMessageHook hook);
