#include <qx/framework/design/FormDesigner.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>

#include <qx/framework/core/FormStream.h>

TFormDesigner::TFormDesigner() : FOwner(new TComponent(nullptr)) {
  FOwner->SetDesigning(true);
}

TFormDesigner::~TFormDesigner() = default;  // the owner frees the form

void TFormDesigner::NewForm(const TClassInfo* cls, const String& name) {
  if (cls == nullptr || !cls->Creatable() || !cls->InheritsFrom(TComponent::StaticClassInfo()))
    throw Exception("not a form class: " + (cls ? cls->ClassName() : String("nil")));
  TOwned<TComponent> root(cls->Create(FOwner.get()));
  root->SetName(name);
  TObject::Free(FRoot);
  FRoot = root.release();
}

void TFormDesigner::Open(const String& path) {
  // The old form goes first: the new root may carry its name.
  TObject::Free(FRoot);
  FRoot = nullptr;
  FRoot = CreateComponentFromFile(path, FOwner.get(), true);
}

void SaveFileAtomically(const String& path, std::string_view bytes) {
  String tmp = path + ".tmp-" + IntToStr(static_cast<int32_t>(getpid()));
  std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out || std::rename(tmp.c_str(), path.c_str()) != 0) {
    std::remove(tmp.c_str());
    throw Exception(path + ": cannot write the file");
  }
}

void TFormDesigner::Save(const String& path) const {
  if (FRoot == nullptr) throw Exception("no form to save");
  SaveFileAtomically(path, WriteComponentToText(FRoot));
}

TComponent* TFormDesigner::Find(const String& name) const {
  if (FRoot == nullptr) throw Exception("no form");
  if (SameText(FRoot->Name(), name)) return FRoot;
  TComponent* c = FRoot->FindComponent(name);
  if (c == nullptr) throw Exception("no component named '" + name + "' on " + FRoot->Name());
  return c;
}

TComponent* TFormDesigner::Drop(const TClassInfo* cls, const String& name) {
  if (FRoot == nullptr) throw Exception("no form");
  if (cls == nullptr || !cls->Creatable() || !cls->InheritsFrom(TComponent::StaticClassInfo()))
    throw Exception("cannot create a " + (cls ? cls->ClassName() : String("nil")));
  if (FRoot->FindComponent(name) != nullptr || SameText(FRoot->Name(), name))
    throw Exception("a component named '" + name + "' already exists");
  TOwned<TComponent> c(cls->Create(FRoot));
  c->SetName(name);
  c->SetParentComponent(FRoot);
  return c.release();
}

const TPropInfo* TFormDesigner::Property(const TComponent* c, const String& name) {
  const TPropInfo* p = c->ClassInfo()->FindProperty(name);
  if (p == nullptr) throw Exception(c->ClassName() + " has no property '" + name + "'");
  return p;
}

std::unique_ptr<TPropertyEditor> TFormDesigner::Editor(const std::vector<TComponent*>& selection,
                                                       const TPropInfo* prop) const {
  std::vector<TPersistent*> sel(selection.begin(), selection.end());
  auto ed = GetPropertyEditor(FRoot, std::move(sel), prop);
  if (ed == nullptr)
    throw Exception(prop->Name() + " cannot be edited for several components at once");
  return ed;
}

void TFormDesigner::Revert(TComponent* c, const TPropInfo* prop) {
  if (prop->IsReadOnly()) throw Exception("property " + prop->Name() + " is read-only");
  auto ed = Editor({c}, prop);
  if (!HasAttr(ed->GetAttributes(), paRevertable))
    throw Exception(prop->Name() + " cannot be reverted");
  TOwned<TComponent> fresh(c->ClassInfo()->Create(FOwner.get()));
  if (fresh == nullptr) throw Exception("cannot create a " + c->ClassName());
  auto freshEd = GetPropertyEditor(FRoot, {fresh.get()}, prop);
  ed->SetValue(freshEd->GetValue());
}
