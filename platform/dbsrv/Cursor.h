// A named cursor of a connection over a prepared statement.
//
// Positions are 0 (before the first row), 1..n (a row) and n + 1 (after the
// last row). A no-scroll cursor streams: it keeps nothing but the row the
// SQLite statement stands on and only moves forward. A scrollable cursor
// keeps the rows it has read in one arena (no allocation per row beyond the
// arena's growth); rows are read from SQLite as positions ask for them.
// Fetching the current row again (relative 0), locking it and changing it
// through the cursor read the row as it is stored now: the cursor first
// reads the rest of its result so that it no longer holds SQLite's read
// snapshot, then re-reads the row by its rowid.
//
// A cursor over a procedure call holds the result sets the call produced and
// stands on one of them at a time; Resume moves to the next.
#pragma once

#include "dbsrv/ProcInterp.h"

#include "dbsrv/SqlValue.h"
#include "dbsrv/Statement.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct sqlite3_stmt;

namespace vdbsrv {

class Connection;
class ServerVariables;

// Cursor flags of declare and open.
enum CursorFlag : uint32_t {
  cfReadOnly = 0x0002,
  cfNoScroll = 0x0004,
  cfIsolation = 0x0040,
  cfFixedScroll = 0x0080,
  cfInsensitive = 0x0400,
  cfUnique = 0x0800,
  cfForUpdate = 0x1000,
};

// Receives the rows a fetch delivers; Cursor::Value reads the row inside.
class RowSink {
 public:
  virtual ~RowSink() = default;
  virtual void Deliver(uint32_t index) = 0;
};

class Cursor {
 public:
  Cursor(std::string name, std::shared_ptr<PreparedStatement> statement, uint32_t flags)
      : name_(std::move(name)), statement_(std::move(statement)), flags_(flags) {}
  ~Cursor();
  Cursor(const Cursor&) = delete;
  Cursor& operator=(const Cursor&) = delete;

  const std::string& Name() const { return name_; }
  PreparedStatement& Statement() const { return *statement_; }
  bool IsOpen() const { return st_ != nullptr || proc_; }
  bool ReadOnly() const { return flags_ & cfReadOnly; }

  // Runs the statement with the input values. Answers the row count for
  // SQLCOUNT: exact when exact is set, else 0 (no estimate is made).
  // flags replace the declared ones when not 0.
  int64_t Open(Connection& conn, ServerVariables& variables, const HostInput* input,
               uint32_t flags, bool exact, bool shortBlockPastEnd);
  void Close();

  // Opens the cursor over the result sets of a call, standing on the first.
  // Answers its row count.
  int64_t OpenResults(Connection& conn, std::vector<TProcResultSet> sets);
  // Moves to the next result set of a call; false when there is none (the
  // procedure has completed) or the cursor is not over a call. Answers the
  // new set's row count in rows.
  bool Resume(int64_t& rows);
  // The columns of the rows the cursor delivers now.
  const std::vector<ColumnInfo>& ColumnInfos() const { return proc_ ? procColumns_ : statement_->Columns(); }

  // Moves by kind (1 absolute, 2 relative) and offset and delivers up to rows
  // rows from there on (sink may be null: position only). Answers the rows
  // delivered; 0 means "no row" with the position before the first or after
  // the last row. lock takes the write lock before re-reading the row.
  uint32_t Fetch(int32_t kind, int32_t offset, uint32_t rows, RowSink* sink, bool lock);

  // Visible columns (the statement's result columns).
  int Columns() const { return static_cast<int>(ColumnInfos().size()); }
  // Column c (0-based) of the row being delivered, or of the current row.
  SqlValue Value(int c) const;
  // True when the cursor stands on a row.
  bool OnRow() const;

  // Positioned changes; each answers the rows affected.
  struct Assignment {
    int column;      // visible column index
    SqlValue value;
  };
  int64_t UpdateCurrent(const std::vector<Assignment>& values);
  int64_t DeleteCurrent();
  // Inserts into the cursor's table; values with column -1 are skipped.
  // Reads the new row back (as stored, defaults included) for ReadInserted.
  int64_t Insert(const std::vector<Assignment>& values);
  // Column c of the row Insert read back.
  SqlValue InsertedValue(int c) const;

  // The query plan of the open cursor, one line per step.
  std::string Plan() const;

 private:
  struct Cell {
    SqlValueKind kind;
    int64_t i;      // svInteger; svText/svBlob: offset into the arena
    double d;       // svDouble
    size_t n;       // svText/svBlob: bytes
  };

  void CheckChangeable() const;
  int Width() const { return width_; }
  // 1 when the last SQLite column is the hidden rowid.
  int Hidden() const { return !proc_ && statement_->Updatable() ? 1 : 0; }
  void LoadResultSet();
  // Makes row exist in the cache (scroll) or in the statement (no-scroll).
  bool Ensure(int64_t row);
  bool StepOne();
  void StoreRow(int64_t row, sqlite3_stmt* from, int firstColumn);
  void StoreCell(Cell& cell, const SqlValue& v);
  void DrainAll();
  bool Refetch(int64_t row);
  int64_t CurrentRowid() const;
  SqlValue CellValue(int64_t row, int column) const;
  sqlite3_stmt* PrepareOwn(const std::string& sql) const;

  const std::string name_;
  std::shared_ptr<PreparedStatement> statement_;
  uint32_t flags_;
  Connection* conn_ = nullptr;
  ServerVariables* variables_ = nullptr;

  sqlite3_stmt* st_ = nullptr;     // the open cursor's statement (owned)
  sqlite3_stmt* refetch_ = nullptr;  // the current row by rowid (owned, lazily made)
  bool scroll_ = true;
  bool shortBlockPastEnd_ = false;  // a short block leaves the position after the last row
  int width_ = 0;                   // SQLite columns, the hidden rowid included
  std::vector<OwnedValue> params_;  // the open's parameter values, for re-reads
  bool done_ = false;               // the statement has no more rows
  int64_t read_ = 0;                // rows read from SQLite so far
  int64_t pos_ = 0;                 // the position
  std::vector<Cell> cells_;         // scroll: read_ rows of width_ cells
  std::vector<char> arena_;         // scroll: bytes of text and blob cells
  bool streamOnRow_ = false;        // no-scroll: st_ stands on row read_
  std::vector<OwnedValue> inserted_;  // the row Insert read back
  bool proc_ = false;                 // open over the result sets of a call
  std::vector<TProcResultSet> sets_;  // proc_: every result set of the call
  size_t set_ = 0;                    // proc_: the one the cursor stands on
  std::vector<ColumnInfo> procColumns_;  // proc_: its columns
};

}  // namespace vdbsrv
