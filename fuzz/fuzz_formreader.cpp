// The form reader on arbitrary text: it either refuses with a positioned message, having run no
// Loaded and left no component alive, or what it read writes, reads again and writes back to the
// same text.
#include <cstdio>
#include <cstdlib>

#include <qx/framework/core/FormStream.h>
#include "tests/framework/form_test_classes.h"

namespace {

[[noreturn]] void Finding(const char* what, const String& detail) {
  std::fprintf(stderr, "%s\n%s\n", what, detail.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const String text(reinterpret_cast<const char*>(data), size);
  TProbe::LoadedCalls = 0;
  TOwned<TComponent> root;
  try {
    root.reset(CreateComponentFromText(text, nullptr, "fuzz.qxf"));
  } catch (const Exception& e) {
    if (String(e.what()).rfind("fuzz.qxf:", 0) != 0) Finding("error without a position", e.what());
    if (TProbe::LoadedCalls != 0) Finding("a refused read ran Loaded", e.what());
    if (TProbe::Living != 0) Finding("a refused read left components alive", e.what());
    return 0;
  }
  const String first = WriteComponentToText(root.get());
  root.reset();
  TOwned<TComponent> again;
  try {
    again.reset(CreateComponentFromText(first, nullptr, "again.qxf"));
  } catch (const Exception& e) {
    Finding("the reader refuses what the writer wrote", String(e.what()) + "\n" + first);
  }
  const String second = WriteComponentToText(again.get());
  if (second != first) Finding("write, read, write differs", first + "----\n" + second);
  return 0;
}
