// The server's type of a result column or variable: its type code, length
// and nullability, decided from a declared type or from what an expression is.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

namespace vdbsrv {

struct TToken;

// Type codes as the client library publishes them (bit 0 is left to nullability).
enum SqlTypeCode : int16_t {
  stDate = 384,
  stTime = 388,
  stTimestampStruct = 390,
  stTimestamp = 392,
  stVarchar = 448,
  stFixchar = 452,
  stLongVarchar = 456,
  stString = 460,
  stDouble = 480,
  stFloat = 482,
  stDecimal = 484,
  stInt = 496,
  stSmallint = 500,
  stBinary = 524,
  stLongBinary = 528,
  stVariable = 600,
  stTinyint = 604,
  stBigint = 608,
  stUnsInt = 612,
  stUnsSmallint = 616,
  stUnsBigint = 620,
  stBit = 624,
};

struct SqlType {
  int16_t code = stVarchar;  // SqlTypeCode, nullable bit clear
  uint16_t length = 0;       // declared length; decimal: precision low byte, scale high byte
  bool nullable = true;
};

// Length given to long values and to text whose width nothing bounds.
inline constexpr uint16_t kLongLength = 32767;
// Width of text computed by expressions (functions, concatenation).
inline constexpr uint16_t kExpressionTextLength = 8192;

// The type of a declared column or variable type ("varchar(40)", "long binary",
// "unsigned int", "numeric(10,2)"). Unknown names fall back on SQLite's
// affinity rules; an empty declaration is a long varchar.
SqlType MapDeclaredType(std::string_view declared);

// Answers the type of column Name (Qualifier may be empty) of the tables a
// statement reads, or false when no such column is known.
using ColumnTypeLookup =
    std::function<bool(std::string_view Qualifier, std::string_view Name, SqlType& Type)>;

// Answers the type of the value bound to parameter ?Number (a server
// variable's declared type), or false when it is not known before execution.
using ParameterTypeLookup = std::function<bool(long Number, SqlType& Type)>;

// The type of the expression tokens [B, E) of a select list, decided from its
// form: literals, parameters, column references, functions, operators, CASE
// and CAST.
SqlType ExpressionType(const std::vector<TToken>& Tokens, size_t B, size_t E,
                       const ColumnTypeLookup& Columns, const ParameterTypeLookup& Parameters = {});

}  // namespace vdbsrv
