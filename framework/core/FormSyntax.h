// The form file's syntax tree, shared by its parser, reader and writer (internal to
// framework/core). Objects are kept flat, in file order, each naming its container by index:
// deep nesting then needs neither a deep call stack to read, build or free.
#pragma once

#include <vector>

#include <qx/framework/core/Classes.h>

namespace formfile {

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
  const TFieldEntry* Field = nullptr;  // the root's published field of this name, if any
};

class FormError : public Exception {
 public:
  FormError(const String& file, int line, int col, const String& msg)
      : Exception(file + ":" + IntToStr(line) + ":" + IntToStr(col) + ": " + msg) {}
};

// The objects of a form file, in file order; [0] is the root. Throws FormError.
std::vector<ObjNode> ParseText(const String& text, const String& fileName);

// The component a reference names, seen from `root`: names inside the root, then the root's
// siblings and owner; "Owner.Name" for a component of another form. nullptr when none.
TComponent* ResolveReference(TComponent* root, const String& name);

}  // namespace formfile
