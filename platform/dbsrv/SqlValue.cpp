#include "dbsrv/SqlValue.h"

#include "dbsrv/Errors.h"

#include <sqlite3.h>

namespace vdbsrv {

SqlValue ColumnValue(sqlite3_stmt* st, int c) {
  // One call under the connection's mutex instead of one per accessor: the
  // value is read at once by the thread that steps the statement.
  return ValueOf(sqlite3_column_value(st, c));
}

SqlValue ValueOf(sqlite3_value* x) {
  SqlValue v;
  switch (sqlite3_value_type(x)) {
    case SQLITE_INTEGER:
      v.kind = svInteger;
      v.i = sqlite3_value_int64(x);
      break;
    case SQLITE_FLOAT:
      v.kind = svDouble;
      v.d = sqlite3_value_double(x);
      break;
    case SQLITE_TEXT:
      v.kind = svText;
      v.p = reinterpret_cast<const char*>(sqlite3_value_text(x));
      v.n = static_cast<size_t>(sqlite3_value_bytes(x));
      break;
    case SQLITE_BLOB:
      v.kind = svBlob;
      v.p = static_cast<const char*>(sqlite3_value_blob(x));
      v.n = static_cast<size_t>(sqlite3_value_bytes(x));
      break;
    default:
      break;
  }
  return v;
}

void BindValue(sqlite3_stmt* st, int index, const SqlValue& v) {
  int rc = SQLITE_OK;
  switch (v.kind) {
    case svNull: rc = sqlite3_bind_null(st, index); break;
    case svInteger: rc = sqlite3_bind_int64(st, index, v.i); break;
    case svDouble: rc = sqlite3_bind_double(st, index, v.d); break;
    case svText:
      rc = sqlite3_bind_text64(st, index, v.p ? v.p : "", v.n, SQLITE_STATIC, SQLITE_UTF8);
      break;
    case svBlob:
      rc = v.n ? sqlite3_bind_blob64(st, index, v.p, v.n, SQLITE_STATIC)
               : sqlite3_bind_zeroblob(st, index, 0);
      break;
  }
  if (rc != SQLITE_OK) ThrowSqlite(sqlite3_db_handle(st), rc);
}

}  // namespace vdbsrv
