// Method references: an object and one of its member functions, comparable and possibly
// unassigned, like the framework's `procedure of object`. Applications may also bind a free
// callable, which compares equal only to itself (and its copies).
#pragma once

#include <array>
#include <cstring>
#include <functional>
#include <memory>
#include <type_traits>

class TObject;

template <typename... Args>
class TMethod {
 public:
  TMethod() = default;
  TMethod(std::nullptr_t) {}

  // Binds obj->m. The member function may belong to a base class of the object.
  template <class O, class C>
  requires std::is_base_of_v<C, O> TMethod(O* obj, void (C::*m)(Args...)) {
    static_assert(sizeof(m) <= sizeof(FCode), "member pointer too large");
    if (obj == nullptr || m == nullptr) return;
    C* target = obj;
    FData = static_cast<const void*>(target);
    std::memcpy(FCode.data(), &m, sizeof(m));
    FInvoke = [target, m](Args... args) { (target->*m)(std::forward<Args>(args)...); };
  }

  // A free callable (lambda, function object): equal only to itself and its copies.
  template <class F>
  static TMethod Callable(F f) {
    TMethod r;
    auto holder = std::make_shared<std::function<void(Args...)>>(std::move(f));
    r.FData = holder.get();
    r.FHolder = holder;
    r.FInvoke = [fn = holder.get(), keep = holder](Args... args) {
      (*fn)(std::forward<Args>(args)...);
    };
    return r;
  }

  bool Assigned() const { return static_cast<bool>(FInvoke); }
  explicit operator bool() const { return Assigned(); }

  // Calling an unassigned method reference does nothing.
  void operator()(Args... args) const {
    if (FInvoke) FInvoke(std::forward<Args>(args)...);
  }

  // The object bound (or the callable's identity); nullptr when unassigned.
  const void* Data() const { return FData; }
  bool IsCallable() const { return FHolder != nullptr; }

  friend bool operator==(const TMethod& a, const TMethod& b) {
    if (!a.Assigned() || !b.Assigned()) return a.Assigned() == b.Assigned();
    return a.FData == b.FData && a.FCode == b.FCode && a.IsCallable() == b.IsCallable();
  }

 private:
  const void* FData = nullptr;
  std::array<unsigned char, 16> FCode{};
  std::shared_ptr<void> FHolder;
  std::function<void(Args...)> FInvoke;
};

using TNotifyEvent = TMethod<TObject*>;
using TThreadMethod = TMethod<>;

enum TCloseAction { caNone, caHide, caFree, caMinimize };
using TCloseEvent = TMethod<TObject*, TCloseAction&>;
