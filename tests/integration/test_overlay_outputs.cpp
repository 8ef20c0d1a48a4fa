// The overlay when its Wayland output is unplugged (run under scripts/with-sway --outputs 2: a
// nested sway whose outputs WL-1 and WL-2, 1280x720 each, really go away): the strip shows
// again, whole, on an output that is left, read back from the compositor's screenshots.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include <qx/framework/app/Application.h>
#include <qx/framework/ui/FontLeakSuppression.h>
#include <qx/master_volume/frmVolumeU.h>
#include "tests/framework/test_app_wait.h"
#include "tests/integration/sway_shot.h"

namespace {

using namespace sway_shot;

constexpr int32_t kScreenW = 1280, kScreenH = 720, kTop = kScreenH - kStripH;

// The outputs the compositor lists now, by name.
std::vector<String> Outputs() {
  std::vector<String> names;
  FILE* p = popen("swaymsg -t get_outputs -r", "r");
  if (p == nullptr) return names;
  String json;
  char buf[4096];
  for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) json.append(buf, n);
  pclose(p);
  const String key = "\"name\": \"";
  for (size_t at = json.find(key); at != String::npos; at = json.find(key, at)) {
    at += key.size();
    names.push_back(json.substr(at, json.find('"', at) - at));
  }
  return names;
}

class OutputUnplugged : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::getenv("QX_SWAY_UNPLUG") == nullptr || std::getenv("QX_LAYER_CLIENT") == nullptr)
      GTEST_SKIP() << "no outputs to unplug (run under scripts/with-sway --outputs 2 with "
                      "QX_LAYER_CLIENT)";
    if (std::system("command -v grim >/dev/null") != 0)
      GTEST_SKIP() << "grim is not installed (package grim)";
  }
  void TearDown() override {
    frmVolume = nullptr;
    form.reset();
    Application->ProcessMessages();
  }
  // A background on every output there, so that each screenshot is checked whole.
  void Backgrounds() {
    for (const String& o : Outputs()) {
      backgrounds.push_back(std::make_unique<TLayerClient>("background", "top+bottom+left+right", 0,
                                                           0, -1, kBackground, o));
      ASSERT_TRUE(backgrounds.back()->Ready) << o;
    }
  }
  void Use(const String& output) {
    String error, why;
    ASSERT_TRUE(ChooseWindowBackend("wayland", output, error, why)) << error;
  }
  void Show() { ShowHeldStrip(form, alBottom); }
  static void Unplug(const String& output) {
    const String cmd = String("\"$QX_SWAY_UNPLUG\" ") + output;
    ASSERT_EQ(std::system(cmd.c_str()), 0) << output;
  }
  static String OnOutput(const String& output) {
    return WaitForStrip(0, kTop, kScreenW, kBackground, kBackground, output);
  }

  std::vector<std::unique_ptr<TLayerClient>> backgrounds;
  TOwned<TfrmVolume> form;
};

// First, while WL-2 is there to be named.
TEST_F(OutputUnplugged, NamedOutputGoneTheStripShowsOnTheCompositorsChoice) {
  const auto outputs = Outputs();
  ASSERT_EQ(outputs, (std::vector<String>{"WL-1", "WL-2"}));
  Backgrounds();
  Use("WL-2");
  Show();
  ASSERT_EQ(OnOutput("WL-2"), "");
  Unplug("WL-2");
  EXPECT_EQ(OnOutput("WL-1"), "");
}

TEST_F(OutputUnplugged, UnnamedStripWhoseOutputGoesShowsOnTheOneLeft) {
  // Two outputs to choose from: one made anew where the test before took one away.
  if (Outputs().size() < 2) {
    ASSERT_EQ(std::system("swaymsg create_output >/dev/null"), 0);
  }
  ASSERT_TRUE(LoopUntil([] { return Outputs().size() >= 2; }));
  Backgrounds();
  Use("");
  Show();
  const auto outputs = Outputs();
  String on;
  ASSERT_TRUE(LoopUntil([&] {
    for (const String& o : outputs) {
      TShot s;
      if (s.Take(o) && StripMismatch(s, 0, kTop, kScreenW, kBackground, kBackground).empty())
        on = o;
    }
    return !on.empty();
  }));
  Unplug(on);
  for (const String& o : outputs) {
    if (o != on) {
      EXPECT_EQ(OnOutput(o), "") << "unplugged " << on << ", looked on " << o;
    }
  }
}

}  // namespace
