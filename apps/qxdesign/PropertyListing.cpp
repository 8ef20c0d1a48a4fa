#include "PropertyListing.h"

#include "apps/common/EventOutput.h"

namespace {

String Join(const std::vector<String>& items, const String& sep, bool json) {
  String out;
  for (const String& s : items) out += (out.empty() ? "" : sep) + (json ? JsonString(s) : s);
  return out;
}

}  // namespace

void PrintProperties(const TFormDesigner& d, TComponent* c, bool json) {
  if (!json) Emit(c->Name() + ": " + c->ClassName());
  for (const TPropInfo* p : c->ClassInfo()->Properties()) {
    auto ed = d.Editor({c}, p);
    TPropertyAttributes attrs = ed->GetAttributes();
    std::vector<String> names = PropertyAttributeNames(attrs);
    bool list = HasAttr(attrs, paValueList);
    std::vector<String> values = list ? ed->ValueList() : std::vector<String>{};
    String value = ed->GetValue();
    if (json) {
      String line = "{\"component\":" + JsonString(c->Name()) +
                    ",\"class\":" + JsonString(c->ClassName()) +
                    ",\"property\":" + JsonString(p->Name()) + ",\"value\":" + JsonString(value) +
                    ",\"readOnly\":" + (p->IsReadOnly() ? "true" : "false") + ",\"attributes\":[" +
                    Join(names, ",", true) + "]";
      if (list) line += ",\"values\":[" + Join(values, ",", true) + "]";
      Emit(line + "}");
      continue;
    }
    String line = "  " + p->Name() + " = " + Visible(value);
    if (p->IsReadOnly()) line += " (read-only)";
    line += "  [" + Join(names, ", ", false) + "]";
    if (list) line += "  values: " + Visible(Join(values, ", ", false));
    Emit(line);
  }
}
