#include "framework/core/Classes.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <mutex>

// ---------------------------------------------------------------------------------------------
// Class information

namespace {
const TClassInfo* MakeRootInfo(const char* name, const TClassInfo* parent) {
  auto* info = new TClassInfo();
  info->FClassName = name;
  info->FParent = parent;
  return info;
}

struct Registry {
  std::mutex Lock;
  std::map<String, const TClassInfo*> ByName;  // keyed by lower-case name
};
Registry& TheRegistry() {
  static auto* r = new Registry();  // outlives every static destructor
  return *r;
}
}  // namespace

const TClassInfo* TObject::StaticClassInfo() {
  static const TClassInfo* info = MakeRootInfo("TObject", nullptr);
  return info;
}

String TObject::ClassName() const {
  return ClassInfo()->ClassName();
}

const TClassInfo* TPersistent::StaticClassInfo() {
  static const TClassInfo* info = MakeRootInfo("TPersistent", TObject::StaticClassInfo());
  return info;
}

void TPersistent::Assign(const TPersistent* source) {
  throw Exception("Cannot assign a " + (source ? source->ClassName() : String("nil")) + " to a " +
                  ClassName());
}

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

// ---------------------------------------------------------------------------------------------
// String lists

const TClassInfo* TStrings::StaticClassInfo() {
  static const TClassInfo* info = MakeRootInfo("TStrings", TPersistent::StaticClassInfo());
  return info;
}

const TClassInfo* TStringList::StaticClassInfo() {
  static const TClassInfo* info = MakeRootInfo("TStringList", TStrings::StaticClassInfo());
  return info;
}

int TStrings::IndexOf(const String& s) const {
  for (int i = 0; i < Count(); ++i)
    if (SameText(Get(i), s)) return i;
  return -1;
}

String TStrings::Text() const {
  String out;
  for (int i = 0; i < Count(); ++i) {
    out += Get(i);
    out += '\n';
  }
  return out;
}

void TStrings::SetText(const String& text) {
  Clear();
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      Add(text.substr(start, i - start));
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      start = i + 1;
    }
  }
  if (start < text.size()) Add(text.substr(start));
}

std::vector<String> TStrings::ToVector() const {
  std::vector<String> v;
  v.reserve(Count());
  for (int i = 0; i < Count(); ++i) v.push_back(Get(i));
  return v;
}

void TStrings::Assign(const TPersistent* source) {
  if (source == this) return;
  if (auto* src = dynamic_cast<const TStrings*>(source)) {
    Clear();
    for (int i = 0; i < src->Count(); ++i) Add(src->Get(i));
    return;
  }
  TPersistent::Assign(source);
}

void TStringList::Check(int index) const {
  if (index < 0 || index >= Count())
    throw Exception("List index out of bounds (" + IntToStr(index) + ")");
}

String TStringList::Get(int index) const {
  Check(index);
  return FItems[index].S;
}

void TStringList::Put(int index, const String& s) {
  Check(index);
  FItems[index].S = s;
}

TObject* TStringList::GetObject(int index) const {
  Check(index);
  return FItems[index].Obj;
}

void TStringList::PutObject(int index, TObject* obj) {
  Check(index);
  FItems[index].Obj = obj;
}

void TStringList::Insert(int index, const String& s, TObject* obj) {
  if (index < 0 || index > Count())
    throw Exception("List index out of bounds (" + IntToStr(index) + ")");
  FItems.insert(FItems.begin() + index, Item{s, obj});
}

void TStringList::Delete(int index) {
  Check(index);
  TObject* obj = FItems[index].Obj;
  FItems.erase(FItems.begin() + index);
  if (FOwnsObjects) TObject::Free(obj);
}

void TStringList::Clear() {
  std::vector<Item> items;
  items.swap(FItems);
  if (FOwnsObjects)
    for (auto& it : items) TObject::Free(it.Obj);
}

// ---------------------------------------------------------------------------------------------
// Components

QX_DEFINE_CLASS(TComponent, TPersistent, [](TPropsBuilder<TComponent>& p) {
  p.Text("Name", &TComponent::Name, &TComponent::SetName);
  p.Integer("Tag", &TComponent::Tag, &TComponent::SetTag, 0);
})

TComponent::TComponent(TComponent* AOwner) {
  if (AOwner != nullptr) AOwner->InsertComponent(this);
}

TComponent::~TComponent() {
  // Reached without Free: do what BeforeDestruction would have done, as well as we still can.
  if (!FRemoveNotified) TComponent::BeforeDestruction();
}

void TComponent::BeforeDestruction() {
  if (FRemoveNotified) return;
  FRemoveNotified = true;
  FComponentState |= csDestroying;
  SendRemoveNotifications();
  // Owned components die while this one is still whole, so their destructors may still use
  // their owner (a component restoring its owner form's handler, say). Last created first.
  while (!FComponents.empty()) {
    TComponent* c = FComponents.back();
    FComponents.pop_back();
    if (!c->FName.empty()) FNames.erase(LowerCase(c->FName));
    c->FOwner = nullptr;
    TObject::Free(c);
  }
  if (FOwner != nullptr) FOwner->RemoveComponent(this);
}

void TComponent::SendRemoveNotifications() {
  while (!FFreeNotifies.empty()) {
    TComponent* other = FFreeNotifies.back();
    FFreeNotifies.pop_back();
    auto& back = other->FFreeNotifies;
    back.erase(std::remove(back.begin(), back.end(), this), back.end());
    other->Notification(this, opRemove);
  }
}

void TComponent::InsertComponent(TComponent* c) {
  c->FOwner = this;
  FComponents.push_back(c);
  if (!c->FName.empty()) FNames.emplace(LowerCase(c->FName), c);
  if (IsDesigning()) c->SetDesigning(true);
  // While a form file is read the owner alone hears of each new component: telling every
  // sibling of every insertion would make reading quadratic.
  if (!IsLoading()) Notification(c, opInsert);
}

void TComponent::RemoveComponent(TComponent* c) {
  // Components usually go last created first: search from the back.
  auto it = std::find(FComponents.rbegin(), FComponents.rend(), c);
  if (it != FComponents.rend()) FComponents.erase(std::next(it).base());
  if (!c->FName.empty()) {
    auto n = FNames.find(LowerCase(c->FName));
    if (n != FNames.end() && n->second == c) FNames.erase(n);
  }
  c->FOwner = nullptr;
  Notification(c, opRemove);
}

void TComponent::SetName(const String& name) {
  if (name == FName) return;
  if (!name.empty()) {
    bool ok = (std::isalpha(static_cast<unsigned char>(name[0])) || name[0] == '_');
    for (char ch : name) ok = ok && (std::isalnum(static_cast<unsigned char>(ch)) || ch == '_');
    if (!ok) throw Exception("'" + name + "' is not a valid component name");
    if (FOwner != nullptr) {
      TComponent* other = FOwner->FindComponent(name);
      if (other != nullptr && other != this)
        throw Exception("A component named " + name + " already exists");
    }
  }
  if (FOwner != nullptr) {
    if (!FName.empty()) FOwner->FNames.erase(LowerCase(FName));
    if (!name.empty()) FOwner->FNames[LowerCase(name)] = this;
  }
  FName = name;
}

void TComponent::SetDesigning(bool value, bool setChildren) {
  if (value)
    FComponentState |= csDesigning;
  else
    FComponentState &= ~uint32_t(csDesigning);
  if (setChildren)
    for (TComponent* c : FComponents) c->SetDesigning(value, true);
}

void TComponent::SetLoadingState() {
  FComponentState |= csLoading;
}

void TComponent::ClearLoadingState() {
  FComponentState &= ~uint32_t(csLoading);
}

TComponent* TComponent::FindComponent(const String& name) const {
  if (name.empty()) return nullptr;
  auto it = FNames.find(LowerCase(name));
  return it == FNames.end() ? nullptr : it->second;
}

void TComponent::FreeNotification(TComponent* other) {
  if (other == nullptr || other == this) return;
  if (std::find(FFreeNotifies.begin(), FFreeNotifies.end(), other) == FFreeNotifies.end())
    FFreeNotifies.push_back(other);
  auto& back = other->FFreeNotifies;
  if (std::find(back.begin(), back.end(), this) == back.end()) back.push_back(this);
}

void TComponent::RemoveFreeNotification(TComponent* other) {
  FFreeNotifies.erase(std::remove(FFreeNotifies.begin(), FFreeNotifies.end(), other),
                      FFreeNotifies.end());
  if (other != nullptr) {
    auto& back = other->FFreeNotifies;
    back.erase(std::remove(back.begin(), back.end(), this), back.end());
  }
}

void TComponent::Loaded() {
  FComponentState &= ~uint32_t(csLoading);
}

void TComponent::Notification(TComponent* AComponent, TOperation Operation) {
  if (Operation == opRemove && AComponent != nullptr) RemoveFreeNotification(AComponent);
  // Every owned component hears of it too, last first. A handler may free components: walking
  // by index (and skipping past the end) stays linear and never touches a freed one.
  for (size_t i = FComponents.size(); i-- > 0;) {
    if (i >= FComponents.size()) continue;
    FComponents[i]->Notification(AComponent, Operation);
  }
}

void TComponent::GetChildren(const std::function<void(TComponent*)>& proc, TComponent* root) {
  if (root != this) return;
  std::vector<TComponent*> owned = FComponents;
  for (TComponent* c : owned)
    if (c->GetParentComponent() == nullptr) proc(c);
}
