#include "dbsrv/ServerVariables.h"

#include "dbsrv/DialectLexer.h"
#include "dbsrv/Errors.h"

#include <cmath>
#include <cstdlib>

namespace vdbsrv {

namespace {

bool IsBinary(const SqlType& t) { return t.code == stBinary || t.code == stLongBinary; }
bool IsNumeric(const SqlType& t) {
  switch (t.code) {
    case stInt: case stSmallint: case stTinyint: case stBigint: case stUnsInt: case stUnsSmallint:
    case stUnsBigint: case stBit: case stDouble: case stFloat: case stDecimal: return true;
    default: return false;
  }
}
bool IsIntegral(const SqlType& t) { return IsNumeric(t) && t.code != stDouble && t.code != stFloat && t.code != stDecimal; }

std::string NumberText(const SqlValue& v) {
  if (v.kind == svInteger) return std::to_string(v.i);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.17g", v.d);
  return buf;
}

}  // namespace

void ServerVariables::Create(std::string_view name, std::string_view declaredType) {
  ServerVariable var;
  var.name = std::string(name);
  var.type = MapDeclaredType(declaredType);
  vars_[LowerName(name)] = std::move(var);
}

void ServerVariables::Drop(std::string_view name) {
  if (vars_.erase(LowerName(name)) == 0) throw ServerError(errVariableNotFound, name);
}

ServerVariable* ServerVariables::Find(std::string_view name) {
  auto it = vars_.find(LowerName(name));
  return it == vars_.end() ? nullptr : &it->second;
}

ServerVariable& ServerVariables::Get(std::string_view name) {
  ServerVariable* v = Find(name);
  if (!v) throw ServerError(errVariableNotFound, name);
  return *v;
}

void ServerVariables::Assign(ServerVariable& var, const SqlValue& v) {
  OwnedValue& out = var.value;
  if (v.kind == svNull) {
    out = OwnedValue();
    return;
  }
  if (IsNumeric(var.type)) {
    OwnedValue x;
    if (v.kind == svInteger || v.kind == svDouble) {
      x = OwnedValue(v);
    } else {
      std::string text(v.Bytes());
      char* end = nullptr;
      const char* s = text.c_str();
      long long i = std::strtoll(s, &end, 10);
      if (end != s && *end == '\0') {
        x.kind = svInteger;
        x.i = i;
      } else {
        double d = std::strtod(s, &end);
        if (end == s || *end != '\0') throw ServerError(errConversion, text);
        x.kind = svDouble;
        x.d = d;
      }
    }
    if (IsIntegral(var.type) && x.kind == svDouble) {
      if (!std::isfinite(x.d) || std::fabs(x.d) > 9.2e18) throw ServerError(errValueOutOfRange, NumberText(v));
      x.kind = svInteger;
      x.i = static_cast<int64_t>(x.d);
    }
    out = std::move(x);
    return;
  }
  out.kind = IsBinary(var.type) ? svBlob : svText;
  out.bytes = (v.kind == svText || v.kind == svBlob) ? std::string(v.Bytes()) : NumberText(v);
}

void ServerVariables::Append(ServerVariable& var, const SqlValue& v) {
  if (var.value.kind == svNull || v.kind == svNull) {
    var.value = OwnedValue();
    return;
  }
  if (var.value.kind == svInteger || var.value.kind == svDouble) {
    // A number concatenated becomes text; store the result as the type says.
    std::string text = NumberText(var.value.View());
    text += (v.kind == svText || v.kind == svBlob) ? std::string(v.Bytes()) : NumberText(v);
    Assign(var, SqlValue::Text(text));
    return;
  }
  if (v.kind == svText || v.kind == svBlob)
    var.value.bytes.append(v.p ? v.p : "", v.n);
  else
    var.value.bytes += NumberText(v);
}

}  // namespace vdbsrv
