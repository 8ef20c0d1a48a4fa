#include <qx/framework/app/Messages.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>

#include <qx/framework/app/Application.h>

namespace {

// Like the platform's per-queue quota: a main thread that stops taking messages must not let
// posting threads grow the queue without bound.
constexpr int kMaxPendingPosts = 10000;
std::atomic<int> gPendingPosts{0};

struct TObjectInstance {
  TWndMethod Method;
};

struct TWindow {
  LONG_PTR Proc;
  LONG_PTR UserData = 0;
};

// Every window and method instance of the process. Handles are never reused, so a stale handle
// can only ever name nothing.
struct TWindowTable {
  std::mutex Mutex;
  uintptr_t NextHandle = 0x10000;
  std::map<uintptr_t, TWindow> Windows;
  std::map<const void*, std::shared_ptr<TObjectInstance>> Instances;
  std::map<String, UINT> MessageNames;  // keyed by the upper-case name
  UINT NextMessage = 0xC000;
};

// Never destroyed: other threads may still post while the process exits.
TWindowTable& Table() {
  static TWindowTable* table = new TWindowTable;
  return *table;
}

LONG_PTR DefProcToken() {
  return reinterpret_cast<LONG_PTR>(&DefWindowProcW);
}

uintptr_t Key(HWND wnd) {
  return reinterpret_cast<uintptr_t>(wnd);
}

// Runs the window's current procedure on the calling (main) thread.
LRESULT Deliver(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  std::shared_ptr<TObjectInstance> instance;
  {
    TWindowTable& t = Table();
    std::lock_guard lock(t.Mutex);
    auto w = t.Windows.find(Key(wnd));
    if (w == t.Windows.end()) return 0;
    auto i = t.Instances.find(reinterpret_cast<const void*>(w->second.Proc));
    if (i != t.Instances.end()) instance = i->second;
  }
  if (!instance) return DefWindowProcW(wnd, msg, wParam, lParam);
  TMessage m{msg, wParam, lParam, 0};
  instance->Method(m);
  return m.Result;
}

}  // namespace

void* MakeObjectInstance(const TWndMethod& method) {
  auto instance = std::make_shared<TObjectInstance>(TObjectInstance{method});
  void* token = instance.get();
  TWindowTable& t = Table();
  std::lock_guard lock(t.Mutex);
  t.Instances.emplace(token, std::move(instance));
  return token;
}

void FreeObjectInstance(void* instance) {
  TWindowTable& t = Table();
  std::shared_ptr<TObjectInstance> keep;  // released outside the lock
  std::lock_guard lock(t.Mutex);
  auto it = t.Instances.find(instance);
  if (it == t.Instances.end()) return;
  keep = std::move(it->second);
  t.Instances.erase(it);
}

HWND AllocateHWnd(const TWndMethod& method) {
  LONG_PTR proc =
      method.Assigned() ? reinterpret_cast<LONG_PTR>(MakeObjectInstance(method)) : DefProcToken();
  TWindowTable& t = Table();
  std::lock_guard lock(t.Mutex);
  uintptr_t handle = t.NextHandle;
  t.NextHandle += 4;
  t.Windows.emplace(handle, TWindow{proc});
  return reinterpret_cast<HWND>(handle);
}

void DeallocateHWnd(HWND wnd) {
  LONG_PTR proc = GetWindowLongW(wnd, GWL_WNDPROC);
  DestroyWindow(wnd);
  if (proc != 0 && proc != DefProcToken()) FreeObjectInstance(reinterpret_cast<void*>(proc));
}

bool PostMessageW(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (!IsWindow(wnd)) return false;
  if (gPendingPosts.fetch_add(1) >= kMaxPendingPosts) {
    --gPendingPosts;
    return false;
  }
  // The window may go before the message is taken from the queue; Deliver then drops it.
  Application->Queue([wnd, msg, wParam, lParam] {
    --gPendingPosts;
    Deliver(wnd, msg, wParam, lParam);
  });
  return true;
}

LRESULT SendMessageW(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (TApplication::IsMainThread()) return Deliver(wnd, msg, wParam, lParam);
  LRESULT result = 0;
  Application->RunOnMainThread(
      TThreadMethod::Callable([&] { result = Deliver(wnd, msg, wParam, lParam); }));
  return result;
}

UINT RegisterWindowMessageW(const String& name) {
  if (name.empty()) return 0;
  TWindowTable& t = Table();
  std::lock_guard lock(t.Mutex);
  String key = UpperCase(name);
  auto it = t.MessageNames.find(key);
  if (it != t.MessageNames.end()) return it->second;
  if (t.NextMessage > 0xFFFF) return 0;
  UINT number = t.NextMessage++;
  t.MessageNames.emplace(std::move(key), number);
  return number;
}

LRESULT DefWindowProcW(HWND, UINT, WPARAM, LPARAM) {
  return 0;
}

LONG_PTR GetWindowLongW(HWND wnd, int index) {
  TWindowTable& t = Table();
  std::lock_guard lock(t.Mutex);
  auto w = t.Windows.find(Key(wnd));
  if (w == t.Windows.end()) return 0;
  if (index == GWL_WNDPROC) return w->second.Proc;
  if (index == GWL_USERDATA) return w->second.UserData;
  return 0;
}

LONG_PTR SetWindowLongW(HWND wnd, int index, LONG_PTR value) {
  TWindowTable& t = Table();
  std::lock_guard lock(t.Mutex);
  auto w = t.Windows.find(Key(wnd));
  if (w == t.Windows.end()) return 0;
  LONG_PTR* slot = nullptr;
  if (index == GWL_WNDPROC) {
    // Calling an arbitrary number as code is what this refuses.
    if (value != DefProcToken() && t.Instances.count(reinterpret_cast<const void*>(value)) == 0)
      return 0;
    slot = &w->second.Proc;
  } else if (index == GWL_USERDATA) {
    slot = &w->second.UserData;
  } else {
    return 0;
  }
  LONG_PTR previous = *slot;
  *slot = value;
  return previous;
}

bool DestroyWindow(HWND wnd) {
  TWindowTable& t = Table();
  std::lock_guard lock(t.Mutex);
  return t.Windows.erase(Key(wnd)) > 0;
}

bool IsWindow(HWND wnd) {
  TWindowTable& t = Table();
  std::lock_guard lock(t.Mutex);
  return t.Windows.count(Key(wnd)) > 0;
}
