#include <qx/framework/design/DesignIntf.h>

#include <algorithm>

#include <qx/framework/design/StdEditors.h>

namespace {

constexpr const char* kAttrNames[] = {"paValueList",   "paSubProperties", "paDialog",
                                      "paMultiSelect", "paAutoUpdate",    "paSortList",
                                      "paReadOnly",    "paRevertable"};

struct EditorBinding {
  PTypeInfo Type;
  const TClassInfo* ComponentClass;
  String PropertyName;
  const TPropertyEditorClass* Editor;
  int Package;
};

struct PaletteEntry {
  String Page;
  const TClassInfo* Class;
  int Package;
};

// The designer runs on the main thread only, as Register does.
struct DesignRegistry {
  std::vector<EditorBinding> Editors;
  std::vector<PaletteEntry> Palette;
  std::vector<String> Log;
  int CurrentPackage = 0;
};
DesignRegistry& Reg() {
  static auto* r = new DesignRegistry();  // outlives the packages' static destructors
  return *r;
}

bool Matches(const EditorBinding& b, const TClassInfo* cls, const TPropInfo* prop) {
  if (b.Type != nullptr && b.Type->Kind != prop->Kind()) return false;
  if (b.ComponentClass != nullptr && (cls == nullptr || !cls->InheritsFrom(b.ComponentClass)))
    return false;
  return b.PropertyName.empty() || SameText(b.PropertyName, prop->Name());
}

const TPropertyEditorClass* EditorFor(const TClassInfo* cls, const TPropInfo* prop) {
  const auto& eds = Reg().Editors;
  for (auto it = eds.rbegin(); it != eds.rend(); ++it)
    if (Matches(*it, cls, prop)) return it->Editor;
  return DefaultEditorClass(prop);
}

}  // namespace

std::vector<String> PropertyAttributeNames(TPropertyAttributes attrs) {
  std::vector<String> out;
  for (uint32_t i = 0; i < std::size(kAttrNames); ++i)
    if (attrs & (1u << i)) out.push_back(kAttrNames[i]);
  return out;
}

TPropertyAttributes TPropertyEditor::GetAttributes() {
  return AttrSet({paRevertable});
}

void TPropertyEditor::GetValues(const TGetStrProc&) {}

String TPropertyEditor::GetValue() {
  return PropertyValueText(FRoot, FSelection.at(0), FProp);
}

void TPropertyEditor::SetValue(const String& Value) {
  for (TPersistent* obj : FSelection) SetPropertyFromText(FRoot, obj, FProp, Value);
}

std::vector<String> TPropertyEditor::ValueList() {
  std::vector<String> out;
  GetValues([&](const String& s) { out.push_back(s); });
  if (HasAttr(GetAttributes(), paSortList))
    std::stable_sort(out.begin(), out.end(),
                     [](const String& a, const String& b) { return LowerCase(a) < LowerCase(b); });
  return out;
}

TPropertyAttributes TStringProperty::GetAttributes() {
  return AttrSet({paMultiSelect, paRevertable});
}

template <>
PTypeInfo TypeInfo<String>() {
  static const TTypeInfo t{"string", TPropKind::String};
  return &t;
}
template <>
PTypeInfo TypeInfo<bool>() {
  static const TTypeInfo t{"Boolean", TPropKind::Boolean};
  return &t;
}
template <>
PTypeInfo TypeInfo<int32_t>() {
  static const TTypeInfo t{"Integer", TPropKind::Integer};
  return &t;
}

void RegisterPropertyEditor(PTypeInfo PropertyType, const TClassInfo* ComponentClass,
                            const String& PropertyName, const TPropertyEditorClass* EditorClass) {
  if (EditorClass == nullptr) throw Exception("RegisterPropertyEditor: no editor class");
  auto& r = Reg();
  r.Editors.push_back({PropertyType, ComponentClass, PropertyName, EditorClass, r.CurrentPackage});
  r.Log.push_back("RegisterPropertyEditor(" + (PropertyType ? PropertyType->Name : "nil") + ", " +
                  (ComponentClass ? ComponentClass->ClassName() : "nil") + ", '" + PropertyName +
                  "', " + EditorClass->Name + ")");
}

std::unique_ptr<TPropertyEditor> GetPropertyEditor(TComponent* root,
                                                   std::vector<TPersistent*> selection,
                                                   const TPropInfo* prop) {
  if (selection.empty() || prop == nullptr) return nullptr;
  const TClassInfo* cls = selection[0]->ClassInfo();
  const TPropertyEditorClass* ec = EditorFor(cls, prop);
  for (TPersistent* p : selection)
    if (EditorFor(p->ClassInfo(), prop) != ec) return nullptr;
  bool many = selection.size() > 1;
  auto ed = ec->Create(root, std::move(selection), prop);
  if (many && !HasAttr(ed->GetAttributes(), paMultiSelect)) return nullptr;
  return ed;
}

void RegisterComponents(const String& Page, std::vector<const TClassInfo*> ComponentClasses) {
  auto& r = Reg();
  String names;
  for (const TClassInfo* c : ComponentClasses) {
    if (c == nullptr) throw Exception("RegisterComponents: no class");
    names += (names.empty() ? "" : ", ") + c->ClassName();
    RegisterClass(c);
    bool known = std::any_of(r.Palette.begin(), r.Palette.end(),
                             [&](const PaletteEntry& e) { return e.Class == c; });
    if (!known) r.Palette.push_back({Page, c, r.CurrentPackage});
  }
  r.Log.push_back("RegisterComponents('" + Page + "', [" + names + "])");
}

std::vector<TPalettePage> PalettePages() {
  std::vector<TPalettePage> pages;
  for (const auto& e : Reg().Palette) {
    auto it = std::find_if(pages.begin(), pages.end(),
                           [&](const TPalettePage& p) { return p.Name == e.Page; });
    if (it == pages.end()) it = pages.insert(pages.end(), TPalettePage{e.Page, {}});
    it->Classes.push_back(e.Class);
  }
  return pages;
}

const TClassInfo* FindPaletteClass(std::string_view name) {
  for (const auto& e : Reg().Palette)
    if (SameText(e.Class->ClassName(), name)) return e.Class;
  return nullptr;
}

const std::vector<String>& RegistrationLog() {
  return Reg().Log;
}

void BeginPackageRegistration(int package) {
  Reg().CurrentPackage = package;
}

void EndPackageRegistration() {
  Reg().CurrentPackage = 0;
}

void UnregisterPackage(int package) {
  auto& r = Reg();
  std::erase_if(r.Editors, [&](const EditorBinding& b) { return b.Package == package; });
  std::erase_if(r.Palette, [&](const PaletteEntry& e) { return e.Package == package; });
}
