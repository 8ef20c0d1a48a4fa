// The command line of every program: GNU long options (--name VALUE or --name=VALUE, a name
// abbreviated as long as one option begins so), short ones, operands anywhere, "--" ending the
// options, and --help (-h) and --version (-V) answered alike.
// A bad command line gets one line naming what is wrong and a hint to --help, exit status 2.
#pragma once

#include <functional>
#include <initializer_list>
#include <optional>
#include <vector>

#include <qx/framework/core/System.h>

// The project's one version number, as every program's --version prints it.
extern const char* const kQxVersion;

class TCommandLine {
 public:
  // `help` is what --help prints: the usage and the options.
  TCommandLine(const char* program, const char* help) : FProgram(program), FHelp(help) {}

  // Takes an option's value; returns the error text, empty when the value is fine.
  using TTake = std::function<String(const String& value)>;

  // A switch without a value.
  TCommandLine& Flag(const char* name, bool& seen, char shortName = 0);
  // An option with a value.
  TCommandLine& Value(const char* name, TTake take, char shortName = 0);
  TCommandLine& Value(const char* name, String& out, char shortName = 0);
  TCommandLine& Value(const char* name, std::optional<String>& out, char shortName = 0);
  // --display auto|wayland|x11|none and --output NAME (a Wayland output), as every program that
  // shows the overlay takes them.
  TCommandLine& DisplayOptions(String& display, String& output);

  // Reads argv. Returns -1 when the program goes on, otherwise the exit status once --help or
  // --version (0) or the error (2) is printed.
  int Parse(int argc, char** argv);
  const std::vector<String>& Operands() const { return FOperands; }

  // Prints "PROG: message" and the hint to --help on standard error; returns 2.
  int UsageError(const String& message) const;
  // Prints "PROG: message" on standard error; returns `status`.
  int Fail(int status, const String& message) const;
  const char* Program() const { return FProgram; }

 private:
  struct TOption {
    String Name;
    char Short;
    TTake Take;  // empty for a switch
    bool* Seen;
  };
  const TOption* Find(const String& name) const;
  // The option a long name stands for, whole or abbreviated; empty when none (or, with `error`
  // set, when the abbreviation fits several).
  String LongName(const String& given, String& error) const;
  const TOption* FindShort(char c) const;

  const char* FProgram;
  const char* FHelp;
  std::vector<TOption> FOptions;
  std::vector<String> FOperands;
};

// A port number: decimal digits only, 0 to 65535.
bool ParsePort(const String& text, int& port);
// The usual check of a --port value; the error text names the option.
TCommandLine::TTake PortValue(const char* option, std::optional<String>& out);
// The error text for a value that is none of `names` ("--audio needs one of: auto, pulse, alsa"),
// empty when it is one of them.
String OneOf(const String& option, const String& value, std::initializer_list<const char*> names);
// Dotted IPv4, four decimal numbers 0..255 ("192.168.1.20"), no names.
bool IsDottedIPv4(const String& text);

// A socket error code as the programs print it: the system's own words in lower case ("address
// already in use"), never a bare number: those of `err`, the errno the code was made from, when
// there is one (TUDPBlockSocket::LastErrno, TQxUDPS::UDPErrno).
String SocketErrorText(int32_t code, int err = 0);
