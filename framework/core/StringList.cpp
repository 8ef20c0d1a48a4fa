#include <algorithm>

#include <qx/framework/core/PropsBuilder.h>
#include <qx/framework/core/StringList.h>

const TClassInfo* TStrings::StaticClassInfo() {
  static const TClassInfo* info = TClassInfo::Build<TStrings>(
      "TStrings", TPersistent::StaticClassInfo(), [](TPropsBuilder<TStrings>&) {});
  return info;
}

const TClassInfo* TStringList::StaticClassInfo() {
  static const TClassInfo* info = TClassInfo::Build<TStringList>(
      "TStringList", TStrings::StaticClassInfo(), [](TPropsBuilder<TStringList>&) {});
  return info;
}

int TStrings::IndexOf(const String& s) const {
  for (int i = 0; i < Count(); ++i)
    if (SameText(Get(i), s)) return i;
  return -1;
}

String TStrings::Text() const {
  String out;
  for (int i = 0; i < Count(); ++i) {
    out += Get(i);
    out += '\n';
  }
  return out;
}

void TStrings::SetText(const String& text) {
  Clear();
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      Add(text.substr(start, i - start));
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      start = i + 1;
    }
  }
  if (start < text.size()) Add(text.substr(start));
}

std::vector<String> TStrings::ToVector() const {
  std::vector<String> v;
  v.reserve(Count());
  for (int i = 0; i < Count(); ++i) v.push_back(Get(i));
  return v;
}

void TStrings::Assign(const TPersistent* source) {
  if (source == this) return;
  if (auto* src = dynamic_cast<const TStrings*>(source)) {
    Clear();
    for (int i = 0; i < src->Count(); ++i) Add(src->Get(i));
    return;
  }
  TPersistent::Assign(source);
}

void TStringList::Check(int index) const {
  if (index < 0 || index >= Count())
    throw Exception("List index out of bounds (" + IntToStr(index) + ")");
}

String TStringList::Get(int index) const {
  Check(index);
  return FItems[index].S;
}

void TStringList::Put(int index, const String& s) {
  Check(index);
  FItems[index].S = s;
}

TObject* TStringList::GetObject(int index) const {
  Check(index);
  return FItems[index].Obj;
}

void TStringList::PutObject(int index, TObject* obj) {
  Check(index);
  FItems[index].Obj = obj;
}

void TStringList::Insert(int index, const String& s, TObject* obj) {
  if (index < 0 || index > Count())
    throw Exception("List index out of bounds (" + IntToStr(index) + ")");
  FItems.insert(FItems.begin() + index, Item{s, obj});
}

void TStringList::Delete(int index) {
  Check(index);
  TObject* obj = FItems[index].Obj;
  FItems.erase(FItems.begin() + index);
  if (FOwnsObjects) TObject::Free(obj);
}

void TStringList::Clear() {
  std::vector<Item> items;
  items.swap(FItems);
  if (FOwnsObjects)
    for (auto& it : items) TObject::Free(it.Obj);
}
