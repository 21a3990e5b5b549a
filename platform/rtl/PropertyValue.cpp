#include "rtl/PropertyValue.h"

#include <algorithm>

#include "rtl/Components.h"
#include "rtl/StrUtils.h"

namespace vcl {

TPropertyValue TPropertyValue::Int(int64_t Value) {
  TPropertyValue V;
  V.Type = vaInt64;
  V.Integer = Value;
  return V;
}

TPropertyValue TPropertyValue::Extended(double Value) {
  TPropertyValue V;
  V.Type = vaExtended;
  V.Float = Value;
  return V;
}

TPropertyValue TPropertyValue::String(std::string Value) {
  TPropertyValue V;
  V.Type = vaString;
  V.Text = std::move(Value);
  return V;
}

TPropertyValue TPropertyValue::Ident(std::string Value) {
  TPropertyValue V;
  V.Type = vaIdent;
  V.Text = std::move(Value);
  return V;
}

TPropertyValue TPropertyValue::Boolean(bool Value) {
  TPropertyValue V;
  V.Type = Value ? vaTrue : vaFalse;
  return V;
}

TPropertyValue TPropertyValue::SetOf(std::vector<std::string> Elements) {
  TPropertyValue V;
  V.Type = vaSet;
  V.Items = std::move(Elements);
  return V;
}

TPropertyValue TPropertyValue::List(std::vector<std::string> Strings) {
  TPropertyValue V;
  V.Type = vaList;
  V.Items = std::move(Strings);
  return V;
}

TPropertyValue TPropertyValue::Binary(std::string Bytes) {
  TPropertyValue V;
  V.Type = vaBinary;
  V.Text = std::move(Bytes);
  return V;
}

TPropertyValue TPropertyValue::ComponentRef(TComponent* Component) {
  TPropertyValue V;
  V.Type = Component != nullptr ? vaIdent : vaNil;
  V.Reference = Component;
  if (Component != nullptr) V.Text = Component->Name();
  return V;
}

namespace {

std::vector<std::string> FoldedSorted(const std::vector<std::string>& Items) {
  std::vector<std::string> Result;
  for (const auto& S : Items) Result.push_back(AnsiLowerCase(S));
  std::sort(Result.begin(), Result.end());
  Result.erase(std::unique(Result.begin(), Result.end()), Result.end());
  return Result;
}

}  // namespace

bool TPropertyValue::operator==(const TPropertyValue& Other) const {
  if (Type != Other.Type) return false;
  switch (Type) {
    case vaNull:
    case vaNil:
    case vaFalse:
    case vaTrue: return true;
    case vaInt64: return Integer == Other.Integer;
    case vaExtended: return Float == Other.Float;
    case vaString:
    case vaBinary: return Text == Other.Text;
    case vaIdent: return AnsiSameText(Text, Other.Text);
    case vaSet: return FoldedSorted(Items) == FoldedSorted(Other.Items);
    case vaList: return Items == Other.Items;
  }
  return false;
}

}  // namespace vcl
