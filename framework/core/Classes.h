// The object model: TObject, TPersistent, TComponent (ownership, state, free notification),
// string lists, and the per-class published-property tables that drive form streaming and the
// designer.
#pragma once

#include <any>
#include <functional>
#include <memory>
#include <optional>
#include <typeindex>
#include <unordered_map>
#include <vector>

#include "framework/core/Events.h"
#include "framework/core/System.h"

class TClassInfo;
class TComponent;
class TPersistent;

// Declares the class's property table. Use in the class body; leaves the access at public.
#define QX_CLASS(ClassName)                      \
 public:                                         \
  static const TClassInfo* StaticClassInfo();    \
  const TClassInfo* ClassInfo() const override { \
    return StaticClassInfo();                    \
  }

// Defines the property table, in declaration order, and registers the class by name so that form
// files can create it. `Body` is a lambda taking a TPropsBuilder<ClassName>&; being written inside
// a member function it may name private fields and setters.
#define QX_DEFINE_CLASS(ClassName, BaseName, ...)                                           \
  const TClassInfo* ClassName::StaticClassInfo() {                                          \
    static const TClassInfo* info =                                                         \
        TClassInfo::Build<ClassName>(#ClassName, BaseName::StaticClassInfo(), __VA_ARGS__); \
    return info;                                                                            \
  }                                                                                         \
  static const bool QxRegistered_##ClassName = (RegisterClass(ClassName::StaticClassInfo()), true);

class TObject {
 public:
  TObject() = default;
  TObject(const TObject&) = delete;
  TObject& operator=(const TObject&) = delete;
  virtual ~TObject() = default;

  static const TClassInfo* StaticClassInfo();
  virtual const TClassInfo* ClassInfo() const { return StaticClassInfo(); }
  String ClassName() const;

  // Called by Free before the destructor runs, while the whole object is still alive.
  virtual void BeforeDestruction() {}
  // Destroys the object the framework's way: BeforeDestruction, then delete. Null-safe.
  static void Free(TObject* obj) {
    if (obj == nullptr) return;
    obj->BeforeDestruction();
    delete obj;
  }
};

// Deleter for std::unique_ptr that goes through TObject::Free.
struct TFreeDeleter {
  void operator()(TObject* o) const { TObject::Free(o); }
};
template <class T>
using TOwned = std::unique_ptr<T, TFreeDeleter>;

class TPersistent : public TObject {
 public:
  static const TClassInfo* StaticClassInfo();
  const TClassInfo* ClassInfo() const override { return StaticClassInfo(); }
  virtual void Assign(const TPersistent* source);
};

// ---------------------------------------------------------------------------------------------
// String lists

class TStrings : public TPersistent {
 public:
  static const TClassInfo* StaticClassInfo();
  const TClassInfo* ClassInfo() const override { return StaticClassInfo(); }

  virtual int Count() const = 0;
  virtual String Get(int index) const = 0;
  virtual void Put(int index, const String& s) = 0;
  virtual TObject* GetObject(int index) const = 0;
  virtual void PutObject(int index, TObject* obj) = 0;
  virtual void Insert(int index, const String& s, TObject* obj = nullptr) = 0;
  virtual void Delete(int index) = 0;
  virtual void Clear() = 0;

  int Add(const String& s) { return AddObject(s, nullptr); }
  int AddObject(const String& s, TObject* obj) {
    Insert(Count(), s, obj);
    return Count() - 1;
  }
  String operator[](int index) const { return Get(index); }
  String Strings(int index) const { return Get(index); }
  TObject* Objects(int index) const { return GetObject(index); }
  int IndexOf(const String& s) const;
  // Lines joined, each followed by a line feed; setting splits at CR, LF or CR LF.
  String Text() const;
  void SetText(const String& text);
  std::vector<String> ToVector() const;
  void Assign(const TPersistent* source) override;
  friend bool operator==(const TStrings& a, const TStrings& b) {
    return a.ToVector() == b.ToVector();
  }
};

class TStringList : public TStrings {
 public:
  static const TClassInfo* StaticClassInfo();
  const TClassInfo* ClassInfo() const override { return StaticClassInfo(); }

  // With OwnsObjects the list frees an item's object when the item is deleted or cleared.
  explicit TStringList(bool ownsObjects = false) : FOwnsObjects(ownsObjects) {}
  ~TStringList() override { Clear(); }

  int Count() const override { return static_cast<int>(FItems.size()); }
  String Get(int index) const override;
  void Put(int index, const String& s) override;
  TObject* GetObject(int index) const override;
  void PutObject(int index, TObject* obj) override;
  void Insert(int index, const String& s, TObject* obj = nullptr) override;
  void Delete(int index) override;
  void Clear() override;
  bool OwnsObjects() const { return FOwnsObjects; }

 private:
  void Check(int index) const;
  struct Item {
    String S;
    TObject* Obj;
  };
  std::vector<Item> FItems;
  bool FOwnsObjects;
};

// ---------------------------------------------------------------------------------------------
// Components

enum TComponentStateFlag : uint32_t { csLoading = 1, csDesigning = 2, csDestroying = 4 };
enum TOperation { opInsert, opRemove };

class TComponent : public TPersistent {
 public:
  static const TClassInfo* StaticClassInfo();
  const TClassInfo* ClassInfo() const override { return StaticClassInfo(); }

  explicit TComponent(TComponent* AOwner);
  ~TComponent() override;
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

 protected:
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
  bool FRemoveNotified = false;
};

// ---------------------------------------------------------------------------------------------
// Published properties

enum class TPropKind { Boolean, Integer, String, Color, Enum, Set, Component, Strings, Event };

class TPropInfo {
 public:
  TPropInfo(String name, TPropKind kind) : FName(std::move(name)), FKind(kind) {}
  virtual ~TPropInfo() = default;
  const String& Name() const { return FName; }
  TPropKind Kind() const { return FKind; }
  virtual bool IsReadOnly() const = 0;
  // Whether a form file holds the property: not read-only and its value differs from the
  // stream default (no default: always for integers; non-empty strings, lists, references,
  // assigned events).
  virtual bool IsStored(const TPersistent* obj) const;

  // Ordinal kinds (Boolean, Integer, Color, Enum, Set: a mask, bit i for EnumNames()[i]).
  virtual int64_t GetOrd(const TPersistent*) const { throw Exception("not ordinal: " + FName); }
  virtual void SetOrd(TPersistent*, int64_t) const { throw Exception("not ordinal: " + FName); }
  // The values the property's type holds (a form file may set no other).
  virtual int64_t OrdMin() const { return INT32_MIN; }
  virtual int64_t OrdMax() const { return INT32_MAX; }
  std::optional<int64_t> Default() const { return FDefault; }
  // Enum, Boolean and Set value names, in ordinal order.
  const std::vector<String>& EnumNames() const { return FEnumNames; }
  // String.
  virtual String GetStr(const TPersistent*) const { throw Exception("not text: " + FName); }
  virtual void SetStr(TPersistent*, const String&) const { throw Exception("not text: " + FName); }
  // Component references.
  virtual TComponent* GetComponent(const TPersistent*) const {
    throw Exception("not a reference: " + FName);
  }
  virtual void SetComponent(TPersistent*, TComponent*) const {
    throw Exception("not a reference: " + FName);
  }
  virtual bool AcceptsComponent(const TComponent*) const { return false; }
  // String lists: the list object itself (streamed into it without the setter), and the setter.
  virtual TStrings* GetStrings(const TPersistent*) const {
    throw Exception("not a list: " + FName);
  }
  virtual void SetStrings(TPersistent*, TStrings*) const {
    throw Exception("not a list: " + FName);
  }
  // Events: the type of the method reference, and access through a type-erased value holding it.
  virtual std::type_index EventType() const { return typeid(void); }
  virtual std::any GetEvent(const TPersistent*) const { return {}; }
  virtual void SetEvent(TPersistent*, const std::any&) const {}

 protected:
  String FName;
  TPropKind FKind;
  std::optional<int64_t> FDefault;
  std::vector<String> FEnumNames;
};

// A method a class publishes by name, so that form files can bind events to it.
struct TMethodEntry {
  String Name;
  std::type_index Type = typeid(void);
  std::function<std::any(TObject*)> Bind;  // the method reference bound to an object
  std::function<bool(const std::any&, const TObject*)> Matches;  // is this ref obj->method?
};

class TClassInfo {
 public:
  const String& ClassName() const { return FClassName; }
  const TClassInfo* Parent() const { return FParent; }
  bool InheritsFrom(const TClassInfo* other) const;
  // Inherited properties first, then the class's own, each in declaration order.
  std::vector<const TPropInfo*> Properties() const;
  const TPropInfo* FindProperty(std::string_view name) const;  // case-insensitive
  const TMethodEntry* FindMethod(std::string_view name) const;
  std::vector<const TMethodEntry*> Methods() const;
  // Creates an instance with an owner, or nullptr for classes that cannot be created by name.
  TComponent* Create(TComponent* owner) const { return FFactory ? FFactory(owner) : nullptr; }
  bool Creatable() const { return static_cast<bool>(FFactory); }

  template <class C, class Body>
  static const TClassInfo* Build(const char* name, const TClassInfo* parent, Body body);

  // Internal to the builder.
  String FClassName;
  const TClassInfo* FParent = nullptr;
  std::vector<std::unique_ptr<TPropInfo>> FProps;
  std::vector<TMethodEntry> FMethods;
  std::function<TComponent*(TComponent*)> FFactory;
};

// Registered classes, by name (case-insensitive). Registering a name twice keeps the first.
void RegisterClass(const TClassInfo* info);
const TClassInfo* FindClass(std::string_view name);
std::vector<const TClassInfo*> RegisteredClasses();

#include "framework/core/PropsBuilder.h"
