#include "CommandLine.h"

#include <arpa/inet.h>
#include <netdb.h>

#include <cctype>
#include <cstdio>
#include <cstring>

#include <qx/Version.h>
#include <qx/net/WinsockErrors.h>

const char* const kQxVersion = QX_VERSION;

TCommandLine& TCommandLine::Flag(const char* name, bool& seen, char shortName) {
  FOptions.push_back({name, shortName, nullptr, &seen});
  return *this;
}

TCommandLine& TCommandLine::Value(const char* name, TTake take, char shortName) {
  FOptions.push_back({name, shortName, std::move(take), nullptr});
  return *this;
}

namespace {

template <class T>
TCommandLine::TTake Store(T& out) {
  return [&out](const String& v) {
    out = v;
    return String();
  };
}

}  // namespace

TCommandLine& TCommandLine::Value(const char* name, String& out, char shortName) {
  return Value(name, Store(out), shortName);
}

TCommandLine& TCommandLine::Value(const char* name, std::optional<String>& out, char shortName) {
  return Value(name, Store(out), shortName);
}

TCommandLine& TCommandLine::DisplayOptions(String& display, String& output) {
  return Value("display",
               [&display](const String& v) {
                 display = v;
                 return OneOf("--display", v, {"auto", "wayland", "x11", "none"});
               })
      .Value("output", output);
}

const TCommandLine::TOption* TCommandLine::Find(const String& name) const {
  for (const TOption& o : FOptions)
    if (o.Name == name) return &o;
  return nullptr;
}

String TCommandLine::LongName(const String& given, String& error) const {
  // As getopt_long: the whole name, or a beginning that only one option has.
  std::vector<String> names{"help", "version"};
  for (const TOption& o : FOptions) names.push_back(o.Name);
  String found, all;
  int matches = 0;
  for (const String& n : names) {
    if (n == given) return n;
    if (given.empty() || n.rfind(given, 0) != 0) continue;
    found = n;
    all += " '--" + n + "'";
    ++matches;
  }
  if (matches > 1) error = "option '--" + given + "' is ambiguous; possibilities:" + all;
  // Unknown: the caller names the option as it was written.
  return matches == 1 ? found : String();
}

const TCommandLine::TOption* TCommandLine::FindShort(char c) const {
  for (const TOption& o : FOptions)
    if (o.Short != 0 && o.Short == c) return &o;
  return nullptr;
}

int TCommandLine::Parse(int argc, char** argv) {
  bool onlyOperands = false;
  for (int i = 1; i < argc; ++i) {
    const String arg = argv[i];
    // A negative number ("-5") is an operand, so that it reaches the check that refuses it.
    const bool looksLikeOption = arg.size() > 1 && arg[0] == '-' && !std::isdigit(arg[1]);
    if (onlyOperands || !looksLikeOption) {
      FOperands.push_back(arg);
      continue;
    }
    if (arg == "--") {
      onlyOperands = true;
      continue;
    }
    const TOption* option = nullptr;
    std::optional<String> inlineValue;
    String shown = arg, name;
    if (arg.rfind("--", 0) == 0) {
      const size_t eq = arg.find('=');
      if (eq != String::npos) {
        inlineValue = arg.substr(eq + 1);
        shown = arg.substr(0, eq);
      }
      String error;
      name = LongName(shown.substr(2), error);
      if (!error.empty()) return UsageError(error);
    }
    if (name == "help" || arg == "-h") {
      std::fputs(FHelp, stdout);
      return 0;
    }
    if (name == "version" || arg == "-V") {
      std::printf("%s (Qx components) %s\n", FProgram, kQxVersion);
      return 0;
    }
    if (!name.empty())
      option = Find(name);
    else if (arg.size() == 2 && arg[1] != '-')
      option = FindShort(arg[1]);
    if (option == nullptr) return UsageError("unknown option '" + shown + "'");
    if (!option->Take) {
      if (inlineValue) return UsageError("option '" + shown + "' takes no value");
      *option->Seen = true;
      continue;
    }
    if (!inlineValue) {
      if (i + 1 >= argc) return UsageError("option '" + shown + "' needs a value");
      inlineValue = argv[++i];
    }
    if (String error = option->Take(*inlineValue); !error.empty()) return UsageError(error);
  }
  return -1;
}

int TCommandLine::UsageError(const String& message) const {
  std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", FProgram, message.c_str(),
               FProgram);
  return 2;
}

int TCommandLine::Fail(int status, const String& message) const {
  std::fprintf(stderr, "%s: %s\n", FProgram, message.c_str());
  return status;
}

bool ParsePort(const String& text, int& port) {
  if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != String::npos)
    return false;
  port = std::stoi(text);
  return port <= 65535;
}

TCommandLine::TTake PortValue(const char* option, std::optional<String>& out) {
  return [option, &out](const String& v) {
    int port;
    if (!ParsePort(v, port)) return String(option) + " needs a port number from 0 to 65535";
    out = v;
    return String();
  };
}

bool IsDottedIPv4(const String& text) {
  // inet_pton takes exactly four decimal parts, no leading zeros' octal, no names.
  in_addr a;
  return inet_pton(AF_INET, text.c_str(), &a) == 1;
}

String OneOf(const String& option, const String& value, std::initializer_list<const char*> names) {
  String list;
  for (const char* n : names) {
    if (value == n) return "";
    list += (list.empty() ? "" : ", ") + String(n);
  }
  return option + " needs one of: " + list;
}

String SocketErrorText(int32_t code, int err) {
  // Name look-ups fail in getaddrinfo's words.
  static const std::pair<int32_t, int> kLookups[] = {
      {WSAHOST_NOT_FOUND, EAI_NONAME}, {WSATRY_AGAIN, EAI_AGAIN},        {WSANO_RECOVERY, EAI_FAIL},
      {WSANO_DATA, EAI_NODATA},        {WSATYPE_NOT_FOUND, EAI_SERVICE},
  };
  String text;
  if (err != 0) text = std::strerror(err);
  for (const auto& [wsa, gai] : kLookups)
    if (text.empty() && code == wsa) text = gai_strerror(gai);
  if (text.empty()) text = WinsockErrorDesc(code);
  if (!text.empty() && std::isupper(static_cast<unsigned char>(text[0])) &&
      !(text.size() > 1 && std::isupper(static_cast<unsigned char>(text[1]))))
    text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
  return text;
}
