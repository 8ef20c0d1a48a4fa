// Form files: round trips with every property type, load order, designing mode, and refusal of
// malformed files with their positions.
#include <gtest/gtest.h>

#include <qx/framework/core/FormStream.h>

namespace {

std::vector<String> gTrace;

class TGadget : public TComponent {
  QX_CLASS(TGadget)
  explicit TGadget(TComponent* AOwner) : TComponent(AOwner), FLines(new TStringList) {}

 protected:
  ~TGadget() override { delete FLines; }

 public:
  bool FActive = false;
  int32_t FCount = 7;
  int32_t FRaw = 0;
  String FLabel;
  TColor FColor = clWhite;
  TAlign FAlign = alBottom;
  TGadget* FLink = nullptr;
  TStringList* FLines;
  TNotifyEvent FOnPing;
  String FVersion = "1.0";
  bool FWasLoadingInLoaded = false;

  void SetActive(bool v) {
    gTrace.push_back(Name() + ".Active" + (IsLoading() ? " loading" : ""));
    FActive = v;
  }
  void SetCount(int32_t v) { FCount = v; }
  void SetRaw(int32_t v) { FRaw = v; }
  void SetLabel(const String& v) {
    gTrace.push_back(Name() + ".Label");
    FLabel = v;
  }
  void SetColor(TColor v) { FColor = v; }
  void SetAlign(TAlign v) { FAlign = v; }
  void SetLink(TGadget* v) {
    // References arrive after every component of the file exists.
    // Events arrive before references, so a link sees its target's streamed handlers.
    gTrace.push_back(Name() + ".Link=" + (v ? v->Name() : "nil") +
                     (v && v->FLabel.empty() ? "" : " (target filled)") +
                     (v && v->FOnPing ? " (hooked)" : ""));
    FLink = v;
  }
  void SetLines(TStrings* v) { FLines->Assign(v); }
  void SetOnPing(const TNotifyEvent& e) { FOnPing = e; }
  void Loaded() override {
    FWasLoadingInLoaded = IsLoading();
    TComponent::Loaded();
    gTrace.push_back(Name() + ".Loaded");
  }
};

QX_DEFINE_CLASS(TGadget, TComponent, [](TPropsBuilder<TGadget>& p) {
  p.Boolean("Active", &TGadget::FActive, &TGadget::SetActive, false);
  p.Integer("Count", &TGadget::FCount, &TGadget::SetCount, 7);
  p.Integer("Raw", &TGadget::FRaw, &TGadget::SetRaw);  // no default: always stored
  p.Text("Label", &TGadget::FLabel, &TGadget::SetLabel);
  p.Color("Color", &TGadget::FColor, &TGadget::SetColor, clWhite);
  p.Enum("Align", {"alNone", "alTop", "alBottom", "alLeft", "alRight", "alClient"},
         &TGadget::FAlign, &TGadget::SetAlign, alBottom);
  p.Reference<TGadget>("Link", &TGadget::FLink, &TGadget::SetLink);
  p.Strings("Lines", &TGadget::FLines, &TGadget::SetLines);
  p.Event<TNotifyEvent>("OnPing", &TGadget::FOnPing, &TGadget::SetOnPing);
  p.Text("Version", &TGadget::FVersion, nullptr);
})

class TRootForm : public TComponent {
  QX_CLASS(TRootForm)
 protected:
  ~TRootForm() override = default;

 public:
  using TComponent::TComponent;
  int pings = 0;
  TGadget* G1 = nullptr;  // published: set by name when read
  void Ping(TObject*) { ++pings; }
  void Pong(TObject*) {}
  void Other(TObject*, TCloseAction&) {}
};

QX_DEFINE_CLASS(TRootForm, TComponent, [](TPropsBuilder<TRootForm>& p) {
  p.Field("G1", &TRootForm::G1);
  p.Method("Ping", &TRootForm::Ping);
  p.Method("Pong", &TRootForm::Pong);
  p.Method("Other", &TRootForm::Other);
})

const char* kSample = R"(object Main: TRootForm
  object G1: TGadget
    Active = True
    Raw = 0
    Label = 'it''s'#13#10'two'
    Color = clFuchsia
    Align = alTop
    Link = G2
    Lines.Strings = (
      '127.0.0.1'
      'caf'#233)
    OnPing = Ping
  end
  object G2: TGadget
    Count = -3
    Raw = 0
    Label = 'second'
    Color = 8553215
    Link = G1
  end
end
)";

}  // namespace

class FormStream : public ::testing::Test {
 protected:
  void SetUp() override { gTrace.clear(); }
};

TEST_F(FormStream, ReadsEveryKindOfProperty) {
  TOwned<TComponent> root(CreateComponentFromText(kSample, nullptr, "sample.qxf"));
  auto* form = dynamic_cast<TRootForm*>(root.get());
  ASSERT_NE(form, nullptr);
  EXPECT_EQ(form->Name(), "Main");
  auto* g1 = dynamic_cast<TGadget*>(form->FindComponent("G1"));
  auto* g2 = dynamic_cast<TGadget*>(form->FindComponent("G2"));
  ASSERT_TRUE(g1 && g2);
  EXPECT_TRUE(g1->FActive);
  EXPECT_EQ(g1->FLabel, "it's\r\ntwo");
  EXPECT_EQ(g1->FColor, clFuchsia);
  EXPECT_EQ(g1->FAlign, alTop);
  EXPECT_EQ(g1->FLink, g2);
  EXPECT_EQ(g1->FLines->ToVector(), (std::vector<String>{"127.0.0.1", "caf\xC3\xA9"}));
  EXPECT_EQ(g2->FCount, -3);
  EXPECT_EQ(g2->FColor, RGB(255, 130, 130));
  EXPECT_EQ(g2->FLink, g1);
  g1->FOnPing(g1);
  EXPECT_EQ(form->pings, 1);
  EXPECT_EQ(g1->FOnPing, TNotifyEvent(form, &TRootForm::Ping));
  // The published field names the component while it lives.
  EXPECT_EQ(form->G1, g1);
  g2->FLink = nullptr;
  TObject::Free(g1);
  EXPECT_EQ(form->G1, nullptr);
}

TEST_F(FormStream, AppliesInFileOrderThenEventsThenReferencesThenLoaded) {
  TOwned<TComponent> root(CreateComponentFromText(kSample, nullptr));
  EXPECT_EQ(gTrace, (std::vector<String>{
                        "G1.Active loading", "G1.Label", "G2.Label", "G1.Link=G2 (target filled)",
                        "G2.Link=G1 (target filled) (hooked)", "G1.Loaded", "G2.Loaded"}));
  auto* g1 = dynamic_cast<TGadget*>(root->FindComponent("G1"));
  EXPECT_TRUE(g1->FWasLoadingInLoaded);
  EXPECT_FALSE(g1->IsLoading());
  EXPECT_FALSE(root->IsLoading());
}

TEST_F(FormStream, WriteThenReadRoundTrips) {
  TOwned<TComponent> root(CreateComponentFromText(kSample, nullptr));
  String written = WriteComponentToText(root.get());
  // Defaults are left out, read-only properties too; references and events by name.
  EXPECT_EQ(written.find("Count = 7"), String::npos);
  EXPECT_EQ(written.find("Version"), String::npos);
  EXPECT_NE(written.find("Raw = 0"), String::npos);
  EXPECT_NE(written.find("OnPing = Ping"), String::npos);
  EXPECT_NE(written.find("Color = clFuchsia"), String::npos);
  TOwned<TComponent> again(CreateComponentFromText(written, nullptr));
  EXPECT_EQ(WriteComponentToText(again.get()), written);
  auto* g1 = dynamic_cast<TGadget*>(again->FindComponent("G1"));
  EXPECT_EQ(g1->FLabel, "it's\r\ntwo");
  EXPECT_EQ(g1->FLines->Count(), 2);
}

TEST_F(FormStream, ReadsIntoAnExistingRootAndCanDesign) {
  TOwned<TRootForm> form(new TRootForm(nullptr));
  ReadComponentFromText(form.get(), kSample, "sample.qxf", /*designing=*/true);
  ASSERT_EQ(form->ComponentCount(), 2);
  EXPECT_TRUE(form->IsDesigning());
  for (int i = 0; i < form->ComponentCount(); ++i) EXPECT_TRUE(form->Components(i)->IsDesigning());
}

TEST_F(FormStream, AnEventBoundToAForeignObjectIsNotWritten) {
  TOwned<TRootForm> form(new TRootForm(nullptr));
  form->SetName("Main");
  auto* g = new TGadget(form.get());
  g->SetName("G");
  TOwned<TRootForm> stranger(new TRootForm(nullptr));
  g->FOnPing = TNotifyEvent(stranger.get(), &TRootForm::Ping);
  EXPECT_EQ(WriteComponentToText(form.get()).find("OnPing"), String::npos);
  g->FOnPing = TNotifyEvent::Callable([](TObject*) {});
  EXPECT_EQ(WriteComponentToText(form.get()).find("OnPing"), String::npos);
}

struct BadCase {
  const char* text;
  const char* where;  // "line:col"
  const char* says;
};

TEST_F(FormStream, MalformedFilesAreRefusedWithTheirPosition) {
  const BadCase cases[] = {
      {"object Main: TRootForm\n  object G: TGadget\n    Nope = 1\n  end\nend\n", "3:5",
       "unknown property 'Nope'"},
      {"object Main: TRootForm\n  object G: TNoSuchClass\n  end\nend\n", "2:3", "unknown class"},
      {"object Main: TRootForm\n  object G: TGadget\n    Link = Ghost\n  end\nend\n", "3:12",
       "unknown component 'Ghost'"},
      {"object Main: TRootForm\n  object G: TGadget\n    OnPing = Missing\n  end\nend\n", "3:14",
       "no published method"},
      {"object Main: TRootForm\n  object G: TGadget\n    OnPing = Other\n  end\nend\n", "3:14",
       "does not fit"},
      {"object Main: TRootForm\n  object G: TGadget\n    Active = Maybe\n  end\nend\n", "3:14",
       "invalid value"},
      {"object Main: TRootForm\n  object G: TGadget\n    Label = 'open\n  end\nend\n", "3:13",
       "unterminated string"},
      {"object Main: TRootForm\n  object G: TGadget\n    Count = 12\n", "4:1", "missing 'end'"},
      {"object Main: TRootForm\n  object G: TGadget\n    Version = '2'\n  end\nend\n", "3:5",
       "read-only"},
      {"object Main: TRootForm\n  object G: TGadget\n  end\n  object G: TGadget\n  end\nend\n",
       "4:3", "already exists"},
      {"object Main: TRootForm\n  object G1: TRootForm\n  end\nend\n", "2:3",
       "field G1 holds a TGadget, not a TRootForm"},
      {"object Main: TRootForm\n  Count ? 3\nend\n", "2:9", "unexpected character"},
      {"object Main: TRootForm\nend\nextra\n", "3:1", "after the end"},
      {"object Main: TRootForm\n  object G: TGadget\n    Count = 99999999999\n  end\nend\n", "3:13",
       "bad number"},
  };
  for (const auto& c : cases) {
    gTrace.clear();
    try {
      TOwned<TComponent> r(CreateComponentFromText(c.text, nullptr, "bad.qxf"));
      ADD_FAILURE() << "accepted: " << c.text;
    } catch (const Exception& e) {
      String msg = e.what();
      EXPECT_EQ(msg.rfind(String("bad.qxf:") + c.where + ":", 0), 0u) << msg;
      EXPECT_NE(msg.find(c.says), String::npos) << msg;
    }
  }
}

TEST_F(FormStream, NothingHalfBuiltIsLeftBehind) {
  TOwned<TRootForm> form(new TRootForm(nullptr));
  const char* text =
      "object Main: TRootForm\n  object A: TGadget\n  end\n  object B: TGadget\n"
      "    Link = Ghost\n  end\nend\n";
  EXPECT_THROW(ReadComponentFromText(form.get(), text, "x.qxf"), Exception);
  EXPECT_EQ(form->ComponentCount(), 0);
  EXPECT_FALSE(form->IsLoading());
  EXPECT_THROW(ReadComponentFromText(form.get(), "object X: TGadget\nend\n", "x.qxf"), Exception);
}
