#include <qx/udp_link/QxUDPSReg.h>

#include <qx/framework/design/Package.h>
#include <qx/udp_link/QxUDPS.h>

TPropertyAttributes TLineEndProperty::GetAttributes() {
  return AttrSet({paValueList, paMultiSelect, paSortList, paRevertable});
}

void TLineEndProperty::GetValues(const TGetStrProc& Proc) {
  TStringList list;
  list.Add("CR");
  list.Add("CRLF");
  for (int i = 0; i < list.Count(); ++i) Proc(list[i]);
}

void QxUDPSReg::Register() {
  RegisterComponents("Velmor", {TQxUDPS::StaticClassInfo()});
  RegisterPropertyEditor(TypeInfo<String>(), TQxUDPS::StaticClassInfo(), "UDPLineEndRx",
                         EditorClassOf<TLineEndProperty>());
  RegisterPropertyEditor(TypeInfo<String>(), TQxUDPS::StaticClassInfo(), "UDPLineEndTx",
                         EditorClassOf<TLineEndProperty>());
}

namespace {

// UDP above SRV, navy on a light ground.
const std::vector<uint8_t>& PaletteDib() {
  static const std::vector<uint8_t> dib = [] {
    TPaletteBitmap b(0xF0F0F0);
    b.Text(1, 1, "UDP", 0x000080, 2);
    b.Text(1, 13, "SRV", 0x000080, 2);
    return b.Dib();
  }();
  return dib;
}

}  // namespace

QX_PACKAGE_EXPORT void Register() {
  QxUDPSReg::Register();
}

QX_PACKAGE_EXPORT const TQxPackageInfo* QxPackageInfo() {
  // Design-only: an application links the runtime package TQxUDPS, which registers nothing.
  static const char* const requires_[] = {"framework", "design", "net", "TQxUDPS"};
  static const TQxBitmapResource bitmaps[] = {
      {"TQXUDPS", PaletteDib().data(), PaletteDib().size()}};
  static const TQxPackageInfo info{
      "QxUDPSReg", "Velmor UDP server and client component (design time)",
      "1.0.0.0",   "1.0.0.0",
      "QxUDPSReg", "TQxUDPS",
      requires_,   4,
      true,        false,
      bitmaps,     1};
  return &info;
}
