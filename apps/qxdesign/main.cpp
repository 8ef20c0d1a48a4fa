// qxdesign: the designer host from the shell. Loads the component packages as a designer does
// (by path, calling their Register), shows the palette, the packages' resources and the object
// inspector, and edits form files with every component in the designing state.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include <qx/framework/design/FormDesigner.h>
#include <qx/framework/design/Package.h>
#include <qx/framework/ui/Desktop.h>
#include "PropertyListing.h"
#include "apps/common/CommandLine.h"
#include "apps/common/EventOutput.h"

namespace {

const char kUsage[] =
    "Usage: qxdesign [--package PATH]... COMMAND ...\n"
    "The form designer from the shell: loads the component packages, edits form files.\n"
    "\n"
    "Commands:\n"
    "  palette                          pages and classes of the loaded packages\n"
    "  bitmap CLASS -o FILE.bmp         a class's palette bitmap as a BMP file\n"
    "  package PATH                     a package's description, version and requirements\n"
    "  new FORM.qxf [--class TForm] [--name NAME]\n"
    "                                   a new, empty form\n"
    "  add FORM.qxf CLASS NAME [-o OUT]\n"
    "                                   a component dropped on the form\n"
    "  inspect FORM.qxf [COMPONENT] [--json]\n"
    "                                   every published property: value, editor attributes,\n"
    "                                   value list\n"
    "  values FORM.qxf COMPONENT[,COMPONENT...] PROPERTY\n"
    "                                   the property editor's value list, one per line\n"
    "  set FORM.qxf COMPONENT.PROPERTY=VALUE... [-o OUT]\n"
    "                                   writes the values through the setters, then saves\n"
    "  revert FORM.qxf COMPONENT.PROPERTY... [-o OUT]\n"
    "                                   puts back the value a new component holds\n"
    "\n"
    "The two packages built with qxdesign are loaded unless --no-default-packages is given.\n"
    "Values: text as typed; False/True and names for enumerations; [a, b] for sets; colour\n"
    "names or numbers; a component's name (empty: none); a method of the form for an event;\n"
    "lines separated by commas for a string list.\n"
    "-o OUT (--out OUT) writes the result elsewhere. --help prints this text, --version the\n"
    "version.\n"
    "Exit status: 0 on success, 2 for a bad command line or form file.\n";

struct Options {
  std::vector<String> Packages;
  bool DefaultPackages = true;
  bool Json = false;
  String Out, ClassName = "TForm", FormName = "Form1";
  std::vector<String> Args;  // command and its operands
};

struct UsageError : Exception {
  using Exception::Exception;
};

// Whether a set command's arguments write COMPONENT.PROPERTY themselves.
bool SetsProperty(const std::vector<String>& args, const String& component, const String& prop) {
  for (size_t i = 2; i < args.size(); ++i) {
    const String target = args[i].substr(0, args[i].find('='));
    if (SameText(target, component + "." + prop)) return true;
  }
  return false;
}

// Returns -1 when the program goes on, otherwise its exit status.
int Parse(int argc, char** argv, Options& o) {
  TCommandLine cl("qxdesign", kUsage);
  bool noDefaults = false;
  cl.Value("package",
           [&](const String& v) {
             o.Packages.push_back(v);
             return String();
           })
      .Flag("no-default-packages", noDefaults)
      .Flag("json", o.Json)
      .Value("out", o.Out, 'o')
      .Value("class", o.ClassName)
      .Value("name", o.FormName);
  if (int status = cl.Parse(argc, argv); status >= 0) return status;
  o.DefaultPackages = !noDefaults;
  o.Args = cl.Operands();
  if (o.Args.empty()) return cl.UsageError("no command given");
  return -1;
}

String ExeDir() {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return ".";
  String p(buf, n);
  return p.substr(0, p.rfind('/'));
}

std::vector<String> Split(const String& s, char sep) {
  std::vector<String> out;
  size_t start = 0;
  for (;;) {
    size_t at = s.find(sep, start);
    out.push_back(s.substr(start, at == String::npos ? String::npos : at - start));
    if (at == String::npos) return out;
    start = at + 1;
  }
}

bool Exists(const String& path) {
  return access(path.c_str(), F_OK) == 0;
}

class Host {
 public:
  // A package named twice (by different paths too) is loaded and registered once.
  void Load(const String& path) {
    char* real = realpath(path.c_str(), nullptr);
    String key = real != nullptr ? String(real) : path;
    std::free(real);
    for (const String& k : FKeys)
      if (k == key) return;
    FPackages.push_back(std::make_unique<TDesignPackage>(path));
    FKeys.push_back(key);
  }
  void LoadDefaults() {
#ifdef QX_DEFAULT_PACKAGES
    String dir = ExeDir();
    for (const String& name : Split(QX_DEFAULT_PACKAGES, ':'))
      for (const String& lib : Split(QX_LIB_DIRS, ':'))
        if (Exists(dir + "/" + lib + "/" + name)) {
          Load(dir + "/" + lib + "/" + name);
          break;
        }
#endif
  }
  const TQxBitmapResource* Bitmap(const String& name) const {
    for (const auto& p : FPackages)
      if (auto* b = p->FindBitmap(name)) return b;
    return nullptr;
  }
  const std::vector<std::unique_ptr<TDesignPackage>>& Packages() const {
    return FPackages;
  }

 private:
  std::vector<std::unique_ptr<TDesignPackage>> FPackages;
  std::vector<String> FKeys;
};

void Need(const Options& o, size_t least, size_t most, const char* what) {
  if (o.Args.size() < least + 1 || o.Args.size() > most + 1)
    throw UsageError(String("usage: qxdesign ") + what);
}

// A class the form may hold: the palette's, or any creatable component class (controls).
const TClassInfo* DroppableClass(const String& name) {
  const TClassInfo* c = FindPaletteClass(name);
  if (c == nullptr) c = FindClass(name);
  if (c == nullptr || !c->Creatable() || !c->InheritsFrom(TComponent::StaticClassInfo()))
    throw UsageError("unknown component class '" + name + "'");
  return c;
}

// "Component.Property" split at its first dot.
std::pair<String, String> Target(const String& s) {
  size_t dot = s.find('.');
  if (dot == String::npos || dot == 0 || dot + 1 == s.size())
    throw UsageError("expected COMPONENT.PROPERTY, got '" + s + "'");
  return {s.substr(0, dot), s.substr(dot + 1)};
}

int Palette() {
  for (const TPalettePage& page : PalettePages()) {
    String line = page.Name + ":";
    for (const TClassInfo* c : page.Classes) line += " " + c->ClassName();
    Emit(line);
  }
  return 0;
}

int Bitmap(const Host& h, const Options& o) {
  Need(o, 1, 1, "bitmap CLASS -o FILE.bmp");
  if (o.Out.empty()) throw UsageError("bitmap needs -o FILE.bmp");
  const TClassInfo* c = FindPaletteClass(o.Args[1]);
  if (c == nullptr) throw UsageError("no class '" + o.Args[1] + "' on the palette");
  const TQxBitmapResource* b = h.Bitmap(UpperCase(c->ClassName()));
  if (b == nullptr) throw UsageError("no palette bitmap for " + c->ClassName());
  std::vector<uint8_t> bmp = BmpFileFromDib(b->Data, b->Size);
  SaveFileAtomically(o.Out,
                     std::string_view(reinterpret_cast<const char*>(bmp.data()), bmp.size()));
  return 0;
}

int Package(const Options& o) {
  Need(o, 1, 1, "package PATH");
  TDesignPackage p(o.Args[1]);
  const TQxPackageInfo& i = p.Info();
  String requires_;
  for (size_t k = 0; k < i.RequiresCount; ++k) requires_ += (k ? ", " : "") + String(i.Requires[k]);
  String bitmaps;
  for (size_t k = 0; k < i.BitmapCount; ++k) bitmaps += (k ? ", " : "") + String(i.Bitmaps[k].Name);
  Emit(String("package: ") + i.Name);
  Emit(String("description: ") + i.Description);
  Emit(String("file version: ") + i.FileVersion);
  Emit(String("product version: ") + i.ProductVersion);
  Emit(String("file description: ") + i.FileDescription);
  Emit(String("product name: ") + i.ProductName);
  Emit("requires: " + requires_);
  Emit(String("design-only: ") + (i.DesignOnly ? "yes" : "no"));
  Emit(String("run-only: ") + (i.RunOnly ? "yes" : "no"));
  Emit("bitmaps: " + bitmaps);
  return 0;
}

int Run(const Options& o) {
  const String& cmd = o.Args[0];
  Host host;
  if (cmd == "package") return Package(o);
  if (o.DefaultPackages) host.LoadDefaults();
  for (const String& p : o.Packages) host.Load(p);
  if (cmd == "palette") {
    Need(o, 0, 0, "palette");
    return Palette();
  }
  if (cmd == "bitmap") return Bitmap(host, o);

  TFormDesigner d;
  const String out = o.Out.empty() && o.Args.size() > 1 ? o.Args[1] : o.Out;
  if (cmd == "new") {
    Need(o, 1, 1, "new FORM.qxf [--class TForm] [--name NAME]");
    if (Exists(out)) throw UsageError(out + " exists already");
    const TClassInfo* c = FindClass(o.ClassName);
    if (c == nullptr || !c->InheritsFrom(FindClass("TCustomForm")))
      throw UsageError("'" + o.ClassName + "' is not a form class");
    d.NewForm(c, o.FormName);
    d.Save(out);
    return 0;
  }
  if (o.Args.size() < 2)
    throw UsageError(cmd == "inspect" || cmd == "add" || cmd == "values" || cmd == "set" ||
                             cmd == "revert"
                         ? cmd + " needs a form file"
                         : "unknown command '" + cmd + "'");
  if (cmd != "add" && cmd != "inspect" && cmd != "values" && cmd != "set" && cmd != "revert")
    throw UsageError("unknown command '" + cmd + "'");
  d.Open(o.Args[1]);
  if (cmd == "add") {
    Need(o, 3, 3, "add FORM.qxf CLASS NAME [-o OUT]");
    d.Drop(DroppableClass(o.Args[2]), o.Args[3]);
    d.Save(out);
  } else if (cmd == "inspect") {
    Need(o, 1, 2, "inspect FORM.qxf [COMPONENT] [--json]");
    if (o.Args.size() == 3) {
      PrintProperties(d, d.Find(o.Args[2]), o.Json);
    } else {
      PrintProperties(d, d.Root(), o.Json);
      for (int i = 0; i < d.Root()->ComponentCount(); ++i)
        PrintProperties(d, d.Root()->Components(i), o.Json);
    }
  } else if (cmd == "values") {
    Need(o, 3, 3, "values FORM.qxf COMPONENT[,COMPONENT...] PROPERTY");
    std::vector<TComponent*> sel;
    for (const String& n : Split(o.Args[2], ',')) sel.push_back(d.Find(n));
    const TPropInfo* p = TFormDesigner::Property(sel[0], o.Args[3]);
    for (TComponent* c : sel) TFormDesigner::Property(c, o.Args[3]);
    auto ed = d.Editor(sel, p);
    if (!HasAttr(ed->GetAttributes(), paValueList))
      throw UsageError(p->Name() + " has no value list");
    for (const String& v : ed->ValueList()) Emit(v);
  } else if (cmd == "set" || cmd == "revert") {
    if (o.Args.size() < 3) throw UsageError("usage: qxdesign " + cmd + " FORM.qxf ...");
    for (size_t i = 2; i < o.Args.size(); ++i) {
      const String& a = o.Args[i];
      size_t eq = a.find('=');
      if (cmd == "set" && eq == String::npos)
        throw UsageError("expected COMPONENT.PROPERTY=VALUE, got '" + a + "'");
      auto [name, prop] = Target(cmd == "set" ? a.substr(0, eq) : a);
      TComponent* c = d.Find(name);
      const TPropInfo* p = TFormDesigner::Property(c, prop);
      if (cmd == "revert") {
        d.Revert(c, p);
        continue;
      }
      if (p->IsReadOnly()) throw UsageError("property " + name + "." + p->Name() + " is read-only");
      auto editor = d.Editor({c}, p);
      const String before = editor->GetValue();
      editor->SetValue(a.substr(eq + 1));
      // A volume component newly linked to a UDP component reads every line of a packet as a
      // command, as remotes send them; a stored form keeps what it says.
      if (SameText(p->Name(), "QxUDPS") && before.empty() && !editor->GetValue().empty())
        if (const TPropInfo* each = c->ClassInfo()->FindProperty("UdpAtEachLine"))
          if (!SetsProperty(o.Args, name, each->Name())) d.Editor({c}, each)->SetValue("True");
    }
    d.Save(out);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (int status = Parse(argc, argv, o); status >= 0) return status;
  try {
    // Nothing designed here appears on a display.
    UseVirtualDesktop();
    return Run(o);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "qxdesign: %s\n", e.what());
    return 2;
  }
}
