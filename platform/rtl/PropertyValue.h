// TPropertyValue: one property value as form files carry it, between the
// text and a component's getter or setter.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vcl {

enum TValueType : uint8_t {
  vaNull,      // no value
  vaList,      // a list of strings: ( 'a' 'b' )
  vaInt64,     // an integer
  vaExtended,  // a floating-point number
  vaString,    // a string of bytes
  vaIdent,     // an identifier (enumerations)
  vaFalse,     // the identifier False
  vaTrue,      // the identifier True
  vaBinary,    // bytes written as hex in braces
  vaSet,       // identifiers in brackets
  vaNil,       // the identifier nil: no component
};

class TComponent;

struct TPropertyValue {
  TValueType Type = vaNull;
  int64_t Integer = 0;             // vaInt64
  double Float = 0;                // vaExtended
  std::string Text;                // vaString, vaIdent, vaBinary (the bytes)
  std::vector<std::string> Items;  // vaSet (identifiers), vaList (strings)
  TComponent* Reference = nullptr; // component properties: the component, or null

  static TPropertyValue Int(int64_t Value);
  static TPropertyValue Extended(double Value);
  static TPropertyValue String(std::string Value);
  static TPropertyValue Ident(std::string Value);
  static TPropertyValue Boolean(bool Value);
  static TPropertyValue SetOf(std::vector<std::string> Elements);
  static TPropertyValue List(std::vector<std::string> Strings);
  static TPropertyValue Binary(std::string Bytes);
  // A component property's value: vaNil for null, else vaIdent holding the
  // component's name (the writer turns it into a path from the root).
  static TPropertyValue ComponentRef(TComponent* Component);

  bool IsBoolean() const { return Type == vaFalse || Type == vaTrue; }
  // Set elements compare without regard to order or case; identifiers
  // without regard to case; everything else exactly.
  bool operator==(const TPropertyValue& Other) const;
};

}  // namespace vcl
