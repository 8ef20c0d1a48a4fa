// The designer interface: which editor a property gets, values as text through the setters,
// multi-selection, and the designed form's save.
#include <gtest/gtest.h>

#include <fstream>

#include <qx/framework/design/FormDesigner.h>

namespace {

class TWidgetDesign : public TComponent {
  QX_CLASS(TWidgetDesign)
 protected:
  ~TWidgetDesign() override = default;

 public:
  using TComponent::TComponent;
  String FCaption, FNote;
  int32_t FCount = 0;
  bool FOn = false;
  int32_t FSides = 0;
  TColor FTint = clBlack;
  TWidgetDesign* FPeer = nullptr;
  TStringList FLines;
  int FWrites = 0;
  void SetCaption(const String& v) { FCaption = v, ++FWrites; }
  void SetNote(const String& v) { FNote = v; }
  void SetCount(int32_t v) { FCount = v; }
  void SetOn(bool v) { FOn = v && !IsDesigning(); }  // refuses in the designer
  void SetSides(int32_t v) { FSides = v; }
  void SetTint(TColor v) { FTint = v; }
  void SetPeer(TWidgetDesign* v) { FPeer = v; }
  void SetLines(TStrings* v) { FLines.Assign(v); }
  TStrings* Lines() const { return const_cast<TStringList*>(&FLines); }
};
QX_DEFINE_CLASS(TWidgetDesign, TComponent, [](TPropsBuilder<TWidgetDesign>& p) {
  p.Text("Caption", &TWidgetDesign::FCaption, &TWidgetDesign::SetCaption);
  p.Text("Note", &TWidgetDesign::FNote, &TWidgetDesign::SetNote);
  p.Text("Fixed", &TWidgetDesign::FNote, nullptr);
  p.Integer("Count", &TWidgetDesign::FCount, &TWidgetDesign::SetCount, 0);
  p.Boolean("On", &TWidgetDesign::FOn, &TWidgetDesign::SetOn);
  p.Set("Sides", {"sLeft", "sTop"}, &TWidgetDesign::FSides, &TWidgetDesign::SetSides);
  p.Color("Tint", &TWidgetDesign::FTint, &TWidgetDesign::SetTint);
  p.Reference<TWidgetDesign>("Peer", &TWidgetDesign::FPeer, &TWidgetDesign::SetPeer);
  p.Strings("Lines", &TWidgetDesign::Lines, &TWidgetDesign::SetLines);
})

// Offers two words, for one component at a time.
class TWordProperty : public TStringProperty {
 public:
  static constexpr const char* EditorName = "TWordProperty";
  using TStringProperty::TStringProperty;
  TPropertyAttributes GetAttributes() override { return AttrSet({paValueList}); }
  void GetValues(const TGetStrProc& Proc) override {
    Proc("zeta");
    Proc("alpha");
  }
};

class Design : public ::testing::Test {
 protected:
  static constexpr int kPackage = 9101;
  void SetUp() override {
    d.NewForm(TWidgetDesign::StaticClassInfo(), "Root");
    g = static_cast<TWidgetDesign*>(d.Drop(TWidgetDesign::StaticClassInfo(), "G"));
    h = static_cast<TWidgetDesign*>(d.Drop(TWidgetDesign::StaticClassInfo(), "H"));
  }
  void TearDown() override { UnregisterPackage(kPackage); }
  std::unique_ptr<TPropertyEditor> Ed(std::vector<TComponent*> sel, const char* prop) {
    return d.Editor(sel, TFormDesigner::Property(sel[0], prop));
  }
  TFormDesigner d;
  TWidgetDesign* g = nullptr;
  TWidgetDesign* h = nullptr;
};

}  // namespace

TEST_F(Design, DroppedComponentsAreDesigningFromTheirConstruction) {
  EXPECT_TRUE(d.Root()->IsDesigning());
  EXPECT_TRUE(g->IsDesigning());
  Ed({g}, "On")->SetValue("True");
  EXPECT_FALSE(g->FOn);
  EXPECT_THROW(d.Drop(TWidgetDesign::StaticClassInfo(), "g"), Exception);  // name taken
}

TEST_F(Design, AnEditorBindsByTypeClassAndNameAndTheLatestWins) {
  BeginPackageRegistration(kPackage);
  RegisterPropertyEditor(TypeInfo<String>(), TWidgetDesign::StaticClassInfo(), "Caption",
                         EditorClassOf<TWordProperty>());
  EndPackageRegistration();
  EXPECT_EQ(Ed({g}, "Caption")->ValueList(), (std::vector<String>{"zeta", "alpha"}));
  EXPECT_TRUE(Ed({g}, "Note")->ValueList().empty());
  // Without paMultiSelect nothing is offered for two components.
  EXPECT_THROW(Ed({g, h}, "Caption"), Exception);
  EXPECT_NE(Ed({g, h}, "Note"), nullptr);
  UnregisterPackage(kPackage);
  EXPECT_EQ(Ed({g}, "Caption")->GetAttributes(), AttrSet({paMultiSelect, paRevertable}));
}

TEST_F(Design, ValuesAsTextGoThroughTheSettersOrAreRefused) {
  struct Case {
    const char* Prop;
    const char* Text;
    const char* Shown;  // nullptr: refused
  };
  const Case cases[] = {
      {"Caption", "any text", "any text"},
      {"Caption", "", ""},
      {"Count", " -12", "-12"},
      {"Count", "$10", "16"},
      {"Count", "12x", nullptr},
      {"Count", "4294967296", nullptr},
      {"Sides", "[sTop, sLeft]", "[sLeft, sTop]"},
      {"Sides", "[]", "[]"},
      {"Sides", "[sBottom]", nullptr},
      {"Sides", "sTop", nullptr},
      {"Tint", "clRed", "clRed"},
      {"Tint", "123", "123"},
      {"Tint", "reddish", nullptr},
      {"Peer", "H", "H"},
      {"Peer", "", ""},
      {"Peer", "Nobody", nullptr},
      {"Lines", "a, b", "a, b"},
      {"Fixed", "x", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(String(c.Prop) + " = " + c.Text);
    auto ed = Ed({g}, c.Prop);
    if (c.Shown == nullptr) {
      String before = ed->GetValue();
      EXPECT_THROW(ed->SetValue(c.Text), Exception);
      EXPECT_EQ(ed->GetValue(), before);
    } else {
      ed->SetValue(c.Text);
      EXPECT_EQ(ed->GetValue(), c.Shown);
    }
  }
  EXPECT_EQ(Ed({g}, "Peer")->ValueList(), (std::vector<String>{"G", "H", "Root"}));
  EXPECT_TRUE(HasAttr(Ed({g}, "Fixed")->GetAttributes(), paReadOnly));
}

TEST_F(Design, SavedFormReadsBackAndRevertPutsBackTheNewComponentsValue) {
  Ed({g, h}, "Caption")->SetValue("both");
  EXPECT_EQ(h->FCaption, "both");
  Ed({g}, "Count")->SetValue("7");
  String path = testing::TempDir() + "design_form.qxf";
  d.Save(path);
  TFormDesigner again;
  again.Open(path);
  auto* g2 = static_cast<TWidgetDesign*>(again.Find("G"));
  EXPECT_EQ(g2->FCaption, "both");
  EXPECT_EQ(g2->FCount, 7);
  again.Revert(g2, TFormDesigner::Property(g2, "Count"));
  EXPECT_EQ(g2->FCount, 0);
  EXPECT_THROW(again.Revert(g2, TFormDesigner::Property(g2, "Fixed")), Exception);
  EXPECT_THROW(d.Save("/nonexistent-dir/form.qxf"), Exception);
  std::remove(path.c_str());
}
