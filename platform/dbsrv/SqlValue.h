// A value crossing between the engine and the client library's buffers
// without being copied: text and bytes point into whoever holds them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

struct sqlite3_stmt;
struct sqlite3_value;

namespace vdbsrv {

enum SqlValueKind : uint8_t { svNull, svInteger, svDouble, svText, svBlob };

struct SqlValue {
  SqlValueKind kind = svNull;
  int64_t i = 0;             // svInteger
  double d = 0;              // svDouble
  const char* p = nullptr;   // svText, svBlob: the bytes (not NUL-terminated for blobs)
  size_t n = 0;              // svText, svBlob: byte count

  std::string_view Bytes() const { return {p ? p : "", n}; }
  static SqlValue Null() { return {}; }
  static SqlValue Integer(int64_t v) { SqlValue x; x.kind = svInteger; x.i = v; return x; }
  static SqlValue Double(double v) { SqlValue x; x.kind = svDouble; x.d = v; return x; }
  static SqlValue Text(std::string_view s) { SqlValue x; x.kind = svText; x.p = s.data(); x.n = s.size(); return x; }
  static SqlValue Blob(std::string_view s) { SqlValue x; x.kind = svBlob; x.p = s.data(); x.n = s.size(); return x; }
};

// An owned copy of a value.
struct OwnedValue {
  SqlValueKind kind = svNull;
  int64_t i = 0;
  double d = 0;
  std::string bytes;

  OwnedValue() = default;
  explicit OwnedValue(const SqlValue& v) : kind(v.kind), i(v.i), d(v.d), bytes(v.Bytes()) {}
  SqlValue View() const {
    SqlValue v;
    v.kind = kind;
    v.i = i;
    v.d = d;
    v.p = bytes.data();
    v.n = bytes.size();
    return v;
  }
};

// Column c of the row a statement stands on; valid until its next step.
SqlValue ColumnValue(sqlite3_stmt* st, int c);
// A function argument or any other SQLite value.
SqlValue ValueOf(sqlite3_value* v);
// Binds v to parameter index (1-based) without copying: the bytes must stay
// valid until the statement is reset. Throws ServerError on failure.
void BindValue(sqlite3_stmt* st, int index, const SqlValue& v);

}  // namespace vdbsrv
