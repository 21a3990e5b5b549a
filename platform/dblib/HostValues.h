// Values between SQLDA entries and the engine: reading input entries of
// every host type, and writing result values into entries with the
// server's conversions, truncation warnings and indicators.
#pragma once

#include "dbsrv/SqlValue.h"
#include "dbsrv/Statement.h"
#include "vdb_esql.h"

#include <memory>
#include <string>

namespace vdbsrv {
class ServerVariables;
}

namespace vdblib {

// Room for the text form of a date-time entry.
struct DateTimeText {
  char text[40];
};

// The value of an input entry. Type 600 names a server variable, whose
// value is used. A date-time entry is formatted into scratch. Throws
// ServerError for an entry without data, an unknown type or a bad date.
vdbsrv::SqlValue EntryValue(const sqlvar& v, vdbsrv::ServerVariables& variables, DateTimeText& scratch);

// Writes value into the entry (indicator -1 for NULL, 0, or the full length
// when cut). Answers true when the value was cut to fit. Throws ServerError
// for a NULL without indicator, a missing buffer or an impossible conversion.
bool PutValue(sqlvar& v, const vdbsrv::SqlValue& value);

// The entries of an input SQLDA as host variables, in order.
class SqldaInput final : public vdbsrv::HostInput {
 public:
  SqldaInput(const SQLDA* sqlda, vdbsrv::ServerVariables& variables);
  size_t Count() const override;
  vdbsrv::SqlValue Value(size_t host) const override;

 private:
  static constexpr size_t kInline = 16;
  const SQLDA* sqlda_;
  vdbsrv::ServerVariables& variables_;
  mutable DateTimeText inline_[kInline];
  mutable std::unique_ptr<DateTimeText[]> more_;
};

// Checks that an SQLDA pointer is usable and answers its entries in use.
int EntriesInUse(const SQLDA* sqlda, const char* what);

// Writes an engine name (column, table) into an SQLDA entry's name field.
void PutName(sqlvar& v, std::string_view name);
// The entry's name text.
std::string_view EntryName(const sqlvar& v);

// Writes sqldatetime t from ISO text; false when the text is no date or time.
bool ParseDateTime(std::string_view text, SQLDATETIME& t);

}  // namespace vdblib
