#include <dlfcn.h>
#include <link.h>

#include <qx/framework/design/DesignIntf.h>
#include <qx/framework/design/Package.h>

namespace {

int NextPackageId() {
  static int next = 0;
  return ++next;
}

// dlsym on a handle also searches the libraries it depends on, and every package exports the
// same entry names: take an entry only from the package's own file.
void* OwnSymbol(void* handle, const char* name) {
  void* sym = dlsym(handle, name);
  if (sym == nullptr) return nullptr;
  link_map* map = nullptr;
  Dl_info info{};
  if (dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0 || dladdr(sym, &info) == 0) return nullptr;
  return info.dli_fbase == reinterpret_cast<void*>(map->l_addr) ? sym : nullptr;
}

}  // namespace

TDesignPackage::TDesignPackage(const String& path) : FPath(path), FId(NextPackageId()) {
  // A bare file name would be looked up on the library path, not in the current folder.
  String file = path.find('/') == String::npos ? "./" + path : path;
  FHandle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (FHandle == nullptr) {
    const char* why = dlerror();
    throw Exception(path + ": cannot load the package (" + (why ? why : "unknown error") + ")");
  }
  auto reg = reinterpret_cast<TPackageRegisterProc>(OwnSymbol(FHandle, kPackageRegisterEntry));
  auto info = reinterpret_cast<TPackageInfoProc>(OwnSymbol(FHandle, kPackageInfoEntry));
  if (reg == nullptr || info == nullptr || (FInfo = info()) == nullptr) {
    dlclose(FHandle);
    throw Exception(path + ": not a component package (no Register or package information)");
  }
  BeginPackageRegistration(FId);
  try {
    reg();
  } catch (...) {
    EndPackageRegistration();
    UnregisterPackage(FId);
    dlclose(FHandle);
    throw;
  }
  EndPackageRegistration();
}

TDesignPackage::~TDesignPackage() {
  UnregisterPackage(FId);
  dlclose(FHandle);
}

const TQxBitmapResource* TDesignPackage::FindBitmap(std::string_view name) const {
  for (size_t i = 0; i < FInfo->BitmapCount; ++i)
    if (SameText(FInfo->Bitmaps[i].Name, name)) return &FInfo->Bitmaps[i];
  return nullptr;
}
