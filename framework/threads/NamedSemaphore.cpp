#include <fcntl.h>
#include <limits.h>
#include <semaphore.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <functional>

#include <qx/framework/threads/Threads.h>

namespace {
sem_t* Sem(void* p) {
  return static_cast<sem_t*>(p);
}

// The kernel keeps named semaphores as files "sem.<name>" in /dev/shm; the handle counter adds
// two characters to the name.
constexpr size_t kMaxPosixName = NAME_MAX - 6;

// A platform semaphore lives while a handle to it is open and starts afresh afterwards, while a
// POSIX one lives until unlinked. A companion semaphore counts the open handles machine-wide so
// that closing the last one unlinks both; opening and closing hold a machine-wide file lock so
// that no opener meets a semaphore that is being unlinked.
String CounterName(const String& posixName) {
  return posixName + ".h";
}

class MachineLock {
 public:
  MachineLock() {
    FFd = open("/dev/shm/qx-named-semaphores.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (FFd >= 0)
      while (flock(FFd, LOCK_EX) != 0 && errno == EINTR) {
      }
  }
  ~MachineLock() {
    if (FFd >= 0) close(FFd);  // closing releases the lock
  }

 private:
  int FFd;
};
}  // namespace

// Windows names live in one namespace per session ("Local\") or machine ("Global\"); Linux has a
// single one, so both prefixes fall away. A POSIX name is one leading '/' and no other.
String TNamedSemaphore::PosixName(const String& name) {
  std::string_view n = name;
  for (std::string_view prefix : {"Global\\", "Local\\"}) {
    if (n.size() >= prefix.size() && SameText(n.substr(0, prefix.size()), prefix)) {
      n.remove_prefix(prefix.size());
      break;
    }
  }
  String out = "/";
  for (char c : n) out += c == '/' ? '_' : c;
  if (out.size() > kMaxPosixName) {
    // Keep long names distinct: a prefix plus a hash of the whole name.
    String hash = IntToHex(std::hash<std::string_view>{}(n), 16);
    out = out.substr(0, kMaxPosixName - hash.size() - 1) + "-" + hash;
  }
  return out;
}

TNamedSemaphore::TNamedSemaphore(const String& name, int32_t initial, int32_t maximum)
    : FMaximum(maximum) {
  if (name.empty() || maximum < 1 || initial < 0 || initial > maximum) return;
  FPosixName = PosixName(name);
  MachineLock lock;
  sem_t* handles = sem_open(CounterName(FPosixName).c_str(), O_CREAT, 0600, 0u);
  if (handles == SEM_FAILED) return;
  sem_t* s = sem_open(FPosixName.c_str(), O_CREAT, 0600, static_cast<unsigned>(initial));
  if (s == SEM_FAILED) {
    sem_close(handles);
    return;
  }
  sem_post(handles);
  FSem = s;
  FHandles = handles;
}

TNamedSemaphore::~TNamedSemaphore() {
  if (FSem == nullptr) return;
  MachineLock lock;
  sem_close(Sem(FSem));
  sem_t* handles = Sem(FHandles);
  int left = 1;
  if (sem_trywait(handles) == 0) sem_getvalue(handles, &left);
  sem_close(handles);
  if (left == 0) {
    sem_unlink(FPosixName.c_str());
    sem_unlink(CounterName(FPosixName).c_str());
  }
}

bool TNamedSemaphore::Wait(int32_t ms) {
  if (FSem == nullptr) return false;
  sem_t* s = Sem(FSem);
  if (ms < 0) {
    while (sem_wait(s) != 0)
      if (errno != EINTR) return false;
    return true;
  }
  if (ms == 0) {
    while (sem_trywait(s) != 0)
      if (errno != EINTR) return false;
    return true;
  }
  // A monotonic deadline: setting the wall clock must not stretch or cut the wait.
  timespec deadline{};
  clock_gettime(CLOCK_MONOTONIC, &deadline);
  deadline.tv_sec += ms / 1000;
  deadline.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000L;
  }
  while (sem_clockwait(s, CLOCK_MONOTONIC, &deadline) != 0)
    if (errno != EINTR) return false;
  return true;
}

bool TNamedSemaphore::Release() {
  if (FSem == nullptr) return false;
  int value = 0;
  if (sem_getvalue(Sem(FSem), &value) != 0 || value >= FMaximum) return false;
  return sem_post(Sem(FSem)) == 0;
}

void TNamedSemaphore::Unlink(const String& name) {
  MachineLock lock;
  sem_unlink(PosixName(name).c_str());
  sem_unlink(CounterName(PosixName(name)).c_str());
}
