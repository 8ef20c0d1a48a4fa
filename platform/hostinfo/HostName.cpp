#include <qx/platform/hostinfo/HostName.h>

#include <limits.h>
#include <unistd.h>

#include <cerrno>

#include <qx/platform/hostinfo/HostInfoDouble.h>

String GetLocalHostName() {
  String name;
  if (DoubleHostName(name)) return name;
  char buffer[HOST_NAME_MAX + 1] = {};
  // A name longer than the buffer may come back cut and unterminated; the last byte stays zero.
  if (gethostname(buffer, sizeof buffer - 1) != 0 && errno != ENAMETOOLONG) return String();
  return buffer;
}
