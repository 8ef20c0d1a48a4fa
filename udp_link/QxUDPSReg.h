// Design-time support of the UDP package: its palette registration, the value list of the two
// line-end properties, and the package's resources for a designer host.
#pragma once

#include <qx/framework/design/DesignIntf.h>

// Offers "CR" and "CRLF" for a line-end property, and still takes any text typed in.
class TLineEndProperty : public TStringProperty {
 public:
  static constexpr const char* EditorName = "TLineEndProperty";
  using TStringProperty::TStringProperty;
  TPropertyAttributes GetAttributes() override;
  void GetValues(const TGetStrProc& Proc) override;
};

namespace QxUDPSReg {
// What the designer calls once when it installs the package.
void Register();
}  // namespace QxUDPSReg
