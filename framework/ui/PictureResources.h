// Pictures kept as resources of a form class, found by name: a form file names them (a
// TImage's Picture, a form's Icon) and the picture is made on first use by the code that
// registered it.
#pragma once

#include <functional>
#include <memory>

#include <qx/framework/ui/Graphics.h>

class TComponent;

using TPictureFactory = std::function<TBitmap()>;

// Registers a picture under "<FormClass>.<Name>" (or a plain name when formClass is empty).
// A name registered twice keeps the first.
void RegisterPictureResource(const String& formClass, const String& name, TPictureFactory make);

// The picture for a component: looked up as a resource of its root's class first, then as a
// plain name. nullptr when neither exists. Pictures are made once and shared.
std::shared_ptr<const TBitmap> FindPictureResource(const TComponent* component, const String& name);
std::shared_ptr<const TBitmap> FindPictureResource(const String& formClass, const String& name);
