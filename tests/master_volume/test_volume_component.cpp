// The component as a whole: values after construction, streaming, the designer, the track-bar
// hook, the shared overlay and window handle, the hidden window and destruction.
#include <thread>

#include <qx/framework/core/FormStream.h>
#include <qx/framework/ui/Forms.h>
#include "volume_fixture.h"

namespace {

using Component = VolumeTest;

TEST_F(Component, ValuesAfterConstruction) {
  auto v = Make();
  EXPECT_EQ(v->WindowsVer(), "Windows 10");
  EXPECT_EQ(v->Version(), "1.0");
  EXPECT_EQ(v->Volume(), 40);
  EXPECT_TRUE(v->EndpointOpen());
  EXPECT_EQ(endpoint->RegisteredCallbacks(), 1u);
  EXPECT_EQ(v->MMChangeMessage(), RegisterWindowMessageW("winmm_devicechange"));
  EXPECT_EQ(AFWindow.load(), v->WindowHandle());
  EXPECT_EQ(v->UdpRxPort() + v->UdpTxPort() + v->UdpRemoteIP(), "28002801");
  EXPECT_EQ(v->UdpAtCmdIn() + v->UdpAtCmdMute() + v->UdpAtCmdGetMute() + v->UdpAtCmdVolUp() +
                v->UdpAtCmdVolDown(),
            "AT+SETVOL=AT+MUTEAT+GETMUTEAT+VOLUPAT+VOLDOWN");
  ASSERT_NE(frmVolume, nullptr);
  EXPECT_FALSE(frmVolume->Visible());
  EXPECT_EQ(frmVolume->Caption(), "VOLUME");
  EXPECT_EQ(frmVolume->Owner(), Application);
  EXPECT_TRUE(frmVolume->TransparentColor());
  EXPECT_FALSE(frmVolume->Scaled());
  EXPECT_EQ(frmVolume->barsColor, clYellow);
  std::vector<String> names;
  for (const TPropInfo* p : v->ClassInfo()->Properties()) names.push_back(p->Name());
  EXPECT_EQ(names, (std::vector<String>{"Name",
                                        "Tag",
                                        "WindowsVer",
                                        "Volume",
                                        "UdpAtCmdIn",
                                        "UdpAtCmdMute",
                                        "UdpAtCmdGetMute",
                                        "UdpAtCmdVolUp",
                                        "UdpAtCmdVolDown",
                                        "UdpRxPort",
                                        "UdpTxPort",
                                        "UdpRemoteIP",
                                        "VolDotsColor",
                                        "VolBarsColor",
                                        "ScreenVolAlign",
                                        "ShowScreenVol",
                                        "VolumeTrackBar",
                                        "QxUDPS",
                                        "OnAudioChange",
                                        "Version",
                                        "UdpAtCmdGetVol",
                                        "UdpAtEachLine",
                                        "OnUdpQuery",
                                        "AudioDevice",
                                        "OnDeviceChange",
                                        "UdpKeyFile",
                                        "UdpCounterFile",
                                        "OnUdpKeyProblem",

                                        "OnUdpCommand"}));
}

// A form holding the component, a track bar and a handler, as an application publishes it.
class TVolumeForm : public TForm {
  QX_CLASS(TVolumeForm)
 protected:
  ~TVolumeForm() override = default;

 public:
  using TForm::TForm;
  void VolumeAudioChange(TObject*, int32_t volume, bool) { seen.push_back(volume); }
  std::vector<int32_t> seen;
};
QX_DEFINE_CLASS(TVolumeForm, TForm, [](TPropsBuilder<TVolumeForm>& p) {
  p.Method("VolumeAudioChange", &TVolumeForm::VolumeAudioChange);
})

constexpr const char* kForm = R"(object VolumeForm: TVolumeForm
  object Bar: TTrackBar
    Max = 100
    Frequency = 10
    ShowSelRange = False
  end
  object Volume: TQxMasterVol
    Volume = 55
    UdpRxPort = '2900'
    VolBarsColor = clLime
    ScreenVolAlign = alTop
    VolumeTrackBar = Bar
    OnAudioChange = VolumeAudioChange
  end
end
)";

TEST_F(Component, StreamsAndRoundTripsInAForm) {
  TOwned<TVolumeForm> form(new TVolumeForm(nullptr));
  ReadComponentFromText(form.get(), kForm);
  auto* v = dynamic_cast<TQxMasterVol*>(form->FindComponent("Volume"));
  ASSERT_NE(v, nullptr);
  // The edge's write method ran while loading: the overlay is up at once, on top.
  ASSERT_NE(frmVolume, nullptr);
  EXPECT_TRUE(frmVolume->Visible());
  EXPECT_EQ(frmVolume->VolAlign, alTop);
  EXPECT_EQ(frmVolume->barsColor, clLime);
  EXPECT_EQ(v->Volume(), 40);  // Loaded reads the system for the linked track bar
  EXPECT_EQ(v->VolumeTrackBar()->Position(), 40);
  EXPECT_EQ(v->UdpRxPort(), "2900");
  v->SetVolume(41);
  EXPECT_EQ(form->seen.back(), 41);
  // Written back: defaults left out, read-only properties never stored, and read again alike.
  auto written = [](TVolumeForm* f) {
    dynamic_cast<TQxMasterVol*>(f->FindComponent("Volume"))->SetFVolume(55);
    return WriteComponentToText(f);
  };
  const String text = written(form.get());
  for (const char* line :
       {"    Volume = 55\n", "    UdpAtCmdIn = 'AT+SETVOL='\n", "    ScreenVolAlign = alTop\n",
        "    VolumeTrackBar = Bar\n", "    OnAudioChange = VolumeAudioChange\n"})
    EXPECT_NE(text.find(line), String::npos) << line;
  for (const char* name : {"ShowScreenVol", "WindowsVer", "Version =", "VolDotsColor", "QxUDPS"})
    EXPECT_EQ(text.find(name), String::npos) << name;
  TOwned<TVolumeForm> again(new TVolumeForm(nullptr));
  ReadComponentFromText(again.get(), text);
  EXPECT_EQ(written(again.get()), text);
}

TEST_F(Component, ScreenVolAlignKeepsToTopAndBottom) {
  auto v = Make();
  for (auto [asked, stored] : {std::pair{alTop, alTop},
                               {alLeft, alBottom},
                               {alClient, alBottom},
                               {alBottom, alBottom},
                               {static_cast<TAlign>(77), alBottom}}) {
    v->SetFScreenVolAlign(asked);
    EXPECT_EQ(v->ScreenVolAlign(), stored);
    EXPECT_EQ(frmVolume->VolAlign, stored);
  }
}

TEST_F(Component, TheDesignerChangesNothingOnTheSystem) {
  TOwned<TComponent> designing(new TComponent(nullptr));
  designing->SetDesigning(true);
  auto* v = new TProbedMasterVol(designing.get());
  EXPECT_EQ(frmVolume, nullptr);
  TOwned<TTrackBar> bar(new TTrackBar(nullptr));
  const TNotifyEvent own = TNotifyEvent::Callable([](TObject*) {});
  bar->OnChange = own;
  v->setFVolumeTrackBar(bar.get());
  EXPECT_EQ(bar->Max(), 100);
  EXPECT_EQ(bar->Frequency(), 10);
  EXPECT_EQ(bar->TickMarks(), tmBottomRight);
  EXPECT_FALSE(bar->ShowSelRange());
  EXPECT_EQ(bar->OnChange, own);  // not hooked
  v->SetVolume(80);
  EXPECT_FLOAT_EQ(endpoint->Level(), 0.4f);
  EXPECT_EQ(v->LastVol(), 0);
  endpoint->ChangeLevel(0.25f);  // the endpoint is open and Volume follows it
  ASSERT_TRUE(Delivered(1));
  EXPECT_EQ(v->Volume(), 25);
  v->setFVolumeTrackBar(nullptr);
}

TEST_F(Component, TrackBarHookChainsAndComesOff) {
  TOwned<TTrackBar> bar(new TTrackBar(nullptr));
  std::vector<TObject*> senders;
  std::vector<int32_t> volumes;  // what the component held when the saved handler ran
  TOwned<TProbedMasterVol> v;
  const TNotifyEvent own = TNotifyEvent::Callable([&](TObject* s) {
    senders.push_back(s);
    volumes.push_back(v->Volume());
  });
  bar->OnChange = own;
  v = Make();
  v->setFVolumeTrackBar(bar.get());
  v->setFVolumeTrackBar(bar.get());  // twice: the application's handler is still the saved one
  bar->SetPosition(70);
  EXPECT_EQ(senders, (std::vector<TObject*>{v.get()}));
  EXPECT_EQ(volumes, (std::vector<int32_t>{40}));  // called before the volume is taken
  EXPECT_EQ(v->Volume(), 70);
  EXPECT_FLOAT_EQ(endpoint->Level(), 0.7f);
  TOwned<TTrackBar> other(new TTrackBar(nullptr));
  v->setFVolumeTrackBar(other.get());
  EXPECT_EQ(bar->OnChange, own);  // relinking gives it back
  v->setFVolumeTrackBar(bar.get());
  v.reset();
  EXPECT_EQ(bar->OnChange, own);  // and so does destruction
  EXPECT_FALSE(other->OnChange.Assigned());
}

TEST_F(Component, ForgetsLinkedComponentsThatDie) {
  auto v = Make();
  auto* bar = new TTrackBar(nullptr);
  auto* udp = new TQxUDPS(nullptr);
  v->setFVolumeTrackBar(bar);
  v->setFUdp(udp);
  TObject::Free(bar);
  TObject::Free(udp);
  EXPECT_EQ(v->VolumeTrackBar(), nullptr);
  EXPECT_EQ(v->QxUDPS(), nullptr);
  v->SetVolume(10);  // nothing left to move
  EXPECT_EQ(v->Volume(), 10);
}

TEST_F(Component, OwnerFocusOnlyForAVisibleForm) {
  TOwned<TForm> owner(new TForm(nullptr));
  owner->Show();
  auto v = Make(owner.get());
  const int before = VirtualWindowState(*owner)->Activations;
  v->SetVolume(50);
  EXPECT_GT(VirtualWindowState(*owner)->Activations, before);
  TOwned<TComponent> plain(new TComponent(nullptr));
  auto w = Make(plain.get());
  w->SetVolume(51);  // no form to give the focus to
  EXPECT_EQ(Fvol, 51);
}

TEST_F(Component, TwoComponentsShareTheOverlayAndTheWindow) {
  auto first = Make();
  TfrmVolume* overlay = frmVolume;
  auto second = Make();
  EXPECT_EQ(frmVolume, overlay);
  EXPECT_EQ(AFWindow.load(), second->WindowHandle());
  endpoint->ChangeLevel(0.6f);
  ASSERT_TRUE(Delivered(2));  // both callbacks fire, both post to the newest window
  EXPECT_EQ(second->Volume(), 60);
  EXPECT_EQ(first->Volume(), 40);
  second.reset();
  // The survivor takes over rather than notifications going nowhere.
  EXPECT_EQ(AFWindow.load(), first->WindowHandle());
  endpoint->ChangeLevel(0.3f);
  ASSERT_TRUE(Delivered(3));
  EXPECT_EQ(first->Volume(), 30);
  first.reset();
  EXPECT_EQ(AFWindow.load(), nullptr);
  EXPECT_EQ(endpoint->RegisteredCallbacks(), 0u);
}

TEST_F(Component, HiddenWindowTakesOnlyItsOwnMessage) {
  auto v = Make();
  Fvol = 77;
  for (UINT msg : {v->MMChangeMessage(), WM_USER, WM_CLOSE})
    EXPECT_EQ(SendMessageW(v->WindowHandle(), msg, 1, 2), 0) << msg;
  EXPECT_EQ(v->Volume(), 40);
  SendMessageW(v->WindowHandle(), WM_QXVOLUME_NOTIFY, 77, 0);
  EXPECT_EQ(v->Volume(), 77);
  const HWND w = v->WindowHandle();
  v.reset();
  EXPECT_FALSE(IsWindow(w));
  EXPECT_FALSE(PostMessageW(w, WM_QXVOLUME_NOTIFY, 0, 0));
}

TEST_F(Component, DestroyedWhileNotificationsArrive) {
  std::atomic<bool> stop{false};
  std::thread outside([&] {
    for (int i = 0; !stop; ++i) endpoint->ChangeLevel((i % 100) / 100.0f);
  });
  for (int round = 0; round < 20; ++round) {
    auto v = Make();
    LoopUntil([&] { return !events.empty(); }, std::chrono::milliseconds(200));
    events.clear();
  }
  stop = true;
  outside.join();
  Application->ProcessMessages();
  EXPECT_EQ(endpoint->RegisteredCallbacks(), 0u);
}

}  // namespace
