// Text forms of column values shared by the output formats.
#pragma once

#include <string>
#include <string_view>

#include "core/VdbBase.h"
#include "rtl/Variants.h"

namespace vdbsql {

// Shortest text that reads back as the same double ("1.5", "10", "1e+20").
std::string FloatText(double Value);
// "0x" and two lower-case hex digits per byte.
std::string HexText(std::string_view Bytes);
// RFC 4648 base64 with padding.
std::string Base64Text(std::string_view Bytes);
// The bytes of a binary value (a byte array, or text taken as bytes).
std::string BytesOf(const vcl::Variant& Value);
// Whether the column type prints right-aligned and unquoted in JSON.
bool IsNumericType(vdb::TVantorFieldTypes Type);
bool IsBinaryType(vdb::TVantorFieldTypes Type);
// The plain text of a non-NULL value of a column of Type: numbers in C
// notation, dates as yyyy-mm-dd, times as hh:nn:ss[.zzz], Booleans as 1 and
// 0, binary values as HexText. A float with Decimals above 0 (a decimal
// column's scale) prints with exactly that many decimals.
std::string PlainText(const vcl::Variant& Value, vdb::TVantorFieldTypes Type, int32_t Decimals = 0);
// The same appended to Out, which the printers reuse row after row.
void AppendPlainText(std::string& Out, const vcl::Variant& Value, vdb::TVantorFieldTypes Type, int32_t Decimals = 0);
// Appends Text as a JSON string literal. Valid UTF-8 passes through; any
// other byte is taken as the Latin-1 character of that code.
void AppendJsonString(std::string& Out, std::string_view Text);
// Appends the typed JSON value of a column value (null for NULL); Scratch
// holds the text of a value that is quoted.
void AppendJsonValue(std::string& Out, const vcl::Variant& Value, vdb::TVantorFieldTypes Type, int32_t Decimals,
                     std::string& Scratch);
// A set of byte values, so that a printer tests each character of a value
// with one look-up for the characters it must quote or escape.
class TCharSet {
 public:
  constexpr explicit TCharSet(std::string_view Chars) {
    for (char C : Chars) FIn[static_cast<unsigned char>(C)] = true;
  }
  bool In(char C) const { return FIn[static_cast<unsigned char>(C)]; }
  bool AnyIn(std::string_view Text) const {
    for (char C : Text)
      if (In(C)) return true;
    return false;
  }

 private:
  bool FIn[256] = {};
};
// Characters a terminal shows for Text: UTF-8 sequences count once.
size_t DisplayWidth(std::string_view Text);

}  // namespace vdbsql
