// Class information: each class's published properties and methods, which drive form files
// and the designer, and the registry of classes by name.
#pragma once

#include <any>
#include <functional>
#include <memory>
#include <optional>
#include <typeindex>
#include <vector>

#include <qx/framework/core/Object.h>

class TComponent;
class TStrings;
template <class C>
class TPropsBuilder;

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

// A component field a class publishes by name: the form reader points it at the component of
// that name it creates, and the owner clears it when that component goes.
struct TFieldEntry {
  String Name;
  const TClassInfo* Class = nullptr;  // what the field may hold
  std::function<void(TObject*, TComponent*)> Set;
  std::function<TComponent*(const TObject*)> Get;
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
  const TFieldEntry* FindField(std::string_view name) const;  // case-insensitive
  // Creates an instance with an owner, or nullptr for classes that cannot be created by name.
  TComponent* Create(TComponent* owner) const { return FFactory ? FFactory(owner) : nullptr; }
  bool Creatable() const { return static_cast<bool>(FFactory); }

  // The table of class C, filled by `body` through a TPropsBuilder<C> (PropsBuilder.h).
  template <class C, class Body>
  static const TClassInfo* Build(const char* name, const TClassInfo* parent, Body body);

 private:
  template <class C>
  friend class TPropsBuilder;
  TClassInfo() = default;

  String FClassName;
  const TClassInfo* FParent = nullptr;
  std::vector<std::unique_ptr<TPropInfo>> FProps;
  std::vector<TMethodEntry> FMethods;
  std::vector<TFieldEntry> FFields;
  std::function<TComponent*(TComponent*)> FFactory;
};

// Registered classes, by name (case-insensitive). Registering a name twice keeps the first.
void RegisterClass(const TClassInfo* info);
const TClassInfo* FindClass(std::string_view name);
std::vector<const TClassInfo*> RegisteredClasses();
