#include "framework/core/FormStream.h"

#include <fstream>
#include <sstream>

namespace {

// ---------------------------------------------------------------------------------------------
// Syntax tree

enum class TokKind { Ident, Str, Num, LParen, RParen, Equals, Colon, Dot, Plus, NewLine, End };

struct Token {
  TokKind Kind;
  String Text;  // identifier, decoded string, or number text
  int Line, Col;
};

struct Value {
  enum Kind { Ident, Str, Num, List } K = Ident;
  String Text;
  int64_t Number = 0;
  std::vector<String> Items;
  int Line = 0, Col = 0;
};

struct PropNode {
  std::vector<String> Path;
  Value V;
  int Line, Col;
};

struct ObjNode {
  String Name, ClassName;
  int Line, Col;
  std::vector<PropNode> Props;
  std::vector<ObjNode> Children;
};

class FormError : public Exception {
 public:
  FormError(const String& file, int line, int col, const String& msg)
      : Exception(file + ":" + IntToStr(line) + ":" + IntToStr(col) + ": " + msg) {}
};

class Lexer {
 public:
  Lexer(const String& text, const String& file) : FText(text), FFile(file) {}

  std::vector<Token> Run() {
    std::vector<Token> out;
    while (true) {
      SkipBlanks();
      int line = FLine, col = FCol;
      if (FPos >= FText.size()) {
        out.push_back({TokKind::End, "", line, col});
        return out;
      }
      char c = FText[FPos];
      if (c == '\r' || c == '\n') {
        Advance();
        if (c == '\r' && Peek() == '\n') Advance();
        if (out.empty() || out.back().Kind != TokKind::NewLine)
          out.push_back({TokKind::NewLine, "", line, col});
      } else if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
        String id;
        while (FPos < FText.size() &&
               (std::isalnum(static_cast<unsigned char>(Peek())) || Peek() == '_'))
          id += Advance();
        out.push_back({TokKind::Ident, id, line, col});
      } else if (c == '\'' || c == '#') {
        out.push_back({TokKind::Str, ReadString(), line, col});
      } else if (std::isdigit(static_cast<unsigned char>(c)) || c == '-' || c == '$') {
        String num;
        num += Advance();
        while (FPos < FText.size() && std::isxdigit(static_cast<unsigned char>(Peek())))
          num += Advance();
        out.push_back({TokKind::Num, num, line, col});
      } else {
        TokKind k;
        switch (c) {
          case '(':
            k = TokKind::LParen;
            break;
          case ')':
            k = TokKind::RParen;
            break;
          case '=':
            k = TokKind::Equals;
            break;
          case ':':
            k = TokKind::Colon;
            break;
          case '.':
            k = TokKind::Dot;
            break;
          case '+':
            k = TokKind::Plus;
            break;
          default:
            throw FormError(FFile, line, col, String("unexpected character '") + c + "'");
        }
        Advance();
        out.push_back({k, String(1, c), line, col});
      }
    }
  }

 private:
  char Peek() const { return FPos < FText.size() ? FText[FPos] : '\0'; }
  char Advance() {
    char c = FText[FPos++];
    if (c == '\n' || (c == '\r' && Peek() != '\n')) {
      ++FLine;
      FCol = 1;
    } else if (c != '\r' && (static_cast<unsigned char>(c) & 0xC0) != 0x80) {
      ++FCol;  // columns count characters, not UTF-8 continuation bytes
    }
    return c;
  }
  void SkipBlanks() {
    while (FPos < FText.size() && (Peek() == ' ' || Peek() == '\t')) Advance();
  }
  // 'quoted' parts ('' is a quote) and #nn character codes, side by side.
  String ReadString() {
    String out;
    while (Peek() == '\'' || Peek() == '#') {
      int line = FLine, col = FCol;
      if (Advance() == '\'') {
        while (true) {
          if (FPos >= FText.size() || Peek() == '\n' || Peek() == '\r')
            throw FormError(FFile, line, col, "unterminated string");
          char c = Advance();
          if (c == '\'') {
            if (Peek() != '\'') break;
            Advance();
          }
          out += c;
        }
      } else {
        String digits;
        while (std::isdigit(static_cast<unsigned char>(Peek()))) digits += Advance();
        int32_t code;
        if (digits.empty() || !TryStrToInt(digits, code) || code > 0x10FFFF)
          throw FormError(FFile, line, col, "bad character code");
        // Codes name Unicode characters; the file and our strings are UTF-8.
        AppendUtf8(out, static_cast<char32_t>(code));
      }
    }
    return out;
  }

  const String& FText;
  const String& FFile;
  size_t FPos = 0;
  int FLine = 1, FCol = 1;
};

class Parser {
 public:
  Parser(std::vector<Token> toks, const String& file) : FToks(std::move(toks)), FFile(file) {}

  ObjNode ParseRoot() {
    SkipNewLines();
    ObjNode root = ParseObject();
    SkipNewLines();
    if (Cur().Kind != TokKind::End) Fail(Cur(), "text after the end of the root object");
    return root;
  }

 private:
  const Token& Cur() const { return FToks[FPos]; }
  const Token& Next() { return FToks[FPos++]; }
  [[noreturn]] void Fail(const Token& t, const String& msg) {
    throw FormError(FFile, t.Line, t.Col, msg);
  }
  void SkipNewLines() {
    while (Cur().Kind == TokKind::NewLine) ++FPos;
  }
  const Token& Expect(TokKind k, const char* what) {
    if (Cur().Kind != k) Fail(Cur(), String("expected ") + what);
    return Next();
  }
  bool IsKeyword(const Token& t, const char* kw) const {
    return t.Kind == TokKind::Ident && SameText(t.Text, kw);
  }

  ObjNode ParseObject() {
    const Token& kw = Cur();
    if (!IsKeyword(kw, "object") && !IsKeyword(kw, "inherited") && !IsKeyword(kw, "inline"))
      Fail(kw, "expected 'object'");
    Next();
    ObjNode node;
    node.Line = kw.Line;
    node.Col = kw.Col;
    if (Cur().Kind == TokKind::Colon) {  // unnamed: "object : TClass"
      Next();
      node.ClassName = Expect(TokKind::Ident, "class name").Text;
    } else {
      String first = Expect(TokKind::Ident, "component name").Text;
      if (Cur().Kind == TokKind::Colon) {
        Next();
        node.Name = first;
        node.ClassName = Expect(TokKind::Ident, "class name").Text;
      } else {
        node.ClassName = first;  // "object TClass": unnamed
      }
    }
    if (Cur().Kind != TokKind::NewLine) Fail(Cur(), "expected end of line");
    SkipNewLines();
    while (true) {
      const Token& t = Cur();
      if (t.Kind == TokKind::End) Fail(t, "missing 'end'");
      if (IsKeyword(t, "end")) {
        Next();
        if (Cur().Kind != TokKind::NewLine && Cur().Kind != TokKind::End)
          Fail(Cur(), "expected end of line");
        SkipNewLines();
        return node;
      }
      if (IsKeyword(t, "object") || IsKeyword(t, "inherited") || IsKeyword(t, "inline")) {
        node.Children.push_back(ParseObject());
        continue;
      }
      if (!node.Children.empty()) Fail(t, "property after a nested object");
      node.Props.push_back(ParseProperty());
    }
  }

  PropNode ParseProperty() {
    PropNode p;
    const Token& first = Expect(TokKind::Ident, "property name");
    p.Line = first.Line;
    p.Col = first.Col;
    p.Path.push_back(first.Text);
    while (Cur().Kind == TokKind::Dot) {
      Next();
      p.Path.push_back(Expect(TokKind::Ident, "property name").Text);
    }
    Expect(TokKind::Equals, "'='");
    p.V = ParseValue();
    if (Cur().Kind != TokKind::NewLine) Fail(Cur(), "expected end of line");
    SkipNewLines();
    return p;
  }

  Value ParseValue() {
    Value v;
    const Token& t = Cur();
    v.Line = t.Line;
    v.Col = t.Col;
    switch (t.Kind) {
      case TokKind::Ident:
        v.K = Value::Ident;
        v.Text = Next().Text;
        while (Cur().Kind == TokKind::Dot) {  // Owner.Component references
          Next();
          v.Text += "." + Expect(TokKind::Ident, "name").Text;
        }
        return v;
      case TokKind::Num: {
        v.K = Value::Num;
        String text = Next().Text;
        bool neg = !text.empty() && text[0] == '-';
        String body = neg ? text.substr(1) : text;
        int32_t n;
        if (body.empty() || !TryStrToInt(body, n)) Fail(t, "bad number '" + text + "'");
        int64_t value = n;
        if (!body.empty() && body[0] == '$') value = static_cast<uint32_t>(n);
        v.Number = neg ? -value : value;
        return v;
      }
      case TokKind::Str:
        v.K = Value::Str;
        v.Text = ParseStringConcat();
        return v;
      case TokKind::LParen: {
        Next();
        v.K = Value::List;
        SkipNewLines();
        while (Cur().Kind != TokKind::RParen) {
          if (Cur().Kind != TokKind::Str) Fail(Cur(), "expected a string in the list");
          v.Items.push_back(ParseStringConcat());
          SkipNewLines();
        }
        Next();
        return v;
      }
      default:
        Fail(t, "expected a value");
    }
  }

  // 'a' + 'b' across lines, as long strings are written.
  String ParseStringConcat() {
    String s = Next().Text;
    while (Cur().Kind == TokKind::Plus) {
      Next();
      SkipNewLines();
      s += Expect(TokKind::Str, "string").Text;
    }
    return s;
  }

  std::vector<Token> FToks;
  const String& FFile;
  size_t FPos = 0;
};

// ---------------------------------------------------------------------------------------------
// Building components from the tree

struct Fixup {
  TComponent* Obj;
  const TPropInfo* Prop;
  String Name;
  int Line, Col;
};

class Builder {
 public:
  Builder(TComponent* root, const String& file, bool designing)
      : FRoot(root), FFile(file), FDesigning(designing) {}

  // Builds everything; on failure frees the created children and rethrows.
  void Build(const ObjNode& top) {
    try {
      BuildAll(top);
    } catch (...) {
      for (auto it = FCreated.rbegin(); it != FCreated.rend(); ++it) TObject::Free(*it);
      FRoot->Loaded();  // leaves the loading state
      throw;
    }
  }

 private:
  [[noreturn]] void Fail(int line, int col, const String& msg) {
    throw FormError(FFile, line, col, msg);
  }

  void BuildAll(const ObjNode& top) {
    if (FDesigning) FRoot->SetDesigning(true);
    FRoot->SetLoadingState();
    FLoaded.push_back(FRoot);
    if (!top.Name.empty()) Guard(top.Line, top.Col, [&] { FRoot->SetName(top.Name); });
    ApplyProps(FRoot, top);
    for (const ObjNode& child : top.Children) CreateChild(child, FRoot);
    // Events and references are resolved once every component exists; events first, so that a
    // component taking over another's handler when its reference arrives saves the streamed one.
    for (const Fixup& f : FEvents) {
      const TMethodEntry* m = FRoot->ClassInfo()->FindMethod(f.Name);
      if (m == nullptr)
        Fail(f.Line, f.Col, FRoot->ClassName() + " has no published method '" + f.Name + "'");
      if (m->Type != f.Prop->EventType())
        Fail(f.Line, f.Col, "method '" + f.Name + "' does not fit event " + f.Prop->Name());
      Guard(f.Line, f.Col, [&] { f.Prop->SetEvent(f.Obj, m->Bind(FRoot)); });
    }
    for (const Fixup& f : FRefs) {
      TComponent* target = ResolveName(f.Name);
      if (target == nullptr && !SameText(f.Name, "nil"))
        Fail(f.Line, f.Col, "unknown component '" + f.Name + "'");
      if (target != nullptr && !f.Prop->AcceptsComponent(target))
        Fail(f.Line, f.Col, "'" + f.Name + "' is not a valid value for " + f.Prop->Name());
      Guard(f.Line, f.Col, [&] { f.Prop->SetComponent(f.Obj, target); });
    }
    for (TComponent* c : FLoaded) {
      c->Loaded();
      if (c->IsLoading()) c->TComponent::Loaded();
    }
  }

  TComponent* ResolveName(const String& name) {
    if (SameText(name, FRoot->Name()) && !name.empty()) return FRoot;
    return FRoot->FindComponent(name);
  }

  void CreateChild(const ObjNode& node, TComponent* container) {
    const TClassInfo* info = FindClass(node.ClassName);
    if (info == nullptr) Fail(node.Line, node.Col, "unknown class '" + node.ClassName + "'");
    if (!info->Creatable() || !info->InheritsFrom(TComponent::StaticClassInfo()))
      Fail(node.Line, node.Col, "class '" + node.ClassName + "' cannot be created");
    TComponent* c = nullptr;
    Guard(node.Line, node.Col, [&] { c = info->Create(FRoot); });
    FCreated.push_back(c);
    FLoaded.push_back(c);
    c->SetLoadingState();
    Guard(node.Line, node.Col, [&] {
      c->SetName(node.Name);
      // Controls directly under the root are parented by it too.
      c->SetParentComponent(container);
    });
    ApplyProps(c, node);
    for (const ObjNode& child : node.Children) CreateChild(child, c);
  }

  void ApplyProps(TComponent* obj, const ObjNode& node) {
    const TClassInfo* info = obj->ClassInfo();
    for (const PropNode& p : node.Props) {
      const TPropInfo* prop = info->FindProperty(p.Path[0]);
      if (prop == nullptr || SameText(prop->Name(), "Name"))
        Fail(p.Line, p.Col, "unknown property '" + p.Path[0] + "' of " + obj->ClassName());
      bool stringsPath = p.Path.size() == 2 && SameText(p.Path[1], "Strings") &&
                         prop->Kind() == TPropKind::Strings;
      if (p.Path.size() > 1 && !stringsPath) {
        String full = p.Path[0];
        for (size_t i = 1; i < p.Path.size(); ++i) full += "." + p.Path[i];
        Fail(p.Line, p.Col, "unknown property '" + full + "' of " + obj->ClassName());
      }
      if (prop->IsReadOnly()) Fail(p.Line, p.Col, "property " + prop->Name() + " is read-only");
      Apply(obj, prop, p.V);
    }
  }

  void Apply(TComponent* obj, const TPropInfo* prop, const Value& v) {
    auto bad = [&]() { Fail(v.Line, v.Col, "invalid value for " + prop->Name()); };
    switch (prop->Kind()) {
      case TPropKind::Boolean:
      case TPropKind::Enum: {
        if (v.K != Value::Ident) bad();
        const auto& names = prop->EnumNames();
        for (size_t i = 0; i < names.size(); ++i)
          if (SameText(names[i], v.Text)) {
            Guard(v.Line, v.Col, [&] { prop->SetOrd(obj, static_cast<int64_t>(i)); });
            return;
          }
        bad();
        return;
      }
      case TPropKind::Integer:
        if (v.K != Value::Num || v.Number < INT32_MIN || v.Number > UINT32_MAX) bad();
        Guard(v.Line, v.Col, [&] { prop->SetOrd(obj, static_cast<int32_t>(v.Number)); });
        return;
      case TPropKind::Color: {
        TColor c;
        if (v.K == Value::Num && v.Number >= INT32_MIN && v.Number <= UINT32_MAX)
          c = static_cast<TColor>(v.Number);
        else if (v.K != Value::Ident || !StringToColor(v.Text, c))
          bad();
        Guard(v.Line, v.Col, [&] { prop->SetOrd(obj, c); });
        return;
      }
      case TPropKind::String:
        if (v.K != Value::Str) bad();
        Guard(v.Line, v.Col, [&] { prop->SetStr(obj, v.Text); });
        return;
      case TPropKind::Strings: {
        if (v.K != Value::List) bad();
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
        if (v.K != Value::Ident) bad();
        FRefs.push_back({obj, prop, v.Text, v.Line, v.Col});
        return;
      case TPropKind::Event:
        if (v.K != Value::Ident) bad();
        FEvents.push_back({obj, prop, v.Text, v.Line, v.Col});
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
  std::vector<TComponent*> FCreated;
  std::vector<TComponent*> FLoaded;
  std::vector<Fixup> FRefs, FEvents;
};

ObjNode ParseText(const String& text, const String& fileName) {
  Lexer lex(text, fileName);
  Parser parser(lex.Run(), fileName);
  return parser.ParseRoot();
}

String ReadFile(const String& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw Exception(path + ": cannot open the file");
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// ---------------------------------------------------------------------------------------------
// Writing

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

class Writer {
 public:
  explicit Writer(TComponent* root) : FRoot(root) {}

  String Run() {
    WriteObject(FRoot, 0);
    return FOut.str();
  }

 private:
  void WriteObject(TComponent* c, int depth) {
    String ind(depth * 2, ' ');
    FOut << ind << "object ";
    if (c->Name().empty())
      FOut << c->ClassName() << "\n";
    else
      FOut << c->Name() << ": " << c->ClassName() << "\n";
    for (const TPropInfo* p : c->ClassInfo()->Properties()) {
      if (SameText(p->Name(), "Name") || p->IsReadOnly()) continue;
      WriteProp(c, p, ind + "  ");
    }
    c->GetChildren([&](TComponent* child) { WriteObject(child, depth + 1); }, FRoot);
    FOut << ind << "end\n";
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
        TComponent* ref = p->GetComponent(c);
        String name;
        if (ref == FRoot)
          name = FRoot->Name();
        else if (ref->Owner() == FRoot)
          name = ref->Name();
        else if (ref->Owner() != nullptr && !ref->Owner()->Name().empty())
          name = ref->Owner()->Name() + "." + ref->Name();
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

void ReadComponentFromText(TComponent* root, const String& text, const String& fileName,
                           bool designing) {
  ObjNode top = ParseText(text, fileName);
  const TClassInfo* cls = FindClass(top.ClassName);
  if (cls == nullptr || !root->ClassInfo()->InheritsFrom(cls))
    throw FormError(fileName, top.Line, top.Col,
                    "the file describes a " + top.ClassName + ", not a " + root->ClassName());
  Builder(root, fileName, designing).Build(top);
}

TComponent* CreateComponentFromText(const String& text, TComponent* owner, const String& fileName,
                                    bool designing) {
  ObjNode top = ParseText(text, fileName);
  const TClassInfo* cls = FindClass(top.ClassName);
  if (cls == nullptr)
    throw FormError(fileName, top.Line, top.Col, "unknown class '" + top.ClassName + "'");
  if (!cls->Creatable() || !cls->InheritsFrom(TComponent::StaticClassInfo()))
    throw FormError(fileName, top.Line, top.Col, "class '" + top.ClassName + "' cannot be created");
  TOwned<TComponent> root(cls->Create(owner));
  if (designing) root->SetDesigning(true);
  Builder(root.get(), fileName, designing).Build(top);
  return root.release();
}

void ReadComponentFromFile(TComponent* root, const String& path, bool designing) {
  ReadComponentFromText(root, ReadFile(path), path, designing);
}

TComponent* CreateComponentFromFile(const String& path, TComponent* owner, bool designing) {
  return CreateComponentFromText(ReadFile(path), owner, path, designing);
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
