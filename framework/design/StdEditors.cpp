#include <qx/framework/design/StdEditors.h>

#include <qx/framework/core/FormStream.h>

namespace {

TPropertyAttributes Marked(const TPropInfo* p, TPropertyAttributes a) {
  // Nothing to put back where nothing can be written.
  return p->IsReadOnly() ? (a | AttrSet({paReadOnly})) & ~AttrSet({paRevertable}) : a;
}

String Trim(const String& s) {
  size_t b = s.find_first_not_of(" \t"), e = s.find_last_not_of(" \t");
  return b == String::npos ? String() : s.substr(b, e - b + 1);
}

[[noreturn]] void Invalid(const TPropInfo* p, const String& text) {
  throw Exception("'" + text + "' is not a valid value for " + p->Name());
}

int64_t OrdinalOf(const TPropInfo* p, const String& text) {
  const auto& names = p->EnumNames();
  for (size_t i = 0; i < names.size(); ++i)
    if (SameText(names[i], Trim(text))) return static_cast<int64_t>(i);
  Invalid(p, text);
}

class TStringPropertyEd : public TStringProperty {
 public:
  static constexpr const char* EditorName = "TStringProperty";
  using TStringProperty::TStringProperty;
  TPropertyAttributes GetAttributes() override {
    return Marked(FProp, TStringProperty::GetAttributes());
  }
};

class TIntegerProperty : public TPropertyEditor {
 public:
  static constexpr const char* EditorName = "TIntegerProperty";
  using TPropertyEditor::TPropertyEditor;
  TPropertyAttributes GetAttributes() override {
    return Marked(FProp, AttrSet({paMultiSelect, paRevertable}));
  }
};

class TSetProperty : public TPropertyEditor {
 public:
  static constexpr const char* EditorName = "TSetProperty";
  using TPropertyEditor::TPropertyEditor;
  TPropertyAttributes GetAttributes() override {
    return Marked(FProp, AttrSet({paMultiSelect, paRevertable}));
  }
};

// Names listed in ordinal order: enumerations, Booleans and colours.
class TEnumProperty : public TPropertyEditor {
 public:
  static constexpr const char* EditorName = "TEnumProperty";
  using TPropertyEditor::TPropertyEditor;
  TPropertyAttributes GetAttributes() override {
    return Marked(FProp, AttrSet({paValueList, paMultiSelect, paSortList, paRevertable}));
  }
  void GetValues(const TGetStrProc& Proc) override {
    for (const String& n : FProp->EnumNames()) Proc(n);
  }
};

class TColorProperty : public TPropertyEditor {
 public:
  static constexpr const char* EditorName = "TColorProperty";
  using TPropertyEditor::TPropertyEditor;
  TPropertyAttributes GetAttributes() override {
    return Marked(FProp, AttrSet({paValueList, paMultiSelect, paRevertable}));
  }
  void GetValues(const TGetStrProc& Proc) override {
    for (const char* n :
         {"clBlack", "clMaroon", "clGreen", "clOlive", "clNavy", "clPurple", "clTeal", "clGray",
          "clSilver", "clRed", "clLime", "clYellow", "clBlue", "clFuchsia", "clAqua", "clWhite"})
      Proc(n);
  }
};

class TComponentProperty : public TPropertyEditor {
 public:
  static constexpr const char* EditorName = "TComponentProperty";
  using TPropertyEditor::TPropertyEditor;
  TPropertyAttributes GetAttributes() override {
    return AttrSet({paValueList, paMultiSelect, paSortList, paRevertable});
  }
  void GetValues(const TGetStrProc& Proc) override {
    if (FRoot == nullptr) return;
    if (!FRoot->Name().empty() && FProp->AcceptsComponent(FRoot)) Proc(FRoot->Name());
    for (int i = 0; i < FRoot->ComponentCount(); ++i) {
      TComponent* c = FRoot->Components(i);
      if (!c->Name().empty() && FProp->AcceptsComponent(c)) Proc(c->Name());
    }
  }
};

class TMethodProperty : public TPropertyEditor {
 public:
  static constexpr const char* EditorName = "TMethodProperty";
  using TPropertyEditor::TPropertyEditor;
  TPropertyAttributes GetAttributes() override {
    return AttrSet({paValueList, paMultiSelect, paSortList, paRevertable});
  }
  void GetValues(const TGetStrProc& Proc) override {
    if (FRoot == nullptr) return;
    for (const TMethodEntry* m : FRoot->ClassInfo()->Methods())
      if (m->Type == FProp->EventType()) Proc(m->Name);
  }
};

class TStringsProperty : public TPropertyEditor {
 public:
  static constexpr const char* EditorName = "TStringsProperty";
  using TPropertyEditor::TPropertyEditor;
  TPropertyAttributes GetAttributes() override {
    return AttrSet({paDialog, paMultiSelect, paRevertable});
  }
};

}  // namespace

const TPropertyEditorClass* DefaultEditorClass(const TPropInfo* prop) {
  switch (prop->Kind()) {
    case TPropKind::String:
      return EditorClassOf<TStringPropertyEd>();
    case TPropKind::Integer:
      return EditorClassOf<TIntegerProperty>();
    case TPropKind::Boolean:
    case TPropKind::Enum:
      return EditorClassOf<TEnumProperty>();
    case TPropKind::Set:
      return EditorClassOf<TSetProperty>();
    case TPropKind::Color:
      return EditorClassOf<TColorProperty>();
    case TPropKind::Component:
      return EditorClassOf<TComponentProperty>();
    case TPropKind::Strings:
      return EditorClassOf<TStringsProperty>();
    case TPropKind::Event:
      return EditorClassOf<TMethodProperty>();
  }
  return EditorClassOf<TStringPropertyEd>();
}

String PropertyValueText(TComponent* root, const TPersistent* obj, const TPropInfo* p) {
  switch (p->Kind()) {
    case TPropKind::String:
      return p->GetStr(obj);
    case TPropKind::Integer:
      return IntToStr(p->GetOrd(obj));
    case TPropKind::Boolean:
    case TPropKind::Enum: {
      int64_t v = p->GetOrd(obj);
      const auto& names = p->EnumNames();
      return v >= 0 && v < static_cast<int64_t>(names.size()) ? names[v] : IntToStr(v);
    }
    case TPropKind::Set: {
      int64_t v = p->GetOrd(obj);
      String items;
      const auto& names = p->EnumNames();
      for (size_t i = 0; i < names.size() && i < 63; ++i)
        if (v & (int64_t(1) << i)) items += (items.empty() ? "" : ", ") + names[i];
      return "[" + items + "]";
    }
    case TPropKind::Color:
      return ColorToString(static_cast<TColor>(p->GetOrd(obj)));
    case TPropKind::Component: {
      TComponent* c = p->GetComponent(obj);
      return c == nullptr ? String() : c->Name();
    }
    case TPropKind::Strings: {
      TStrings* s = p->GetStrings(obj);
      String out;
      for (int i = 0; s != nullptr && i < s->Count(); ++i) out += (i ? ", " : "") + s->Get(i);
      return out;
    }
    case TPropKind::Event: {
      if (root == nullptr) return "";
      std::any ev = p->GetEvent(obj);
      for (const TMethodEntry* m : root->ClassInfo()->Methods())
        if (m->Type == p->EventType() && m->Matches(ev, root)) return m->Name;
      return "";
    }
  }
  return "";
}

void SetPropertyFromText(TComponent* root, TPersistent* obj, const TPropInfo* p,
                         const String& text) {
  if (p->IsReadOnly()) throw Exception("property " + p->Name() + " is read-only");
  switch (p->Kind()) {
    case TPropKind::String:
      p->SetStr(obj, text);
      return;
    case TPropKind::Integer: {
      int32_t v;
      if (!TryStrToInt(Trim(text), v) || v < p->OrdMin() || v > p->OrdMax()) Invalid(p, text);
      p->SetOrd(obj, v);
      return;
    }
    case TPropKind::Boolean:
    case TPropKind::Enum:
      p->SetOrd(obj, OrdinalOf(p, text));
      return;
    case TPropKind::Set: {
      String t = Trim(text);
      if (t.size() < 2 || t.front() != '[' || t.back() != ']') Invalid(p, text);
      int64_t mask = 0;
      String body = t.substr(1, t.size() - 2);
      size_t start = 0;
      while (!Trim(body).empty() && start <= body.size()) {
        size_t comma = body.find(',', start);
        String item = body.substr(start, comma == String::npos ? String::npos : comma - start);
        mask |= int64_t(1) << OrdinalOf(p, item);
        if (comma == String::npos) break;
        start = comma + 1;
      }
      p->SetOrd(obj, mask);
      return;
    }
    case TPropKind::Color: {
      TColor c;
      int32_t n;
      if (StringToColor(Trim(text), c))
        p->SetOrd(obj, c);
      else if (TryStrToInt(Trim(text), n))
        p->SetOrd(obj, n);
      else
        Invalid(p, text);
      return;
    }
    case TPropKind::Component: {
      String name = Trim(text);
      if (name.empty()) {
        p->SetComponent(obj, nullptr);
        return;
      }
      TComponent* c = nullptr;
      if (root != nullptr) c = SameText(root->Name(), name) ? root : root->FindComponent(name);
      if (c == nullptr) throw Exception("no component named '" + name + "' for " + p->Name());
      if (!p->AcceptsComponent(c))
        throw Exception(name + " (" + c->ClassName() + ") does not fit " + p->Name());
      p->SetComponent(obj, c);
      return;
    }
    case TPropKind::Strings: {
      TStringList lines;
      size_t start = 0;
      while (!text.empty() && start <= text.size()) {
        size_t comma = text.find(',', start);
        lines.Add(Trim(text.substr(start, comma == String::npos ? String::npos : comma - start)));
        if (comma == String::npos) break;
        start = comma + 1;
      }
      p->SetStrings(obj, &lines);
      return;
    }
    case TPropKind::Event: {
      String name = Trim(text);
      if (name.empty()) {
        p->SetEvent(obj, std::any());
        return;
      }
      const TMethodEntry* m = root ? root->ClassInfo()->FindMethod(name) : nullptr;
      if (m == nullptr || m->Type != p->EventType())
        throw Exception("the form has no method '" + name + "' that fits " + p->Name());
      p->SetEvent(obj, m->Bind(root));
      return;
    }
  }
}
