// What the overlay tests on sway share: a layer surface of the test's own (a background or a
// panel), the compositor's screenshot (grim), the strip shown and held, and the check of it in
// the screenshot against the strip's figures (volume 60): 106 pixels high, the first bar 138
// pixels from its left.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <qx/framework/ui/Graphics.h>
#include <qx/master_volume/frmVolumeU.h>
#include "tests/framework/test_app_wait.h"
#include "tests/master_volume/overlay_step.h"

namespace sway_shot {

constexpr int32_t kStripH = 106;
const TColor kBackground = RGB(0x20, 0x40, 0x60);
const TColor kPanel = RGB(0x80, 0x20, 0x20);

// A layer surface of the test's own (tests/integration/layer_client), gone with this object; on
// the output named, or the compositor's choice.
class TLayerClient {
 public:
  TLayerClient(const String& layer, const String& edges, int w, int h, int zone, TColor c,
               const String& output = "") {
    const char* path = std::getenv("QX_LAYER_CLIENT");
    int in[2], out[2];
    if (path == nullptr || pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return;
    char rgb[8];
    std::snprintf(rgb, sizeof rgb, "%02x%02x%02x", GetRValue(c), GetGValue(c), GetBValue(c));
    const String ws = std::to_string(w), hs = std::to_string(h), zs = std::to_string(zone);
    FPid = fork();
    if (FPid == 0) {
      dup2(in[0], 0);
      dup2(out[1], 1);
      execl(path, path, layer.c_str(), edges.c_str(), ws.c_str(), hs.c_str(), zs.c_str(), rgb,
            output.empty() ? nullptr : output.c_str(), nullptr);
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    FIn = in[1];
    // Ready once it says so: its frame is on the compositor.
    pollfd p{out[0], POLLIN, 0};
    char line[64] = {};
    if (poll(&p, 1, 10000) == 1 && read(out[0], line, sizeof line - 1) > 0)
      Ready = String(line).rfind("ready", 0) == 0;
    close(out[0]);
  }
  ~TLayerClient() {
    if (FPid <= 0) return;
    close(FIn);  // it leaves when its input closes
    for (int i = 0; i < 100 && waitpid(FPid, nullptr, WNOHANG) == 0; ++i) usleep(20000);
    if (waitpid(FPid, nullptr, WNOHANG) == 0) {
      kill(FPid, SIGKILL);
      waitpid(FPid, nullptr, 0);
    }
  }
  bool Ready = false;

 private:
  pid_t FPid = -1;
  int FIn = -1;
};

// The compositor's screenshot, through grim.
class TShot {
 public:
  // The whole desktop, or one output by name.
  bool Take(const String& output = "") {
    auto path = std::filesystem::temp_directory_path() /
                ("qx_overlay_shot_" + std::to_string(getpid()) + ".ppm");
    String cmd = "grim -t ppm " + (output.empty() ? "" : "-o " + output + " ") + path.string();
    if (std::system(cmd.c_str()) != 0) return false;
    std::ifstream in(path, std::ios::binary);
    String magic;
    int maxval = 0;
    in >> magic >> W >> H >> maxval;
    in.get();
    FData.assign(std::istreambuf_iterator<char>(in), {});
    std::filesystem::remove(path);
    return magic == "P6" && maxval == 255 && FData.size() >= size_t(W) * H * 3;
  }
  TColor Pixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= W || y >= H) return clFuchsia;
    const size_t at = (size_t(y) * W + x) * 3;
    return RGB(uint8_t(FData[at]), uint8_t(FData[at + 1]), uint8_t(FData[at + 2]));
  }
  int W = 0, H = 0;

 private:
  String FData;
};

inline bool Near(TColor a, TColor b, int tolerance = 3) {
  return std::abs(GetRValue(a) - GetRValue(b)) <= tolerance &&
         std::abs(GetGValue(a) - GetGValue(b)) <= tolerance &&
         std::abs(GetBValue(a) - GetBValue(b)) <= tolerance;
}

// Whether the screenshot shows the strip of volume 60 exactly at `strip` (left, top, width): the
// first bar's outline at 138, 20 and nothing left of or above it, the last position a dot. A
// background of clNone is not looked at.
constexpr TColor clNone = 0x1FFFFFFF;
inline String StripMismatch(const TShot& s, int left, int top, int width, TColor above,
                            TColor below, TColor bg = kBackground) {
  const int bar = left + 128 + 10;
  const int a = width - 128 - 172;
  const int last = 10 + (a - 11) / 20 * 20;
  struct {
    int x, y;
    TColor want;
    const char* what;
  } checks[] = {
      {bar, top + 50, clBlack, "first bar's left outline"},
      {bar - 1, top + 50, bg, "left of the first bar"},
      {bar + 5, top + 20, clBlack, "first bar's top outline"},
      {bar + 5, top + 19, bg, "above the first bar"},
      {bar + 5, top + 50, clYellow, "first bar"},
      {bar + 15, top + 50, bg, "between bars (the key colour)"},
      {left + 128 + last + 5, top + 52, clWhite, "last dot"},
      {left + 128 + last + 25, top + 52, bg, "after the last dot"},
      {bar + 5, top + kStripH, below, "below the strip"},
      {bar + 5, top - 1, above, "above the strip"},
  };
  for (const auto& c : checks) {
    if (c.y < 0 || c.y >= s.H || c.want == clNone) continue;
    if (const TColor seen = s.Pixel(c.x, c.y); !Near(seen, c.want)) {
      char rgb[16];
      std::snprintf(rgb, sizeof rgb, "%02x%02x%02x", GetRValue(seen), GetGValue(seen),
                    GetBValue(seen));
      return String(c.what) + " at " + std::to_string(c.x) + "," + std::to_string(c.y) + " is " +
             rgb;
    }
  }
  return "";
}

// Turns the loop until the screenshot (of one output, or the whole desktop) shows the strip
// there; the last mismatch otherwise.
inline String WaitForStrip(int left, int top, int width, TColor above, TColor below,
                           const String& output = "", TColor bg = kBackground) {
  String why = "no screenshot";
  LoopUntil([&] {
    TShot s;
    if (!s.Take(output)) return false;
    why = StripMismatch(s, left, top, width, above, below, bg);
    return why.empty();
  });
  return why;
}

// The overlay form of volume 60 at `align`, as the volume component shows it, held (no fade)
// while it is looked at.
inline void ShowHeldStrip(TOwned<TfrmVolume>& form, TAlign align) {
  form.reset(new TfrmVolume(nullptr));
  frmVolume = form.get();
  form->SetTransparentColorValue(clFuchsia);
  form->SetTransparentColor(true);
  form->SetCaption("VOLUME");
  form->Timer1->SetInterval(600000);
  ShowOverlayStep(form.get(), 60, false, align);
}

}  // namespace sway_shot
