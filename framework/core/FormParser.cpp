// Reading a form file's text into its syntax tree: tokens, then objects and their properties.
#include <cctype>

#include <qx/framework/core/FormSyntax.h>

namespace formfile {
namespace {

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

  // The next token, made when the parser asks for it: a file is never held twice over as
  // tokens. Line ends in a row (blank lines included) come as one NewLine; at the end of the
  // text, End again and again.
  Token Next() {
    while (true) {
      SkipBlanks();
      int line = FLine, col = FCol;
      if (FPos >= FText.size()) return Made({TokKind::End, "", line, col});
      char c = FText[FPos];
      if (c == '\r' || c == '\n') {
        Advance();
        if (c == '\r' && Peek() == '\n') Advance();
        if (FLast != TokKind::NewLine) return Made({TokKind::NewLine, "", line, col});
      } else if (IsIdentStart(c)) {
        String id;
        while (FPos < FText.size() && IsIdentChar(Peek())) id += Advance();
        return Made({TokKind::Ident, id, line, col});
      } else if (c == '\'' || c == '#') {
        return Made({TokKind::Str, ReadString(), line, col});
      } else if (std::isdigit(static_cast<unsigned char>(c)) || c == '-' || c == '$') {
        // A sign, a '$', then everything that could belong to the number, so that "12ab" is
        // one bad number rather than a number and a name.
        String num;
        num += Advance();
        if (num == "-" && Peek() == '$') num += Advance();
        while (FPos < FText.size() && IsIdentChar(Peek())) num += Advance();
        return Made({TokKind::Num, num, line, col});
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
        return Made({k, String(1, c), line, col});
      }
    }
  }

 private:
  Token Made(Token t) {
    FLast = t.Kind;
    return t;
  }
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
  TokKind FLast = TokKind::End;  // kind of the token made last; End before the first
};

class Parser {
 public:
  Parser(Lexer& lex, const String& file) : FLex(lex), FFile(file) { FToks[0] = FLex.Next(); }

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
  const Token& Cur() const { return FToks[FPos & 1]; }
  // Consumes the current token; what it returns stays valid until the next call.
  const Token& Next() {
    FToks[(FPos + 1) & 1] = FLex.Next();
    return FToks[FPos++ & 1];
  }
  [[noreturn]] void Fail(const Token& t, const String& msg) {
    throw FormError(FFile, t.Line, t.Col, msg);
  }
  void SkipNewLines() {
    while (Cur().Kind == TokKind::NewLine) Next();
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

  Lexer& FLex;
  // The current token and the one consumed last, alternately.
  Token FToks[2];
  const String& FFile;
  size_t FPos = 0;
};

}  // namespace

std::vector<ObjNode> ParseText(const String& text, const String& fileName) {
  Lexer lex(text, fileName);
  Parser parser(lex, fileName);
  return parser.ParseRoot();
}

}  // namespace formfile
