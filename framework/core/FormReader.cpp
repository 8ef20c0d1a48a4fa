// Building components from a form file: the file is checked against the classes first, then
// components are created and their properties applied, references and events last.
#include <fstream>
#include <sstream>
#include <unordered_map>
#include <unordered_set>

#include <qx/framework/core/FormStream.h>
#include <qx/framework/core/FormSyntax.h>

using namespace formfile;

namespace formfile {
namespace {

TComponent* FindOutside(TComponent* root, const String& name) {
  TComponent* top = root->Owner();
  if (top == nullptr) return nullptr;
  if (!top->Name().empty() && SameText(top->Name(), name)) return top;
  return top->FindComponent(name);
}

TComponent* FindInRoot(TComponent* root, const String& name) {
  if (!root->Name().empty() && SameText(root->Name(), name)) return root;
  return root->FindComponent(name);
}

}  // namespace

TComponent* ResolveReference(TComponent* root, const String& name) {
  size_t dot = name.find('.');
  if (dot == String::npos) {
    TComponent* c = FindInRoot(root, name);
    return c != nullptr ? c : FindOutside(root, name);
  }
  String head = name.substr(0, dot), tail = name.substr(dot + 1);
  if (tail.find('.') != String::npos) return nullptr;
  TComponent* owner = FindInRoot(root, head);
  if (owner == nullptr) owner = FindOutside(root, head);
  return owner == nullptr ? nullptr : owner->FindComponent(tail);
}

}  // namespace formfile

namespace {

// ---------------------------------------------------------------------------------------------
// Checking the file against the classes, then building components from it

struct Fixup {
  TComponent* Obj;
  const TPropInfo* Prop;
  const Value* V;
};

class Builder {
 public:
  Builder(TComponent* root, const String& file, bool designing, const TFormReadHook& afterRead = {})
      : FRoot(root), FFile(file), FDesigning(designing), FAfterRead(afterRead) {}

  // Checks everything the file alone can tell before any component is made; then builds. A
  // refused file runs no Loaded: what was created is freed and the root leaves the loading
  // state without it.
  void Build(std::vector<ObjNode>& nodes) {
    Check(nodes);
    FComps.assign(nodes.size(), nullptr);
    try {
      BuildAll(nodes);
      if (FAfterRead) Guard(nodes[0].Line, nodes[0].Col, [&] { FAfterRead(FRoot); });
      Loaded(nodes);
    } catch (...) {
      for (size_t i = nodes.size(); i-- > 1;) TObject::Free(FComps[i]);
      FRoot->ClearLoadingState();
      throw;
    }
  }

 private:
  [[noreturn]] void Fail(int line, int col, const String& msg) {
    throw FormError(FFile, line, col, msg);
  }

  void Check(std::vector<ObjNode>& nodes) {
    std::unordered_set<String> names;  // lower-case names of the file's components
    for (size_t i = 0; i < nodes.size(); ++i) {
      ObjNode& n = nodes[i];
      if (i == 0) {
        n.Class = FRoot->ClassInfo();
      } else {
        n.Class = FindClass(n.ClassName);
        if (n.Class == nullptr) Fail(n.Line, n.Col, "unknown class '" + n.ClassName + "'");
        if (!n.Class->Creatable() || !n.Class->InheritsFrom(TComponent::StaticClassInfo()))
          Fail(n.Line, n.Col, "class '" + n.ClassName + "' cannot be created");
        if (!n.Name.empty()) {
          TComponent* existing = FRoot->FindComponent(n.Name);
          if (!names.insert(LowerCase(n.Name)).second || existing != nullptr)
            Fail(n.Line, n.Col, "A component named " + n.Name + " already exists");
          n.Field = FRoot->ClassInfo()->FindField(n.Name);
          if (n.Field != nullptr && !n.Class->InheritsFrom(n.Field->Class))
            Fail(n.Line, n.Col,
                 "field " + n.Name + " holds a " + n.Field->Class->ClassName() + ", not a " +
                     n.ClassName);
        }
      }
      for (PropNode& p : n.Props) CheckProp(n, p);
    }
    for (const ObjNode& n : nodes)
      for (const PropNode& p : n.Props)
        if (p.Prop->Kind() == TPropKind::Component && p.V.Text.find('.') == String::npos &&
            !SameText(p.V.Text, "nil") && !names.count(LowerCase(p.V.Text)) &&
            !(SameText(p.V.Text, nodes[0].Name.empty() ? FRoot->Name() : nodes[0].Name)) &&
            ResolveReference(FRoot, p.V.Text) == nullptr)
          Fail(p.V.Line, p.V.Col, "unknown component '" + p.V.Text + "'");
  }

  void CheckProp(const ObjNode& n, PropNode& p) {
    const TPropInfo* prop = n.Class->FindProperty(p.Path[0]);
    String who = n.Class->ClassName();
    if (prop == nullptr || SameText(prop->Name(), "Name"))
      Fail(p.Line, p.Col, "unknown property '" + p.Path[0] + "' of " + who);
    bool stringsPath =
        p.Path.size() == 2 && SameText(p.Path[1], "Strings") && prop->Kind() == TPropKind::Strings;
    if (p.Path.size() > 1 && !stringsPath) {
      String full = p.Path[0];
      for (size_t i = 1; i < p.Path.size(); ++i) full += "." + p.Path[i];
      Fail(p.Line, p.Col, "unknown property '" + full + "' of " + who);
    }
    if (prop->IsReadOnly()) Fail(p.Line, p.Col, "property " + prop->Name() + " is read-only");
    p.Prop = prop;
    const Value& v = p.V;
    auto bad = [&]() { Fail(v.Line, v.Col, "invalid value for " + prop->Name()); };
    switch (prop->Kind()) {
      case TPropKind::Boolean:
      case TPropKind::Enum: {
        if (v.K != Value::Ident) bad();
        const auto& names = prop->EnumNames();
        for (size_t i = 0; i < names.size(); ++i)
          if (SameText(names[i], v.Text)) {
            p.Ord = static_cast<int64_t>(i);
            return;
          }
        bad();
        return;
      }
      case TPropKind::Set: {
        if (v.K != Value::Set) bad();
        const auto& names = prop->EnumNames();
        for (const String& item : v.Items) {
          size_t i = 0;
          while (i < names.size() && !SameText(names[i], item)) ++i;
          if (i == names.size())
            Fail(v.Line, v.Col, "'" + item + "' is not a member of " + prop->Name());
          p.Ord |= int64_t(1) << i;
        }
        return;
      }
      case TPropKind::Integer: {
        if (v.K != Value::Num) bad();
        int64_t n = v.Number;
        // Hexadecimal is a 32-bit pattern: $FFFFFFFF is -1 where the property is signed.
        if (v.Hex && n > prop->OrdMax() && prop->OrdMin() < 0 && n <= UINT32_MAX)
          n = static_cast<int32_t>(static_cast<uint32_t>(n));
        if (n < prop->OrdMin() || n > prop->OrdMax())
          Fail(v.Line, v.Col,
               "value " + IntToStr(v.Number) + " is out of range for " + prop->Name());
        p.Ord = n;
        return;
      }
      case TPropKind::Color: {
        TColor c;
        if (v.K == Value::Num) {
          if (v.Number > INT32_MAX && !v.Hex) bad();
          c = static_cast<TColor>(static_cast<uint32_t>(v.Number));
        } else if (v.K != Value::Ident || !StringToColor(v.Text, c)) {
          bad();
        }
        p.Ord = c;
        return;
      }
      case TPropKind::String:
        if (v.K != Value::Str) bad();
        return;
      case TPropKind::Strings:
        if (v.K != Value::List) bad();
        return;
      case TPropKind::Component:
        if (v.K != Value::Ident) bad();
        return;
      case TPropKind::Event:
        if (v.K != Value::Ident) bad();
        {
          const TMethodEntry* m = FRoot->ClassInfo()->FindMethod(v.Text);
          if (m == nullptr)
            Fail(v.Line, v.Col, FRoot->ClassName() + " has no published method '" + v.Text + "'");
          if (m->Type != prop->EventType())
            Fail(v.Line, v.Col, "method '" + v.Text + "' does not fit event " + prop->Name());
        }
        return;
    }
  }

  void BuildAll(const std::vector<ObjNode>& nodes) {
    if (FDesigning) FRoot->SetDesigning(true);
    FRoot->SetLoadingState();
    FComps[0] = FRoot;
    for (size_t i = 0; i < nodes.size(); ++i) {
      const ObjNode& node = nodes[i];
      if (i > 0) {
        TComponent* c = nullptr;
        Guard(node.Line, node.Col, [&] { c = node.Class->Create(FRoot); });
        FComps[i] = c;
        c->SetLoadingState();
      }
      TComponent* c = FComps[i];
      Guard(node.Line, node.Col, [&] {
        if (i == 0 && node.Name.empty()) return;
        c->SetName(node.Name);
        if (node.Field != nullptr) node.Field->Set(FRoot, c);
        // Controls directly under the root are parented by it too.
        if (i > 0) c->SetParentComponent(FComps[node.Parent]);
      });
      for (const PropNode& p : node.Props) Apply(c, p);
    }
    CheckPlacement(nodes);
    // Events and references are resolved once every component exists; events first, so that a
    // component taking over another's handler when its reference arrives saves the streamed one.
    for (const Fixup& f : FEvents) {
      const TMethodEntry* m = FRoot->ClassInfo()->FindMethod(f.V->Text);
      Guard(f.V->Line, f.V->Col, [&] { f.Prop->SetEvent(f.Obj, m->Bind(FRoot)); });
    }
    for (const Fixup& f : FRefs) {
      const String& name = f.V->Text;
      TComponent* target = SameText(name, "nil") ? nullptr : ResolveReference(FRoot, name);
      if (target == nullptr && !SameText(name, "nil"))
        Fail(f.V->Line, f.V->Col, "unknown component '" + name + "'");
      if (target != nullptr && !f.Prop->AcceptsComponent(target))
        Fail(f.V->Line, f.V->Col, "'" + name + "' is not a valid value for " + f.Prop->Name());
      Guard(f.V->Line, f.V->Col, [&] { f.Prop->SetComponent(f.Obj, target); });
    }
  }

  // Each object must be one its container writes back under itself (a panel inside a timer
  // would be read and then lost on the next save). A component is written under one container
  // at most: one table for the whole file, however deep it nests.
  void CheckPlacement(const std::vector<ObjNode>& nodes) {
    std::unordered_map<const TComponent*, size_t> writtenUnder;
    writtenUnder.reserve(nodes.size());
    for (size_t i = 0; i < nodes.size(); ++i)
      if (nodes[i].HasChildren)
        FComps[i]->GetChildren([&](TComponent* c) { writtenUnder.emplace(c, i); }, FRoot);
    for (size_t k = 1; k < nodes.size(); ++k) {
      auto it = writtenUnder.find(FComps[k]);
      if (it != writtenUnder.end() && it->second == nodes[k].Parent) continue;
      const ObjNode& n = nodes[k];
      Fail(n.Line, n.Col,
           "a " + n.ClassName + " cannot be placed inside a " + nodes[n.Parent].Class->ClassName());
    }
  }

  // Every component in file order, the root last: its Loaded (a form's OnCreate, its showing)
  // sees a form whose components are all complete.
  void Loaded(const std::vector<ObjNode>& nodes) {
    for (size_t k = 1; k <= FComps.size(); ++k) {
      size_t i = k % FComps.size();
      TComponent* c = FComps[i];
      Guard(nodes[i].Line, nodes[i].Col, [&] { c->Loaded(); });
      c->ClearLoadingState();  // an override that forgot the inherited call
    }
  }

  void Apply(TComponent* obj, const PropNode& p) {
    const TPropInfo* prop = p.Prop;
    const Value& v = p.V;
    switch (prop->Kind()) {
      case TPropKind::Boolean:
      case TPropKind::Enum:
      case TPropKind::Set:
      case TPropKind::Integer:
      case TPropKind::Color:
        Guard(v.Line, v.Col, [&] { prop->SetOrd(obj, p.Ord); });
        return;
      case TPropKind::String:
        Guard(v.Line, v.Col, [&] { prop->SetStr(obj, v.Text); });
        return;
      case TPropKind::Strings: {
        Guard(v.Line, v.Col, [&] {
          // The stored lines go into the existing list; the setter is not called.
          TStrings* list = prop->GetStrings(obj);
          if (list != nullptr) {
            list->Clear();
            for (const auto& s : v.Items) list->Add(s);
          } else {
            TStringList tmp;
            for (const auto& s : v.Items) tmp.Add(s);
            prop->SetStrings(obj, &tmp);
          }
        });
        return;
      }
      case TPropKind::Component:
        FRefs.push_back({obj, prop, &v});
        return;
      case TPropKind::Event:
        FEvents.push_back({obj, prop, &v});
        return;
    }
  }

  // Turns an exception from a setter or constructor into a positioned error.
  template <class F>
  void Guard(int line, int col, F&& f) {
    try {
      f();
    } catch (const FormError&) {
      throw;
    } catch (const std::exception& e) {
      Fail(line, col, e.what());
    }
  }

  TComponent* FRoot;
  const String& FFile;
  bool FDesigning;
  TFormReadHook FAfterRead;
  std::vector<TComponent*> FComps;  // by node index; [0] is the root
  std::vector<Fixup> FRefs, FEvents;
};

String ReadFile(const String& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw Exception(path + ": cannot open the file");
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

}  // namespace

void ReadComponentFromText(TComponent* root, const String& text, const String& fileName,
                           bool designing, const TFormReadHook& afterRead) {
  std::vector<ObjNode> nodes = ParseText(text, fileName);
  const TClassInfo* cls = FindClass(nodes[0].ClassName);
  if (cls == nullptr || !root->ClassInfo()->InheritsFrom(cls))
    throw FormError(fileName, nodes[0].Line, nodes[0].Col,
                    "the file describes a " + nodes[0].ClassName + ", not a " + root->ClassName());
  Builder(root, fileName, designing, afterRead).Build(nodes);
}

TComponent* CreateComponentFromText(const String& text, TComponent* owner, const String& fileName,
                                    bool designing) {
  std::vector<ObjNode> nodes = ParseText(text, fileName);
  const ObjNode& top = nodes[0];
  const TClassInfo* cls = FindClass(top.ClassName);
  if (cls == nullptr)
    throw FormError(fileName, top.Line, top.Col, "unknown class '" + top.ClassName + "'");
  if (!cls->Creatable() || !cls->InheritsFrom(TComponent::StaticClassInfo()))
    throw FormError(fileName, top.Line, top.Col, "class '" + top.ClassName + "' cannot be created");
  TOwned<TComponent> root(cls->Create(owner));
  if (designing) root->SetDesigning(true);
  Builder(root.get(), fileName, designing).Build(nodes);
  return root.release();
}

void ReadComponentFromFile(TComponent* root, const String& path, bool designing) {
  ReadComponentFromText(root, ReadFile(path), path, designing);
}

TComponent* CreateComponentFromFile(const String& path, TComponent* owner, bool designing) {
  return CreateComponentFromText(ReadFile(path), owner, path, designing);
}
