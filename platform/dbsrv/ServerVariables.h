// Connection-level server variables: create variable, set, drop variable.
// A value is kept as the variable's type says (bytes for binary types, text
// for character types, numbers otherwise); appending grows it in place.
#pragma once

#include "dbsrv/SqlValue.h"
#include "dbsrv/TypeMap.h"

#include <map>
#include <string>
#include <string_view>

namespace vdbsrv {

struct ServerVariable {
  std::string name;   // as created
  SqlType type;       // from the declared type
  OwnedValue value;   // NULL after create
};

class ServerVariables {
 public:
  // Creates NAME of the declared type with the value NULL. A variable of that
  // name left behind (an operation that failed before its drop) is replaced.
  void Create(std::string_view name, std::string_view declaredType);
  // Throws ServerError(errVariableNotFound) when there is none.
  void Drop(std::string_view name);
  // nullptr when there is none.
  ServerVariable* Find(std::string_view name);
  bool Exists(std::string_view name) { return Find(name) != nullptr; }
  // Throws errVariableNotFound.
  ServerVariable& Get(std::string_view name);

  // Stores v converted to the variable's type (throws errConversion).
  static void Assign(ServerVariable& var, const SqlValue& v);
  // Appends the bytes of v (its text form for numbers); NULL leaves a NULL
  // variable NULL, as concatenation with NULL does.
  static void Append(ServerVariable& var, const SqlValue& v);

 private:
  std::map<std::string, ServerVariable> vars_;  // lower-case name -> variable
};

}  // namespace vdbsrv
