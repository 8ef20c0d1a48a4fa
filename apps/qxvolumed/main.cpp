// qxvolumed: the volume remote. Loads its form (a UDP component, the volume component linked to
// it, a track bar), applies the command line over it, listens for AT commands from one peer,
// drives the system volume, shows the overlay on every change and prints every event.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

#include <qx/framework/app/Application.h>
#include <qx/framework/core/FormStream.h>
#include <qx/framework/ui/Desktop.h>
#include <qx/master_volume/frmVolumeU.h>
#include "AudioSetup.h"
#include "DaemonOptions.h"
#include "VolumeRemote.h"
#include "apps/common/StopSignals.h"

namespace {

int Fail(int code, const String& message) {
  std::fprintf(stderr, "qxvolumed: %s\n", message.c_str());
  return code;
}

bool ReadFile(const String& path, String& text, String& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  std::ostringstream s;
  s << in.rdbuf();
  text = s.str();
  return true;
}

// Writes each overlay frame shown into a folder, numbered in order.
std::function<void()> SnapshotWriter(const String& dir) {
  auto count = std::make_shared<int>(0);
  return [dir, count] {
    if (frmVolume == nullptr) return;
    char name[32];
    std::snprintf(name, sizeof name, "/overlay-%05d.png", ++*count);
    if (!frmVolume->TranslucentFrame().SaveToFile(dir + name))
      std::fprintf(stderr, "qxvolumed: cannot write %s%s\n", dir.c_str(), name);
  };
}

void ApplyOverrides(TVolumeRemote& form, const TDaemonOptions& o) {
  if (o.LocalIP) form.Udp->SetFUDPLocalIP(*o.LocalIP);
  if (o.LineEnd) form.Udp->SetFUDPLineEndRx(*o.LineEnd);
  // Through the volume component, which copies it into the UDP component it is linked to.
  if (o.RxPort) form.Volume->SetFUdpRxPort(*o.RxPort);
  if (o.RemoteIP) form.Volume->SetFUdpRemoteIP(*o.RemoteIP);
  if (o.AlignTop) {
    TAlign edge = *o.AlignTop ? alTop : alBottom;
    // The write method shows the overlay on the new edge: only when it changes.
    if (form.Volume->ScreenVolAlign() != edge) form.Volume->SetFScreenVolAlign(edge);
  }
}

int Run(const TDaemonOptions& o) {
  // No window on the display: the overlay still runs (and its events are printed) on the
  // virtual desktop.
  if (o.NoOverlay) UseVirtualDesktop();

  String text = kDefaultForm, fileName = "<built-in form>", error;
  if (!o.Form.empty()) {
    if (!ReadFile(o.Form, text, error)) return Fail(2, error);
    fileName = o.Form;
  }
  if (!o.Snapshot.empty() && !o.PrintForm) {
    if (mkdir(o.Snapshot.c_str(), 0777) != 0 && errno != EEXIST)
      return Fail(2, "--snapshot " + o.Snapshot + ": " + std::strerror(errno));
    struct stat st;
    if (stat(o.Snapshot.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
      return Fail(2, "--snapshot " + o.Snapshot + ": not a folder");
  }

  String note;
  error = SetUpAudio(o.Audio, note);
  if (!error.empty()) return Fail(1, error);
  if (!note.empty()) std::fprintf(stderr, "qxvolumed: %s\n", note.c_str());

  TOwned<TVolumeRemote> form(new TVolumeRemote(nullptr));
  try {
    ReadComponentFromText(form.get(), text, fileName);
  } catch (const std::exception& e) {
    return Fail(2, e.what());
  }
  error = form->FindParts();
  if (!error.empty()) return Fail(2, fileName + ": " + error);
  TEventPrinter printer(o.Json);
  if (!o.PrintForm) form->Printer = &printer;
  form->HookEvents();
  // A form that activated its UDP component bound with its own settings: rebind with ours.
  const bool wasActive = form->Udp->UDPActive();
  if (wasActive && (o.LocalIP || o.LineEnd || o.RxPort)) form->Udp->SetUDPActive(false);
  ApplyOverrides(*form, o);
  if (o.PrintForm) {
    std::fputs(WriteComponentToText(form.get()).c_str(), stdout);
    return 0;
  }
  if (!o.Snapshot.empty()) form->OnOverlayFrame = SnapshotWriter(o.Snapshot);

  form->Udp->SetUDPActive(true);
  if (form->Failures < 2) Application->Run();
  const bool failed = form->Failures > 0;
  form->Udp->SetUDPActive(false);  // the final status event
  Application->ProcessMessages();  // and the overlay frame it showed
  form->OnOverlayFrame = nullptr;
  return failed ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<String> args(argv + 1, argv + argc);
  TDaemonOptions o;
  String error = ParseDaemonOptions(args, o);
  if (o.Help) {
    std::fputs(kDaemonUsage, stdout);
    return 0;
  }
  if (!error.empty()) {
    std::fprintf(stderr, "qxvolumed: %s\n%s", error.c_str(), kDaemonUsage);
    return 2;
  }
  WatchStopSignals();  // first, so that every thread started later has the signals blocked
  try {
    return Run(o);
  } catch (const std::exception& e) {
    return Fail(1, e.what());
  }
}
