// A named AudioDevice that is not there, on both paths: the component steers nothing, reads no
// level from it, says so once through OnDeviceChange, and goes back to the default output when
// the name is cleared. (A device that comes and goes is tested against the private sound server:
// tests/integration/audio_devices.sh.)
#include <qx/framework/core/FormStream.h>
#include <qx/framework/ui/Forms.h>

#include "volume_fixture.h"

namespace {

struct TDeviceEvent {
  String Device;
  bool Present;
  friend bool operator==(const TDeviceEvent&, const TDeviceEvent&) = default;
};

class AudioDevice : public VolumeTest {
 protected:
  void RecordDevices(TQxMasterVol* v) {
    v->SetFOnDeviceChange(
        TOnDeviceChange::Callable([this](TObject*, const String& d, bool present) {
          devices.push_back({d, present});
        }));
  }
  std::vector<TDeviceEvent> devices;
};

TEST_F(AudioDevice, ANamedDeviceNotThereSteersNothingAndSaysSoOnce) {
  struct Case {
    int Major, Minor;
    const char* Device;
  } cases[] = {{10, 0, "qx_elsewhere"}, {10, 0, "@DEFAULT_SOURCE@"}, {5, 1, "hw:9/PCM"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Device);
    SetWin32Version(c.Major, c.Minor);
    endpoint->ChangeLevel(0.4f);
    mixer->SetValue(26214);  // 40 %
    auto v = Make();
    ASSERT_EQ(v->Volume(), 40);
    devices.clear();
    RecordDevices(v.get());
    v->SetFAudioDevice(c.Device);
    EXPECT_EQ(devices, (std::vector<TDeviceEvent>{{c.Device, false}}));
    EXPECT_FALSE(v->DevicePresent());
    EXPECT_FALSE(v->EndpointOpen());

    events.clear();
    v->SetVolume(80);
    v->VolumeUp();
    v->Mute(true);
    Application->ProcessMessages();
    EXPECT_TRUE(events.empty());  // no level shown for a device that is not there
    EXPECT_EQ(v->Volume(), 40);
    EXPECT_FLOAT_EQ(endpoint->Level(), 0.4f);
    EXPECT_FALSE(endpoint->Muted());
    EXPECT_EQ(mixer->Value(), 26214u);
    EXPECT_EQ(devices.size(), 1u);

    // Cleared: the default output again, steered, without a device event.
    v->SetFAudioDevice("");
    EXPECT_TRUE(v->DevicePresent());
    v->SetVolume(60);
    EXPECT_EQ(v->GetActualVolume(), 60);
    EXPECT_EQ(devices.size(), 1u);
    EXPECT_TRUE(messages.empty());
  }
}

TEST_F(AudioDevice, IsStreamedAndBoundOnceTheFormIsRead) {
  const String text =
      "object Form1: TForm\n"
      "  object Volume: TQxMasterVol\n"
      "    Volume = 40\n"
      "    AudioDevice = 'qx_elsewhere'\n"
      "  end\n"
      "end\n";
  TOwned<TForm> form(new TForm(nullptr));
  ReadComponentFromText(form.get(), text);
  auto* v = dynamic_cast<TQxMasterVol*>(form->FindComponent("Volume"));
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->AudioDevice(), "qx_elsewhere");
  EXPECT_FALSE(v->DevicePresent());
  const String written = WriteComponentToText(form.get());
  EXPECT_NE(written.find("    AudioDevice = 'qx_elsewhere'\n"), String::npos) << written;
  TOwned<TForm> again(new TForm(nullptr));
  ReadComponentFromText(again.get(), written);
  EXPECT_EQ(WriteComponentToText(again.get()), written);
  // The default output is the stream default: a form without the property keeps it.
  v->SetFAudioDevice("");
  EXPECT_EQ(WriteComponentToText(form.get()).find("AudioDevice"), String::npos);
}

}  // namespace
