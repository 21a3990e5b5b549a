// TPersistent: objects that can copy themselves from one another (Assign) and
// take part in form-file streaming (DefineProperties).
#pragma once

#include <string>

#include "rtl/System.h"

namespace vcl {

class TFiler;

class TPersistent : public TObject {
 public:
  std::string ClassName() const override { return "TPersistent"; }

  // Copies Source into this object. A class that knows Source's type copies
  // it; otherwise it calls the base, which gives Source a chance through
  // AssignTo and finally raises EConvertError.
  virtual void Assign(TPersistent* Source);

  // The name a designer shows for this object: the owner's path, a dot and
  // this object's class (components override it with their Name).
  virtual std::string GetNamePath();

 protected:
  // Copies this object into Dest; the default knows no destination and
  // raises "Cannot assign a <this class> to a <Dest class>".
  virtual void AssignTo(TPersistent* Dest);

  // Lets a class stream data that has no published property (TFiler's
  // DefineProperty / DefineBinaryProperty).
  virtual void DefineProperties(TFiler* Filer);

  // The object this one belongs to, for GetNamePath.
  virtual TPersistent* GetOwner() { return nullptr; }

  // Raises the EConvertError for assigning Source to this object.
  [[noreturn]] void AssignError(TPersistent* Source);

  friend class TReader;
  friend class TWriter;
};

}  // namespace vcl
