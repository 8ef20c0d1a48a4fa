// The form a designer edits: every component in it in the designing state, from the root's
// construction on; components dropped on it, values written through the property editors, and
// a save that never leaves the file half-written.
#pragma once

#include <qx/framework/design/DesignIntf.h>

// Writes to a temporary file beside `path`, then renames it over `path`, so that a reader sees
// the old file or the whole new one; throws Exception naming the path.
void SaveFileAtomically(const String& path, std::string_view bytes);

class TFormDesigner {
 public:
  TFormDesigner();
  ~TFormDesigner();
  TFormDesigner(const TFormDesigner&) = delete;
  TFormDesigner& operator=(const TFormDesigner&) = delete;

  // A new, empty form of a creatable form class (TForm unless told); replaces any other.
  void NewForm(const TClassInfo* cls, const String& name);
  // Reads a form file; throws Exception "file:line:col: ..." for a malformed one.
  void Open(const String& path);
  // Writes to a temporary file beside `path`, then renames it over `path`.
  void Save(const String& path) const;

  TComponent* Root() const { return FRoot; }
  // The root or one of its components by name; throws Exception when there is none.
  TComponent* Find(const String& name) const;
  // Drops a component of `cls` on the form: constructed in the designing state (so its
  // constructor already sees it), named, and a control is placed on the form.
  TComponent* Drop(const TClassInfo* cls, const String& name);

  // The published property, or Exception naming the component and property.
  static const TPropInfo* Property(const TComponent* c, const String& name);
  // The editor for the property on the selection; Exception when there is none to share.
  std::unique_ptr<TPropertyEditor> Editor(const std::vector<TComponent*>& selection,
                                          const TPropInfo* prop) const;
  // Puts back the value a freshly dropped component of the same class holds.
  void Revert(TComponent* c, const TPropInfo* prop);

 private:
  TOwned<TComponent> FOwner;  // designing; owns the root
  TComponent* FRoot = nullptr;
};
