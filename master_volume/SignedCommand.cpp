#include <qx/master_volume/SignedCommand.h>

#include <fcntl.h>
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/params.h>
#include <openssl/rand.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace {

constexpr std::string_view kDomain = "qxv1|";
constexpr std::string_view kCounterMark = ";n=";
constexpr std::string_view kTagMark = ";h=";
constexpr size_t kTagDigits = 32;
// 2^63-1 has 19 digits.
constexpr size_t kMostCounterDigits = 19;
// A key file holds one line; anything longer is no key file.
constexpr off_t kMostKeyFileBytes = 4096;

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string Hex(const uint8_t* bytes, size_t n) {
  static const char digits[] = "0123456789abcdef";
  std::string out(2 * n, '0');
  for (size_t i = 0; i < n; ++i) {
    out[2 * i] = digits[bytes[i] >> 4];
    out[2 * i + 1] = digits[bytes[i] & 15];
  }
  return out;
}

// Decodes an even number of hexadecimal digits into out (out.size() * 2 digits).
bool Unhex(std::string_view text, uint8_t* out, size_t n) {
  if (text.size() != 2 * n) return false;
  for (size_t i = 0; i < n; ++i) {
    const int hi = HexValue(text[2 * i]), lo = HexValue(text[2 * i + 1]);
    if (hi < 0 || lo < 0) return false;
    out[i] = static_cast<uint8_t>(hi << 4 | lo);
  }
  return true;
}

std::string Errno(const std::string& path) {
  return path + ": " + std::strerror(errno);
}

}  // namespace

bool ParseSignedLine(std::string_view line, TSignedLine& out) {
  // From the end, so that a command may hold anything, even ";n=".
  if (line.size() < kTagMark.size() + kTagDigits) return false;
  const size_t tagAt = line.size() - kTagDigits;
  if (line.substr(tagAt - kTagMark.size(), kTagMark.size()) != kTagMark) return false;
  const std::string_view tag = line.substr(tagAt);
  for (char c : tag)
    if (HexValue(c) < 0) return false;
  const std::string_view head = line.substr(0, tagAt - kTagMark.size());
  const size_t mark = head.rfind(kCounterMark);
  if (mark == std::string_view::npos) return false;
  const std::string_view digits = head.substr(mark + kCounterMark.size());
  // One text per number: no sign, no blank, no leading zero.
  if (digits.empty() || digits.size() > kMostCounterDigits || digits[0] == '0') return false;
  uint64_t value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  if (value > static_cast<uint64_t>(INT64_MAX)) return false;
  out.Command = head.substr(0, mark);
  out.CounterText = digits;
  out.Counter = value;
  out.Tag = tag;
  return true;
}

// ---------------------------------------------------------------------------------------------

struct TCommandMac::TState {
  EVP_MAC* Mac = nullptr;
  EVP_MAC_CTX* Ctx = nullptr;
};

TCommandMac::TCommandMac(const TQxCommandKey& key) : F(std::make_unique<TState>()) {
  F->Mac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
  if (F->Mac != nullptr) F->Ctx = EVP_MAC_CTX_new(F->Mac);
  char digest[] = "SHA256";
  const OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
                               OSSL_PARAM_END};
  if (F->Ctx == nullptr || EVP_MAC_init(F->Ctx, key.data(), key.size(), params) != 1) {
    EVP_MAC_CTX_free(F->Ctx);
    EVP_MAC_free(F->Mac);
    throw std::runtime_error("libcrypto offers no HMAC-SHA256");
  }
}

TCommandMac::~TCommandMac() {
  EVP_MAC_CTX_free(F->Ctx);  // cleanses the keyed state
  EVP_MAC_free(F->Mac);
}

std::array<uint8_t, 32> TCommandMac::Mac(std::string_view message) {
  std::array<uint8_t, 32> out{};
  size_t len = 0;
  // A null key starts again from the key already set, without hashing it anew.
  EVP_MAC_init(F->Ctx, nullptr, 0, nullptr);
  EVP_MAC_update(F->Ctx, reinterpret_cast<const unsigned char*>(message.data()), message.size());
  EVP_MAC_final(F->Ctx, out.data(), &len, out.size());
  return out;
}

namespace {

// The signed text: "qxv1|" COMMAND ";n=" COUNTER, in a buffer reused by the thread.
std::string_view SignedText(std::string_view command, std::string_view counterText) {
  thread_local std::string text;
  text.assign(kDomain).append(command).append(kCounterMark).append(counterText);
  return text;
}

}  // namespace

std::string TCommandMac::Tag(std::string_view command, std::string_view counterText) {
  const auto mac = Mac(SignedText(command, counterText));
  return Hex(mac.data(), kTagDigits / 2);
}

bool TCommandMac::Verify(const TSignedLine& line) {
  uint8_t given[kTagDigits / 2];
  if (!Unhex(line.Tag, given, sizeof given)) return false;
  const auto mac = Mac(SignedText(line.Command, line.CounterText));
  return CRYPTO_memcmp(given, mac.data(), sizeof given) == 0;
}

std::string TCommandMac::Sign(std::string_view command, uint64_t counter) {
  const std::string n = std::to_string(counter);
  std::string line(command);
  line.append(kCounterMark).append(n).append(kTagMark).append(Tag(command, n));
  return line;
}

// ---------------------------------------------------------------------------------------------

void Cleanse(void* data, size_t size) {
  OPENSSL_cleanse(data, size);
}

bool ParseKeyText(std::string_view text, TQxCommandKey& key, std::string& error) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) {
    error = "is empty; a key is 64 hexadecimal digits on one line";
    return false;
  }
  const size_t last = text.find_last_not_of(" \t\r\n");
  const std::string_view digits = text.substr(first, last - first + 1);
  for (char c : digits)
    if (HexValue(c) < 0) {
      error = "holds a character that is no hexadecimal digit; a key is 64 of them on one line";
      return false;
    }
  if (!Unhex(digits, key.data(), key.size())) {
    error =
        "holds " + std::to_string(digits.size()) + " hexadecimal digits; a key is 64 (32 bytes)";
    return false;
  }
  return true;
}

bool ReadKeyFile(const std::string& path, TQxCommandKey& key, std::string& error) {
  // Non-blocking, so that a FIFO named by mistake is refused instead of waited on.
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error = Errno(path);
    return false;
  }
  struct stat st;
  std::string text;
  bool ok = fstat(fd, &st) == 0;
  if (!ok) {
    error = Errno(path);
  } else if (!S_ISREG(st.st_mode)) {
    error = path + ": not a regular file";
    ok = false;
  } else if ((st.st_mode & 077) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    error = path + ": permissions " + mode +
            " are too open: others than its owner may read the key (chmod 600 " + path + ")";
    ok = false;
  } else if (st.st_size > kMostKeyFileBytes) {
    error = path + ": " + std::to_string(st.st_size) + " bytes; a key file is one line";
    ok = false;
  } else {
    text.resize(static_cast<size_t>(st.st_size));
    const ssize_t n = read(fd, text.data(), text.size());
    if (n < 0) {
      error = Errno(path);
      ok = false;
    } else {
      text.resize(static_cast<size_t>(n));
      if (!ParseKeyText(text, key, error)) {
        error = path + " " + error;
        ok = false;
      }
    }
  }
  OPENSSL_cleanse(text.data(), text.size());
  close(fd);
  return ok;
}

bool WriteNewKeyFile(const std::string& path, std::string& error) {
  TQxCommandKey key;
  if (RAND_bytes(key.data(), static_cast<int>(key.size())) != 1) {
    error = "the system's random source gave no key";
    return false;
  }
  std::string line = Hex(key.data(), key.size()) + "\n";
  OPENSSL_cleanse(key.data(), key.size());
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  bool ok = fd >= 0;
  if (!ok) {
    error = errno == EEXIST ? path + ": exists; a key file is never overwritten" : Errno(path);
  } else {
    // The mode asked for may be narrowed by the umask, never widened; say it exactly.
    ok = fchmod(fd, 0600) == 0 &&
         write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size()) && fsync(fd) == 0;
    if (!ok) error = Errno(path);
    close(fd);
    if (!ok) unlink(path.c_str());
  }
  OPENSSL_cleanse(line.data(), line.size());
  return ok;
}

std::string DefaultCounterFile(const TQxCommandKey& key) {
  std::string dir;
  if (const char* s = std::getenv("XDG_STATE_HOME"); s != nullptr && s[0] == '/')
    dir = s;
  else if (const char* h = std::getenv("HOME"); h != nullptr && h[0] != '\0')
    dir = std::string(h) + "/.local/state";
  else
    dir = "/tmp";
  TCommandMac mac(key);
  const auto id = mac.Mac("qxv1-counter-file");
  return dir + "/qx/counters/" + Hex(id.data(), 8);
}

// ---------------------------------------------------------------------------------------------

namespace {

// Creates the folders leading to a file, for its owner only.
void MakeParents(const std::string& file) {
  for (size_t slash = file.find('/', 1); slash != std::string::npos;
       slash = file.find('/', slash + 1))
    mkdir(file.substr(0, slash).c_str(), 0700);
}

}  // namespace

// One counter file of the process: the last counter accepted under it and the thread that
// writes it.
class TCounterStore {
 public:
  explicit TCounterStore(const std::string& file)
      : File(file), Last(std::make_shared<std::atomic<uint64_t>>(0)) {
    FILE* f = std::fopen(File.c_str(), "re");
    if (f == nullptr) {
      if (errno != ENOENT) Problem = "cannot read the last counter: " + Errno(File);
      return;
    }
    unsigned long long last = 0;
    if (std::fscanf(f, "%llu", &last) == 1)
      Last->store(last);
    else
      Problem = File + ": holds no counter; counting starts again from 0";
    std::fclose(f);
  }

  ~TCounterStore() {
    {
      std::lock_guard<std::mutex> g(Lock);
      Stop = true;
    }
    Wake.notify_one();
    if (Thread.joinable()) Thread.join();
  }

  // The store of a file, shared while anyone uses it. Main thread.
  static std::shared_ptr<TCounterStore> For(const std::string& file) {
    static std::map<std::string, std::weak_ptr<TCounterStore>> stores;
    auto& slot = stores[file];
    std::shared_ptr<TCounterStore> store = slot.lock();
    if (!store) slot = store = std::make_shared<TCounterStore>(file);
    return store;
  }

  void Save(uint64_t counter) {
    {
      std::lock_guard<std::mutex> g(Lock);
      ToWrite = counter;
    }
    if (!Thread.joinable()) Thread = std::thread([this] { Writer(); });
    Wake.notify_one();
  }

  std::string TakeProblem() {
    std::lock_guard<std::mutex> g(Lock);
    return std::exchange(Problem, std::string());
  }

  const std::string File;
  const std::shared_ptr<std::atomic<uint64_t>> Last;

 private:
  void Writer() {
    std::unique_lock<std::mutex> g(Lock);
    for (;;) {
      Wake.wait(g, [this] { return Stop || ToWrite != Written; });
      if (ToWrite == Written) return;  // asked to stop, and everything is written
      const uint64_t counter = ToWrite;
      g.unlock();
      std::string error;
      const bool ok = Write(counter, error);
      g.lock();
      Written = counter;
      if (!ok && !Failing)
        Problem = "cannot keep the last counter in " + File + " (" + error +
                  "); commands are still checked, but a restart forgets which were used";
      Failing = !ok;
    }
  }

  // A temporary name, then a rename: a restart finds the old counter or the new one, whole.
  bool Write(uint64_t counter, std::string& error) {
    const std::string partial = File + ".partial";
    const std::string text = std::to_string(counter) + "\n";
    int fd = open(partial.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0 && errno == ENOENT) {
      MakeParents(File);
      fd = open(partial.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    }
    if (fd < 0) {
      error = std::strerror(errno);
      return false;
    }
    bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    if (!ok) error = std::strerror(errno);
    close(fd);
    if (ok && std::rename(partial.c_str(), File.c_str()) != 0) {
      ok = false;
      error = std::strerror(errno);
    }
    if (!ok) unlink(partial.c_str());
    return ok;
  }

  std::mutex Lock;  // what follows
  std::condition_variable Wake;
  uint64_t ToWrite = 0, Written = 0;
  bool Stop = false;
  bool Failing = false;
  std::string Problem;
  std::thread Thread;
};

TSignedCommands::TSignedCommands(const TQxCommandKey& key, const std::string& counterFile)
    : FKey(key),
      FMac(key),
      FStore(TCounterStore::For(counterFile.empty() ? DefaultCounterFile(key) : counterFile)) {}

TSignedCommands::~TSignedCommands() {
  OPENSSL_cleanse(FKey.data(), FKey.size());
}

const std::shared_ptr<std::atomic<uint64_t>>& TSignedCommands::LastCounter() const {
  return FStore->Last;
}

std::string TSignedCommands::TakeProblem() {
  return FStore->TakeProblem();
}

bool TSignedCommands::Fresh(std::string_view line, TSignedLine& s) {
  // The cheap tests first: a forged line costs a MAC only when it is well formed and new.
  return ParseSignedLine(line, s) && s.Counter > FStore->Last->load() && FMac.Verify(s);
}

bool TSignedCommands::Check(std::string_view line, std::string_view& command) {
  TSignedLine s;
  if (!Fresh(line, s)) return false;
  command = s.Command;
  return true;
}

bool TSignedCommands::Accept(std::string_view line, std::string_view& command, uint64_t& counter) {
  TSignedLine s;
  if (!Fresh(line, s)) return false;
  FStore->Last->store(s.Counter);
  FStore->Save(s.Counter);
  command = s.Command;
  counter = s.Counter;
  return true;
}
