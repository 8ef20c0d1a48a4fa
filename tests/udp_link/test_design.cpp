// The UDP package in a designer: what its Register does, and the line-end editor.
#include <gtest/gtest.h>

#include <qx/framework/design/FormDesigner.h>
#include <qx/framework/design/Package.h>
#include <qx/udp_link/QxUDPS.h>
#include <qx/udp_link/QxUDPSReg.h>

namespace {

const TPropertyAttributes kLineEndAttrs =
    AttrSet({paValueList, paMultiSelect, paSortList, paRevertable});

class UdpDesign : public ::testing::Test {
 protected:
  // Registered as the package would be, and taken back afterwards.
  static constexpr int kPackage = 9001;
  void SetUp() override {
    BeginPackageRegistration(kPackage);
    QxUDPSReg::Register();
    EndPackageRegistration();
    designer.NewForm(FindClass("TForm"), "Main");
    a = static_cast<TQxUDPS*>(designer.Drop(TQxUDPS::StaticClassInfo(), "A"));
    b = static_cast<TQxUDPS*>(designer.Drop(TQxUDPS::StaticClassInfo(), "B"));
  }
  void TearDown() override { UnregisterPackage(kPackage); }
  std::unique_ptr<TPropertyEditor> Editor(std::vector<TComponent*> sel, const char* prop) {
    return designer.Editor(sel, TFormDesigner::Property(sel[0], prop));
  }
  TFormDesigner designer;
  TQxUDPS* a = nullptr;
  TQxUDPS* b = nullptr;
};

}  // namespace

TEST(UdpPackage, LoadingCallsRegisterOnceInOrderAndUnloadingTakesItBack) {
  size_t before = RegistrationLog().size();
  {
    TDesignPackage p(QX_UDP_PACKAGE);
    std::vector<String> calls(RegistrationLog().begin() + before, RegistrationLog().end());
    EXPECT_EQ(calls,
              (std::vector<String>{
                  "RegisterComponents('Velmor', [TQxUDPS])",
                  "RegisterPropertyEditor(string, TQxUDPS, 'UDPLineEndRx', TLineEndProperty)",
                  "RegisterPropertyEditor(string, TQxUDPS, 'UDPLineEndTx', TLineEndProperty)",
              }));
    EXPECT_EQ(FindPaletteClass("TQxUDPS"), TQxUDPS::StaticClassInfo());
  }
  EXPECT_EQ(FindPaletteClass("TQxUDPS"), nullptr);
}

TEST(UdpPackage, ApplicationThatLinksItRegistersNothing) {
  TOwned<TQxUDPS> u(new TQxUDPS(nullptr));
  EXPECT_EQ(FindPaletteClass("TQxUDPS"), nullptr);
  EXPECT_NE(FindClass("TQxUDPS"), nullptr);  // form files can still create it
}

TEST_F(UdpDesign, LineEndsOfferCrThenCrlfAndOtherTextPropertiesNothing) {
  struct Case {
    const char* Prop;
    TPropertyAttributes Attrs;
    std::vector<String> Values;
  };
  const Case cases[] = {
      {"UDPLineEndRx", kLineEndAttrs, {"CR", "CRLF"}},
      {"UDPLineEndTx", kLineEndAttrs, {"CR", "CRLF"}},
      {"UDPRxPort", AttrSet({paMultiSelect, paRevertable}), {}},
      {"UDPLocalIP", AttrSet({paMultiSelect, paRevertable}), {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Prop);
    auto one = Editor({a}, c.Prop);
    EXPECT_EQ(one->GetAttributes(), c.Attrs);
    EXPECT_EQ(one->ValueList(), c.Values);
    std::vector<String> direct;  // in the order GetValues gives them, unsorted
    one->GetValues([&](const String& s) { direct.push_back(s); });
    EXPECT_EQ(direct, c.Values);
    // Two components selected together still get the editor and its list.
    auto both = Editor({a, b}, c.Prop);
    ASSERT_NE(both, nullptr);
    EXPECT_EQ(both->ValueList(), c.Values);
  }
  EXPECT_EQ(PropertyAttributeNames(kLineEndAttrs),
            (std::vector<String>{"paValueList", "paMultiSelect", "paSortList", "paRevertable"}));
}

TEST_F(UdpDesign, TypedLineEndsAreStoredAsTypedOnEverySelectedComponent) {
  for (const char* typed : {"CRLF", "LF", "", "cr"}) {
    SCOPED_TRACE(typed);
    Editor({a, b}, "UDPLineEndRx")->SetValue(typed);
    EXPECT_EQ(a->UDPLineEndRx(), typed);
    EXPECT_EQ(b->UDPLineEndRx(), typed);
    EXPECT_EQ(Editor({a}, "UDPLineEndRx")->GetValue(), typed);
  }
  designer.Revert(a, TFormDesigner::Property(a, "UDPLineEndRx"));
  EXPECT_EQ(a->UDPLineEndRx(), "");
}

TEST_F(UdpDesign, ActivatingInTheDesignerLeavesItInactive) {
  Editor({a}, "UDPActive")->SetValue("True");
  EXPECT_FALSE(a->UDPActive());
  EXPECT_EQ(a->BoundPort(), 0);
}
