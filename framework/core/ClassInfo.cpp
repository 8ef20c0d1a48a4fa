#include <algorithm>
#include <map>
#include <mutex>

#include <qx/framework/core/ClassInfo.h>
#include <qx/framework/core/StringList.h>

namespace {
struct Registry {
  std::mutex Lock;
  std::map<String, const TClassInfo*> ByName;  // keyed by lower-case name
};
Registry& TheRegistry() {
  static auto* r = new Registry();  // outlives every static destructor
  return *r;
}
}  // namespace

bool TClassInfo::InheritsFrom(const TClassInfo* other) const {
  for (const TClassInfo* c = this; c != nullptr; c = c->FParent)
    if (c == other) return true;
  return false;
}

std::vector<const TPropInfo*> TClassInfo::Properties() const {
  std::vector<const TPropInfo*> out =
      FParent ? FParent->Properties() : std::vector<const TPropInfo*>{};
  for (const auto& p : FProps) {
    // A class may redeclare an inherited property (to change its default): keep one entry, in
    // the inherited position.
    auto same = std::find_if(out.begin(), out.end(),
                             [&](const TPropInfo* q) { return SameText(q->Name(), p->Name()); });
    if (same != out.end())
      *same = p.get();
    else
      out.push_back(p.get());
  }
  return out;
}

const TPropInfo* TClassInfo::FindProperty(std::string_view name) const {
  for (const TClassInfo* c = this; c != nullptr; c = c->FParent)
    for (const auto& p : c->FProps)
      if (SameText(p->Name(), name)) return p.get();
  return nullptr;
}

const TMethodEntry* TClassInfo::FindMethod(std::string_view name) const {
  for (const TClassInfo* c = this; c != nullptr; c = c->FParent)
    for (const auto& m : c->FMethods)
      if (SameText(m.Name, name)) return &m;
  return nullptr;
}

const TFieldEntry* TClassInfo::FindField(std::string_view name) const {
  for (const TClassInfo* c = this; c != nullptr; c = c->FParent)
    for (const auto& f : c->FFields)
      if (SameText(f.Name, name)) return &f;
  return nullptr;
}

std::vector<const TMethodEntry*> TClassInfo::Methods() const {
  std::vector<const TMethodEntry*> out =
      FParent ? FParent->Methods() : std::vector<const TMethodEntry*>{};
  for (const auto& m : FMethods) out.push_back(&m);
  return out;
}

void RegisterClass(const TClassInfo* info) {
  auto& r = TheRegistry();
  std::lock_guard<std::mutex> g(r.Lock);
  r.ByName.emplace(LowerCase(info->ClassName()), info);
}

const TClassInfo* FindClass(std::string_view name) {
  auto& r = TheRegistry();
  std::lock_guard<std::mutex> g(r.Lock);
  auto it = r.ByName.find(LowerCase(name));
  return it == r.ByName.end() ? nullptr : it->second;
}

std::vector<const TClassInfo*> RegisteredClasses() {
  auto& r = TheRegistry();
  std::lock_guard<std::mutex> g(r.Lock);
  std::vector<const TClassInfo*> out;
  for (auto& [k, v] : r.ByName) out.push_back(v);
  return out;
}

bool TPropInfo::IsStored(const TPersistent* obj) const {
  if (IsReadOnly()) return false;
  switch (FKind) {
    case TPropKind::Boolean:
    case TPropKind::Integer:
    case TPropKind::Color:
    case TPropKind::Enum:
    case TPropKind::Set:
      return !FDefault || GetOrd(obj) != *FDefault;
    case TPropKind::String:
      return !GetStr(obj).empty();
    case TPropKind::Component:
      return GetComponent(obj) != nullptr;
    case TPropKind::Strings: {
      TStrings* s = GetStrings(obj);
      return s != nullptr && s->Count() > 0;
    }
    case TPropKind::Event:
      return false;  // the writer decides: only events bound to a method of the root are stored
  }
  return false;
}
