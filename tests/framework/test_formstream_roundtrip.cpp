// Form files: every value the writer produces reads back to the same value and writes back
// byte for byte; refused files run no component code; nesting, references outside the root, and
// the edges of numbers.
#include <gtest/gtest.h>

#include <random>

#include <qx/framework/core/FormStream.h>
#include "form_test_classes.h"

namespace {

// Writes, reads back into a fresh root with the same owner, and checks the second writing.
String RoundTrip(TComponent* root, TOwned<TComponent>& again) {
  String first = WriteComponentToText(root);
  again.reset(CreateComponentFromText(first, root->Owner(), "rt.qxf"));
  String second = WriteComponentToText(again.get());
  EXPECT_EQ(second, first);
  return first;
}

}  // namespace

TEST(FormRoundTrip, EveryPropertyTypeAtItsEdges) {
  struct Case {
    const char* what;
    std::function<void(TProbe&)> set;
    std::function<bool(const TProbe&, const TProbe&)> same;
  };
  auto text = [](String s) {
    return Case{"text", [s](TProbe& p) { p.FText = s; },
                [](const TProbe& a, const TProbe& b) { return a.FText == b.FText; }};
  };
  auto sig = [](int32_t v) {
    return Case{"signed", [v](TProbe& p) { p.FSigned = v; },
                [](const TProbe& a, const TProbe& b) { return a.FSigned == b.FSigned; }};
  };
  auto uns = [](uint32_t v) {
    return Case{"unsigned", [v](TProbe& p) { p.FUnsigned = v; },
                [](const TProbe& a, const TProbe& b) { return a.FUnsigned == b.FUnsigned; }};
  };
  auto flags = [](uint32_t v) {
    return Case{"set", [v](TProbe& p) { p.FFlags = v; },
                [](const TProbe& a, const TProbe& b) { return a.FFlags == b.FFlags; }};
  };
  auto color = [](TColor v) {
    return Case{"colour", [v](TProbe& p) { p.FColor = v; },
                [](const TProbe& a, const TProbe& b) { return a.FColor == b.FColor; }};
  };
  auto lines = [](std::vector<String> v) {
    return Case{"lines",
                [v](TProbe& p) {
                  for (auto& s : v) p.FLines.Add(s);
                },
                [](const TProbe& a, const TProbe& b) { return a.FLines == b.FLines; }};
  };
  const Case cases[] = {
      sig(INT32_MIN),
      sig(INT32_MAX),
      sig(-1),
      uns(UINT32_MAX),
      uns(0x80000000u),
      flags(0b101),
      flags(0b111),
      color(clFuchsia),
      color(-16777201),
      color(INT32_MAX),
      text("it's ''quoted'''"),
      text("\r\n\t\x01\x7f#13"),
      text(String("nul\0inside", 10)),
      text("caf\xC3\xA9 \xF0\x9F\x94\x8A"),
      text("\xFF\xFE not UTF-8"),
      lines({""}),
      lines({"a", "", "it's", "\x1b[0m"}),
      {"enum", [](TProbe& p) { p.FAlign = alClient; },
       [](const TProbe& a, const TProbe& b) { return a.FAlign == b.FAlign; }},
  };
  for (const Case& c : cases) {
    TOwned<TProbeForm> form(new TProbeForm(nullptr));
    form->SetName("Main");
    auto* p = new TProbe(form.get());
    p->SetName("P");
    c.set(*p);
    TOwned<TComponent> again;
    String file = RoundTrip(form.get(), again);
    auto* q = dynamic_cast<TProbe*>(again ? again->FindComponent("P") : nullptr);
    ASSERT_NE(q, nullptr) << c.what << "\n" << file;
    EXPECT_TRUE(c.same(*p, *q)) << c.what << "\n" << file;
  }
}

TEST(FormRoundTrip, ReferencesInsideAndOutsideTheRootAndEvents) {
  TOwned<TComponent> app(new TComponent(nullptr));
  auto* other = new TProbeForm(app.get());
  other->SetName("Other");
  auto* far = new TProbe(other);
  far->SetName("Far");
  auto* form = new TProbeForm(app.get());
  form->SetName("Main");
  auto* a = new TProbe(form);
  a->SetName("A");
  auto* b = new TProbe(form);
  b->SetName("B");
  a->FLink = b;
  b->FLink = far;
  a->FOnPoke = TNotifyEvent(form, &TProbeForm::Prod);
  auto* c = new TProbe(form);
  c->SetName("C");
  c->FLink = other;
  auto* d = new TProbe(form);
  d->SetName("D");
  d->FLink = form;

  String file = WriteComponentToText(form);
  EXPECT_NE(file.find("Link = Other.Far"), String::npos) << file;
  // The copy takes the name Main, so the original steps aside (and its root reference must not
  // follow the copy).
  form->SetName("Old");
  TOwned<TComponent> again(CreateComponentFromText(file, app.get(), "rt.qxf"));
  EXPECT_EQ(WriteComponentToText(again.get()), file);
  EXPECT_EQ(dynamic_cast<TProbe*>(again->FindComponent("D"))->FLink, again.get());
  auto* ra = dynamic_cast<TProbe*>(again->FindComponent("A"));
  auto* rb = dynamic_cast<TProbe*>(again->FindComponent("B"));
  auto* rc = dynamic_cast<TProbe*>(again->FindComponent("C"));
  ASSERT_TRUE(ra && rb && rc);
  EXPECT_EQ(ra->FLink, rb);
  EXPECT_EQ(rb->FLink, far);
  EXPECT_EQ(rc->FLink, other);
  EXPECT_EQ(ra->FOnPoke, TNotifyEvent(dynamic_cast<TProbeForm*>(again.get()), &TProbeForm::Prod));
}

// Random forms: random values of every kind, references among the components, boxes nested in
// boxes. Each must write, read and write again to the same text.
TEST(FormRoundTrip, GeneratedFormsRoundTrip) {
  std::mt19937 rng(20261208);
  auto pick = [&](int n) { return static_cast<int>(rng() % n); };
  const char* bits[] = {"", "'", "''", "#", "\r", "\n", "\t", "\x01", "a", "\xC3\xA9", " ", "+"};
  for (int round = 0; round < 150; ++round) {
    TOwned<TProbeForm> form(new TProbeForm(nullptr));
    form->SetName("F");
    std::vector<TProbe*> probes;
    std::vector<TBox*> boxes;
    int count = 1 + pick(12);
    for (int i = 0; i < count; ++i) {
      if (pick(3) == 0) {
        auto* box = new TBox(form.get());
        box->SetName("B" + IntToStr(i));
        if (!boxes.empty() && pick(2) == 0) box->SetParentComponent(boxes[pick(boxes.size())]);
        box->FSize = static_cast<int32_t>(rng());
        boxes.push_back(box);
        continue;
      }
      auto* p = new TProbe(form.get());
      if (pick(8) != 0) p->SetName("P" + IntToStr(i));
      p->FSigned = static_cast<int32_t>(rng());
      p->FUnsigned = rng();
      p->FFlags = rng() & 7;
      p->FAlign = static_cast<TAlign>(pick(6));
      p->FColor = pick(2) ? clRed : static_cast<TColor>(rng());
      for (int k = pick(6); k > 0; --k) p->FText += bits[pick(std::size(bits))];
      for (int k = pick(3); k > 0; --k) p->FLines.Add(bits[pick(std::size(bits))]);
      if (pick(3) == 0) p->FOnPoke = TNotifyEvent(form.get(), &TProbeForm::Poke);
      probes.push_back(p);
    }
    for (TProbe* p : probes)
      if (!probes.empty() && pick(2) == 0) p->FLink = probes[pick(probes.size())];
    TOwned<TComponent> again;
    String file = RoundTrip(form.get(), again);
    if (::testing::Test::HasFailure()) {
      ADD_FAILURE() << "round " << round << ":\n" << file;
      return;
    }
  }
}

TEST(FormRoundTrip, NumbersAcceptedAtTheEdgesOfTheirType) {
  struct Case {
    const char* value;
    const char* prop;
    bool accepted;
    int64_t read;  // the property afterwards, as a 64-bit number
  };
  const Case cases[] = {
      {"-2147483648", "Signed", true, INT32_MIN},
      {"2147483647", "Signed", true, INT32_MAX},
      {"2147483648", "Signed", false, 0},
      {"-2147483649", "Signed", false, 0},
      {"$FFFFFFFF", "Signed", true, -1},
      {"4294967295", "Unsigned", true, UINT32_MAX},
      {"4294967296", "Unsigned", false, 0},
      {"-1", "Unsigned", false, 0},
      {"$80000000", "Unsigned", true, 0x80000000},
      {"-16777201", "Color", true, -16777201},
      {"12ab", "Signed", false, 0},
      {"-", "Signed", false, 0},
  };
  for (const Case& c : cases) {
    String text = String("object F: TProbeForm\n  object P: TProbe\n    ") + c.prop + " = " +
                  c.value + "\n  end\nend\n";
    try {
      TOwned<TComponent> f(CreateComponentFromText(text, nullptr, "n.qxf"));
      auto* p = dynamic_cast<TProbe*>(f->FindComponent("P"));
      int64_t got = SameText(c.prop, "Signed")     ? p->FSigned
                    : SameText(c.prop, "Unsigned") ? int64_t(p->FUnsigned)
                                                   : p->FColor;
      EXPECT_TRUE(c.accepted) << c.value;
      EXPECT_EQ(got, c.read) << c.value;
    } catch (const Exception& e) {
      EXPECT_FALSE(c.accepted) << c.value << ": " << e.what();
      EXPECT_EQ(String(e.what()).rfind("n.qxf:3:", 0), 0u) << e.what();
    }
  }
}

TEST(FormRoundTrip, ARefusedReadRunsNoLoadedAndFreesWhatItBuilt) {
  // Each file fails only once components exist: at a reference's class, at placement, in a
  // setter. None may reach Loaded.
  const std::pair<const char*, const char*> cases[] = {
      {"object F: TProbeForm\n  object B: TBox\n  end\n  object P: TProbe\n    Link = B\n"
       "  end\n  object Q: TProbe\n    object R: TBox\n    end\n  end\nend\n",
       "r.qxf:8:5: a TBox cannot be placed inside a TProbe"},
      {"object F: TProbeForm\n  object P: TProbe\n    Link = Q.Nothing\n  end\n"
       "  object Q: TProbe\n  end\nend\n",
       "r.qxf:3:12: unknown component 'Q.Nothing'"},
      {"\xEF\xBB\xBFobject F: TProbeForm\n  object P: TProbe\n  end\n  object P2: TProbe\n"
       "    Flags = [fA, fZ]\n  end\nend\n",
       "r.qxf:5:13: 'fZ' is not a member of Flags"},
  };
  for (const auto& [text, says] : cases) {
    TProbe::LoadedCalls = 0;
    TOwned<TProbeForm> root(new TProbeForm(nullptr));
    try {
      ReadComponentFromText(root.get(), text, "r.qxf");
      ADD_FAILURE() << "accepted: " << text;
    } catch (const Exception& e) {
      EXPECT_EQ(String(e.what()), says);
    }
    EXPECT_EQ(TProbe::LoadedCalls, 0) << says;
    EXPECT_EQ(root->ComponentCount(), 0) << says;
    EXPECT_EQ(TProbe::Living, 0) << says;
    EXPECT_FALSE(root->IsLoading());
  }
}

TEST(FormRoundTrip, ByteOrderMarkAndDeepNesting) {
  String text = "\xEF\xBB\xBFobject F: TProbeForm\n";
  const int depth = 3000;
  for (int i = 0; i < depth; ++i) text += "object B" + IntToStr(i) + ": TBox\n";
  for (int i = 0; i <= depth; ++i) text += "end\n";
  TOwned<TComponent> f(CreateComponentFromText(text, nullptr));
  ASSERT_EQ(f->ComponentCount(), depth);
  EXPECT_EQ(f->Components(depth - 1)->GetParentComponent(), f->Components(depth - 2));
  TOwned<TComponent> again;
  String written = RoundTrip(f.get(), again);
  // Indentation stops growing, so the text stays proportional to the number of objects.
  EXPECT_LT(written.size(), size_t(depth) * 200);
}
