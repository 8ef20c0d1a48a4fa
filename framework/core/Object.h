// The root of the object model: TObject (freed the framework's way), the owning handle TOwned,
// TPersistent, and the macros that give a class its published-property table.
#pragma once

#include <memory>
#include <type_traits>

#include <qx/framework/core/Events.h>
#include <qx/framework/core/System.h>

class TClassInfo;

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
  static_assert(!std::is_destructible_v<ClassName>, #ClassName                              \
                " goes through Free, its owner or TOwned: its destructor is protected");    \
  static const bool QxRegistered_##ClassName = (RegisterClass(ClassName::StaticClassInfo()), true);

class TObject {
 public:
  TObject() = default;
  TObject(const TObject&) = delete;
  TObject& operator=(const TObject&) = delete;
  // Objects go through Free (or an owner, or TOwned), never a bare delete: BeforeDestruction
  // must run while the whole object still exists.

 protected:
  virtual ~TObject() = default;

 public:
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
