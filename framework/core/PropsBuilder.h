// Typed construction of a class's property table.
#pragma once

#include <concepts>
#include <limits>
#include <type_traits>
#include <utility>

#include <qx/framework/core/ClassInfo.h>
#include <qx/framework/core/Component.h>
#include <qx/framework/core/StringList.h>

namespace qx_detail {

// A getter is either a data member pointer or a const member function returning the value.
template <class C, class G>
decltype(auto) GetVia(const C* obj, G getter) {
  return std::invoke(getter, obj);
}

template <class C, class S, class V>
void SetVia(C* obj, S setter, V&& value) {
  std::invoke(setter, obj, std::forward<V>(value));
}

template <class C, class G, class S>
class OrdProp : public TPropInfo {
 public:
  OrdProp(String name, TPropKind kind, G g, S s, std::optional<int64_t> def,
          std::vector<String> names)
      : TPropInfo(std::move(name), kind), FGet(g), FSet(s) {
    FDefault = def;
    FEnumNames = std::move(names);
  }
  bool IsReadOnly() const override { return std::is_same_v<S, std::nullptr_t>; }
  int64_t GetOrd(const TPersistent* o) const override {
    return static_cast<int64_t>(GetVia(static_cast<const C*>(o), FGet));
  }
  void SetOrd(TPersistent* o, int64_t v) const override {
    if constexpr (std::is_same_v<S, std::nullptr_t>) {
      throw Exception("property " + FName + " is read-only");
    } else {
      SetVia(static_cast<C*>(o), FSet, static_cast<V>(v));
    }
  }
  int64_t OrdMin() const override { return Limit(true); }
  int64_t OrdMax() const override { return Limit(false); }

 private:
  using V =
      std::remove_cvref_t<decltype(GetVia(static_cast<const C*>(nullptr), std::declval<G>()))>;
  static int64_t Limit(bool low) {
    if constexpr (std::is_enum_v<V>) {
      using U = std::underlying_type_t<V>;
      return Clamp64<U>(low);
    } else {
      return Clamp64<V>(low);
    }
  }
  template <class T>
  static int64_t Clamp64(bool low) {
    if constexpr (std::is_same_v<T, bool>)
      return low ? 0 : 1;
    else if constexpr (sizeof(T) < 8 || std::is_signed_v<T>)
      return low ? int64_t(std::numeric_limits<T>::min()) : int64_t(std::numeric_limits<T>::max());
    else
      return low ? 0 : INT64_MAX;
  }
  G FGet;
  S FSet;
};

template <class C, class G, class S>
class StrProp : public TPropInfo {
 public:
  StrProp(String name, G g, S s)
      : TPropInfo(std::move(name), TPropKind::String), FGet(g), FSet(s) {}
  bool IsReadOnly() const override { return std::is_same_v<S, std::nullptr_t>; }
  String GetStr(const TPersistent* o) const override {
    return String(GetVia(static_cast<const C*>(o), FGet));
  }
  void SetStr(TPersistent* o, const String& v) const override {
    if constexpr (std::is_same_v<S, std::nullptr_t>) {
      throw Exception("property " + FName + " is read-only");
    } else {
      SetVia(static_cast<C*>(o), FSet, v);
    }
  }

 private:
  G FGet;
  S FSet;
};

template <class C, class T, class G, class S>
class CompProp : public TPropInfo {
 public:
  CompProp(String name, G g, S s)
      : TPropInfo(std::move(name), TPropKind::Component), FGet(g), FSet(s) {}
  bool IsReadOnly() const override { return false; }
  TComponent* GetComponent(const TPersistent* o) const override {
    return static_cast<TComponent*>(GetVia(static_cast<const C*>(o), FGet));
  }
  void SetComponent(TPersistent* o, TComponent* c) const override {
    T* typed = c == nullptr ? nullptr : dynamic_cast<T*>(c);
    if (c != nullptr && typed == nullptr) throw Exception("incompatible component for " + FName);
    SetVia(static_cast<C*>(o), FSet, typed);
  }
  bool AcceptsComponent(const TComponent* c) const override {
    return dynamic_cast<const T*>(c) != nullptr;
  }

 private:
  G FGet;
  S FSet;
};

template <class C, class G, class S>
class StringsProp : public TPropInfo {
 public:
  StringsProp(String name, G g, S s)
      : TPropInfo(std::move(name), TPropKind::Strings), FGet(g), FSet(s) {}
  bool IsReadOnly() const override { return false; }
  TStrings* GetStrings(const TPersistent* o) const override {
    return static_cast<TStrings*>(GetVia(static_cast<const C*>(o), FGet));
  }
  void SetStrings(TPersistent* o, TStrings* v) const override {
    SetVia(static_cast<C*>(o), FSet, v);
  }

 private:
  G FGet;
  S FSet;
};

template <class C, class E, class G, class S>
class EventProp : public TPropInfo {
 public:
  EventProp(String name, G g, S s)
      : TPropInfo(std::move(name), TPropKind::Event), FGet(g), FSet(s) {}
  bool IsReadOnly() const override { return false; }
  std::type_index EventType() const override { return typeid(E); }
  std::any GetEvent(const TPersistent* o) const override {
    return E(GetVia(static_cast<const C*>(o), FGet));
  }
  void SetEvent(TPersistent* o, const std::any& v) const override {
    SetVia(static_cast<C*>(o), FSet, v.has_value() ? std::any_cast<const E&>(v) : E());
  }

 private:
  G FGet;
  S FSet;
};

template <class M>
struct MethodTraits;
template <class C, class... Args>
struct MethodTraits<void (C::*)(Args...)> {
  using Class = C;
  using Event = TMethod<Args...>;
};

}  // namespace qx_detail

template <class C>
class TPropsBuilder {
 public:
  explicit TPropsBuilder(TClassInfo& info) : FInfo(info) {}

  // Each property: a getter (data member or const member function), a setter (member function
  // or nullptr for read-only), and the stream default where the property has one.
  template <class G, class S>
  void Boolean(const char* name, G get, S set, bool def = false) {
    Add<qx_detail::OrdProp<C, G, S>>(name, TPropKind::Boolean, get, set,
                                     std::optional<int64_t>(def ? 1 : 0),
                                     std::vector<String>{"False", "True"});
  }
  template <class G, class S>
  void Integer(const char* name, G get, S set, std::optional<int32_t> def = std::nullopt) {
    Add<qx_detail::OrdProp<C, G, S>>(name, TPropKind::Integer, get, set,
                                     def ? std::optional<int64_t>(*def) : std::nullopt,
                                     std::vector<String>{});
  }
  template <class G, class S>
  void Color(const char* name, G get, S set, std::optional<TColor> def = std::nullopt) {
    Add<qx_detail::OrdProp<C, G, S>>(name, TPropKind::Color, get, set,
                                     def ? std::optional<int64_t>(*def) : std::nullopt,
                                     std::vector<String>{});
  }
  // names[i] is the name of ordinal i.
  template <class G, class S>
  void Enum(const char* name, std::vector<String> names, G get, S set,
            std::optional<int64_t> def = std::nullopt) {
    Add<qx_detail::OrdProp<C, G, S>>(name, TPropKind::Enum, get, set, def, std::move(names));
  }
  // A set of the named members: the value is a mask, bit i for names[i] (at most 32 members).
  template <class G, class S>
  void Set(const char* name, std::vector<String> names, G get, S set,
           std::optional<int64_t> def = 0) {
    Add<qx_detail::OrdProp<C, G, S>>(name, TPropKind::Set, get, set, def, std::move(names));
  }
  template <class G, class S>
  void Text(const char* name, G get, S set) {
    FInfo.FProps.push_back(std::make_unique<qx_detail::StrProp<C, G, S>>(name, get, set));
  }
  // A reference to another component of class T (checked when set by name).
  template <class T, class G, class S>
  void Reference(const char* name, G get, S set) {
    FInfo.FProps.push_back(std::make_unique<qx_detail::CompProp<C, T, G, S>>(name, get, set));
  }
  template <class G, class S>
  void Strings(const char* name, G get, S set) {
    FInfo.FProps.push_back(std::make_unique<qx_detail::StringsProp<C, G, S>>(name, get, set));
  }
  // An event property; E is its method-reference type.
  template <class E, class G, class S>
  void Event(const char* name, G get, S set) {
    FInfo.FProps.push_back(std::make_unique<qx_detail::EventProp<C, E, G, S>>(name, get, set));
  }
  // An event property that is a plain field of the class (or of a base), read and written as is.
  template <class E, class B>
  requires std::is_base_of_v<B, C>
  void Event(const char* name, E B::*field) {
    Event<E>(
        name, [field](const C* o) -> const E& { return o->*field; },
        [field](C* o, const E& e) { o->*field = e; });
  }
  // A component field published by name (the field's own name, as form files name the
  // component): reading a form file points it at the component of that name.
  template <class T, class B>
  requires std::is_base_of_v<B, C> && std::is_base_of_v<TComponent, T>
  void Field(const char* name, T* B::*field) {
    TFieldEntry e;
    e.Name = name;
    e.Class = T::StaticClassInfo();
    e.Set = [field](TObject* o, TComponent* c) { static_cast<C*>(o)->*field = static_cast<T*>(c); };
    e.Get = [field](const TObject* o) -> TComponent* { return static_cast<const C*>(o)->*field; };
    FInfo.FFields.push_back(std::move(e));
  }
  // A method published by name, for binding events in form files.
  template <class M>
  void Method(const char* name, M method) {
    using Traits = qx_detail::MethodTraits<M>;
    using E = typename Traits::Event;
    using MC = typename Traits::Class;
    TMethodEntry e;
    e.Name = name;
    e.Type = typeid(E);
    e.Bind = [method](TObject* obj) -> std::any { return E(dynamic_cast<MC*>(obj), method); };
    e.Matches = [method](const std::any& v, const TObject* obj) {
      const E* ev = std::any_cast<E>(&v);
      auto* self = dynamic_cast<MC*>(const_cast<TObject*>(obj));
      return ev != nullptr && self != nullptr && *ev == E(self, method);
    };
    FInfo.FMethods.push_back(std::move(e));
  }

 private:
  template <class P, class... A>
  void Add(A&&... a) {
    FInfo.FProps.push_back(std::make_unique<P>(std::forward<A>(a)...));
  }
  TClassInfo& FInfo;
};

template <class C, class Body>
const TClassInfo* TClassInfo::Build(const char* name, const TClassInfo* parent, Body body) {
  auto* info = new TClassInfo();  // lives for the whole process, like the class itself
  info->FClassName = name;
  info->FParent = parent;
  if constexpr (std::is_base_of_v<TComponent, C> && !std::is_abstract_v<C> &&
                requires(TComponent * owner) { new C(owner); }) {
    info->FFactory = [](TComponent* owner) -> TComponent* { return new C(owner); };
  }
  TPropsBuilder<C> builder(*info);
  body(builder);
  return info;
}
