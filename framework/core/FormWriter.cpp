// Writing components as a form file, and the text forms of colours.
#include <fstream>
#include <sstream>

#include <qx/framework/core/FormStream.h>
#include <qx/framework/core/FormSyntax.h>

namespace {

using formfile::ResolveReference;

String QuoteString(const String& s) {
  if (s.empty()) return "''";
  String out;
  bool inQuotes = false;
  for (char c : s) {
    auto u = static_cast<unsigned char>(c);
    if (u < 32 || u == 127) {
      if (inQuotes) out += '\'';
      inQuotes = false;
      out += "#" + IntToStr(u);
    } else {
      if (!inQuotes) out += '\'';
      inQuotes = true;
      if (c == '\'') out += '\'';
      out += c;
    }
  }
  if (inQuotes) out += '\'';
  return out;
}

const std::pair<const char*, TColor> kColorNames[] = {
    {"clBlack", clBlack},   {"clMaroon", clMaroon},   {"clGreen", clGreen}, {"clOlive", clOlive},
    {"clNavy", clNavy},     {"clPurple", clPurple},   {"clTeal", clTeal},   {"clGray", clGray},
    {"clSilver", clSilver}, {"clRed", clRed},         {"clLime", clLime},   {"clYellow", clYellow},
    {"clBlue", clBlue},     {"clFuchsia", clFuchsia}, {"clAqua", clAqua},   {"clWhite", clWhite},
};

// Indentation stops growing here, so that a deeply nested form is not quadratic in size.
constexpr int kMaxIndent = 32;

class Writer {
 public:
  explicit Writer(TComponent* root) : FRoot(root) {}

  String Run() {
    // Depth-first without recursion: each frame is an object whose children are being written.
    struct Frame {
      std::vector<TComponent*> Kids;
      size_t Next = 0;
    };
    std::vector<Frame> stack;
    auto open = [&](TComponent* c) {
      WriteHeader(c, static_cast<int>(stack.size()));
      Frame f;
      c->GetChildren([&](TComponent* k) { f.Kids.push_back(k); }, FRoot);
      stack.push_back(std::move(f));
    };
    open(FRoot);
    while (!stack.empty()) {
      Frame& top = stack.back();
      if (top.Next < top.Kids.size()) {
        open(top.Kids[top.Next++]);
        continue;
      }
      stack.pop_back();
      FOut << Indent(static_cast<int>(stack.size())) << "end\n";
    }
    return FOut.str();
  }

 private:
  static String Indent(int depth) { return String(std::min(depth, kMaxIndent) * 2, ' '); }

  void WriteHeader(TComponent* c, int depth) {
    String ind = Indent(depth);
    FOut << ind << "object ";
    const TClassInfo* cls = c->StreamedClass();
    if (c->Name().empty())
      FOut << cls->ClassName() << "\n";
    else
      FOut << c->Name() << ": " << cls->ClassName() << "\n";
    for (const TPropInfo* p : cls->Properties()) {
      if (SameText(p->Name(), "Name") || p->IsReadOnly()) continue;
      WriteProp(c, p, Indent(depth + 1));
    }
  }

  // The name the reader resolves back to `ref`, or empty when there is none.
  String ReferenceName(TComponent* ref) {
    if (ref->Name().empty()) return "";
    if (ref == FRoot || ref->Owner() == FRoot) return ref->Name();
    TComponent* owner = ref->Owner();
    if (owner != nullptr && !owner->Name().empty()) {
      String name = owner->Name() + "." + ref->Name();
      if (ResolveReference(FRoot, name) == ref) return name;
    }
    // A component outside the root named alone (another form of the same owner, say).
    if (ResolveReference(FRoot, ref->Name()) == ref) return ref->Name();
    if (owner != nullptr && !owner->Name().empty()) return owner->Name() + "." + ref->Name();
    return "";
  }

  void WriteProp(TComponent* c, const TPropInfo* p, const String& ind) {
    if (p->Kind() == TPropKind::Event) {
      std::any ev = p->GetEvent(c);
      for (const TMethodEntry* m : FRoot->ClassInfo()->Methods()) {
        if (m->Type == p->EventType() && m->Matches(ev, FRoot)) {
          FOut << ind << p->Name() << " = " << m->Name << "\n";
          return;
        }
      }
      return;
    }
    if (!p->IsStored(c)) return;
    switch (p->Kind()) {
      case TPropKind::Boolean:
      case TPropKind::Enum: {
        int64_t v = p->GetOrd(c);
        const auto& names = p->EnumNames();
        if (v < 0 || v >= static_cast<int64_t>(names.size())) return;  // no name: not writable
        FOut << ind << p->Name() << " = " << names[v] << "\n";
        return;
      }
      case TPropKind::Set: {
        int64_t v = p->GetOrd(c);
        const auto& names = p->EnumNames();
        String items;
        for (size_t i = 0; i < names.size() && i < 63; ++i)
          if (v & (int64_t(1) << i)) items += (items.empty() ? "" : ", ") + names[i];
        FOut << ind << p->Name() << " = [" << items << "]\n";
        return;
      }
      case TPropKind::Integer:
        FOut << ind << p->Name() << " = " << p->GetOrd(c) << "\n";
        return;
      case TPropKind::Color:
        FOut << ind << p->Name() << " = " << ColorToString(static_cast<TColor>(p->GetOrd(c)))
             << "\n";
        return;
      case TPropKind::String:
        FOut << ind << p->Name() << " = " << QuoteString(p->GetStr(c)) << "\n";
        return;
      case TPropKind::Strings: {
        TStrings* s = p->GetStrings(c);
        FOut << ind << p->Name() << ".Strings = (";
        for (int i = 0; i < s->Count(); ++i) FOut << "\n" << ind << "  " << QuoteString(s->Get(i));
        FOut << ")\n";
        return;
      }
      case TPropKind::Component: {
        String name = ReferenceName(p->GetComponent(c));
        if (!name.empty()) FOut << ind << p->Name() << " = " << name << "\n";
        return;
      }
      case TPropKind::Event:
        return;
    }
  }

  TComponent* FRoot;
  std::ostringstream FOut;
};
}  // namespace

String ColorToString(TColor c) {
  for (const auto& [name, value] : kColorNames)
    if (value == c) return name;
  return IntToStr(c);
}

bool StringToColor(std::string_view s, TColor& c) {
  for (const auto& [name, value] : kColorNames)
    if (SameText(name, s)) {
      c = value;
      return true;
    }
  return false;
}

String WriteComponentToText(TComponent* root) {
  return Writer(root).Run();
}

void WriteComponentToFile(TComponent* root, const String& path) {
  std::ofstream out(path, std::ios::binary);
  if (!out) throw Exception(path + ": cannot write the file");
  out << WriteComponentToText(root);
  if (!out) throw Exception(path + ": cannot write the file");
}
