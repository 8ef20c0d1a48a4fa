#include <qx/framework/ui/PictureResources.h>

#include <map>

#include <qx/framework/core/Classes.h>

namespace {

struct TEntry {
  TPictureFactory Make;
  std::shared_ptr<const TBitmap> Made;
};

std::map<String, TEntry>& Table() {
  static std::map<String, TEntry> table;
  return table;
}

String Key(const String& formClass, const String& name) {
  return UpperCase(formClass.empty() ? name : formClass + "." + name);
}

}  // namespace

void RegisterPictureResource(const String& formClass, const String& name, TPictureFactory make) {
  Table().emplace(Key(formClass, name), TEntry{std::move(make), nullptr});
}

std::shared_ptr<const TBitmap> FindPictureResource(const String& formClass, const String& name) {
  auto it = Table().find(Key(formClass, name));
  if (it == Table().end()) return nullptr;
  if (!it->second.Made) it->second.Made = std::make_shared<const TBitmap>(it->second.Make());
  return it->second.Made;
}

std::shared_ptr<const TBitmap> FindPictureResource(const TComponent* component,
                                                   const String& name) {
  if (name.empty()) return nullptr;
  // The pictures of the component's own classes, then of its owner's (the form), and so on up
  // the ownership chain, then plain names.
  for (const TComponent* c = component; c != nullptr; c = c->Owner()) {
    for (const TClassInfo* ci = c->ClassInfo(); ci != nullptr; ci = ci->Parent())
      if (auto p = FindPictureResource(ci->ClassName(), name)) return p;
  }
  return FindPictureResource(String(), name);
}
