// Fontconfig keeps its parsed configuration and pattern caches for the whole life of the process
// and never frees them, so LeakSanitizer reports them at exit. A program that draws text
// includes this header in exactly one of its source files; it does nothing without the
// sanitizer.
#pragma once

#if defined(__SANITIZE_ADDRESS__)
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}
#endif
