// Forms on the virtual desktop: closing with each action, showing and hiding, window handles and
// creation parameters, the frame with colour key and alpha, the screen and modal messages.
#include <gtest/gtest.h>

#include <time.h>

#include <algorithm>

#include <qx/framework/app/Application.h>
#include <qx/framework/app/Timers.h>
#include <qx/framework/core/FormStream.h>
#include <qx/framework/ui/Desktop.h>
#include <qx/framework/ui/Dialogs.h>
#include <qx/framework/ui/ExtCtrls.h>
#include <qx/framework/ui/Forms.h>
#include <qx/framework/ui/WindowServices.h>
#include "test_app_wait.h"

namespace {

class UiForms : public ::testing::Test {
 protected:
  void SetUp() override { UseVirtualDesktop(); }
};

TEST_F(UiForms, CloseHidesByDefaultAndHonoursTheHandlersAction) {
  TOwned<TForm> f(new TForm(nullptr));
  f->Show();
  TCloseAction seen = caNone;
  f->OnClose = TCloseEvent::Callable([&](TObject*, TCloseAction& a) { seen = a; });
  f->Close();
  EXPECT_EQ(seen, caHide);
  EXPECT_FALSE(f->Visible());

  f->Show();
  f->OnClose = TCloseEvent::Callable([](TObject*, TCloseAction& a) { a = caNone; });
  f->Close();
  EXPECT_TRUE(f->Visible());

  // WM_CLOSE posted to the handle closes the form from the loop.
  f->OnClose = nullptr;
  ASSERT_TRUE(PostMessageW(f->Handle(), WM_CLOSE, 0, 0));
  EXPECT_TRUE(LoopUntil([&] { return !f->Visible(); }));
}

TEST_F(UiForms, CaFreeFreesTheFormFromTheLoopAfterTheHandler) {
  auto* f = new TForm(nullptr);
  auto* watcher = new TForm(nullptr);
  bool freed = false;
  struct TWatch : TComponent {
    bool* Flag;
    TComponent* Target;
    TWatch(TComponent* t, bool* flag) : TComponent(nullptr), Flag(flag), Target(t) {
      t->FreeNotification(this);
    }
    void Notification(TComponent* c, TOperation op) override {
      if (c == Target && op == opRemove) *Flag = true;
    }
  };
  TOwned<TWatch> watch(new TWatch(f, &freed));
  f->OnClose = TCloseEvent::Callable([](TObject*, TCloseAction& a) { a = caFree; });
  f->Show();
  f->Close();
  EXPECT_FALSE(freed);  // still alive while the handler's caller runs
  EXPECT_TRUE(LoopUntil([&] { return freed; }));
  TObject::Free(watcher);
}

TEST_F(UiForms, OnShowRunsBeforeTheWindowAppearsAndMayPlaceIt) {
  TOwned<TForm> f(new TForm(nullptr));
  int shows = 0, hides = 0;
  bool windowVisibleDuringOnShow = true;
  f->OnShow = TNotifyEvent::Callable([&](TObject*) {
    ++shows;
    const TVirtualWindowState* s = VirtualWindowState(*f);
    windowVisibleDuringOnShow = s != nullptr && s->Visible;
    f->SetBounds(5, 6, 70, 80);
  });
  f->OnHide = TNotifyEvent::Callable([&](TObject*) { ++hides; });
  f->Show();
  f->Show();  // already shown: no second OnShow
  EXPECT_EQ(shows, 1);
  EXPECT_FALSE(windowVisibleDuringOnShow);
  const TVirtualWindowState* s = VirtualWindowState(*f);
  ASSERT_NE(s, nullptr);
  EXPECT_TRUE(s->Visible);
  EXPECT_EQ(s->Bounds, (TRect{5, 6, 75, 86}));
  f->Hide();
  EXPECT_EQ(hides, 1);
  EXPECT_FALSE(s->Visible);
}

class TAppWindowForm : public TForm {
 public:
  using TForm::TForm;

 protected:
  void CreateParams(TCreateParams& p) override {
    TForm::CreateParams(p);
    p.ExStyle |= WS_EX_APPWINDOW;
    p.WndParent = DesktopWindowHandle();
  }
};

TEST_F(UiForms, HandleIsMadeOnceWithTheFormsCreateParams) {
  TOwned<TAppWindowForm> f(new TAppWindowForm(nullptr));
  f->SetCaption("VOLUME");
  EXPECT_FALSE(f->HandleAllocated());
  HWND h = f->Handle();
  EXPECT_TRUE(f->HandleAllocated());
  EXPECT_EQ(f->Handle(), h);
  EXPECT_EQ(FindFormByHandle(h), f.get());
  const TVirtualWindowState* s = VirtualWindowState(*f);
  ASSERT_NE(s, nullptr);
  EXPECT_TRUE(s->Params.ExStyle & WS_EX_APPWINDOW);
  EXPECT_EQ(s->Params.WndParent, DesktopWindowHandle());
  EXPECT_EQ(s->Caption, "VOLUME");
  f.reset();
  EXPECT_EQ(FindFormByHandle(h), nullptr);
}

TEST_F(UiForms, TranslucentFrameKeysOutTheKeyColourAndAppliesAlpha) {
  TOwned<TForm> f(new TForm(nullptr));
  f->SetBounds(0, 0, 20, 10);
  f->SetColor(clFuchsia);
  auto* p = new TPanel(f.get());
  p->SetParent(f.get());
  p->SetBounds(10, 0, 10, 10);
  p->SetBevelOuter(bvNone);
  p->SetParentBackground(false);
  p->SetColor(clYellow);
  EXPECT_EQ(f->TranslucentFrame().Alpha(2, 2), 255);  // key off: opaque
  f->SetTransparentColorValue(clFuchsia);
  f->SetTransparentColor(true);
  TBitmap t = f->TranslucentFrame();
  EXPECT_EQ(t.Alpha(2, 2), 0);
  EXPECT_EQ(t.Alpha(15, 5), 255);
  EXPECT_EQ(t.Pixel(15, 5), clYellow);
  f->SetAlphaBlendValue(101);
  EXPECT_EQ(f->TranslucentFrame().Alpha(15, 5), 255);  // blending is off
  f->SetAlphaBlend(true);
  TBitmap a = f->TranslucentFrame();
  EXPECT_EQ(a.Alpha(15, 5), 101);
  EXPECT_NEAR(GetGValue(a.Pixel(15, 5)), 255, 2);
  EXPECT_EQ(a.Alpha(2, 2), 0);
}

TEST_F(UiForms, StayOnTopRaisesWithoutTakingTheFocusUnlessAsked) {
  TOwned<TForm> plain(new TForm(nullptr));
  TOwned<TForm> top(new TForm(nullptr));
  top->Show();
  top->SetStayOnTop(true, false);
  plain->Show();
  plain->SetFocus();
  EXPECT_TRUE(plain->Focused());
  auto stack = VirtualStacking();
  EXPECT_EQ(stack.back(), top.get());  // the ordinary window went in beneath it
  top->SetStayOnTop(true, false);
  EXPECT_TRUE(plain->Focused());
  EXPECT_EQ(VirtualWindowState(*top)->Activations, 0);
  top->SetStayOnTop(true, true);
  EXPECT_TRUE(top->Focused());
  EXPECT_EQ(Screen->ActiveForm(), top.get());
}

TEST_F(UiForms, ScreenAndTaskbarFollowTheVirtualDesktop) {
  TVirtualDesktop d;
  ASSERT_TRUE(ParseScreenSize("1280x720", d));
  ASSERT_TRUE(ParseTaskbar("left:60", d));
  UseVirtualDesktop(d);
  EXPECT_EQ(Screen->Width(), 1280);
  EXPECT_EQ(Screen->Height(), 720);
  TRect r;
  ASSERT_NE(TaskbarWindowHandle(), nullptr);
  ASSERT_TRUE(WindowRectOf(TaskbarWindowHandle(), r));
  EXPECT_EQ(r, (TRect{0, 0, 60, 720}));
  ASSERT_TRUE(ParseTaskbar("none", d));
  UseVirtualDesktop(d);
  EXPECT_EQ(TaskbarWindowHandle(), nullptr);
  EXPECT_TRUE(WindowRectOf(DesktopWindowHandle(), r));
  EXPECT_EQ(r, (TRect{0, 0, 1280, 720}));
  EXPECT_FALSE(WindowRectOf(nullptr, r));

  for (const char* bad : {"middle:40", "left", "left:-1", "left:x", "top:99999999"})
    EXPECT_FALSE(ParseTaskbar(bad, d)) << bad;
  for (const char* bad : {"1920", "0x100", "1920x", "ax1", "40000x10"})
    EXPECT_FALSE(ParseScreenSize(bad, d)) << bad;
  EXPECT_EQ(TVirtualDesktop().Taskbar(), (TRect{0, 1040, 1920, 1080}));
}

TEST_F(UiForms, FrameHookSeesEachShownFrame) {
  TOwned<TForm> f(new TForm(nullptr));
  f->SetBounds(0, 0, 30, 20);
  std::vector<TColor> seen;
  auto previous = SetVirtualFrameHook([&](TCustomForm& shown) {
    EXPECT_EQ(&shown, f.get());
    seen.push_back(shown.TranslucentFrame().Pixel(1, 1));
  });
  f->SetColor(clRed);  // hidden: nothing shown
  EXPECT_TRUE(seen.empty());
  f->Show();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0], clRed);
  f->SetColor(clBlue);
  f->Update();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[1], clBlue);
  SetVirtualFrameHook(previous);
}

TEST(UiDialogs, ShowMessageGoesToTheHookWhenOneIsSet) {
  std::vector<String> seen;
  auto previous = SetShowMessageHook([&](const String& t) { seen.push_back(t); });
  ShowMessage("Mixer error");
  SetShowMessageHook(previous);
  EXPECT_EQ(seen, std::vector<String>{"Mixer error"});
}

class TCreateCountForm : public TForm {
  QX_CLASS(TCreateCountForm)
 protected:
  ~TCreateCountForm() override = default;

 public:
  using TForm::TForm;
  int Created = 0;
  void FormCreate(TObject*) { ++Created; }
};

QX_DEFINE_CLASS(TCreateCountForm, TForm, [](TPropsBuilder<TCreateCountForm>& b) {
  b.Method("FormCreate", &TCreateCountForm::FormCreate);
})

TEST_F(UiForms, ARefusedFormFileNeitherCreatesNorShowsTheForm) {
  const String head =
      "object F: TCreateCountForm\n  Visible = True\n  OnCreate = FormCreate\n"
      "  object T: TTimer\n";
  // A panel inside a timer would be lost on the next save: refused before any Loaded.
  const String bad = head + "    object P: TPanel\n    end\n  end\nend\n";
  TOwned<TCreateCountForm> f(new TCreateCountForm(nullptr));
  try {
    ReadComponentFromText(f.get(), bad, "f.qxf");
    ADD_FAILURE() << "accepted";
  } catch (const Exception& e) {
    EXPECT_EQ(String(e.what()), "f.qxf:5:5: a TPanel cannot be placed inside a TTimer");
  }
  EXPECT_EQ(f->Created, 0);
  EXPECT_EQ(VirtualWindowState(*f), nullptr);
  EXPECT_EQ(f->ComponentCount(), 0);

  TOwned<TCreateCountForm> g(new TCreateCountForm(nullptr));
  ReadComponentFromText(g.get(), head + "  end\nend\n", "f.qxf");
  EXPECT_EQ(g->Created, 1);
  ASSERT_NE(VirtualWindowState(*g), nullptr);
  EXPECT_TRUE(VirtualWindowState(*g)->Visible);
}

// Controls nested in a form file are read (and freed) in time proportional to their number,
// however deep they go: four times as many take about four times as long, not the sixteen of
// work that grows with the depth. Compared within one run in processor time, so that neither the
// machine's speed nor its load counts.
TEST_F(UiForms, DeepNestingReadsInTimeProportionalToItsDepth) {
  auto nested = [](int depth) {
    String text = "object F: TForm\n";
    for (int i = 0; i < depth; ++i) text += "object P" + IntToStr(i) + ": TPanel\nWidth = 9\n";
    for (int i = 0; i <= depth; ++i) text += "end\n";
    return text;
  };
  auto cpu = [] {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
  };
  auto seconds = [&](const String& text) {
    double best = 1e9;
    for (int i = 0; i < 3; ++i) {
      const double t0 = cpu();
      TObject::Free(CreateComponentFromText(text, nullptr));
      best = std::min(best, cpu() - t0);
    }
    return best;
  };
  const int depth = 10000;
  const double shallow = seconds(nested(depth)), deep = seconds(nested(4 * depth));
  EXPECT_LT(deep / shallow, 8.0) << shallow << " s for " << depth << ", " << deep << " s for "
                                 << 4 * depth;
}

}  // namespace
