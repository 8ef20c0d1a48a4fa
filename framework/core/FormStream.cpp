#include "framework/core/FormStream.h"

#include <fstream>
#include <limits>
#include <sstream>
#include <unordered_map>
#include <unordered_set>

namespace {

// ---------------------------------------------------------------------------------------------
// Syntax tree. Objects are kept flat, in file order, each naming its container by index: deep
// nesting then needs neither a deep call stack to read, build or free.

enum class TokKind {
  Ident,
  Str,
  Num,
  LParen,
  RParen,
  LBracket,
  RBracket,
  Comma,
  Equals,
  Colon,
  Dot,
  Plus,
  NewLine,
  End
};

struct Token {
  TokKind Kind;
  String Text;  // identifier, decoded string, or number text
  int Line, Col;
};

struct Value {
  enum Kind { Ident, Str, Num, List, Set } K = Ident;
  String Text;
  int64_t Number = 0;
  bool Hex = false;
  std::vector<String> Items;  // list lines, or set member names
  int Line = 0, Col = 0;
};

struct PropNode {
  std::vector<String> Path;
  Value V;
  int Line, Col;
  // Filled when the file is checked, before anything is built.
  const TPropInfo* Prop = nullptr;
  int64_t Ord = 0;
};

struct ObjNode {
  String Name, ClassName;
  int Line, Col;
  size_t Parent = 0;  // index of the container; the root is its own
  bool HasChildren = false;
  std::vector<PropNode> Props;
  const TClassInfo* Class = nullptr;
};

class FormError : public Exception {
 public:
  FormError(const String& file, int line, int col, const String& msg)
      : Exception(file + ":" + IntToStr(line) + ":" + IntToStr(col) + ": " + msg) {}
};

bool IsIdentStart(char c) {
  return std::isalpha(static_cast<unsigned char>(c)) || c == '_';
}
bool IsIdentChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

class Lexer {
 public:
  Lexer(const String& text, const String& file) : FText(text), FFile(file) {
    if (FText.compare(0, 3, "\xEF\xBB\xBF") == 0) FPos = 3;  // UTF-8 byte-order mark
  }

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
      } else if (IsIdentStart(c)) {
        String id;
        while (FPos < FText.size() && IsIdentChar(Peek())) id += Advance();
        out.push_back({TokKind::Ident, id, line, col});
      } else if (c == '\'' || c == '#') {
        out.push_back({TokKind::Str, ReadString(), line, col});
      } else if (std::isdigit(static_cast<unsigned char>(c)) || c == '-' || c == '$') {
        // A sign, a '$', then everything that could belong to the number, so that "12ab" is
        // one bad number rather than a number and a name.
        String num;
        num += Advance();
        if (num == "-" && Peek() == '$') num += Advance();
        while (FPos < FText.size() && IsIdentChar(Peek())) num += Advance();
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
          case '[':
            k = TokKind::LBracket;
            break;
          case ']':
            k = TokKind::RBracket;
            break;
          case ',':
            k = TokKind::Comma;
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
          default: {
            auto u = static_cast<unsigned char>(c);
            String shown = u >= 32 && u < 127 ? String("'") + c + "'" : "byte $" + IntToHex(u, 2);
            throw FormError(FFile, line, col, "unexpected character " + shown);
          }
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
        while (std::isdigit(static_cast<unsigned char>(Peek())) && digits.size() < 8)
          digits += Advance();
        int32_t code;
        if (digits.empty() || std::isdigit(static_cast<unsigned char>(Peek())) ||
            !TryStrToInt(digits, code) || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
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

  // Objects in file order; [0] is the root.
  std::vector<ObjNode> ParseRoot() {
    std::vector<ObjNode> nodes;
    SkipNewLines();
    nodes.push_back(ParseHeader());
    std::vector<size_t> open{0};
    while (!open.empty()) {
      const Token& t = Cur();
      if (t.Kind == TokKind::End) Fail(t, "missing 'end'");
      if (IsKeyword(t, "end")) {
        Next();
        if (Cur().Kind != TokKind::NewLine && Cur().Kind != TokKind::End)
          Fail(Cur(), "expected end of line");
        SkipNewLines();
        open.pop_back();
        continue;
      }
      if (IsObjectKeyword(t)) {
        ObjNode child = ParseHeader();
        child.Parent = open.back();
        nodes[open.back()].HasChildren = true;
        nodes.push_back(std::move(child));
        open.push_back(nodes.size() - 1);
        continue;
      }
      if (nodes[open.back()].HasChildren) Fail(t, "property after a nested object");
      nodes[open.back()].Props.push_back(ParseProperty());
    }
    if (Cur().Kind != TokKind::End) Fail(Cur(), "text after the end of the root object");
    return nodes;
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
  bool IsObjectKeyword(const Token& t) const {
    return IsKeyword(t, "object") || IsKeyword(t, "inherited") || IsKeyword(t, "inline");
  }

  ObjNode ParseHeader() {
    const Token& kw = Cur();
    if (!IsObjectKeyword(kw)) Fail(kw, "expected 'object'");
    // Inherited and inline objects would need the ancestor's form; this reader has none, and
    // reading them as plain objects would write back something else.
    if (!IsKeyword(kw, "object")) Fail(kw, "'" + kw.Text + "' objects are not supported");
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
    return node;
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
      case TokKind::Num:
        v.K = Value::Num;
        if (!ParseNumber(Next().Text, v.Number, v.Hex)) Fail(t, "bad number '" + t.Text + "'");
        return v;
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
      case TokKind::LBracket: {
        Next();
        v.K = Value::Set;
        if (Cur().Kind != TokKind::RBracket) {
          v.Items.push_back(Expect(TokKind::Ident, "a set member").Text);
          while (Cur().Kind == TokKind::Comma) {
            Next();
            v.Items.push_back(Expect(TokKind::Ident, "a set member").Text);
          }
        }
        Expect(TokKind::RBracket, "']'");
        return v;
      }
      default:
        Fail(t, "expected a value");
    }
  }

  // [-]digits or [-]$hexdigits, from -2^31 to 2^32-1 (hexadecimal: at most 32 bits).
  static bool ParseNumber(const String& text, int64_t& out, bool& hex) {
    size_t i = 0;
    bool neg = i < text.size() && text[i] == '-';
    if (neg) ++i;
    hex = i < text.size() && text[i] == '$';
    if (hex) ++i;
    if (i >= text.size()) return false;
    uint64_t acc = 0;
    for (; i < text.size(); ++i) {
      char c = text[i];
      int d = c >= '0' && c <= '9'          ? c - '0'
              : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10
              : hex && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                            : -1;
      if (d < 0) return false;
      acc = acc * (hex ? 16 : 10) + d;
      if (acc > 0xFFFFFFFFull) return false;
    }
    if (neg && acc > 0x80000000ull) return false;
    out = neg ? -static_cast<int64_t>(acc) : static_cast<int64_t>(acc);
    return true;
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
// References: names inside the root, then the root's siblings (other forms of the same owner)
// and that owner, for references written as Owner.Name or as a bare outside name.

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

// ---------------------------------------------------------------------------------------------
// Checking the file against the classes, then building components from it

struct Fixup {
  TComponent* Obj;
  const TPropInfo* Prop;
  const Value* V;
};

class Builder {
 public:
  Builder(TComponent* root, const String& file, bool designing)
      : FRoot(root), FFile(file), FDesigning(designing) {}

  // Checks everything the file alone can tell before any component is made; then builds. A
  // refused file runs no Loaded: what was created is freed and the root leaves the loading
  // state without it.
  void Build(std::vector<ObjNode>& nodes) {
    Check(nodes);
    FComps.assign(nodes.size(), nullptr);
    try {
      BuildAll(nodes);
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
  // would be read and then lost on the next save).
  void CheckPlacement(const std::vector<ObjNode>& nodes) {
    std::vector<std::vector<size_t>> kids(nodes.size());
    for (size_t i = 1; i < nodes.size(); ++i) kids[nodes[i].Parent].push_back(i);
    for (size_t i = 0; i < nodes.size(); ++i) {
      if (kids[i].empty()) continue;
      std::unordered_set<TComponent*> written;
      FComps[i]->GetChildren([&](TComponent* c) { written.insert(c); }, FRoot);
      for (size_t k : kids[i])
        if (!written.count(FComps[k])) {
          const ObjNode& n = nodes[k];
          Fail(n.Line, n.Col,
               "a " + n.ClassName + " cannot be placed inside a " + nodes[i].Class->ClassName());
        }
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
  std::vector<TComponent*> FComps;  // by node index; [0] is the root
  std::vector<Fixup> FRefs, FEvents;
};

std::vector<ObjNode> ParseText(const String& text, const String& fileName) {
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
    if (c->Name().empty())
      FOut << c->ClassName() << "\n";
    else
      FOut << c->Name() << ": " << c->ClassName() << "\n";
    for (const TPropInfo* p : c->ClassInfo()->Properties()) {
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

void ReadComponentFromText(TComponent* root, const String& text, const String& fileName,
                           bool designing) {
  std::vector<ObjNode> nodes = ParseText(text, fileName);
  const TClassInfo* cls = FindClass(nodes[0].ClassName);
  if (cls == nullptr || !root->ClassInfo()->InheritsFrom(cls))
    throw FormError(fileName, nodes[0].Line, nodes[0].Col,
                    "the file describes a " + nodes[0].ClassName + ", not a " + root->ClassName());
  Builder(root, fileName, designing).Build(nodes);
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

String WriteComponentToText(TComponent* root) {
  return Writer(root).Run();
}

void WriteComponentToFile(TComponent* root, const String& path) {
  std::ofstream out(path, std::ios::binary);
  if (!out) throw Exception(path + ": cannot write the file");
  out << WriteComponentToText(root);
  if (!out) throw Exception(path + ": cannot write the file");
}
