// Controls on a form: alignment, painting order and clipping, visibility, repaint requests,
// teardown in either order, the track bar's position rules and loading from a form file.
#include <gtest/gtest.h>

#include <qx/framework/app/Application.h>
#include <qx/framework/core/FormStream.h>
#include <qx/framework/ui/ComCtrls.h>
#include <qx/framework/ui/Desktop.h>
#include <qx/framework/ui/ExtCtrls.h>
#include <qx/framework/ui/Forms.h>
#include <qx/framework/ui/PictureResources.h>

namespace {

// A control that paints a filled square at its origin and counts its paints.
class TSwatch : public TCustomControl {
 public:
  explicit TSwatch(TComponent* owner) : TCustomControl(owner) {}
  int Paints = 0;

 protected:
  void Paint() override {
    ++Paints;
    Canvas()->Brush()->Color = clLime;
    Canvas()->Pen()->Color = clLime;
    Canvas()->Rectangle(0, 0, 1000, 1000);  // clipped to the control
  }
};

class UiControls : public ::testing::Test {
 protected:
  void SetUp() override {
    UseVirtualDesktop();
    form.reset(new TForm(nullptr));
    form->SetBounds(0, 0, 300, 100);
    form->SetColor(clWhite);
  }
  TOwned<TForm> form;
};

TEST_F(UiControls, LeftAndClientAlignmentShareTheClientArea) {
  auto* left = new TPanel(form.get());
  left->SetParent(form.get());
  left->SetWidth(128);
  left->SetAlign(alLeft);
  auto* client = new TPanel(form.get());
  client->SetParent(form.get());
  client->SetAlign(alClient);
  EXPECT_EQ(left->BoundsRect(), (TRect{0, 0, 128, 100}));
  EXPECT_EQ(client->BoundsRect(), (TRect{128, 0, 300, 100}));
  form->SetWidth(1920);
  EXPECT_EQ(client->Width(), 1792);
  left->SetVisible(false);
  EXPECT_EQ(client->BoundsRect(), (TRect{0, 0, 1920, 100}));
  TObject::Free(left);
  EXPECT_EQ(form->ControlCount(), 1);
}

TEST_F(UiControls, AlignmentGoesOnAfterAChildThrewWhileBeingPlaced) {
  struct TBrittle : TPanel {
    using TPanel::TPanel;
    bool Throw = true;
    void Resize() override {
      if (Throw) throw Exception("resize");
    }
  };
  auto* brittle = new TBrittle(form.get());
  brittle->SetParent(form.get());
  EXPECT_THROW(brittle->SetAlign(alClient), Exception);
  brittle->Throw = false;
  form->SetWidth(200);
  EXPECT_EQ(brittle->BoundsRect(), (TRect{0, 0, 200, 100}));
}

TEST_F(UiControls, ChildrenPaintInsideTheirRectangleOverTheParentBackground) {
  auto* panel = new TPanel(form.get());
  panel->SetParent(form.get());
  panel->SetBounds(10, 10, 100, 50);
  panel->SetBevelOuter(bvNone);
  panel->SetParentBackground(false);
  panel->SetColor(clFuchsia);
  auto* swatch = new TSwatch(form.get());
  swatch->SetParent(panel);
  swatch->SetBounds(20, 5, 10, 10);
  const TBitmap& f = form->Frame();
  EXPECT_EQ(f.Pixel(5, 5), clWhite);      // the form
  EXPECT_EQ(f.Pixel(12, 12), clFuchsia);  // the panel
  EXPECT_EQ(f.Pixel(30, 15), clLime);     // the swatch, offset by both parents
  EXPECT_EQ(f.Pixel(39, 24), clLime);
  EXPECT_EQ(f.Pixel(40, 24), clFuchsia);  // clipped at its right edge
  EXPECT_EQ(f.Pixel(30, 25), clFuchsia);
  EXPECT_EQ(swatch->FormOrigin(), (TPoint{30, 15}));
  EXPECT_EQ(swatch->GetParentForm(), form.get());
  swatch->SetVisible(false);
  EXPECT_EQ(form->Frame().Pixel(30, 15), clFuchsia);
}

TEST_F(UiControls, InvalidateRepaintsOnceFromTheLoopAndRepaintAtOnce) {
  auto* swatch = new TSwatch(form.get());
  swatch->SetParent(form.get());
  swatch->SetBounds(0, 0, 10, 10);
  form->Show();
  Application->ProcessMessages();
  int before = swatch->Paints;
  const uint64_t frames = VirtualWindowState(*form)->Frames;
  swatch->Invalidate();
  swatch->Invalidate();
  EXPECT_EQ(swatch->Paints, before);
  Application->ProcessMessages();
  EXPECT_EQ(swatch->Paints, before + 1);
  EXPECT_EQ(VirtualWindowState(*form)->Frames, frames + 1);
  swatch->Repaint();
  EXPECT_EQ(swatch->Paints, before + 2);
}

TEST_F(UiControls, OwnerMayFreeParentBeforeChildAndChildBeforeParent) {
  auto* outer = new TPanel(nullptr);
  auto* inner = new TPanel(nullptr);
  inner->SetParent(outer);
  TObject::Free(outer);  // the child survives without a parent
  EXPECT_EQ(inner->Parent(), nullptr);
  inner->Invalidate();
  TObject::Free(inner);

  auto* a = new TPanel(form.get());
  a->SetParent(form.get());
  auto* b = new TPanel(form.get());
  b->SetParent(a);
  EXPECT_THROW(a->SetParent(b), Exception);
  form.reset();  // frees a (the parent) and b in the owner's order
}

TEST(UiTrackBar, PositionStaysInRangeAndOnChangeFollowsRealChanges) {
  TOwned<TTrackBar> t(new TTrackBar(nullptr));
  int changes = 0;
  t->OnChange = TNotifyEvent::Callable([&](TObject*) { ++changes; });
  t->SetMax(100);
  t->SetPosition(40);
  EXPECT_EQ(changes, 1);
  t->SetPosition(40);
  EXPECT_EQ(changes, 1);
  t->SetPosition(250);
  EXPECT_EQ(t->Position(), 100);
  t->SetPosition(-3);
  EXPECT_EQ(t->Position(), 0);
  EXPECT_EQ(changes, 3);
  t->SetPosition(80);
  t->SetMax(50);  // pulls the position in, which is a change
  EXPECT_EQ(t->Position(), 50);
  EXPECT_EQ(changes, 5);
  t->ClickAt(t->Width() / 2);
  EXPECT_EQ(t->Position(), 25);
}

TEST_F(UiControls, TrackBarPaintsAndClicksOverTheWidest32BitRange) {
  auto* bar = new TTrackBar(form.get());
  bar->SetParent(form.get());
  bar->SetBounds(0, 0, 150, 45);
  bar->SetMin(INT32_MIN);
  bar->SetMax(INT32_MAX);
  bar->SetPosition(INT32_MAX);
  form->Show();
  bar->Repaint();  // thumb and ticks over a span of 2^32 - 1
  const std::pair<int32_t, int32_t> clicks[] = {{0, INT32_MIN}, {149, INT32_MAX}};
  for (auto [x, expected] : clicks) {
    bar->ClickAt(x);
    EXPECT_EQ(bar->Position(), expected) << x;
  }
  bar->ClickAt(75);  // the middle of the scale
  EXPECT_LT(std::abs(int64_t(bar->Position())), int64_t(1) << 26);
}

TEST_F(UiControls, MouseGoesToTheControlUnderItAndStaysWithItWhileHeld) {
  auto* bar = new TTrackBar(form.get());
  bar->SetParent(form.get());
  bar->SetBounds(50, 20, 150, 45);
  bar->SetMax(100);
  EXPECT_EQ(form->ControlAtPos({60, 30}), bar);
  EXPECT_EQ(form->ControlAtPos({10, 10}), form.get());
  form->MouseInput(TCustomForm::TMouseAction::Down, 50 + 75, 30);  // the middle of the scale
  EXPECT_EQ(bar->Position(), 50);
  form->MouseInput(TCustomForm::TMouseAction::Move, 0, 90);  // dragged far left, off the bar
  EXPECT_EQ(bar->Position(), 0);
  form->MouseInput(TCustomForm::TMouseAction::Up, 0, 90);
  form->MouseInput(TCustomForm::TMouseAction::Move, 50 + 75, 30);  // released: no effect
  EXPECT_EQ(bar->Position(), 0);
  form->MouseInput(TCustomForm::TMouseAction::Down, 50 + 75, 30);
  TObject::Free(bar);  // gone while held
  form->MouseInput(TCustomForm::TMouseAction::Move, 60, 30);
  form->MouseInput(TCustomForm::TMouseAction::Up, 60, 30);
}

class TLoadRoot : public TForm {
  QX_CLASS(TLoadRoot)
 protected:
  ~TLoadRoot() override = default;

 public:
  using TForm::TForm;
  int Changes = 0;
  int Creates = 0;
  void BarChange(TObject*) { ++Changes; }
  void Created(TObject*) { ++Creates; }
};

QX_DEFINE_CLASS(TLoadRoot, TForm, [](TPropsBuilder<TLoadRoot>& b) {
  b.Method("BarChange", &TLoadRoot::BarChange);
  b.Method("Created", &TLoadRoot::Created);
})

const char* const kForm = R"(object Root: TLoadRoot
  Width = 400
  Height = 120
  Caption = 'Load test'
  OnCreate = Created
  object Side: TPanel
    Left = 0
    Top = 0
    Width = 90
    Height = 120
    Align = alLeft
    BevelOuter = bvNone
    Color = clFuchsia
    ParentBackground = False
    object Pic: TImage
      Left = 3
      Top = 4
      Width = 10
      Height = 10
      AutoSize = True
      Picture = 'DOT'
    end
  end
  object Bar: TTrackBar
    Left = 100
    Top = 10
    Width = 200
    Height = 45
    Max = 100
    Position = 30
    OnChange = BarChange
  end
end
)";

TEST(UiFormFile, ControlsLoadWithParentsPicturesAndEventsAndWriteBack) {
  UseVirtualDesktop();
  RegisterPictureResource("TLoadRoot", "DOT", [] {
    TBitmap b(7, 5);
    b.Clear(clRed);
    return b;
  });
  TOwned<TLoadRoot> root(new TLoadRoot(nullptr));
  ReadComponentFromText(root.get(), kForm, "test.qxf");
  EXPECT_EQ(root->Creates, 1);
  EXPECT_EQ(root->Changes, 0);  // no handler runs while the form is streamed
  auto* side = dynamic_cast<TPanel*>(root->FindComponent("Side"));
  auto* pic = dynamic_cast<TImage*>(root->FindComponent("Pic"));
  auto* bar = dynamic_cast<TTrackBar*>(root->FindComponent("Bar"));
  ASSERT_TRUE(side && pic && bar);
  EXPECT_EQ(side->Parent(), root.get());
  EXPECT_EQ(pic->Parent(), side);
  EXPECT_EQ(pic->Width(), 7);  // sized to its picture
  EXPECT_EQ(bar->Position(), 30);
  bar->SetPosition(31);
  EXPECT_EQ(root->Changes, 1);
  EXPECT_EQ(root->Frame().Pixel(5, 6), clRed);

  // Written back and read into a fresh form, the same tree comes out.
  String text = WriteComponentToText(root.get());
  TOwned<TLoadRoot> again(new TLoadRoot(nullptr));
  ReadComponentFromText(again.get(), text, "again.qxf");
  EXPECT_EQ(WriteComponentToText(again.get()), text);
  EXPECT_EQ(dynamic_cast<TImage*>(again->FindComponent("Pic"))->Parent(),
            again->FindComponent("Side"));
}

}  // namespace
