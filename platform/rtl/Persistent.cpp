#include "rtl/Persistent.h"

namespace vcl {

void TPersistent::Assign(TPersistent* Source) {
  if (Source == nullptr) AssignError(nullptr);
  Source->AssignTo(this);
}

void TPersistent::AssignTo(TPersistent* Dest) { Dest->AssignError(this); }

void TPersistent::AssignError(TPersistent* Source) {
  std::string SourceName = Source != nullptr ? Source->ClassName() : "nil";
  throw EConvertError("Cannot assign a " + SourceName + " to a " + ClassName());
}

void TPersistent::DefineProperties(TFiler*) {}

std::string TPersistent::GetNamePath() {
  std::string Result = ClassName();
  if (TPersistent* Owner = GetOwner()) {
    std::string OwnerPath = Owner->GetNamePath();
    if (!OwnerPath.empty()) Result = OwnerPath + "." + Result;
  }
  return Result;
}

}  // namespace vcl
