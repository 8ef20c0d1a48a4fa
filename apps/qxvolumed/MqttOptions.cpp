#include "MqttOptions.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <qx/platform/hostinfo/HostName.h>
#include "apps/common/CommandLine.h"

namespace {

// A password is one short line; the limit keeps a wrong path from filling memory.
constexpr off_t kSecretLimit = 4096;

// A topic level or prefix must not hold the wildcards; an empty level would be a second '/'.
bool IsTopicPrefix(const String& t) {
  if (t.empty() || t.find_first_of("+#") != String::npos || t.find('\0') != String::npos)
    return false;
  return t.front() != '/' && t.back() != '/' && t.find("//") == String::npos;
}

// The first line of a file that only its owner can read. Like the form file, only a regular file
// is read, so that the daemon never waits on a FIFO.
String ReadSecretFile(const String& path, String& secret) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return path + ": " + std::strerror(errno);
  struct stat st;
  String error;
  if (fstat(fd, &st) != 0)
    error = path + ": " + std::strerror(errno);
  else if (!S_ISREG(st.st_mode))
    error = path + ": not a regular file";
  else if (st.st_mode & (S_IRWXG | S_IRWXO))
    error = path +
            ": group or others may read it; the password file must be the owner's alone "
            "(chmod 600 " +
            path + ")";
  else if (st.st_size > kSecretLimit)
    error = path + ": " + std::to_string(st.st_size) + " bytes; a password file is one line";
  if (error.empty()) {
    String text(static_cast<size_t>(st.st_size), '\0');
    ssize_t n;
    do n = read(fd, text.data(), text.size());
    while (n < 0 && errno == EINTR);
    if (n < 0) error = path + ": " + std::strerror(errno);
    text.resize(n < 0 ? 0 : static_cast<size_t>(n));
    secret = text.substr(0, text.find_first_of("\r\n"));
  }
  close(fd);
  return error;
}

}  // namespace

void AddMqttOptions(TCommandLine& cl, TMqttOptions& o) {
  cl.Value("mqtt", o.Url)
      .Value("mqtt-password-file", o.PasswordFile)
      .Value("mqtt-topic", o.Topic)
      .Value("mqtt-cafile", o.CaFile)
      .Value("ha-prefix", o.HaPrefix)
      .Flag("no-ha-discovery", o.NoHaDiscovery)
      .Flag("ha-remove", o.HaRemove);
}

String ParseMqttUrl(const String& url, TMqttTarget& out) {
  const String bad = "--mqtt needs mqtt://[USER@]HOST[:PORT] or mqtts://..., not '" + url + "'";
  String rest;
  if (url.rfind("mqtt://", 0) == 0) {
    out.Tls = false;
    rest = url.substr(7);
  } else if (url.rfind("mqtts://", 0) == 0) {
    out.Tls = true;
    rest = url.substr(8);
  } else {
    return bad;
  }
  if (!rest.empty() && rest.back() == '/') rest.pop_back();
  if (rest.find('/') != String::npos) return bad;
  if (const size_t at = rest.rfind('@'); at != String::npos) {
    out.User = rest.substr(0, at);
    rest = rest.substr(at + 1);
    if (out.User.find(':') != String::npos)
      return "--mqtt: no password in the URL (it would show in the process list); use "
             "--mqtt-password-file or the credential mqtt-password";
    if (out.User.empty()) return bad;
  }
  String port;
  if (!rest.empty() && rest.front() == '[') {  // [IPv6]:port
    const size_t close = rest.find(']');
    if (close == String::npos) return bad;
    out.Host = rest.substr(1, close - 1);
    if (close + 1 < rest.size()) {
      if (rest[close + 1] != ':') return bad;
      port = rest.substr(close + 2);
    }
  } else {
    const size_t colon = rest.find(':');
    out.Host = rest.substr(0, colon);
    if (colon != String::npos) port = rest.substr(colon + 1);
  }
  if (out.Host.empty()) return bad;
  out.Port = out.Tls ? 8883 : 1883;
  if (!port.empty() && (!ParsePort(port, out.Port) || out.Port == 0))
    return "--mqtt: '" + port + "' is not a port";
  return "";
}

String TopicSafe(const String& name) {
  String out;
  for (unsigned char c : name)
    out += std::isalnum(c) || c == '-' || c == '_' ? static_cast<char>(std::tolower(c)) : '_';
  return out;
}

String ResolveMqtt(const TMqttOptions& o, TMqttTarget& out) {
  if (String error = ParseMqttUrl(o.Url, out); !error.empty()) return error;
  if (!o.PasswordFile.empty()) {
    if (String error = ReadSecretFile(o.PasswordFile, out.Password); !error.empty())
      return "--mqtt-password-file " + error;
  } else if (const char* dir = std::getenv("CREDENTIALS_DIRECTORY"); dir != nullptr && *dir) {
    // A credential systemd passed in (LoadCredential=mqtt-password:FILE); none is no login.
    const String path = String(dir) + "/mqtt-password";
    if (access(path.c_str(), F_OK) == 0)
      if (String error = ReadSecretFile(path, out.Password); !error.empty()) return error;
  }
  out.CaFile = o.CaFile;
  if (!o.CaFile.empty() && !out.Tls) return "--mqtt-cafile needs an mqtts:// broker";
  if (!o.CaFile.empty() && access(o.CaFile.c_str(), R_OK) != 0)
    return "--mqtt-cafile " + o.CaFile + ": " + std::strerror(errno);
  out.Device = GetLocalHostName();
  out.Node = TopicSafe(out.Device);
  if (out.Node.empty()) out.Node = "qxvolumed";
  out.Prefix = o.Topic.empty() ? "qxvolumed/" + out.Node : o.Topic;
  if (!IsTopicPrefix(out.Prefix))
    return "--mqtt-topic needs a topic without '+', '#' or empty levels, not '" + o.Topic + "'";
  out.HaPrefix = o.NoHaDiscovery ? String() : o.HaPrefix;
  if (!o.NoHaDiscovery && !IsTopicPrefix(out.HaPrefix))
    return "--ha-prefix needs a topic without '+', '#' or empty levels, not '" + o.HaPrefix + "'";
  out.HaRemove = o.HaRemove;
  if (o.HaRemove && o.NoHaDiscovery) return "--ha-remove and --no-ha-discovery exclude each other";
  return "";
}
