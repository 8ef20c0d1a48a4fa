// The designer interface: property editors (what the object inspector shows and offers for a
// published property of the selected components), their registration by type, class and name,
// and the palette of component classes that packages register.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include <qx/framework/core/Classes.h>

// ---------------------------------------------------------------------------------------------
// Property editors

enum TPropertyAttribute : uint32_t {
  paValueList,
  paSubProperties,
  paDialog,
  paMultiSelect,
  paAutoUpdate,
  paSortList,
  paReadOnly,
  paRevertable,
};
using TPropertyAttributes = uint32_t;  // bit i for attribute i
constexpr TPropertyAttributes AttrSet(std::initializer_list<TPropertyAttribute> attrs) {
  TPropertyAttributes s = 0;
  for (auto a : attrs) s |= 1u << a;
  return s;
}
constexpr bool HasAttr(TPropertyAttributes s, TPropertyAttribute a) {
  return (s & (1u << a)) != 0;
}
// The attributes' names ("paValueList", ...), in ordinal order.
std::vector<String> PropertyAttributeNames(TPropertyAttributes attrs);

using TGetStrProc = std::function<void(const String&)>;

// Edits one property of one or more selected components, as text. `root` is the form being
// designed: component references and event methods are looked up there.
class TPropertyEditor {
 public:
  TPropertyEditor(TComponent* root, std::vector<TPersistent*> selection, const TPropInfo* prop)
      : FRoot(root), FSelection(std::move(selection)), FProp(prop) {}
  virtual ~TPropertyEditor() = default;

  virtual TPropertyAttributes GetAttributes();
  virtual void GetValues(const TGetStrProc& Proc);
  // The first selected component's value as text.
  virtual String GetValue();
  // Writes the value through the property's setter on every selected component; throws
  // Exception for text the property cannot hold.
  virtual void SetValue(const String& Value);

  const TPropInfo* GetPropInfo() const { return FProp; }
  const String& GetName() const { return FProp->Name(); }
  int PropCount() const { return static_cast<int>(FSelection.size()); }
  TPersistent* GetComponent(int index) const { return FSelection.at(index); }
  // GetValues collected, sorted when the editor asks for it.
  std::vector<String> ValueList();

 protected:
  TComponent* FRoot;
  std::vector<TPersistent*> FSelection;
  const TPropInfo* FProp;
};

// The ordinary editor of text properties: any text, stored as typed.
class TStringProperty : public TPropertyEditor {
 public:
  using TPropertyEditor::TPropertyEditor;
  TPropertyAttributes GetAttributes() override;
};

// What RegisterPropertyEditor takes: a name and a way to make an editor of that class.
struct TPropertyEditorClass {
  String Name;
  std::function<std::unique_ptr<TPropertyEditor>(TComponent*, std::vector<TPersistent*>,
                                                 const TPropInfo*)>
      Create;
};
// The class reference of an editor class E (E::EditorName names it).
template <class E>
const TPropertyEditorClass* EditorClassOf() {
  static const TPropertyEditorClass cls{
      E::EditorName, [](TComponent* root, std::vector<TPersistent*> sel, const TPropInfo* p) {
        return std::unique_ptr<TPropertyEditor>(new E(root, std::move(sel), p));
      }};
  return &cls;
}

// The type a property editor is registered for.
struct TTypeInfo {
  String Name;
  TPropKind Kind;
};
using PTypeInfo = const TTypeInfo*;
template <class T>
PTypeInfo TypeInfo();
template <>
PTypeInfo TypeInfo<String>();
template <>
PTypeInfo TypeInfo<bool>();
template <>
PTypeInfo TypeInfo<int32_t>();

// Binds an editor class to properties of a type; with a component class, only on that class and
// its descendants; with a property name, only to properties of that name. The latest matching
// registration wins.
void RegisterPropertyEditor(PTypeInfo PropertyType, const TClassInfo* ComponentClass,
                            const String& PropertyName, const TPropertyEditorClass* EditorClass);

// The editor the inspector uses for `prop` on the selection (all of one class), or nullptr when
// the property cannot be edited for several components at once.
std::unique_ptr<TPropertyEditor> GetPropertyEditor(TComponent* root,
                                                   std::vector<TPersistent*> selection,
                                                   const TPropInfo* prop);

// ---------------------------------------------------------------------------------------------
// The palette

// Puts the classes on a palette page (created on first use), after what is there; also makes
// them known by name to the form reader.
void RegisterComponents(const String& Page, std::vector<const TClassInfo*> ComponentClasses);

struct TPalettePage {
  String Name;
  std::vector<const TClassInfo*> Classes;
};
std::vector<TPalettePage> PalettePages();
const TClassInfo* FindPaletteClass(std::string_view name);

// Every registration call, in order, as the designer received it: "RegisterComponents(page,
// [classes])" or "RegisterPropertyEditor(type, class, property, editor)".
const std::vector<String>& RegistrationLog();

// Registrations made while a package's Register runs belong to that package, and go when it
// is unloaded.
void BeginPackageRegistration(int package);
void EndPackageRegistration();
void UnregisterPackage(int package);
