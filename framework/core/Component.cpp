#include <algorithm>
#include <cctype>

#include <qx/framework/core/Component.h>
#include <qx/framework/core/PropsBuilder.h>

QX_DEFINE_CLASS(TComponent, TPersistent, [](TPropsBuilder<TComponent>& p) {
  p.Text("Name", &TComponent::Name, &TComponent::SetName);
  p.Integer("Tag", &TComponent::Tag, &TComponent::SetTag, 0);
})

TComponent::TComponent(TComponent* AOwner) {
  if (AOwner != nullptr) AOwner->InsertComponent(this);
}

// Free is the only way here (the destructor is protected): BeforeDestruction has done the work.
TComponent::~TComponent() = default;

void TComponent::BeforeDestruction() {
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
  // A published field that named it must not outlive it.
  if (!c->FName.empty())
    if (const TFieldEntry* field = ClassInfo()->FindField(c->FName))
      if (field->Get(this) == c) field->Set(this, nullptr);
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
