// qxvolumed: the volume remote. Loads its form (a UDP component, the volume component linked to
// it, a track bar), applies the command line over it, listens for AT commands from one peer,
// drives the system volume, shows the overlay on every change and prints every event.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <thread>

#include <qx/framework/app/Application.h>
#include <qx/framework/core/FormStream.h>
#include <qx/framework/core/ScopeExit.h>
#include <qx/framework/ui/Desktop.h>
#include <qx/framework/ui/WindowBackend.h>
#include <qx/master_volume/frmVolumeU.h>
#include <qx/net/WinsockErrors.h>
#include <qx/platform/audio/VirtualEndpoint.h>
#include <qx/platform/mixer/SysVersion.h>
#include "AudioSetup.h"
#include "DaemonOptions.h"
#include "HttpBridge.h"
#include "HttpPairing.h"
#include "MqttBridge.h"
#include "VolumeRemote.h"
#include "apps/common/CommandLine.h"
#include "apps/common/OutputQueue.h"
#include "apps/common/StopSignals.h"

namespace {

// A form file is a few kilobytes; the limit keeps a wrong path (a log, a device) from filling
// memory.
constexpr off_t kFormLimit = 16 << 20;

int Fail(int code, const String& message) {
  std::fprintf(stderr, "qxvolumed: %s\n", message.c_str());
  return code;
}

// Reads a form file: a regular file of at most kFormLimit bytes. A FIFO or a device is refused
// before anything is read from it, so that the daemon never waits on one.
bool ReadFormFile(const String& path, String& text, String& error) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  struct stat st;
  bool ok = fstat(fd, &st) == 0;
  if (!ok) {
    error = path + ": " + std::strerror(errno);
  } else if (!S_ISREG(st.st_mode)) {
    error = path + ": not a regular file";
    ok = false;
  } else if (st.st_size > kFormLimit) {
    error = path + ": " + std::to_string(st.st_size) + " bytes; a form file is at most 16 MiB";
    ok = false;
  }
  if (ok) {
    text.assign(static_cast<size_t>(st.st_size), '\0');
    size_t done = 0;
    while (ok && done < text.size()) {
      const ssize_t n = read(fd, text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        error = path + ": " + std::strerror(errno);
        ok = false;
      }
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    text.resize(done);
  }
  close(fd);
  return ok;
}

// The key of signed commands: --key-file, else the credential qxvolumed.key that systemd's
// LoadCredential= puts into $CREDENTIALS_DIRECTORY. A private folder of the service's own, so its
// file's mode is systemd's affair. False with the error when a key was named and is no key.
bool ReadDaemonKey(const TDaemonOptions& o, std::optional<TQxCommandKey>& key, String& error) {
  std::string path = o.KeyFile;
  TQxCommandKey k;
  if (path.empty()) {
    const char* dir = std::getenv("CREDENTIALS_DIRECTORY");
    if (dir == nullptr || dir[0] == '\0') return true;
    path = String(dir) + "/qxvolumed.key";
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return true;
    String text;
    if (!ReadFormFile(path, text, error)) return false;
    const bool ok = ParseKeyText(text, k, error);
    if (!ok) error = path + " " + error;
    Cleanse(text.data(), text.size());
    if (ok) key = k;
    return ok;
  }
  if (!ReadKeyFile(path, k, error)) return false;
  key = k;
  return true;
}

// Writes each overlay frame shown into a folder, numbered in order, keeping the last `keep` (all
// when 0): a daemon that runs for days must not fill the disk. A frame is written under a
// temporary name and renamed, so the folder only ever holds whole frames; a failure is said once
// until a frame is written again.
std::function<void()> SnapshotWriter(const String& dir, int keep) {
  struct TState {
    int Count = 0;
    bool Failing = false;
  };
  auto state = std::make_shared<TState>();
  auto name = [dir](int n) {
    char file[32];
    std::snprintf(file, sizeof file, "/overlay-%05d.png", n);
    return dir + file;
  };
  return [dir, keep, state, name] {
    if (frmVolume == nullptr) return;
    const String path = name(state->Count + 1), partial = dir + "/.partial-overlay.png";
    const bool ok = frmVolume->TranslucentFrame().SaveToFile(partial) &&
                    std::rename(partial.c_str(), path.c_str()) == 0;
    if (ok) {
      ++state->Count;
      state->Failing = false;
      if (keep > 0 && state->Count > keep) std::remove(name(state->Count - keep).c_str());
      return;
    }
    const int err = errno;
    std::remove(partial.c_str());
    if (!state->Failing)
      std::fprintf(stderr, "qxvolumed: cannot write %s (%s); frames are skipped until one can\n",
                   path.c_str(), std::strerror(err));
    state->Failing = true;
  };
}

// Reads a form with the command line applied over it, from the reader's hook: the file's
// properties are in and the link is made, and no component is loaded yet, so nothing has bound
// the file's port. The daemon activates the UDP component itself once it serves, so the file's
// UDPActive is held back rather than binding that port first (and failing where it is taken).
String ReadForm(TVolumeRemote& form, const String& text, const String& fileName,
                const TDaemonOptions& o) {
  try {
    ReadComponentFromText(&form, text, fileName, false, [&o, &form](TComponent*) {
      if (!form.FindParts().empty()) return;  // refused below
      form.Udp->SetUDPActive(false);
      if (o.LocalIP) form.Udp->SetFUDPLocalIP(*o.LocalIP);
      if (o.LineEnd) form.Udp->SetFUDPLineEndRx(*o.LineEnd);
      // Through the volume component, which copies it into the UDP component it is linked to.
      if (o.RxPort) form.Volume->SetFUdpRxPort(*o.RxPort);
      if (o.RemoteIP) form.Volume->SetFUdpRemoteIP(*o.RemoteIP);
    });
  } catch (const std::exception& e) {
    return e.what();
  }
  if (String error = form.FindParts(); !error.empty()) return fileName + ": " + error;
  return "";
}

// The device and the overlay's edge from the command line, once the form is loaded.
void ApplyOverrides(TVolumeRemote& form, const TDaemonOptions& o) {
  if (o.Device) form.Volume->SetFAudioDevice(*o.Device);
  if (o.AlignTop) {
    TAlign edge = *o.AlignTop ? alTop : alBottom;
    // The write method shows the overlay on the new edge: only when it changes.
    if (form.Volume->ScreenVolAlign() != edge) form.Volume->SetFScreenVolAlign(edge);
  }
}

// The form after the command line, as a designer opens it: a plain form.
int PrintForm(const String& text, const String& fileName, const TDaemonOptions& o) {
  // Nothing is bound and no sound server is asked: the volume component opens a virtual
  // endpoint instead.
  UseVirtualDesktop();
  SetWin32Version(10, 0);
  TScopedVirtualEndpoint endpoint;
  TOwned<TVolumeRemote> form(new TVolumeRemote(nullptr));
  if (String error = ReadForm(*form, text, fileName, o); !error.empty()) return Fail(2, error);
  ApplyOverrides(*form, o);
  std::fputs(WriteComponentToText(form.get()).c_str(), stdout);
  return 0;
}

String BindFailureText(const TVolumeRemote& form, int32_t error) {
  String text = "cannot listen on " + form.Udp->UDPLocalIP() + ":" + form.Udp->UDPRxPort() + ": " +
                SocketErrorText(error, form.Udp->UDPErrno());
  if (error == WSAEADDRINUSE) text += " (another qxvolumed? try --port)";
  return text;
}

// Once the daemon is asked to stop, it is gone within `limit` whatever its surroundings do: a
// sound server that stopped answering can hold a client library's call for its own time-out
// (libpulse's is 30 s) while the components are torn down.
void ExitWithin(std::chrono::seconds limit, int status) {
  std::thread([limit, status] {
    std::this_thread::sleep_for(limit);
    std::fprintf(stderr, "qxvolumed: the stop took over %lld s; ending now\n",
                 static_cast<long long>(limit.count()));
    _exit(status);
  }).detach();
}

// The running daemon: its form, and what SIGHUP does to it.
class TDaemon {
 public:
  TDaemon(const TDaemonOptions& o) : O(o), Printer(o.Json) {}

  // Builds a form from its text; returns the error text, empty when `out` holds the new form.
  String Build(const String& text, const String& fileName, TOwned<TVolumeRemote>& out) {
    TOwned<TVolumeRemote> form(new TVolumeRemote(nullptr));
    if (String error = ReadForm(*form, text, fileName, O); !error.empty()) return error;
    // A key file the form names that is no key stops the start, as --key-file's would.
    if (!Key && form->Volume->UdpKeySet() && !form->Volume->UdpKeyProblem().empty())
      return fileName + ": UdpKeyFile " + form->Volume->UdpKeyProblem();
    if (O.RemoteIP && O.RemoteIP->empty() && !Key && !form->Volume->UdpKeySet())
      return "--remote-ip any needs a key (--key-file): without one, only the address tells "
             "the peer";
    out = std::move(form);
    return "";
  }

  // Hooks the daemon's handlers to the form and applies the command line.
  void Prepare(TVolumeRemote& form) {
    form.Printer = &Printer;
    form.AudioListeners = &AudioListeners;
    form.Verbose = O.Verbose;
    form.HookEvents();
    ApplyOverrides(form, O);
    form.HookDevice();
    form.Volume->SetFOnUdpKeyProblem(
        TOnUdpKeyProblem::Callable([](TObject*, String problem) { Fail(0, problem); }));
    if (Key) form.Volume->SetUdpKey(*Key);
    if (!O.Snapshot.empty()) form.OnOverlayFrame = Snapshots;
  }

  // The first form: binds, and the daemon ends when it cannot.
  void Serve(TOwned<TVolumeRemote> form) {
    Form = std::move(form);
    Prepare(*Form);
    Form->OnBindFailure = [this](int32_t code, const String&) {
      BindFailure = BindFailureText(*Form, code);
      Application->Terminate();
    };
    if (Http) Http->Attach(Form->Volume);
    Form->Udp->SetUDPActive(true);
  }

  // The phone page: binds, then prints its address with the pairing token (and its QR code
  // on a terminal). Returns the exit status after printing the error, or -1 when it serves.
  int StartHttp() {
    String file, bind;
    if (ServeHttp(file, bind)) return -1;
    return file.empty() ? Fail(1, bind) : Fail(2, file);
  }

  // `file`: a token, certificate or key file that cannot be used; `bind`: the server that
  // cannot start.
  bool ServeHttp(String& file, String& bind) {
    THttpOptions h;
    h.Address = O.HttpAddress;
    h.Port = static_cast<uint16_t>(*O.HttpPort);
    h.Token = NewPairingToken();
    if (!O.HttpTokenFile.empty() && !(file = TokenFromFile(O.HttpTokenFile, h.Token)).empty())
      return false;
    if (h.Token.empty()) {
      bind = "no random numbers for the pairing token";
      return false;
    }
    if (!O.HttpCert.empty() &&
        (!ReadFormFile(O.HttpCert, h.CertPem, file) || !ReadFormFile(O.HttpKey, h.KeyPem, file)))
      return false;
    h.HostNames = PageHostNames(h.Address);
    Http = std::make_unique<THttpBridge>();
    if (!(bind = Http->Start(h)).empty()) {
      Http.reset();
      return false;
    }
    // The bridge goes first when the daemon stops; the form's last events find it gone.
    AudioListeners.Add([this](int32_t volume, bool mute) {
      if (Http) Http->Publish(volume, mute);
    });
    Http->Attach(Form->Volume);  // the state is known before the address is out
    const String url = PageAddress(!h.CertPem.empty(), h.Address, Http->Port(), h.Token);
    if (Printer.Json()) {
      Emit("{\"event\":\"http\",\"url\":" + JsonString(url) + "}");
      return true;
    }
    Emit("http: the page is " + url);
    if (isatty(STDOUT_FILENO))
      for (const String& line : QrLines(url)) Emit(line);
    return true;
  }

  // SIGHUP: the form file is read again and replaces the running form; one that no longer reads
  // or binds is reported and the running form goes on. The loop runs nothing else meanwhile (a
  // stop waits in a nested wait), so SIGHUPs that come during a reload are served by one more
  // reload afterwards; should anything still call in, it is done once afterwards too.
  void Reload() {
    if (Finishing) return;
    if (Reloading) {
      ReloadAgain = true;
      return;
    }
    auto reloading = ScopedFlag(Reloading);
    do {
      ReloadAgain = false;
      ReloadOnce();
    } while (ReloadAgain && !Application->Terminated());
  }

  void ReloadOnce() {
    String text = kDefaultForm, error;
    if (!O.Form.empty() && !ReadFormFile(O.Form, text, error)) {
      Fail(0, "SIGHUP: " + error + "; the running form is kept");
      return;
    }
    TOwned<TVolumeRemote> form;
    error = Build(text, O.Form.empty() ? "<built-in form>" : O.Form, form);
    if (!error.empty()) {
      Fail(0, "SIGHUP: " + error + "; the running form is kept");
      return;
    }
    if (Application->Terminated()) return;  // asked to stop while the form was read
    Prepare(*form);
    // The port is never let go: on the same address and port the running socket and its thread
    // go on for the new form, datagrams waiting in it included; elsewhere the new form binds
    // while the running one still serves, and one that cannot bind leaves it serving.
    if (!form->Udp->TakeOverReceiveThread(Form->Udp)) {
      if (String failure = BindBeside(*form); !failure.empty()) {
        Fail(0, "SIGHUP: " + failure + "; the running form is kept");
        return;
      }
      Form->Udp->SetUDPActive(false);
    }
    Form->OnOverlayFrame = nullptr;
    if (Http) Http->Attach(nullptr);
    Form = std::move(form);
    if (Http) Http->Attach(Form->Volume);
    Fail(0, "SIGHUP: " + (O.Form.empty() ? String("the built-in form") : O.Form) + " read again");
  }

  // Binds a new form's UDP component beside the running one; the failure text, empty once it
  // listens. The running form's packets are still delivered while the bind is awaited.
  String BindBeside(TVolumeRemote& form) {
    String failure;
    form.OnBindFailure = [&failure, &form](int32_t code, const String&) {
      failure = BindFailureText(form, code);
    };
    form.Udp->SetUDPActive(true);
    while (failure.empty() && form.Udp->UDPActive() && form.Udp->BoundPort() == 0)
      Application->ServeQueuedCalls(std::chrono::milliseconds(100));
    form.OnBindFailure = nullptr;
    if (failure.empty() && !form.Udp->UDPActive()) failure = "the new form stopped listening";
    return failure;
  }

  // Stops serving; the exit status.
  int Finish() {
    Http.reset();  // answers what still waits for the main thread
    Finishing = true;
    if (Form) {
      Form->Udp->SetUDPActive(false);  // the final status event
      Application->ProcessMessages();  // and the overlay frame it showed
      Form->OnOverlayFrame = nullptr;
    }
    if (!BindFailure.empty()) return Fail(1, BindFailure);
    return 0;
  }

  const TDaemonOptions& O;
  TEventPrinter Printer;
  std::optional<TQxCommandKey> Key;
  TVolumeListeners AudioListeners;
  std::optional<TMqttTarget> Mqtt;
  TOwned<TVolumeRemote> Form;
  String BindFailure;
  std::function<void()> Snapshots;
  bool Reloading = false, ReloadAgain = false, Finishing = false;
  std::unique_ptr<THttpBridge> Http;
};

int Run(TDaemon& daemon, const String& text, const String& fileName) {
  const TDaemonOptions& o = daemon.O;
  // No window on the display: the overlay still runs (and its events are printed) on the
  // virtual desktop.
  String why = "none: --no-overlay";
  if (o.NoOverlay) {
    UseVirtualDesktop();
  } else if (String error; !ChooseWindowBackend(o.Display, o.Output, error, why)) {
    return Fail(1, error);
  }
  daemon.Printer.Display(why);
  if (!o.Snapshot.empty()) {
    if (mkdir(o.Snapshot.c_str(), 0777) != 0 && errno != EEXIST)
      return Fail(2, "--snapshot " + o.Snapshot + ": " + std::strerror(errno));
    struct stat st;
    if (stat(o.Snapshot.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
      return Fail(2, "--snapshot " + o.Snapshot + ": not a folder");
    daemon.Snapshots = SnapshotWriter(o.Snapshot, o.SnapshotKeep);
  }

  String note;
  String error = SetUpAudio(o.Audio, o.Device.value_or(""), note);
  if (!error.empty()) return Fail(1, error);
  if (!note.empty()) Fail(0, note);

  TOwned<TVolumeRemote> form;
  error = daemon.Build(text, fileName, form);
  if (!error.empty()) return Fail(2, error);
  daemon.Serve(std::move(form));
  std::unique_ptr<TMqttBridge> mqtt;
  if (daemon.Mqtt && daemon.BindFailure.empty())
    mqtt = std::make_unique<TMqttBridge>(
        *daemon.Mqtt, daemon.Printer, daemon.AudioListeners,
        [&daemon] { return daemon.Form ? daemon.Form->Volume : nullptr; });
  if (o.HttpPort && daemon.BindFailure.empty())
    if (int status = daemon.StartHttp(); status >= 0) {
      daemon.Finish();
      return status;
    }
  if (daemon.BindFailure.empty()) Application->Run();
  ExitWithin(std::chrono::seconds(3), daemon.BindFailure.empty() ? 0 : 1);
  mqtt.reset();  // "offline" on a clean stop
  return daemon.Finish();
}

}  // namespace

int main(int argc, char** argv) {
  OutputQueue::SetProgram("qxvolumed");
  TDaemonOptions o;
  if (int status = ParseDaemonOptions(argc, argv, o); status >= 0) return status;
  // The form file is read before the stop signals are taken over: a read that should hang
  // cannot happen (only regular files are read), and one that is slow still ends on a signal.
  String text = kDefaultForm, fileName = "<built-in form>", error;
  if (!o.Form.empty()) {
    if (!ReadFormFile(o.Form, text, error)) return Fail(2, error);
    fileName = o.Form;
  }
  if (!o.NewKey.empty()) {
    if (!WriteNewKeyFile(o.NewKey, error)) return Fail(2, error);
    std::printf("%s\n", o.NewKey.c_str());
    return 0;
  }
  if (o.PrintForm) return PrintForm(text, fileName, o);
  TDaemon daemon(o);
  if (!ReadDaemonKey(o, daemon.Key, error)) return Fail(2, error);
  if (int status = PrepareMqtt(o.Mqtt, daemon.Mqtt); status >= 0) return status;
  // First, so that every thread started later has the signals blocked.
  // A stop is heard even while a long form is read again, and then ends the process in time.
  WatchStopSignals([&daemon] { daemon.Reload(); }, [] { ExitWithin(std::chrono::seconds(3), 0); });
  try {
    return Run(daemon, text, fileName);
  } catch (const std::exception& e) {
    return Fail(1, e.what());
  }
}
