// Components: ownership, names, state (loading, designing, destroying) and free notification.
#pragma once

#include <functional>
#include <unordered_map>
#include <vector>

#include <qx/framework/core/Object.h>

enum TComponentStateFlag : uint32_t { csLoading = 1, csDesigning = 2, csDestroying = 4 };
enum TOperation { opInsert, opRemove };

class TComponent : public TPersistent {
 public:
  static const TClassInfo* StaticClassInfo();
  const TClassInfo* ClassInfo() const override { return StaticClassInfo(); }

  explicit TComponent(TComponent* AOwner);
  void BeforeDestruction() override;

  TComponent* Owner() const { return FOwner; }
  const String& Name() const { return FName; }
  // Throws Exception for a name that is not an identifier or is taken in the owner.
  virtual void SetName(const String& name);
  int32_t Tag() const { return FTag; }
  void SetTag(int32_t tag) { FTag = tag; }

  uint32_t ComponentState() const { return FComponentState; }
  bool IsDesigning() const { return (FComponentState & csDesigning) != 0; }
  bool IsLoading() const { return (FComponentState & csLoading) != 0; }
  bool IsDestroying() const { return (FComponentState & csDestroying) != 0; }
  // Puts this component and all it owns into (or out of) the designing state.
  void SetDesigning(bool value, bool setChildren = true);
  // Used by the form reader: enter the loading state, and leave it without calling Loaded when
  // a read is refused.
  void SetLoadingState();
  void ClearLoadingState();

  int ComponentCount() const { return static_cast<int>(FComponents.size()); }
  TComponent* Components(int index) const { return FComponents.at(index); }
  TComponent* FindComponent(const String& name) const;

  // `other` will get Notification(this, opRemove) before this component dies, and vice versa.
  void FreeNotification(TComponent* other);
  void RemoveFreeNotification(TComponent* other);

  // Called once after the component's properties have been streamed in; clears csLoading.
  virtual void Loaded();
  virtual void Notification(TComponent* AComponent, TOperation Operation);

  // Form-file structure: the component under which this one is written, and the ones written
  // under this one. Controls override these to nest by parent; others nest by ownership.
  virtual TComponent* GetParentComponent() const { return nullptr; }
  virtual void SetParentComponent(TComponent*) {}
  virtual void GetChildren(const std::function<void(TComponent*)>& proc, TComponent* root);
  // The class a form file names for this component, and whose properties it holds: its own,
  // unless the class is a program's form that adds only handlers to a framework class, and its
  // files stay that framework class's files (a designer opens them like any other).
  virtual const TClassInfo* StreamedClass() const { return ClassInfo(); }

 protected:
  // Components go through Free, their owner or TOwned, never a bare delete (see TObject).
  ~TComponent() override;
  void InsertComponent(TComponent* c);
  void RemoveComponent(TComponent* c);

 private:
  void SendRemoveNotifications();
  TComponent* FOwner = nullptr;
  String FName;
  int32_t FTag = 0;
  uint32_t FComponentState = 0;
  std::vector<TComponent*> FComponents;
  // Owned components by lower-case name, so that naming and finding stay constant-time in forms
  // with thousands of components.
  std::unordered_map<String, TComponent*> FNames;
  std::vector<TComponent*> FFreeNotifies;
};
