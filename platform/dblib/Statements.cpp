#include "dblib/Statements.h"

#include "dblib/HostValues.h"
#include "dbsrv/Connection.h"
#include "dbsrv/Errors.h"
#include "dbsrv/SqlSession.h"

#include <algorithm>
#include <cstring>

namespace vdblib {

using vdbsrv::ColumnInfo;
using vdbsrv::Cursor;
using vdbsrv::PreparedStatement;
using vdbsrv::ServerError;
using vdbsrv::SqlValue;

namespace {

constexpr size_t kMaxText = size_t(1) << 28;  // longest statement text read
constexpr size_t kMaxCursorName = 128;
constexpr int16_t kOutputOnly = static_cast<int16_t>(0x8000);

int16_t& StatementNumber(int16_t* stmt) {
  if (!stmt) throw ServerError(vdbsrv::errInvalidParameter, "no statement number");
  return *stmt;
}

std::string_view CursorName(const char* cursor) {
  if (!cursor) throw ServerError(vdbsrv::errInvalidParameter, "no cursor name");
  return ArgText(cursor, kMaxCursorName, "cursor name");
}

void SetCount(SQLCA* ca, int64_t n) {
  SQLCOUNT(*ca) = static_cast<int32_t>(std::clamp<int64_t>(n, INT32_MIN, INT32_MAX));
}

void Warn(SQLCA* ca, ClientContext& ctx, int32_t code, std::string_view param = {}) {
  int32_t count = SQLCOUNT(*ca);
  SetError(ca, code, param, &ctx);
  SQLCOUNT(*ca) = count;
}

// Describes columns into an SQLDA: the count needed in sqld, the entries
// that fit filled.
void PutColumns(SQLDA* sqlda, const std::vector<ColumnInfo>& columns) {
  if (!sqlda) throw ServerError(vdbsrv::errInvalidParameter, "no descriptor");
  int n = static_cast<int>(columns.size());
  int fit = std::min<int>(n, std::max<int16_t>(sqlda->sqln, 0));
  for (int i = 0; i < fit; ++i) {
    sqlvar& v = sqlda->sqlvar[i];
    const ColumnInfo& c = columns[static_cast<size_t>(i)];
    v.sqltype = static_cast<int16_t>(c.type.code | (c.type.nullable ? DT_NULLABLE : 0));
    v.sqllen = c.type.length;
    PutName(v, c.name);
  }
  sqlda->sqld = static_cast<int16_t>(n);
}

// Column index of the cursor whose (30-byte) name an entry carries.
int ColumnByName(const std::vector<ColumnInfo>& columns, std::string_view name) {
  for (size_t i = 0; i < columns.size(); ++i) {
    std::string_view c = columns[i].name;
    if (c.size() > SQL_NAME_LENGTH) c = c.substr(0, SQL_NAME_LENGTH);
    if (vdbsrv::SameName(c, name)) return static_cast<int>(i);
  }
  for (size_t i = 0; i < columns.size(); ++i)
    if (vdbsrv::SameName(columns[i].originColumn, name)) return static_cast<int>(i);
  return -1;
}

// The values a positioned change sends: entries with a name; for an insert,
// entries without data or indicator are left to the column's default.
std::vector<Cursor::Assignment> Assignments(const SQLDA* sqlda, Cursor& cursor,
                                            vdbsrv::ServerVariables& variables, bool insert,
                                            std::vector<DateTimeText>& scratch) {
  int n = EntriesInUse(sqlda, "value descriptor");
  std::vector<Cursor::Assignment> out;
  scratch.resize(static_cast<size_t>(n));
  const auto& columns = cursor.ColumnInfos();
  for (int i = 0; i < n; ++i) {
    const sqlvar& v = sqlda->sqlvar[i];
    std::string_view name = EntryName(v);
    if (name.empty()) continue;
    if (insert && !v.sqldata && !v.sqlind) continue;
    int c = ColumnByName(columns, name);
    if (c < 0) throw ServerError(vdbsrv::errColumnNotFound, name);
    out.push_back({c, EntryValue(v, variables, scratch[static_cast<size_t>(i)])});
  }
  return out;
}

// Writes the rows a fetch delivers into consecutive groups of entries.
class SqldaRows final : public vdbsrv::RowSink {
 public:
  SqldaRows(SQLDA* sqlda, Cursor& cursor) : sqlda_(sqlda), cursor_(cursor), columns_(cursor.Columns()) {}
  void Deliver(uint32_t index) override {
    sqlvar* row = sqlda_->sqlvar + static_cast<size_t>(index) * static_cast<size_t>(columns_);
    for (int c = 0; c < columns_; ++c) truncated_ |= PutValue(row[c], cursor_.Value(c));
  }
  bool Truncated() const { return truncated_; }

 private:
  SQLDA* sqlda_;
  Cursor& cursor_;
  const int columns_;
  bool truncated_ = false;
};

class SqldaOutput final : public vdbsrv::OutputSink {
 public:
  explicit SqldaOutput(SQLDA* sqlda) : sqlda_(sqlda) {}
  void Row(const SqlValue* values, int columns) override {
    int n = std::min<int>(columns, sqlda_->sqld);
    for (int c = 0; c < n; ++c) truncated_ |= PutValue(sqlda_->sqlvar[c], values[c]);
  }
  bool Truncated() const { return truncated_; }

 private:
  SQLDA* sqlda_;
  bool truncated_ = false;
};

}  // namespace

int32_t Prepare(SQLCA* ca, int16_t* stmt, const char* text) {
  return Request(ca, [&](ClientContext& ctx, vdbsrv::Connection& conn) {
    int16_t& number = StatementNumber(stmt);
    if (!text) throw ServerError(vdbsrv::errInvalidParameter, "no statement text");
    std::string_view sql = ArgText(text, kMaxText, "statement text");
    number = conn.Sql().Prepare(number, sql);
    ctx.Trace("Prepare " + std::to_string(number));
  });
}

int32_t DropStatement(SQLCA* ca, int16_t* stmt) {
  return Request(ca, [&](ClientContext&, vdbsrv::Connection& conn) {
    conn.Sql().Drop(StatementNumber(stmt));
  });
}

int32_t Describe(SQLCA* ca, int16_t* stmt, SQLDA* sqlda, uint32_t kind) {
  return Request(ca, [&](ClientContext&, vdbsrv::Connection& conn) {
    PreparedStatement& s = conn.Sql().Statement(StatementNumber(stmt));
    switch (kind) {
      case DESCRIBE_SELECT_LIST:
        PutColumns(sqlda, s.Columns());
        break;
      case DESCRIBE_PROBE:
        PutColumns(sqlda, s.Columns());
        // 1: the result set is known now; 0: a procedure call, whose result
        // sets are known only once it runs.
        SQLCOUNT(*ca) = s.Kind() == vdbsrv::skProcedure ? 0 : 1;
        break;
      case DESCRIBE_BIND_VARS: {
        if (!sqlda) throw ServerError(vdbsrv::errInvalidParameter, "no descriptor");
        const auto& hosts = s.HostVars();
        int n = static_cast<int>(hosts.size());
        int fit = std::min<int>(n, std::max<int16_t>(sqlda->sqln, 0));
        for (int i = 0; i < fit; ++i) {
          sqlvar& v = sqlda->sqlvar[i];
          vdbsrv::SqlType type;
          if (s.HostType(static_cast<size_t>(i), type)) {
            v.sqltype = static_cast<int16_t>(type.code | DT_NULLABLE);
            v.sqllen = type.length;
          } else {
            v.sqltype = DT_STRING | DT_NULLABLE;
            v.sqllen = vdbsrv::kLongLength;
          }
          PutName(v, hosts[static_cast<size_t>(i)].Name);
          // Bit 15 without bit 14: a value the call only writes.
          if (v.sqlind) *v.sqlind = s.HostIsOutputOnly(static_cast<size_t>(i)) ? kOutputOnly : 0;
        }
        sqlda->sqld = static_cast<int16_t>(n);
        break;
      }
      default:
        throw ServerError(vdbsrv::errInvalidParameter, "describe kind " + std::to_string(kind));
    }
  });
}

int32_t DescribeCursor(SQLCA* ca, const char* cursor, SQLDA* sqlda, uint32_t kind) {
  return Request(ca, [&](ClientContext&, vdbsrv::Connection& conn) {
    Cursor& c = conn.Sql().DeclaredCursor(CursorName(cursor));
    if (kind != DESCRIBE_SELECT_LIST)
      throw ServerError(vdbsrv::errInvalidParameter, "describe kind " + std::to_string(kind));
    // An open call describes the result set it stands on.
    PutColumns(sqlda, c.IsOpen() ? c.ColumnInfos() : c.Statement().Columns());
  });
}

int32_t DescribeNames(SQLCA* ca, int16_t* stmt, const char* cursor, SQLDA* sqlda, uint32_t kind) {
  return Request(ca, [&](ClientContext& ctx, vdbsrv::Connection& conn) {
    PreparedStatement* s = nullptr;
    Cursor* c = nullptr;
    if (stmt && *stmt) {
      s = &conn.Sql().Statement(*stmt);
    } else if (cursor) {
      c = &conn.Sql().DeclaredCursor(CursorName(cursor));
      s = &c->Statement();
    } else {
      throw ServerError(vdbsrv::errInvalidParameter, "neither statement nor cursor");
    }
    if (!sqlda) throw ServerError(vdbsrv::errInvalidParameter, "no descriptor");
    bool truncated = false;
    if (kind == DESCRIBE_NAMES_COLUMNS) {
      const auto& columns = c && c->IsOpen() ? c->ColumnInfos() : s->Columns();
      int n = static_cast<int>(columns.size());
      int fit = std::min<int>(n, std::max<int16_t>(sqlda->sqln, 0));
      for (int i = 0; i < fit; ++i)
        truncated |= PutValue(sqlda->sqlvar[i], SqlValue::Text(columns[static_cast<size_t>(i)].name));
      sqlda->sqld = static_cast<int16_t>(n);
    } else if (kind == DESCRIBE_NAMES_TABLE) {
      if (sqlda->sqln < 1) throw ServerError(vdbsrv::errDescriptorMismatch, "no entry for the table name");
      truncated = PutValue(sqlda->sqlvar[0], SqlValue::Text(s->Table()));
      sqlda->sqld = 1;
    } else {
      throw ServerError(vdbsrv::errInvalidParameter, "describe kind " + std::to_string(kind));
    }
    if (truncated) Warn(ca, ctx, vdbsrv::errTruncated);
  });
}

int32_t Declare(SQLCA* ca, const char* cursor, int16_t* stmt, uint32_t flags) {
  return Request(ca, [&](ClientContext&, vdbsrv::Connection& conn) {
    conn.Sql().Declare(CursorName(cursor), StatementNumber(stmt), flags);
  });
}

int32_t Open(SQLCA* ca, const char* cursor, int16_t* stmt, SQLDA* bind, int32_t isolation,
             uint32_t flags) {
  return Request(ca, [&](ClientContext& ctx, vdbsrv::Connection& conn) {
    vdbsrv::SqlSession& session = conn.Sql();
    std::string_view name = CursorName(cursor);
    Cursor& c = session.DeclaredCursor(name);
    if (stmt && *stmt && &c.Statement() != &session.Statement(*stmt))
      session.Declare(name, *stmt, flags);
    Cursor& open = session.DeclaredCursor(name);
    if ((flags & vdbsrv::cfIsolation) && (isolation < 0 || isolation > 3))
      throw ServerError(vdbsrv::errInvalidParameter, "isolation level " + std::to_string(isolation));
    // Levels 2 and 3 read inside a transaction, as the option does.
    if ((flags & vdbsrv::cfIsolation) && isolation >= 2 && !conn.InTransaction())
      conn.ExecuteImmediate("begin");
    SqldaInput input(bind, session.Variables());
    if (open.Statement().IsCall()) {
      if (open.IsOpen()) throw ServerError(vdbsrv::errCursorAlreadyOpen, name);
      // The call runs to its end now; the cursor steps through what it left.
      vdbsrv::TProcCallResult result = session.Call(open.Statement(), &input);
      bool none = result.ResultSets.empty();
      SetCount(ca, open.OpenResults(conn, std::move(result.ResultSets)));
      ctx.Trace("Open " + std::string(name));
      if (none) Warn(ca, ctx, vdbsrv::errProcedureComplete);
      return;
    }
    bool v6 = conn.EngineVersion().rfind("6.", 0) == 0;
    int64_t count = open.Open(conn, session.Variables(), &input, flags, conn.Options().RowCounts(), v6);
    SetCount(ca, count);
    ctx.Trace("Open " + std::string(name));
  });
}

int32_t Fetch(SQLCA* ca, const char* cursor, int32_t kind, int32_t offset, SQLDA* sqlda,
              uint32_t option, uint32_t rows) {
  return Request(ca, [&](ClientContext& ctx, vdbsrv::Connection& conn) {
    Cursor& c = conn.Sql().OpenCursor(CursorName(cursor));
    if (rows == 0) rows = 1;
    SqldaRows sink(sqlda, c);
    if (sqlda) {
      int need = c.Columns() * static_cast<int>(std::min<uint32_t>(rows, 32767));
      int have = EntriesInUse(sqlda, "fetch descriptor");
      if (have < need || rows > 32767)
        throw ServerError(vdbsrv::errDescriptorMismatch,
                          std::to_string(have) + " entries for " + std::to_string(need) + " values");
      for (int i = 0; i < need; ++i)
        if (!sqlda->sqlvar[i].sqldata)
          throw ServerError(vdbsrv::errInvalidParameter, "fetch entry " + std::to_string(i + 1) + " without data");
    }
    uint32_t got = c.Fetch(kind, offset, rows, sqlda ? &sink : nullptr, option & FETCH_LOCK);
    SQLCOUNT(*ca) = static_cast<int32_t>(got);
    if (got == 0)
      Warn(ca, ctx, vdbsrv::errNotFound);
    else if (sink.Truncated())
      Warn(ca, ctx, vdbsrv::errTruncated);
  });
}

int32_t GetData(SQLCA* ca, const char* cursor, uint32_t column, uint32_t offset, SQLDA* sqlda) {
  return Request(ca, [&](ClientContext& ctx, vdbsrv::Connection& conn) {
    Cursor& c = conn.Sql().OpenCursor(CursorName(cursor));
    if (column < 1 || column > static_cast<uint32_t>(c.Columns()))
      throw ServerError(vdbsrv::errInvalidParameter, "column " + std::to_string(column));
    if (EntriesInUse(sqlda, "piece descriptor") < 1)
      throw ServerError(vdbsrv::errDescriptorMismatch, "no entry for the piece");
    if (!c.OnRow()) throw ServerError(vdbsrv::errNoCurrentRow);
    sqlvar& v = sqlda->sqlvar[0];
    SqlValue value = c.Value(static_cast<int>(column - 1));
    if (value.kind == vdbsrv::svNull) {
      PutValue(v, value);
      return;
    }
    std::string text;
    if (value.kind == vdbsrv::svInteger || value.kind == vdbsrv::svDouble) {
      char buf[40];
      if (value.kind == vdbsrv::svInteger)
        text = std::to_string(value.i);
      else
        std::snprintf(buf, sizeof buf, "%.15g", value.d), text = buf;
      value = SqlValue::Text(text);
    }
    std::string_view all = value.Bytes();
    if (offset > all.size()) {
      Warn(ca, ctx, vdbsrv::errNotFound);
      return;
    }
    std::string_view rest = all.substr(offset);
    SqlValue piece = value;
    piece.p = rest.data();
    piece.n = rest.size();
    if (PutValue(v, piece)) Warn(ca, ctx, vdbsrv::errTruncated);
  });
}

int32_t PutInto(SQLCA* ca, const char* cursor, SQLDA* values, SQLDA* fetchSqlda) {
  return Request(ca, [&](ClientContext& ctx, vdbsrv::Connection& conn) {
    vdbsrv::SqlSession& session = conn.Sql();
    Cursor& c = session.OpenCursor(CursorName(cursor));
    std::vector<DateTimeText> scratch;
    auto assignments = Assignments(values, c, session.Variables(), true, scratch);
    int64_t n = c.Insert(assignments);
    SetCount(ca, n);
    if (fetchSqlda && EntriesInUse(fetchSqlda, "fetch descriptor") >= c.Columns()) {
      bool truncated = false;
      for (int i = 0; i < c.Columns(); ++i)
        if (fetchSqlda->sqlvar[i].sqldata) truncated |= PutValue(fetchSqlda->sqlvar[i], c.InsertedValue(i));
      if (truncated) Warn(ca, ctx, vdbsrv::errTruncated);
    }
  });
}

int32_t Update(SQLCA* ca, const char* cursor, SQLDA* values) {
  return Request(ca, [&](ClientContext&, vdbsrv::Connection& conn) {
    vdbsrv::SqlSession& session = conn.Sql();
    Cursor& c = session.OpenCursor(CursorName(cursor));
    std::vector<DateTimeText> scratch;
    auto assignments = Assignments(values, c, session.Variables(), false, scratch);
    SetCount(ca, c.UpdateCurrent(assignments));
  });
}

int32_t Delete(SQLCA* ca, const char* cursor) {
  return Request(ca, [&](ClientContext&, vdbsrv::Connection& conn) {
    SetCount(ca, conn.Sql().OpenCursor(CursorName(cursor)).DeleteCurrent());
  });
}

int32_t Resume(SQLCA* ca, const char* cursor) {
  return Request(ca, [&](ClientContext& ctx, vdbsrv::Connection& conn) {
    Cursor& c = conn.Sql().OpenCursor(CursorName(cursor));
    int64_t rows = 0;
    if (c.Resume(rows)) {
      SetCount(ca, rows);
      return;
    }
    Warn(ca, ctx, vdbsrv::errProcedureComplete);
  });
}

int32_t Close(SQLCA* ca, const char* cursor) {
  return Request(ca, [&](ClientContext&, vdbsrv::Connection& conn) {
    conn.Sql().OpenCursor(CursorName(cursor)).Close();
  });
}

int32_t Explain(SQLCA* ca, const char* cursor, SQLDA* sqlda) {
  return Request(ca, [&](ClientContext& ctx, vdbsrv::Connection& conn) {
    Cursor& c = conn.Sql().OpenCursor(CursorName(cursor));
    if (EntriesInUse(sqlda, "plan descriptor") < 1)
      throw ServerError(vdbsrv::errDescriptorMismatch, "no entry for the plan");
    std::string plan = c.Plan();
    if (PutValue(sqlda->sqlvar[0], SqlValue::Text(plan))) Warn(ca, ctx, vdbsrv::errTruncated);
  });
}

int32_t ExecuteInto(SQLCA* ca, int16_t* stmt, SQLDA* in, SQLDA* out) {
  return Request(ca, [&](ClientContext& ctx, vdbsrv::Connection& conn) {
    vdbsrv::SqlSession& session = conn.Sql();
    PreparedStatement& s = session.Statement(StatementNumber(stmt));
    SqldaInput input(in, session.Variables());
    if (out) EntriesInUse(out, "output descriptor");
    SqldaOutput sink(out);
    int64_t rows = session.Execute(s, &input, out ? &sink : nullptr);
    if (rows < 0) {
      SQLCOUNT(*ca) = 0;
      Warn(ca, ctx, vdbsrv::errNotFound);
      return;
    }
    SetCount(ca, rows);
    if (sink.Truncated()) Warn(ca, ctx, vdbsrv::errTruncated);
  });
}

int32_t ExecuteText(SQLCA* ca, const char* text) {
  return Request(ca, [&](ClientContext&, vdbsrv::Connection& conn) {
    if (!text) throw ServerError(vdbsrv::errInvalidParameter, "no statement text");
    std::string_view sql = ArgText(text, kMaxText, "statement text");
    SetCount(ca, conn.Sql().ExecuteImmediate(sql));
  });
}

}  // namespace vdblib
