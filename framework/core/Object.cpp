#include <qx/framework/core/Object.h>
#include <qx/framework/core/PropsBuilder.h>

// The roots have no published properties and are not created by name.
const TClassInfo* TObject::StaticClassInfo() {
  static const TClassInfo* info =
      TClassInfo::Build<TObject>("TObject", nullptr, [](TPropsBuilder<TObject>&) {});
  return info;
}

String TObject::ClassName() const {
  return ClassInfo()->ClassName();
}

const TClassInfo* TPersistent::StaticClassInfo() {
  static const TClassInfo* info = TClassInfo::Build<TPersistent>(
      "TPersistent", TObject::StaticClassInfo(), [](TPropsBuilder<TPersistent>&) {});
  return info;
}

void TPersistent::Assign(const TPersistent* source) {
  throw Exception("Cannot assign a " + (source ? source->ClassName() : String("nil")) + " to a " +
                  ClassName());
}
