// A prepared statement of a connection: the dialect's reading of the text,
// the SQLite statement it became, its result columns with their server
// types, and what a cursor over it may change.
#pragma once

#include "dbsrv/DialectStatement.h"
#include "dbsrv/DialectTranslator.h"
#include "dbsrv/SqlValue.h"
#include "dbsrv/TypeMap.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace vdbsrv {

class ServerVariables;

// What running a statement means.
enum StatementKind : uint8_t {
  skSql,             // plain SQL for SQLite
  skConnection,      // carried out by the connection itself (transactions, options, messages)
  skCreateVariable,  // create variable Name DeclaredType
  skSetVariable,     // set Name = Value, or Name = Name || Appended
  skDropVariable,    // drop variable Name
  skWaitfor,         // waitfor delay
  skProcedure,       // call, create/drop procedure or function
};

// The fields of the server's own commands.
struct CommandFields {
  std::string name;          // skCreateVariable, skSetVariable, skDropVariable
  std::string declaredType;  // skCreateVariable
  bool append = false;       // skSetVariable: `set x = x || expr`
  TDialectExpr value;        // skSetVariable: the whole right side, or the appended part
  int64_t millis = 0;        // skWaitfor: the delay, -1 for `waitfor time`
};

struct TProcDefinition;

// skProcedure: which command, with its parsed form.
enum ProcedureCommand : uint8_t { pcCall, pcCreate, pcDrop };

struct ProcedureFields {
  ProcedureCommand command = pcCall;
  TCallStmt call;                                     // pcCall
  std::shared_ptr<const TProcDefinition> definition;  // pcCreate: the new one; pcCall: the callee
  TDropProcedureStmt drop;                            // pcDrop
};

enum SchemaChange : uint8_t { scNone, scCreate, scCreateIfNotExists, scDrop };

// One value a call returns into the output descriptor.
struct CallOutput {
  int param;  // index into the callee's parameters, -1 for the return value
};

// One result column as a describe reports it.
struct ColumnInfo {
  std::string name;          // result name (the alias when one is given), full length
  SqlType type;              // server type, nullability from the table definition
  std::string originTable;   // the table column it reads; empty for expressions
  std::string originColumn;
};

// Values of a statement's host variables, by host index (first appearance order).
class HostInput {
 public:
  virtual ~HostInput() = default;
  virtual size_t Count() const = 0;
  // Throws ServerError when the value cannot be read (bad buffer, conversion).
  virtual SqlValue Value(size_t host) const = 0;
};

class PreparedStatement {
 public:
  // Parses and translates text, then prepares it on db. Throws ServerError.
  PreparedStatement(sqlite3* db, std::string_view text, ServerVariables& variables);
  ~PreparedStatement();
  PreparedStatement(const PreparedStatement&) = delete;
  PreparedStatement& operator=(const PreparedStatement&) = delete;

  StatementKind Kind() const { return kind_; }
  // The statement as written.
  const std::string& Text() const { return text_; }
  const CommandFields& Command() const { return command_; }
  const ProcedureFields& Procedure() const { return procedure_; }
  bool IsCall() const { return kind_ == skProcedure && procedure_.command == pcCall; }
  // SQLite's text of a plain statement.
  const std::string& Sql() const { return sql_.Sql; }
  // Result columns; for a call the values it returns: the return value
  // (named after the procedure) when the text has `? =`, then the OUT and
  // INOUT parameters.
  const std::vector<ColumnInfo>& Columns() const { return columns_; }
  bool HasResultSet() const { return kind_ == skSql && !columns_.empty(); }
  const std::vector<THostVar>& HostVars() const { return hostVars_; }

  // The statement execute_into runs (plain statements only; null otherwise).
  sqlite3_stmt* Exec() const { return exec_; }
  // Text a cursor runs: the statement with a trailing hidden rowid column
  // when the cursor can change its table, else the statement itself.
  const std::string& CursorSql() const { return updatable_ ? cursorSql_ : sql_.Sql; }
  // True when cursors over it identify rows by the rowid of Table().
  bool Updatable() const { return updatable_; }
  // The one table the statement reads; empty for joins, unions and aggregates.
  const std::string& Table() const { return table_; }

  // The table, view or index of the main schema a CREATE or DROP statement
  // names, and what it does to it; empty and scNone otherwise.
  const std::string& SchemaObject() const { return schemaObject_; }
  SchemaChange SchemaObjectChange() const { return schemaChange_; }

  // ---- calls ----

  // Describes the call against the procedure as the catalog has it now.
  void SetCallee(std::shared_ptr<const TProcDefinition> callee);
  // Where each of Columns() comes from.
  const std::vector<CallOutput>& Outputs() const { return outputs_; }
  // Host variables the call only writes (the return value, OUT arguments).
  bool HostIsOutputOnly(size_t host) const { return host < hostOutputOnly_.size() && hostOutputOnly_[host]; }
  // The declared type of the parameter a host variable is passed to; false
  // when it is not passed to one directly.
  bool HostType(size_t host, SqlType& type) const;

  // Binds every parameter slot of st (prepared from Sql() or CursorSql()):
  // host slots from input, variable slots from the connection's variables.
  // With copies, values are copied there first (the statement outlives the
  // input). With bound, the values bound are also listed there, in order.
  // Throws errNotEnoughValues when input has too few values.
  void Bind(sqlite3_stmt* st, const HostInput* input, ServerVariables& variables,
            std::vector<OwnedValue>* copies, std::vector<SqlValue>* bound = nullptr) const;

  // SQLite statements a closed cursor leaves for the next open of a cursor
  // over this statement, so that re-opening does not parse the text again:
  // the cursor's text (kSpareCursor) and its row count (kSpareCount).
  // Take answers null when none is kept; Keep resets st and keeps it (or
  // finalizes it when one is kept already).
  enum SpareKind : uint8_t { kSpareCursor, kSpareCount };
  sqlite3_stmt* TakeSpare(SpareKind kind) const;
  void KeepSpare(SpareKind kind, sqlite3_stmt* st) const;

 private:
  void Describe(sqlite3* db, const std::string& verb, ServerVariables& variables);

  StatementKind kind_ = skSql;
  std::string text_;
  TDialectExpr sql_;                // skSql: SQLite text and its parameter slots
  std::vector<THostVar> hostVars_;  // `?` and `:name` in order of first appearance
  CommandFields command_;
  ProcedureFields procedure_;
  std::vector<CallOutput> outputs_;
  std::vector<uint8_t> hostOutputOnly_;
  std::vector<SqlType> hostTypes_;
  std::vector<uint8_t> hostTyped_;
  sqlite3_stmt* exec_ = nullptr;  // owned
  std::vector<ColumnInfo> columns_;
  bool updatable_ = false;
  std::string cursorSql_;
  std::string table_;
  std::string schemaObject_;
  SchemaChange schemaChange_ = scNone;
  mutable sqlite3_stmt* spares_[2] = {nullptr, nullptr};  // owned, reset, by SpareKind
};

// Byte ranges of the statements of a script (the dialect's splitting).
std::vector<std::pair<size_t, size_t>> SplitScript(std::string_view text);

}  // namespace vdbsrv
