#include "dbsrv/Cursor.h"

#include "dbsrv/Connection.h"
#include "dbsrv/Errors.h"
#include "dbsrv/ServerVariables.h"

#include <sqlite3.h>

#include <cstring>

namespace vdbsrv {

namespace {

std::string QuoteName(std::string_view name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  out.push_back('"');
  return out;
}

struct Finalizer {
  void operator()(sqlite3_stmt* st) const { sqlite3_finalize(st); }
};
using StmtPtr = std::unique_ptr<sqlite3_stmt, Finalizer>;

}  // namespace

Cursor::~Cursor() { Close(); }

sqlite3_stmt* Cursor::PrepareOwn(const std::string& sql) const {
  sqlite3* db = conn_->Handle();
  sqlite3_stmt* st = nullptr;
  int rc = sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &st, nullptr);
  if (rc != SQLITE_OK) ThrowSqlite(db, rc);
  return st;
}

int64_t Cursor::Open(Connection& conn, ServerVariables& variables, const HostInput* input,
                     uint32_t flags, bool exact, bool shortBlockPastEnd) {
  if (IsOpen()) throw ServerError(errCursorAlreadyOpen, name_);
  if (!statement_->HasResultSet()) throw ServerError(errNotImplemented, "cursor over a statement without result set");
  if (flags) flags_ = flags;
  conn_ = &conn;
  variables_ = &variables;
  scroll_ = !(flags_ & cfNoScroll);
  shortBlockPastEnd_ = shortBlockPastEnd;
  StmtPtr st(statement_->TakeSpare(PreparedStatement::kSpareCursor));
  if (!st) st.reset(PrepareOwn(statement_->CursorSql()));
  statement_->Bind(st.get(), input, variables, &params_);
  width_ = sqlite3_column_count(st.get());
  done_ = false;
  read_ = pos_ = 0;
  cells_.clear();
  arena_.clear();
  streamOnRow_ = false;
  int64_t count = 0;
  if (exact) {
    StmtPtr counter(statement_->TakeSpare(PreparedStatement::kSpareCount));
    if (!counter) counter.reset(PrepareOwn("SELECT count(*) FROM (" + statement_->Sql() + ")"));
    for (size_t i = 0; i < params_.size(); ++i)
      BindValue(counter.get(), static_cast<int>(i + 1), params_[i].View());
    if (conn.Step(counter.get()) == SQLITE_ROW) count = sqlite3_column_int64(counter.get(), 0);
    statement_->KeepSpare(PreparedStatement::kSpareCount, counter.release());
  }
  st_ = st.release();
  if (flags_ & cfInsensitive) {
    // The membership and the values are those of the open.
    try {
      DrainAll();
    } catch (...) {
      Close();
      throw;
    }
    count = read_;
  }
  return count;
}

int64_t Cursor::OpenResults(Connection& conn, std::vector<TProcResultSet> sets) {
  if (IsOpen()) throw ServerError(errCursorAlreadyOpen, name_);
  conn_ = &conn;
  proc_ = true;
  sets_ = std::move(sets);
  set_ = 0;
  LoadResultSet();
  return read_;
}

void Cursor::LoadResultSet() {
  // The rows go into the scroll cache as if read from SQLite, so that every
  // fetch and position works on them unchanged.
  scroll_ = true;
  shortBlockPastEnd_ = false;
  cells_.clear();
  arena_.clear();
  procColumns_.clear();
  read_ = pos_ = 0;
  done_ = true;
  width_ = 0;
  if (set_ >= sets_.size()) return;
  TProcResultSet& rs = sets_[set_];
  width_ = static_cast<int>(rs.Columns.size());
  for (size_t c = 0; c < rs.Columns.size(); ++c) {
    ColumnInfo info;
    info.name = rs.Columns[c];
    if (c < rs.Types.size()) info.type = rs.Types[c];
    procColumns_.push_back(std::move(info));
  }
  cells_.resize(rs.Rows.size() * static_cast<size_t>(width_));
  for (const auto& row : rs.Rows) {
    ++read_;
    size_t at = static_cast<size_t>(read_ - 1) * static_cast<size_t>(width_);
    for (int c = 0; c < width_; ++c) {
      SqlValue v = static_cast<size_t>(c) < row.size() ? row[static_cast<size_t>(c)].View() : SqlValue{};
      StoreCell(cells_[at + static_cast<size_t>(c)], v);
    }
  }
  // The rows now live in the cache only.
  rs.Rows.clear();
  rs.Rows.shrink_to_fit();
}

bool Cursor::Resume(int64_t& rows) {
  if (!IsOpen()) throw ServerError(errCursorNotOpen, name_);
  if (!proc_ || set_ + 1 >= sets_.size()) return false;
  ++set_;
  LoadResultSet();
  rows = read_;
  return true;
}

void Cursor::Close() {
  proc_ = false;
  sets_.clear();
  set_ = 0;
  procColumns_.clear();
  statement_->KeepSpare(PreparedStatement::kSpareCursor, st_);
  st_ = nullptr;
  sqlite3_finalize(refetch_);
  refetch_ = nullptr;
  cells_.clear();
  cells_.shrink_to_fit();
  arena_.clear();
  arena_.shrink_to_fit();
  params_.clear();
  inserted_.clear();
  read_ = pos_ = 0;
  done_ = streamOnRow_ = false;
}

bool Cursor::StepOne() {
  if (done_) return false;
  if (conn_->Step(st_) != SQLITE_ROW) {
    done_ = true;
    streamOnRow_ = false;
    sqlite3_reset(st_);  // gives up the read snapshot
    return false;
  }
  ++read_;
  if (scroll_)
    StoreRow(read_, st_, 0);
  else
    streamOnRow_ = true;
  return true;
}

void Cursor::StoreRow(int64_t row, sqlite3_stmt* from, int firstColumn) {
  size_t at = static_cast<size_t>(row - 1) * static_cast<size_t>(width_);
  if (cells_.size() < at + static_cast<size_t>(width_)) cells_.resize(at + static_cast<size_t>(width_));
  for (int c = 0; c < width_; ++c) StoreCell(cells_[at + static_cast<size_t>(c)], ColumnValue(from, c + firstColumn));
}

void Cursor::StoreCell(Cell& cell, const SqlValue& v) {
  cell.kind = v.kind;
  cell.i = v.i;
  cell.d = v.d;
  cell.n = v.n;
  // Text and bytes are copied into the arena; the cell keeps their offset.
  if (v.kind == svText || v.kind == svBlob) {
    cell.i = static_cast<int64_t>(arena_.size());
    arena_.insert(arena_.end(), v.p, v.p + v.n);
  }
}

SqlValue Cursor::CellValue(int64_t row, int column) const {
  const Cell& cell = cells_[static_cast<size_t>(row - 1) * static_cast<size_t>(width_) + static_cast<size_t>(column)];
  SqlValue v;
  v.kind = cell.kind;
  v.d = cell.d;
  if (cell.kind == svText || cell.kind == svBlob) {
    v.p = arena_.data() + cell.i;
    v.n = cell.n;
  } else {
    v.i = cell.i;
  }
  return v;
}

void Cursor::DrainAll() {
  if (!scroll_) return;
  while (StepOne()) {
  }
}

bool Cursor::Ensure(int64_t row) {
  if (scroll_) {
    while (read_ < row && StepOne()) {
    }
    return row <= read_;
  }
  if (row < read_ || (row == read_ && !streamOnRow_ && !done_)) throw ServerError(errFetchNextOnly);
  while (read_ < row && StepOne()) {
  }
  return row == read_ && streamOnRow_;
}

bool Cursor::Refetch(int64_t row) {
  if (!statement_->Updatable()) return true;
  if (!refetch_) {
    std::string sql = "SELECT * FROM (" + statement_->CursorSql() + ") WHERE vdb_rowid_ = ?" +
                      std::to_string(params_.size() + 1);
    refetch_ = PrepareOwn(sql);
  }
  sqlite3_reset(refetch_);
  for (size_t i = 0; i < params_.size(); ++i) BindValue(refetch_, static_cast<int>(i + 1), params_[i].View());
  SqlValue id = CellValue(row, width_ - 1);
  BindValue(refetch_, static_cast<int>(params_.size() + 1), id);
  bool found = conn_->Step(refetch_) == SQLITE_ROW;
  if (found) StoreRow(row, refetch_, 0);
  sqlite3_reset(refetch_);
  return found;
}

uint32_t Cursor::Fetch(int32_t kind, int32_t offset, uint32_t rows, RowSink* sink, bool lock) {
  if (!IsOpen()) throw ServerError(errCursorNotOpen, name_);
  if (kind != 1 && kind != 2) throw ServerError(errInvalidParameter, "fetch kind " + std::to_string(kind));
  if (rows == 0) rows = 1;
  int64_t target;
  if (kind == 1) {
    if (offset < 0) {
      if (!scroll_) throw ServerError(errFetchNextOnly);
      DrainAll();
      target = read_ + 1 + offset;
    } else {
      target = offset;
    }
  } else {
    target = pos_ + offset;
  }
  bool current = kind == 2 && offset == 0;
  if (!scroll_ && target < pos_) throw ServerError(errFetchNextOnly);
  if (target < 1) {
    pos_ = 0;
    return 0;
  }
  bool sensitive = scroll_ && (current || lock) && !(flags_ & cfInsensitive) && Hidden() == 1;
  if (sensitive) DrainAll();
  if (lock) conn_->ExecuteImmediate("begin");
  uint32_t delivered = 0;
  for (uint32_t r = 0; r < rows; ++r) {
    int64_t row = target + r;
    if (!scroll_ && row == read_ && streamOnRow_) {
      // the row the stream stands on (relative 0)
    } else if (!Ensure(row)) {
      break;
    }
    if (sensitive && !Refetch(row)) {
      if (r == 0) return 0;  // the row is gone; the position stays
      break;
    }
    pos_ = row;
    if (sink) sink->Deliver(r);
    ++delivered;
  }
  if (delivered == 0) {
    pos_ = scroll_ ? read_ + 1 : read_ + 1;
    return 0;
  }
  if (delivered < rows && shortBlockPastEnd_) pos_ += 1;
  return delivered;
}

bool Cursor::OnRow() const {
  if (!IsOpen() || pos_ < 1) return false;
  if (scroll_) return pos_ <= read_;
  return pos_ == read_ && streamOnRow_;
}

SqlValue Cursor::Value(int c) const {
  int col = c;
  if (scroll_) return CellValue(pos_, col);
  return ColumnValue(st_, col);
}

void Cursor::CheckChangeable() const {
  if (!IsOpen()) throw ServerError(errCursorNotOpen, name_);
  if (ReadOnly()) throw ServerError(errCursorReadOnly);
  if (proc_ || !statement_->Updatable()) throw ServerError(errNotUpdatable, name_);
}

int64_t Cursor::CurrentRowid() const {
  if (!OnRow()) throw ServerError(errNoCurrentRow);
  SqlValue id = scroll_ ? CellValue(pos_, width_ - 1) : ColumnValue(st_, width_ - 1);
  if (id.kind != svInteger) throw ServerError(errNoCurrentRow);
  return id.i;
}

int64_t Cursor::UpdateCurrent(const std::vector<Assignment>& values) {
  CheckChangeable();
  DrainAll();
  int64_t rowid = CurrentRowid();
  if (values.empty()) return 0;
  const auto& cols = statement_->Columns();
  std::string sql = "UPDATE " + QuoteName(statement_->Table()) + " SET ";
  for (size_t i = 0; i < values.size(); ++i) {
    const ColumnInfo& c = cols[static_cast<size_t>(values[i].column)];
    if (c.originColumn.empty()) throw ServerError(errUpdateExpression, c.name);
    if (i) sql += ", ";
    sql += QuoteName(c.originColumn) + " = ?" + std::to_string(i + 1);
  }
  sql += " WHERE rowid = ?" + std::to_string(values.size() + 1);
  StmtPtr st(PrepareOwn(sql));
  std::vector<SqlValue> bound;
  bound.reserve(values.size() + 1);
  for (const Assignment& a : values) bound.push_back(a.value);
  bound.push_back(SqlValue::Integer(rowid));
  for (size_t i = 0; i < bound.size(); ++i) BindValue(st.get(), static_cast<int>(i + 1), bound[i]);
  conn_->Step(st.get(), bound);
  int64_t changed = sqlite3_changes64(conn_->Handle());
  if (scroll_) Refetch(pos_);
  return changed;
}

int64_t Cursor::DeleteCurrent() {
  CheckChangeable();
  DrainAll();
  int64_t rowid = CurrentRowid();
  StmtPtr st(PrepareOwn("DELETE FROM " + QuoteName(statement_->Table()) + " WHERE rowid = ?1"));
  BindValue(st.get(), 1, SqlValue::Integer(rowid));
  conn_->Step(st.get());
  return sqlite3_changes64(conn_->Handle());
}

int64_t Cursor::Insert(const std::vector<Assignment>& values) {
  CheckChangeable();
  DrainAll();
  const auto& cols = statement_->Columns();
  std::string names, marks;
  int n = 0;
  for (const Assignment& a : values) {
    const ColumnInfo& c = cols[static_cast<size_t>(a.column)];
    if (c.originColumn.empty()) throw ServerError(errUpdateExpression, c.name);
    if (n) {
      names += ", ";
      marks += ", ";
    }
    names += QuoteName(c.originColumn);
    marks += "?" + std::to_string(++n);
  }
  std::string table = QuoteName(statement_->Table());
  std::string sql = n ? "INSERT INTO " + table + " (" + names + ") VALUES (" + marks + ")"
                      : "INSERT INTO " + table + " DEFAULT VALUES";
  StmtPtr st(PrepareOwn(sql));
  std::vector<SqlValue> bound;
  bound.reserve(values.size());
  for (const Assignment& a : values) bound.push_back(a.value);
  for (size_t i = 0; i < bound.size(); ++i) BindValue(st.get(), static_cast<int>(i + 1), bound[i]);
  conn_->Step(st.get(), bound);
  int64_t changed = sqlite3_changes64(conn_->Handle());
  int64_t rowid = sqlite3_last_insert_rowid(conn_->Handle());
  // The row as stored: defaults and generated keys included.
  std::string select = "SELECT ";
  for (size_t i = 0; i < cols.size(); ++i) {
    if (i) select += ", ";
    select += cols[i].originColumn.empty() ? std::string("NULL") : QuoteName(cols[i].originColumn);
  }
  select += " FROM " + table + " WHERE rowid = ?1";
  StmtPtr back(PrepareOwn(select));
  BindValue(back.get(), 1, SqlValue::Integer(rowid));
  inserted_.clear();
  if (conn_->Step(back.get()) == SQLITE_ROW)
    for (int c = 0; c < static_cast<int>(cols.size()); ++c) inserted_.emplace_back(ColumnValue(back.get(), c));
  return changed;
}

SqlValue Cursor::InsertedValue(int c) const {
  if (c < 0 || static_cast<size_t>(c) >= inserted_.size()) return {};
  return inserted_[static_cast<size_t>(c)].View();
}

std::string Cursor::Plan() const {
  if (!IsOpen()) throw ServerError(errCursorNotOpen, name_);
  if (proc_) return "CALL " + statement_->Procedure().call.Name;
  StmtPtr st(PrepareOwn("EXPLAIN QUERY PLAN " + statement_->Sql()));
  for (size_t i = 0; i < params_.size(); ++i) BindValue(st.get(), static_cast<int>(i + 1), params_[i].View());
  std::string plan;
  while (sqlite3_step(st.get()) == SQLITE_ROW) {
    const char* detail = reinterpret_cast<const char*>(sqlite3_column_text(st.get(), 3));
    if (!plan.empty()) plan += "\n";
    plan += detail ? detail : "";
  }
  return plan;
}

}  // namespace vdbsrv
